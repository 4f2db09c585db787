// Sending SNMPv2c and SNMPv3 traps (SNMPv2-Trap PDUs) through one SNMP library, behind one small
// interface (snmp_transport_netsnmp.cc is the Net-SNMP back end), so that a build without the
// library can put another in its place. SNMPv1 traps keep their own encoder (snmp_trap.h).
//
// SNMPv3 uses the user-based security model with authentication and privacy (authPriv): HMAC with
// SHA-256 (usmHMAC192SHA256AuthProtocol) or SHA-1, and AES-128 (CFB) for privacy, the keys derived
// from the passphrases and localized to this installation's engine (snmp_engine.h), the
// authoritative engine of its traps.
//
// Thread safety: any thread; the library is used under one lock.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/events/snmp_engine.h"
#include "server/events/snmp_notification.h"

// Net-SNMP wants passphrases of at least 8 characters.
inline constexpr size_t kMinSnmpPassphrase = 8;

struct SnmpV2Peer {
  std::string host;  // name or dotted address
  uint16_t port = 162;
  bool v3 = false;
  std::string community;  // v2c
  std::string user;       // v3
  bool sha256 = true;     // v3: SHA-256, else SHA-1
  std::string authPassphrase;
  std::string privPassphrase;
};

// Sends one trap with bindings (sysUpTime.0 and snmpTrapOID.0 first). Empty on success, else what
// went wrong, one line. UDP gives no receipt: success means handed to the network.
std::string sendSnmpV2Trap(const SnmpV2Peer& peer, const SnmpEngine& engine,
                           const std::vector<SnmpBinding>& bindings);
