// The "webhook" channel's sender; see webhook_sender.h.
#include "server/events/webhook_sender.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <set>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "server/events/channel_handlers.h"
#include "server/events/condition_tracker.h"
#include "server/events/email_smtp.h"
#include "server/events/http_client.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_stats.h"
#include "server/events/webhook_payload.h"
#include "server/events/webhook_spool.h"
#include "server/request/host_addresses.h"
#include "server/server_state.h"

namespace {

constexpr char kChannel[] = "webhook";
constexpr uint32_t kDebugCode = 0x2000011;
constexpr int64_t kPruneIntervalMs = 1000;
// The tracker's name for the refreshing of Alertmanager's alerts.
constexpr char kAlertRefreshChannel[] = "webhook-alertmanager";

int64_t clockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

uint64_t wallMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}

bool keepGoing() { return isServerRunning() && !threadStopRequested(); }

struct ReceiverState {
  std::unique_ptr<WebhookSpool> spool;
  int64_t nextAttemptMs = 0;
  int retryDelayMs = 0;
};

Mutex gMutex;
std::map<std::string, ReceiverState> gStates GUARDED_BY(gMutex);  // by receiver identity
uint64_t gLastSequence GUARDED_BY(gMutex) = 0;
int64_t gLastPruneMs GUARDED_BY(gMutex) = 0;
bool gFoldersChecked GUARDED_BY(gMutex) = false;

std::string softwareName() {
  char* value = getVariableCopyShared(&serverSettings().server, "softwareName");
  std::string name = value != nullptr ? value : "Kestrova";
  std::free(value);
  return name;
}

// Whether an answer can change by trying again: a malformed or refused payload can't.
bool permanentRefusal(long status) {
  return status == 400 || status == 405 || status == 410 || status == 411 || status == 413 || status == 414 ||
         status == 415 || status == 422;
}

std::vector<std::string> authorization(const WebhookReceiver& receiver) {
  switch (receiver.auth) {
    case WebhookAuth::kBearer:
      return {"Authorization: Bearer " + receiver.secret};
    case WebhookAuth::kBasic:
      return {"Authorization: Basic " + encodeBase64(receiver.user + ":" + receiver.secret)};
    case WebhookAuth::kNone:
      break;
  }
  return {};
}

std::string renderFor(const WebhookReceiver& receiver, const WebhookNotice& notice) {
  switch (receiver.style) {
    case WebhookStyle::kSlack:
      return slackWebhookPayload(notice);
    case WebhookStyle::kAlertmanager:
      return alertmanagerWebhookPayload(notice, std::time(nullptr));
    case WebhookStyle::kGeneric:
      break;
  }
  return genericWebhookPayload(notice);
}

// The channel's posts end early when the server stops; the test button's are bounded by their
// time-out alone.
HttpAnswer post(const WebhookReceiver& receiver, const std::string& body, bool fromChannel) {
  HttpPost request;
  request.url = webhookTargetUrl(receiver);
  request.body = body;
  request.headers = authorization(receiver);
  request.caFile = receiver.caFile;
  request.timeoutMs = webhookTuning().timeoutMs.load();
  if (fromChannel) request.keepGoing = keepGoing;
  return postHttp(request);
}

// The state of each usable receiver, its queue read from disk the first time; the states and
// folders of receivers that are gone are removed.
void syncStates(const WebhookReceivers& receivers) REQUIRES(gMutex) {
  std::set<std::string> configured;
  for (const WebhookReceiver& receiver : receivers) {
    if (!receiver.usable) continue;
    configured.insert(receiver.id);
    ReceiverState& state = gStates[receiver.id];
    if (!state.spool) {
      state.spool = std::make_unique<WebhookSpool>(std::filesystem::path(kWebhookQueueFolder) / receiver.id);
      if (!state.spool->load()) {
        debugPrint(kDebugCode, "webhook: the queue folder of %s can't be read\n", receiver.url.c_str());
      }
      gLastSequence = std::max(gLastSequence, state.spool->lastSequence());
    }
  }
  for (auto it = gStates.begin(); it != gStates.end();) {
    if (configured.count(it->first) != 0) {
      ++it;
      continue;
    }
    countNotifierDropped(kChannel, it->second.spool->size());
    std::error_code ignored;
    std::filesystem::remove_all(it->second.spool->folder(), ignored);
    it = gStates.erase(it);
  }
  if (!gFoldersChecked) {
    // Folders left by receivers removed while the server was not running.
    gFoldersChecked = true;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(kWebhookQueueFolder, error)) {
      if (configured.count(entry.path().filename().string()) == 0)
        std::filesystem::remove_all(entry.path(), error);
    }
  }
}

