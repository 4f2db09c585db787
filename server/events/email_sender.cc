// The "email" channel's sender; see email_sender.h.
#include "server/events/email_sender.h"

#include <cstdlib>
#include <cstring>
#include <ctime>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/thread_manager.h"
#include "server/events/channel_handlers.h"
#include "server/events/dispatcher.h"
#include "server/events/email_text.h"
#include "server/events/notifier_stats.h"
#include "server/request/host_addresses.h"
#include "server/server_state.h"

namespace {

constexpr int kConfigPollMs = 50;
constexpr size_t kMaxHostName = 63;

bool keepRunning() { return isServerRunning() && !threadStopRequested(); }

// A piece of the sender address: single-line, without the brackets that end the address.
std::string addressPart(std::string text) {
  text = singleLine(text, 200);
  for (char& c : text) {
    if (c == '<' || c == '>' || c == ' ') c = '_';
  }
  return text;
}

}  // namespace

std::string mailFromAddress() {
  char* software = getVariableCopyShared(&serverSettings().server, "softwareName");
  std::string name = software != nullptr ? software : "softwareNameMissing";
  std::free(software);
  std::string host = hostName().substr(0, kMaxHostName);
  if (host.empty()) host = "hostNameMissing";
  return addressPart(name) + "@" + addressPart(host);
}

EmailSender::~EmailSender() { endBurst(); }

bool EmailSender::startBurst() {
  std::atomic<int>* inUse = &serverSettings().emailInUse;
  while (!acquireFileInUse(inUse, 0, kEmailInUseSender, 1)) {
    if (!keepRunning() || !threadSleep(kConfigPollMs)) return false;
  }
  config_ = readEmailConfig(serverSettings().email, readEmailPassword());
  releaseFileInUse(inUse);
  return true;
}

bool EmailSender::connect() {
  if (!smtp_) smtp_ = std::make_unique<SmtpClient>(emailTuning().replyTimeoutMs.load());
  if (config_->server.empty()) return false;
  const SmtpOpen opened = smtp_->connect(config_->server, config_->port, config_->smtp);
  if (opened != SmtpOpen::kOk) {
    debugPrint(0x8011, "email: the mail server %s refused the session: %s\n", config_->server.c_str(),
               smtp_->lastReply().c_str());
  }
  return opened == SmtpOpen::kOk;
}

int EmailSender::send(EventRecord* record) {
  int result = 1;
  if (record == nullptr) return result;
  if (!config_) {
    burstDropped_ = !startBurst() || !connect();
  } else if (!burstDropped_ && !smtp_->isOpen()) {
    burstDropped_ = !connect();  // the connection broke during the burst
  }
  if (config_ && !burstDropped_) {
    result = mailToRecipients(*record);
  } else if (config_ && !config_->server.empty()) {
    countNotifierFailed("email");  // the mail server could not be reached
  }
  freeEventRecord(record);
  return result;
}

int EmailSender::mailToRecipients(const EventRecord& record) {
  const time_t when = emailEventTime(record.eventTime, std::time(nullptr));
  MailTexts texts;
  texts.subject = mailSubject(record.concernLevel, record.eventId);
  texts.longDate = rfc5322Date(when);
  texts.shortDate = shortEventDate(when);
  texts.device = record.device != nullptr ? record.device : "";
  texts.message = record.message != nullptr ? record.message : "";
  texts.signature = config_->signature;
  const std::string from = mailFromAddress();
  texts.from = from;
  int result = 0;
  for (const EmailRecipient& recipient : config_->recipients) {
    if (!recipientWants(recipient.iwe, record.concernLevel)) continue;
    texts.recipient = recipient.address;
    texts.messageId = newMessageId(from.substr(from.find('@') + 1));
    result = smtp_->sendMail(from, recipient.address, composeMailData(texts));
    if (result == 0) {
      countNotifierSent("email");
    } else {
      countNotifierFailed("email");
    }
  }
  return result;
}

void EmailSender::endBurst() {
  if (smtp_) smtp_->close();
  smtp_.reset();
  config_.reset();
  burstDropped_ = false;
}

int handleEmailRecord(EmailSender& sender, EventRecord* record, bool (*queueEmpty)()) {
  const int result = sender.send(record);
  if (queueEmpty == nullptr || queueEmpty() || !keepRunning()) sender.endBurst();
  return result;
}

namespace {

bool serverEmailQueueEmpty() {
  for (int i = 0; i < notificationChannelCount(); ++i) {
    const char* name = notificationChannelName(i);
    if (name != nullptr && std::strcmp(name, "email") == 0) {
      return notificationDispatcher().queuedCount(i) == 0;
    }
  }
  return true;
}

EmailSender& serverEmailSender() {
  // Never destroyed: the channel thread may still be ending while the process exits.
  static EmailSender* const sender = new EmailSender();
  return *sender;
}

}  // namespace

int sendEmailNotification(EventRecord* record) {
  return handleEmailRecord(serverEmailSender(), record, serverEmailQueueEmpty);
}

int dropEmailNotification(EventRecord* record) {
  freeEventRecord(record);
  serverEmailSender().endBurst();
  return 0;
}
