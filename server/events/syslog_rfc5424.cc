// RFC 5424 syslog messages; see syslog_rfc5424.h.
#include "server/events/syslog_rfc5424.h"

#include <unistd.h>

#include <cstdlib>

#include "common/variable_table.h"
#include "server/events/condition_tracker.h"
#include "server/events/structured_text.h"
#include "server/request/host_addresses.h"
#include "server/server_state.h"

namespace {

constexpr size_t kMaxHostName = 255;
constexpr size_t kMaxAppName = 48;

// Printable US-ASCII without spaces, at most maxLength characters; fallback when nothing is left.
std::string headerField(std::string_view text, size_t maxLength, const char* fallback) {
  std::string out;
  for (char c : text) {
    if (out.size() == maxLength) break;
    if (c > 32 && c < 127) out += c;
  }
  return out.empty() ? fallback : out;
}

std::string parameterValue(std::string_view text) {
  std::string out;
  for (char c : cleanUtf8(text)) {
    if (c == '"' || c == '\\' || c == ']') out += '\\';
    out += c;
  }
  return out;
}

}  // namespace

SyslogIdentity currentSyslogIdentity() {
  SyslogIdentity identity;
  identity.hostName = headerField(hostName(), kMaxHostName, "-");
  char* software = getVariableCopyShared(&serverSettings().server, "softwareName");
  identity.appName = headerField(software != nullptr ? software : "", kMaxAppName, "Kestrova");
  std::free(software);
  identity.processId = static_cast<uint32_t>(getpid());
  return identity;
}

int syslogSeverity(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
      return 6;
    case 2:
      return 3;
    case 4:
      return 5;
    default:
      return 4;
  }
}

std::string composeRfc5424(const EventRecord& record, const SyslogIdentity& identity, bool test) {
  const int priority = kSyslogFacilityDaemon * 8 + syslogSeverity(record.concernLevel);
  const time_t when = record.eventTime != 0   ? record.eventTime
                      : record.raiseTime != 0 ? record.raiseTime
                                              : std::time(nullptr);
  std::string text = "<" + std::to_string(priority) + ">1 " + rfc3339Utc(when) + " " + identity.hostName +
                     " " + identity.appName + " " + std::to_string(identity.processId) + " " +
                     (record.eventId != 0 ? eventIdText(record.eventId) : std::string("-"));
  text += std::string(" [") + kSyslogSdId + " eventId=\"" + eventIdText(record.eventId) + "\" level=\"" +
          concernLevelName(record.concernLevel) + "\" device=\"" + parameterValue(record.device) +
          "\" sync=\"" + (record.syncFlag != 0 ? "y" : "n") + "\"";
  if (test) text += " test=\"y\"";
  if (record.notice != kNoticeEvent) {
    text += std::string(" notice=\"") + noticeKindText(record.notice) + "\"";
    const ConditionLabel label = conditionLabel(record.noticeCondition);
    if (!label.name.empty()) {
      text += " condition=\"" + parameterValue(label.name) + "\" subject=\"" + parameterValue(label.subject) +
              "\"";
    }
  }
  text += "] ";
  text += cleanUtf8(record.message);
  return text;
}

std::string octetCounted(std::string_view message) {
  return std::to_string(message.size()) + " " + std::string(message);
}
