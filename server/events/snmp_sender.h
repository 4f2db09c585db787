// The "snmp" channel's sender: each event goes as one SNMP version 1 trap (snmp_trap.h) to every
// configured receiver whose information/warning/error filter selects the event's level.
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

struct SnmpReceiver {
  std::string server;     // blanks trimmed
  std::string community;  // the stored texts, valid only when complete
  std::string filter;
  std::string port;
  bool complete = false;  // server non-empty and community, filter (3+ characters) and port present
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

// REQUIRES: the in-use word is held. The receiver of slot index of settings.
SnmpReceiver snmpReceiverAt(VariableTable settings, int index);

// The test button's trap of record to one receiver: kSent when it went out and no refusal came
// back within waitMs, kConnectFailed when the name did not resolve or the host answered that
// nothing listens on the port.
ReceiverOutcome sendSnmpTestTrap(const SnmpReceiver& receiver, const EventRecord& record, int waitMs);
