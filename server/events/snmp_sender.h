// The "snmp" channel's sender: each event goes as one trap to every configured receiver whose
// information/warning/error filter selects the event's level: an SNMP version 1 trap of the hand-made
// encoder (snmp_trap.h), as always, or per receiver ("SnmpVersion<n>") an SNMPv2c trap with its
// community or an SNMPv3 trap with its user (authPriv) through the SNMP library (snmp_transport.h),
// both carrying KESTROVA-MIB's notification (snmp_notification.h).
//
// db/snmp.ini per receiver n, besides the server, community, filter and port: "SnmpVersion<n>" (1,
// the default, 2c or 3), and for version 3 "SnmpUser<n>", "SnmpAuthProtocol<n>" (SHA-256, the
// default, or SHA-1; privacy is always AES-128) and "SnmpId<n>", the receiver's identity, under which
// db/snmp.secret (mode 0600) keeps its passphrases "SnmpAuthKey<id>" and "SnmpPrivKey<id>".
//
// The receivers are copied out of serverSettings().snmp while holding its in-use word (value 5),
// and the word is freed before any name is resolved or datagram sent, so a settings page never
// waits for the network.
//
// Thread safety: sendSnmpNotification runs on the "snmp" channel thread; the other functions may
// be called from any thread.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "server/events/event_record.h"
#include "server/events/notifier_test_report.h"
#include "server/events/snmp_settings.h"
#include "server/events/snmp_trap.h"

enum class SnmpVersion { kV1, kV2c, kV3 };
// "1" (or absent or empty), "2c", "3". False for any other text.
bool parseSnmpVersion(const char* text, SnmpVersion* version);
const char* snmpVersionText(SnmpVersion version);

inline constexpr char kSnmpSecretPath[] = "db/snmp.secret";
inline constexpr char kSnmpSecretHeader[] = "\\\\\\This is the SNMP secrets file.";

struct SnmpReceiver {
  std::string server;     // blanks trimmed
  std::string community;  // the stored texts, valid only when complete
  std::string filter;
  std::string port;
  SnmpVersion version = SnmpVersion::kV1;
  std::string user;     // version 3
  bool sha256 = true;   // version 3: SHA-256, else SHA-1
  std::string authKey;  // version 3: the passphrases
  std::string privKey;
  // Server non-empty, filter (3+ characters) and port present, and a community (versions 1 and
  // 2c) or a user with both passphrases (version 3); a known version and protocol.
  bool complete = false;
};
using SnmpReceivers = std::array<SnmpReceiver, kSnmpReceiverSlots>;

// The receivers of slots 0-4 of the in-memory settings. False when the in-use word stayed taken.
bool readSnmpReceivers(SnmpReceivers* receivers);

// True when the receiver gets an event of this level: every level 4 event, otherwise when its
// filter has the digit 1 at the level's position.
bool snmpReceiverWants(const SnmpReceiver& receiver, uint32_t concernLevel);

// Sends the encoded trap as one datagram to server (host name or dotted address) and port.
// Returns 0, the socket layer's status of a failed connect, or 1 for missing arguments or a
// failed send. Nothing is retried.
uint32_t sendSnmpTrap(const char* server, uint16_t port, const ByteString& message);

// The agent address of traps: the server's first address (local_addresses.h; host order), 0 when
// unknown.
uint32_t snmpAgentAddress();

// REQUIRES: the in-use word is held. The receiver of slot index of settings, its passphrases from
// secrets (the db/snmp.secret table).
SnmpReceiver snmpReceiverAt(VariableTable settings, VariableTable secrets, int index);
// Keys of a receiver's passphrases in db/snmp.secret.
std::string snmpAuthKeyName(const std::string& id);
std::string snmpPrivKeyName(const std::string& id);

// Sends the trap of record to one receiver of any version. Empty on success, else what failed.
std::string sendSnmpTrapTo(const SnmpReceiver& receiver, const EventRecord& record, uint32_t agentAddress);

// The test button's trap of record to one receiver: kSent when it went out and (version 1) no
// refusal came back within waitMs, kConnectFailed when the name did not resolve or the host
// answered that nothing listens on the port.
ReceiverOutcome sendSnmpTestTrap(const SnmpReceiver& receiver, const EventRecord& record, int waitMs);
