// The e-mail test button's send; see email_test_run.h.
#include "server/events/email_test_run.h"

#include <algorithm>
#include <chrono>
#include <ctime>

#include "server/events/email_sender.h"
#include "server/events/email_smtp.h"
#include "server/events/email_text.h"

namespace {

constexpr uint32_t kTestLevel = 4;

TestOutcome openOutcome(SmtpOpen opened) {
  switch (opened) {
    case SmtpOpen::kOk:
      return TestOutcome::kAccepted;
    case SmtpOpen::kConnectFailed:
      return TestOutcome::kConnectFailed;
    case SmtpOpen::kNoAnswer:
      return TestOutcome::kNoAnswer;
    case SmtpOpen::kRefused:
      return TestOutcome::kRefused;
    case SmtpOpen::kNoStartTls:
      return TestOutcome::kNoStartTls;
    case SmtpOpen::kTlsFailed:
      return TestOutcome::kTlsFailed;
    case SmtpOpen::kCertificateRejected:
      return TestOutcome::kCertificateRejected;
    case SmtpOpen::kAuthUnavailable:
    case SmtpOpen::kAuthRefused:
      return TestOutcome::kAuthRefused;
  }
  return TestOutcome::kConnectFailed;
}

}  // namespace

std::vector<ReceiverOutcome> runEmailTest(const EmailConfig& config, const std::string& device,
                                          const std::string& message) {
  std::vector<ReceiverOutcome> outcomes;
  const std::string serverName = config.server + ":" + std::to_string(config.port);
  if (config.server.empty() || config.recipients.empty()) {
    outcomes.push_back({config.server.empty() ? std::string() : serverName, TestOutcome::kNoReceiver, ""});
    return outcomes;
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kEmailTestLimitMs);
  const int replyLimit = std::min(emailTuning().replyTimeoutMs.load(), kEmailTestLimitMs);
  SmtpClient client(replyLimit);
  const SmtpOpen opened = client.connect(config.server, config.port, config.smtp);
  if (opened != SmtpOpen::kOk) {
    outcomes.push_back({serverName, openOutcome(opened), client.lastReply()});
    return outcomes;
  }
  const time_t now = std::time(nullptr);
  MailTexts texts;
  texts.from = mailFromAddress();
  texts.subject = mailSubject(kTestLevel, 0);
  texts.longDate = rfc5322Date(now);
  texts.shortDate = shortEventDate(now);
  texts.device = device;
  texts.message = message;
  texts.signature = config.signature;
  for (const EmailRecipient& recipient : config.recipients) {
    if (std::chrono::steady_clock::now() >= deadline || !client.isOpen()) {
      outcomes.push_back({recipient.address, TestOutcome::kNoAnswer, "the test's time ran out"});
      continue;
    }
    texts.recipient = recipient.address;
    texts.messageId = newMessageId(texts.from.substr(texts.from.find('@') + 1));
    const int result = client.sendMail(texts.from, recipient.address, composeMailData(texts));
    TestOutcome outcome = TestOutcome::kAccepted;
    if (result == 2) outcome = TestOutcome::kInvalidSettings;
    else if (result != 0) outcome = client.isOpen() ? TestOutcome::kRefused : TestOutcome::kNoAnswer;
    outcomes.push_back({recipient.address, outcome, client.lastReply()});
  }
  client.close();
  return outcomes;
}