size_t queuedLocked() REQUIRES(gMutex) {
  size_t waiting = 0;
  for (const auto& [id, state] : gStates) waiting += state.spool->size();
  return waiting;
}

// Queues record for each receiver that wants it.
void queueRecord(const WebhookReceivers& receivers, const EventRecord& record) REQUIRES(gMutex) {
  WebhookNotice notice = webhookNoticeOf(record, hostName(), softwareName());
  for (const WebhookReceiver& receiver : receivers) {
    if (!webhookReceiverWants(receiver, record.concernLevel)) continue;
    ReceiverState& state = gStates[receiver.id];
    notice.sequence = gLastSequence = std::max(gLastSequence + 1, wallMs());
    size_t dropped = 0;
    if (!state.spool->append(notice.sequence, genericWebhookPayload(notice),
                             webhookTuning().queueLimit.load(), &dropped)) {
      debugPrint(kDebugCode, "webhook: a notice for %s could not be queued\n", receiver.url.c_str());
      countNotifierDropped(kChannel);
    }
    if (dropped != 0) countNotifierDropped(kChannel, dropped);
  }
}

// Sends what waits for receiver while its pause is over and the turn's budget lasts.
void sendQueue(const WebhookReceiver& receiver, ReceiverState& state, int64_t turnEndMs) REQUIRES(gMutex) {
  while (state.spool->size() != 0 && clockMs() >= state.nextAttemptMs && clockMs() < turnEndMs &&
         keepGoing()) {
    size_t discarded = 0;
    const std::optional<std::string> text = state.spool->front(&discarded);
    if (discarded != 0) countNotifierDropped(kChannel, discarded);
    if (!text) return;
    const std::optional<WebhookNotice> notice = parseWebhookNotice(*text);
    if (!notice) {
      state.spool->popFront();
      countNotifierDropped(kChannel);
      continue;
    }
    const HttpAnswer answer = post(receiver, renderFor(receiver, *notice), true);
    const bool accepted =
        answer.outcome == HttpOutcome::kAnswered && answer.status >= 200 && answer.status < 300;
    if (accepted) {
      state.spool->popFront();
      state.retryDelayMs = 0;
      countNotifierSent(kChannel);
      continue;
    }
    countNotifierFailed(kChannel);
    if (answer.outcome == HttpOutcome::kAnswered && permanentRefusal(answer.status)) {
      debugPrint(kDebugCode, "webhook: %s refused a notice for good (HTTP %ld): %s\n", receiver.url.c_str(),
                 answer.status, answer.detail.c_str());
      state.spool->popFront();
      continue;
    }
    debugPrint(kDebugCode, "webhook: %s: %s %ld %s\n", receiver.url.c_str(),
               answer.outcome == HttpOutcome::kAnswered ? "HTTP" : "no answer", answer.status,
               answer.detail.c_str());
    const WebhookTuning& tuning = webhookTuning();
    state.retryDelayMs = state.retryDelayMs == 0 ? tuning.firstRetryMs.load()
                                                 : std::min(state.retryDelayMs * 2, tuning.maxRetryMs.load());
    state.nextAttemptMs = clockMs() + state.retryDelayMs;
    return;
  }
}

void sendQueues(const WebhookReceivers& receivers) REQUIRES(gMutex) {
  const int64_t turnEnd = clockMs() + webhookTuning().sendBudgetMs.load();
  for (const WebhookReceiver& receiver : receivers) {
    const auto it = gStates.find(receiver.id);
    if (receiver.usable && it != gStates.end()) sendQueue(receiver, it->second, turnEnd);
  }
  setNotifierWaiting(kChannel, queuedLocked());
}

// Reads the receivers without waiting for a page that holds the settings.
bool tryReadWebhookReceivers(WebhookReceivers* receivers, int timeoutMs) {
  ServerSettings& settings = serverSettings();
  if (!acquireFileInUse(&settings.webhookInUse, timeoutMs, kWebhookInUseSender, 1)) return false;
  TableOwner copy(copyVariableTable(settings.webhook));
  releaseFileInUse(&settings.webhookInUse);
  TableOwner secrets(readPropertyFile(kWebhookSecretPath));
  for (int i = 0; i < kWebhookReceiverSlots; ++i)
    (*receivers)[i] = webhookReceiverAt(copy.get(), secrets.get(), i);
  return true;
}

