// The syslog sender: one 1024-byte UDP datagram (syslog_datagram.h) to every configured receiver
// whose filter selects the event's level, or, in test mode, to every configured receiver. Used by
// the "syslog" channel for events (only while the server setting "UseOsEventLog" is true) and by
// TestSyslogConfig on the request thread.
//
// The receivers are copied out of serverSettings().syslog while holding its in-use word, which is
// freed before anything is sent, so a save can never free the table under a sender.
//
// Thread safety: any thread; each call composes in its own buffer.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "server/events/event_record.h"
#include "server/events/notifier_test_report.h"
#include "server/events/syslog_settings.h"

struct SyslogReceiver {
  std::string server;  // blanks trimmed; empty = no receiver in this slot
  std::string filter;
  bool hasFilter = false;
  std::string port;  // the stored text, "514" when absent
};
using SyslogReceivers = std::array<SyslogReceiver, kSyslogReceiverSlots>;

// The receivers of slots 0-4 of the in-memory settings. False when the in-use word stayed taken.
bool readSyslogReceivers(SyslogReceivers* receivers);

// True when the receiver gets an event of this level: its filter is exactly 3 characters with the
// digit 1 at the level's position.
bool syslogReceiverWants(const SyslogReceiver& receiver, uint32_t concernLevel);

enum class SyslogMode { kEvent, kTest };
// Sends record (the event form, or in test mode the "<device>: <message>" form) to the receivers.
// Returns 0 when every attempt succeeded (or none was made), else the status of the last failed
// attempt: the socket layer's connect status, or 1 for a failed send or an unusable port.
// REQUIRES: record.device and record.message are non-null.
uint32_t sendSyslogMessages(const SyslogReceivers& receivers, const EventRecord& record, SyslogMode mode);

// REQUIRES: the in-use word is held (or settings is the caller's own table). The receiver of
// slot index.
SyslogReceiver syslogReceiverAt(VariableTable settings, int index);

// The test button's message (the test form of record) to one receiver: kSent when it went out
// and no refusal came back within waitMs, kConnectFailed when the host answered that nothing
// listens on the port.
ReceiverOutcome sendSyslogTestMessage(const SyslogReceiver& receiver, const EventRecord& record, int waitMs);
