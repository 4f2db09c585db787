// The syslog sender: each event to every configured receiver whose filter selects the event's
// level, or, in test mode, to every configured receiver. Used by the "syslog" channel for events
// (only while the server setting "UseOsEventLog" is true) and by TestSyslogConfig on the request
// thread.
//
// Each receiver has its format and transport. Format "bsd" (the default) is the 1024-byte text of
// syslog_datagram.h; "rfc5424" the structured form of syslog_rfc5424.h. Transport "udp" (the
// default) sends one datagram per message, as it always did; "tcp" and "tls" keep a connection
// with a bounded backlog per receiver (syslog_stream.h), where a BSD text goes without its NUL
// padding. Over UDP the receiver must be a dotted address; over TCP and TLS a host name may be
// given (TLS checks that the receiver's certificate names it, against the system's certificate
// store or the receiver's CA file).
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

enum class SyslogFormat { kBsd, kRfc5424 };
enum class SyslogTransport { kUdp, kTcp, kTls };

// "bsd" / "rfc5424" and "udp" / "tcp" / "tls"; an absent or empty text is the default (bsd, udp).
// False for any other text.
bool parseSyslogFormat(const char* text, SyslogFormat* format);
bool parseSyslogTransport(const char* text, SyslogTransport* transport);
const char* syslogFormatText(SyslogFormat format);
const char* syslogTransportText(SyslogTransport transport);

struct SyslogReceiver {
  std::string server;  // blanks trimmed; empty = no receiver in this slot
  std::string filter;
  bool hasFilter = false;
  std::string port;  // the stored text, "514" when absent
  SyslogFormat format = SyslogFormat::kBsd;
  SyslogTransport transport = SyslogTransport::kUdp;
  std::string caFile;  // TLS: certificate authorities to trust instead of the system's store
  bool usable = true;  // false when the stored format or transport is unknown (nothing is sent)
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
// attempt: the socket layer's connect status, or 1 for a failed send or an unusable port or
// setting. An event for a TCP or TLS receiver counts as sent once it is in the receiver's
// backlog; a test message over TCP or TLS goes over a connection of its own.
// REQUIRES: record.device and record.message are non-null.
uint32_t sendSyslogMessages(const SyslogReceivers& receivers, const EventRecord& record, SyslogMode mode);

// REQUIRES: the in-use word is held (or settings is the caller's own table). The receiver of
// slot index.
SyslogReceiver syslogReceiverAt(VariableTable settings, int index);

// The test button's message (the test form of record) to one receiver: kSent when it went out
// and (UDP) no refusal came back within waitMs, kConnectFailed when the host answered that nothing
// listens on the port or no connection could be made, kCertificateRejected or kTlsFailed when TLS
// could not be set up.
ReceiverOutcome sendSyslogTestMessage(const SyslogReceiver& receiver, const EventRecord& record, int waitMs);

// The message of record for receiver in its format (test: the test form), without framing.
std::string syslogMessageText(const SyslogReceiver& receiver, const EventRecord& record, bool test);

// The "syslog" channel's idle work: the backlogs of TCP and TLS receivers are sent when their
// receivers answer again, and receivers no longer configured lose their streams.
void syslogChannelIdle();
// Closes every stream and drops its backlog (tests, and a server that stops for good).
void closeSyslogStreams();
// Messages waiting in the backlogs of all TCP and TLS receivers.
size_t syslogStreamBacklog();
