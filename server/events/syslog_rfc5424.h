// The RFC 5424 form of a syslog message, which central collectors parse into fields:
//   <PRI>1 TIMESTAMP HOSTNAME APP-NAME PROCID MSGID [kestrova@1793 eventId=".." level=".."
//   device=".." sync="y|n"] MSG
// PRI is facility daemon (3) with the severity of the concern level (information 6, notice 5 for
// the level that passes every filter, warning 4, error 3); TIMESTAMP is the event's time in UTC;
// MSGID is the event ID ("0x0B27", "-" for none). A record that tells of a condition adds
// notice="raised|reminder|resolved", condition="<name>" and subject="<subject>". Parameter values are valid
// UTF-8 with '"', '\' and ']' escaped; the message has its control characters turned into spaces, so one
// event stays one line.
//
// Also the framing of a message on a TCP or TLS stream: octet counting (RFC 6587), the length in
// decimal, a space, the message.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

#include "server/events/event_record.h"

// The structured-data ID of our parameters: a name with the enterprise number of our MIB.
inline constexpr char kSyslogSdId[] = "kestrova@1793";
inline constexpr int kSyslogFacilityDaemon = 3;

struct SyslogIdentity {
  std::string hostName;  // "-" when unknown
  std::string appName;   // "Kestrova" when unknown
  uint32_t processId = 0;
};

// The identity of this program: the host's name, "softwareName" of the server settings without
// blanks, the process ID. Each part cut to what the format allows.
SyslogIdentity currentSyslogIdentity();

// RFC 5424 severity of a concern level.
int syslogSeverity(uint32_t concernLevel);

// The message of record. test: the test button's message (its structured data says test="y").
// REQUIRES: record.device and record.message are non-null.
std::string composeRfc5424(const EventRecord& record, const SyslogIdentity& identity, bool test);

// "<length> <message>".
std::string octetCounted(std::string_view message);