// Alertmanager ends an alert it hears nothing of for a day (the lifetime the payload gives); the
// conditions that last are posted again every half day to the Alertmanager receivers.
void refreshAlerts(const WebhookReceivers& receivers) REQUIRES(gMutex) {
  WebhookReceivers alertmanagers = receivers;
  bool any = false;
  for (WebhookReceiver& receiver : alertmanagers) {
    if (receiver.style != WebhookStyle::kAlertmanager) receiver.usable = false;
    any = any || receiver.usable;
  }
  if (!any) return;
  for (EventRecord* record : conditionTracker().dueReminders(kAlertRefreshChannel, kConditionAlertSeconds / 2,
                                                             std::time(nullptr))) {
    queueRecord(alertmanagers, *record);
    freeEventRecord(record);
  }
}

int handle(EventRecord* record, bool send) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr) {
    freeEventRecord(record);
    return 2;
  }
  WebhookReceivers receivers;
  const NotifierWaitTimings timings = receiverWaitTimings();
  if (!tryReadWebhookReceivers(&receivers, timings.inUseTimeoutMs)) {
    countNotifierDropped(kChannel);
    freeEventRecord(record);
    return 1;
  }
  MutexLock lock(gMutex);
  syncStates(receivers);
  queueRecord(receivers, *record);
  freeEventRecord(record);
  if (send) sendQueues(receivers);
  setNotifierWaiting(kChannel, queuedLocked());
  return 0;
}

}  // namespace

WebhookTuning& webhookTuning() {
  static WebhookTuning tuning;
  return tuning;
}

bool readWebhookReceivers(WebhookReceivers* receivers) {
  return tryReadWebhookReceivers(receivers, receiverWaitTimings().inUseTimeoutMs);
}

int sendWebhookNotification(EventRecord* record) { return handle(record, true); }

int queueWebhookNotification(EventRecord* record) { return handle(record, false); }

void webhookChannelIdle() {
  MutexLock lock(gMutex);
  static WebhookReceivers receivers GUARDED_BY(gMutex);  // the last reading of the settings
  const int64_t now = clockMs();
  if (now - gLastPruneMs >= kPruneIntervalMs) {
    // One look at the settings, without waiting: a page that holds them delays this turn only.
    WebhookReceivers fresh;
    if (tryReadWebhookReceivers(&fresh, 0)) {
      gLastPruneMs = now;
      receivers = fresh;
      syncStates(receivers);
      refreshAlerts(receivers);
    }
  }
  if (queuedLocked() != 0) sendQueues(receivers);
}

void resetWebhookSender() {
  MutexLock lock(gMutex);
  gStates.clear();
  gLastPruneMs = 0;
  gFoldersChecked = false;
  setNotifierWaiting(kChannel, 0);
}

size_t webhookQueuedNotices() {
  MutexLock lock(gMutex);
  return queuedLocked();
}

ReceiverOutcome sendWebhookTest(const WebhookReceiver& receiver, const EventRecord& record) {
  ReceiverOutcome result{receiver.url, TestOutcome::kInvalidSettings, ""};
  if (!receiver.usable) return result;
  WebhookNotice notice = webhookNoticeOf(record, hostName(), softwareName());
  notice.notice = "test";
  notice.sequence = wallMs();
  const HttpAnswer answer = post(receiver, renderFor(receiver, notice), false);
  switch (answer.outcome) {
    case HttpOutcome::kAnswered: {
      const bool accepted = answer.status >= 200 && answer.status < 300;
      result.outcome = accepted ? TestOutcome::kAccepted : TestOutcome::kRefused;
      std::string body = answer.detail.substr(0, 200);
      for (char& c : body) {
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
      }
      result.answer = "HTTP " + std::to_string(answer.status) + (body.empty() || accepted ? "" : " " + body);
      return result;
    }
    case HttpOutcome::kTimedOut:
      result.outcome = TestOutcome::kNoAnswer;
      break;
    case HttpOutcome::kCertificateRejected:
      result.outcome = TestOutcome::kCertificateRejected;
      break;
    case HttpOutcome::kTlsFailed:
      result.outcome = TestOutcome::kTlsFailed;
      break;
    case HttpOutcome::kConnectFailed:
    case HttpOutcome::kFailed:
      result.outcome = TestOutcome::kConnectFailed;
      break;
  }
  result.answer = answer.detail;
  return result;
}
