// This installation's SNMP engine, the authoritative engine of its SNMPv3 traps (RFC 3414): its
// engine ID, made once and kept in db/snmp.engine, so that trap receivers configured with it
// ("createUser -e <engine ID> ...") keep working across restarts; and its boots counter, raised
// once per start of the program, so that receivers that remember our engine time see it move on.
//
// The engine ID is RFC 3411's form: 0x80 and our enterprise number 1793 (80 00 07 01), the format
// 5 (octets), then 8 random octets.
//
// Thread safety: any thread; the engine is read and its boots raised once, under a lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kSnmpEnginePath[] = "db/snmp.engine";

struct SnmpEngine {
  std::vector<uint8_t> id;
  uint32_t boots = 1;
  uint32_t startTime = 0;  // seconds of a steady clock when the program's engine started
};

// The engine of this program: on first use read from path (made and written when missing or
// unusable) with its boots raised by one and written back. A file that can't be written leaves a
// working engine in memory (printed once).
SnmpEngine snmpEngine(const char* path = kSnmpEnginePath);
// Seconds since the engine started (its engineTime).
uint32_t snmpEngineTime(const SnmpEngine& engine);
// The engine ID in hexadecimal, as receivers are configured with it ("0x80000701...").
std::string snmpEngineIdText(const SnmpEngine& engine);
// The engine ID kept in path, without making one; empty when there is none yet.
std::string storedSnmpEngineId(const char* path = kSnmpEnginePath);
// Forgets the engine read (tests).
void resetSnmpEngine();
