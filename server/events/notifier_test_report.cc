// Test button outcomes; see notifier_test_report.h.
#include "server/events/notifier_test_report.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/events/event_text.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kTestFailedEventId = 0x10A;
constexpr uint32_t kWarningLevel = 1;
constexpr size_t kMaxDetail = 1500;

std::string tableText(const char* key, const char* fallback) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = (text != nullptr && std::strcmp(text, kMissing) != 0) ? text : fallback;
  std::free(text);
  return value;
}

// The text has its first %s replaced by argument; it comes from a data file and is never a format.
std::string filled(const std::string& text, const std::string& argument) {
  const size_t at = text.find("%s");
  return at == std::string::npos ? text : text.substr(0, at) + argument + text.substr(at + 2);
}

std::string outcomeText(const ReceiverOutcome& result) {
  switch (result.outcome) {
    case TestOutcome::kAccepted:
      return filled(tableText("TestResultAccepted", "sent and accepted: %s"), result.answer);
    case TestOutcome::kSent:
      return tableText("TestResultSent", "sent (this protocol gives no receipt)");
    case TestOutcome::kRefused:
      return filled(tableText("TestResultRefused", "refused: %s"), result.answer);
    case TestOutcome::kNoReceiver:
      return tableText("TestResultNoReceiver", "no receiver configured");
    case TestOutcome::kConnectFailed:
      return filled(tableText("TestResultConnectFailed", "connection failed: %s"), result.answer);
    case TestOutcome::kNoStartTls:
      return tableText("TestResultNoStartTls", "no TLS offered (STARTTLS): nothing was sent in clear");
    case TestOutcome::kTlsFailed:
      return filled(tableText("TestResultTlsFailed", "TLS failed: %s"), result.answer);
    case TestOutcome::kCertificateRejected:
      return filled(tableText("TestResultCertificateRejected", "certificate rejected: %s"), result.answer);
    case TestOutcome::kAuthRefused:
      return filled(tableText("TestResultAuthRefused", "authentication refused: %s"), result.answer);
    case TestOutcome::kNoAnswer:
      return filled(tableText("TestResultNoAnswer", "no answer: %s"), result.answer);
    case TestOutcome::kInvalidSettings:
      return filled(tableText("TestResultInvalidSettings", "the settings can't be used: %s"), result.answer);
  }
  return "";
}

void logFailure(const char* channelName, const std::string& detail) {
  const std::string text =
      filled(filled(tableText("KestrovaEvent_NotifierTestFailed", "The %s test failed: %s"), channelName), detail);
  char message[kEventMessageBufferSize];
  formatEventMessage(message, sizeof message, kTestFailedEventId, text.c_str());
  const std::string device = serverDeviceNameCopy();
  const auto now = static_cast<uint32_t>(std::time(nullptr));
  const EventRecord record{message, const_cast<char*>(device.c_str()), kWarningLevel, now, now,
                           kTestFailedEventId, 0};
  // Into the event log only: a failed mail test reported by mail would help nobody.
  dispatchEventToChannel("kvlog", &record);
}

}  // namespace

bool testSucceeded(TestOutcome outcome) { return outcome == TestOutcome::kAccepted || outcome == TestOutcome::kSent; }

void addTestReport(VariableTable* reply, const char* commandKey, const char* channelName,
                   const std::vector<ReceiverOutcome>& outcomes) {
  bool failed = outcomes.empty();
  std::string details;
  for (const ReceiverOutcome& result : outcomes) {
    std::string line = result.receiver.empty() ? outcomeText(result) : result.receiver + ": " + outcomeText(result);
    if (!details.empty()) details += "; ";
    details += line;
    if (!testSucceeded(result.outcome)) {
      failed = true;
      logFailure(channelName, line);
    }
  }
  if (outcomes.empty()) {
    details = tableText("TestResultNoReceiver", "no receiver configured");
    logFailure(channelName, details);
  }
  if (details.size() > kMaxDetail) details.resize(kMaxDetail);
  addCommandResultText(reply, failed, commandKey, details.c_str());
}
