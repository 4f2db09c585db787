// The notification channels and the raising of events; see dispatcher.h.
#include "server/events/dispatcher.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <new>
#include <thread>

#include "common/thread_annotations.h"
#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/condition_tracker.h"
#include "server/events/event_log.h"
#include "server/events/event_queue.h"
#include "server/events/event_text.h"
#include "server/events/notifier_reminders.h"
#include "server/events/notifier_stats.h"
#include "server/events/syslog_sender.h"
#include "server/events/webhook_sender.h"
#include "server/server_state.h"

namespace {

constexpr int kPushTries = 3;
// How often an idle notifier looks whether a reminder is due.
constexpr time_t kReminderCheckSeconds = 1;
constexpr int kIdleSleepMs = 50;
constexpr auto kStopPoll = std::chrono::milliseconds(10);
// The event log's queue may grow to 2^20 records (about 100 MB of waiting events) before it
// too refuses; far beyond any burst a server raises, yet bounded if its disk stops.
constexpr int kEventLogQueueMaxLog2 = 20;
// Notifiers that keep backlogs of their own may take a burst of up to 2^12 records.
constexpr int kNotifierQueueMaxLog2 = 12;

bool syncingAllowed() {
  char* value = getVariableCopyShared(&serverSettings().server, "AllowEventLogSyncing");
  const bool allowed = value && (std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0);
  std::free(value);
  return allowed;
}

// Up to kPushTries tries; false when the queue refused each.
bool pushCopy(EventQueue& queue, EventRecord* copy) {
  for (int attempt = 0; attempt < kPushTries; ++attempt) {
    if (queue.push(copy)) return true;
  }
  return false;
}

}  // namespace

struct NotificationDispatcher::Channel {
  NotificationChannelSpec spec;
  std::unique_ptr<EventQueue> queue;
  std::atomic<bool> stopRequested{false};
  std::atomic<bool> ended{false};
  // With a stop handler: the thread's last drain and later deliveries take turns on this lock,
  // so that no record lands in the queue after the drain.
  Mutex endLock;
  bool drained GUARDED_BY(endLock) = false;
  std::atomic<int> owners{2};  // the dispatcher's table and the thread; the last one frees
  int64_t nextReminderCheck = 0;  // the thread's own: seconds of the clock
};

void NotificationDispatcher::remindIfDue(Channel* channel) {
  const time_t now = std::time(nullptr);
  if (now < channel->nextReminderCheck) return;
  channel->nextReminderCheck = now + kReminderCheckSeconds;
  const time_t interval = reminderIntervalOf(channel->spec.name);
  if (interval <= 0) return;
  for (EventRecord* reminder : conditionTracker().dueReminders(channel->spec.name, interval, now)) {
    channel->spec.handler(reminder);
  }
}

std::vector<NotificationChannelSpec> defaultNotificationChannels() {
  return {
      // The two logs keep every record; the notifiers tell of conditions once (notices).
      {"kvlog", 5, kEventLogQueueMaxLog2, appendEventRecord, writeEventRecord},
      {"oslog", 5, 0, writeOsEventLog, nullptr},
      {"email", 6, 0, sendEmailNotification, dropEmailNotification, nullptr, true},
      {"snmp", 5, 0, sendSnmpNotification, nullptr, nullptr, true},
      // Syslog collectors over TCP or TLS take bursts at their own pace: the queue may grow so that
      // a burst reaches the receivers' backlogs instead of being dropped at once.
      {"syslog", 5, kNotifierQueueMaxLog2, sendSyslogNotification, nullptr, syslogChannelIdle, true},
      // What is still queued when the thread ends goes to the webhooks' queues on disk.
      {"webhook", 5, kNotifierQueueMaxLog2, sendWebhookNotification, queueWebhookNotification,
       webhookChannelIdle, true},
  };
}

NotificationDispatcher::NotificationDispatcher(std::vector<NotificationChannelSpec> channels)
    : specs_(std::move(channels)),
      drops_(new std::atomic<uint64_t>[specs_.size()]),
      channels_(specs_.size(), nullptr) {
  for (size_t i = 0; i < specs_.size(); ++i) drops_[i].store(0);
}

NotificationDispatcher::~NotificationDispatcher() { stop(); }

void NotificationDispatcher::channelThread(uintptr_t context) {
  auto* channel = reinterpret_cast<Channel*>(context);
  while (isServerRunning() && !channel->stopRequested.load() && !threadStopRequested()) {
    if (EventRecord* record = channel->queue->pop()) {
      // A record taken just as the server stopped is one of those the stop handler is for.
      const bool stopping = !isServerRunning() && channel->spec.stopHandler != nullptr;
      (stopping ? channel->spec.stopHandler : channel->spec.handler)(record);
    } else {
      if (channel->spec.notices) remindIfDue(channel);
      if (channel->spec.idle != nullptr) channel->spec.idle();
      threadSleep(kIdleSleepMs);
    }
  }
  if (channel->spec.stopHandler != nullptr) {
    MutexLock guard(channel->endLock);
    while (EventRecord* record = channel->queue->pop()) channel->spec.stopHandler(record);
    channel->drained = true;
  }
  channel->ended.store(true);
  releaseChannel(channel);
}

void NotificationDispatcher::releaseChannel(Channel* channel) {
  if (channel->owners.fetch_sub(1) == 1) delete channel;
}

bool NotificationDispatcher::start() {
  WriterMutexLock lock(mutex_);
  bool allStarted = true;
  for (size_t i = 0; i < specs_.size(); ++i) {
    if (channels_[i] != nullptr) continue;
    const NotificationChannelSpec& spec = specs_[i];
    auto queue = EventQueue::create(spec.slotsLog2, spec.maxSlotsLog2);
    auto* channel = queue ? new (std::nothrow) Channel{spec, std::move(queue)} : nullptr;
    if (channel == nullptr ||
        startThread(channelThread, reinterpret_cast<uintptr_t>(channel), 0, spec.name) == 0) {
      delete channel;
      std::printf("[ ERROR ] Failed to start %s\n", spec.name);
      allStarted = false;
      continue;
    }
    channels_[i] = channel;
  }
  return allStarted;
}

void NotificationDispatcher::stop(int waitMs) {
  std::vector<Channel*> stopping;
  {
    WriterMutexLock lock(mutex_);
    for (Channel*& channel : channels_) {
      if (channel == nullptr) continue;
      channel->stopRequested.store(true);
      stopping.push_back(channel);
      channel = nullptr;
    }
  }
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(waitMs);
  for (Channel* channel : stopping) {
    while (!channel->ended.load() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(kStopPoll);
    }
    if (!channel->ended.load()) std::printf("Notification channel %s is still ending.\n", channel->spec.name);
    releaseChannel(channel);
  }
}

bool NotificationDispatcher::deliver(Channel* channel, EventRecord* copy) {
  if (channel->spec.stopHandler == nullptr) return pushCopy(*channel->queue, copy);
  MutexLock guard(channel->endLock);
  if (channel->drained) {
    channel->spec.stopHandler(copy);
    return true;
  }
  return pushCopy(*channel->queue, copy);
}

bool NotificationDispatcher::deliverCopy(size_t index, const EventRecord* record, const NoticeStamp& stamp) {
  EventRecord* copy = copyEventRecord(record);
  if (copy != nullptr) stampRecord(copy, stamp);
  if (copy != nullptr && deliver(channels_[index], copy)) return true;
  if (copy != nullptr) std::printf("[ERROR] failed to queue notification\n");
  freeEventRecord(copy);
  drops_[index].fetch_add(1);
  return false;
}

int NotificationDispatcher::dispatch(const EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr) return 2;
  if (record->syncFlag != 0 && !syncingAllowed()) return 0;
  int result = 0;
  ReaderMutexLock lock(mutex_);
  std::vector<NoticeStamp> stamps;
  bool classified = false;
  for (size_t i = 0; i < channels_.size(); ++i) {
    if (channels_[i] == nullptr) continue;
    if (!specs_[i].notices) {
      if (!deliverCopy(i, record, NoticeStamp{})) result = 1;
      continue;
    }
    // The notifiers see each condition once, with its reminders and its end (condition_tracker.h).
    if (!classified) {
      stamps = conditionTracker().classify(*record, std::time(nullptr));
      classified = true;
    }
    if (stamps.empty()) countNotifierSuppressed(specs_[i].name);
    for (const NoticeStamp& stamp : stamps) {
      if (!deliverCopy(i, record, stamp)) result = 1;
    }
  }
  return result;
}

int NotificationDispatcher::dispatchTo(const char* channelName, const EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr) return 2;
  ReaderMutexLock lock(mutex_);
  for (size_t i = 0; i < channels_.size(); ++i) {
    if (channelName == nullptr || std::strcmp(specs_[i].name, channelName) != 0) continue;
    if (channels_[i] == nullptr) return 1;
    return deliverCopy(i, record, NoticeStamp{}) ? 0 : 1;
  }
  return 1;
}

int NotificationDispatcher::raise(const char* device, const char* message, uint32_t concernLevel,
                                  uint32_t eventTime, uint32_t eventId, uint8_t syncFlag) {
  auto* buffer = static_cast<char*>(std::malloc(kEventMessageBufferSize));
  if (buffer == nullptr) {
    std::printf("notification_createSend: Unable to allocate memory for storing event message\n");
    return 1;
  }
  if (device == nullptr || message == nullptr) {
    std::free(buffer);
    return 2;
  }
  formatEventMessage(buffer, kEventMessageBufferSize, eventId, message);
  const auto now = static_cast<uint32_t>(std::time(nullptr));
  EventRecord record{
      buffer,  const_cast<char*>(device), concernLevel, eventTime != 0 ? eventTime : now, now, eventId,
      syncFlag};
  const int result = dispatch(&record);
  std::free(buffer);
  return result;
}

const char* NotificationDispatcher::channelName(int index) const {
  return index >= 0 && index < channelCount() ? specs_[index].name : nullptr;
}

bool NotificationDispatcher::channelStarted(int index) const {
  ReaderMutexLock lock(mutex_);
  return index >= 0 && index < channelCount() && channels_[index] != nullptr;
}

uint64_t NotificationDispatcher::dropCount(int index) const {
  return index >= 0 && index < channelCount() ? drops_[index].load() : 0;
}

size_t NotificationDispatcher::queuedCount(int index) const {
  ReaderMutexLock lock(mutex_);
  if (index < 0 || index >= channelCount() || channels_[index] == nullptr) return 0;
  return channels_[index]->queue->size();
}

NotificationDispatcher& notificationDispatcher() {
  // Never destroyed: channel threads may still be ending while the process exits.
  static NotificationDispatcher* const dispatcher = new NotificationDispatcher(defaultNotificationChannels());
  return *dispatcher;
}

int raiseEvent(const char* device, const char* message, uint32_t concernLevel, uint32_t eventTime,
               uint32_t eventId, uint8_t syncFlag) {
  return notificationDispatcher().raise(device, message, concernLevel, eventTime, eventId, syncFlag);
}

int dispatchEvent(const EventRecord* record) { return notificationDispatcher().dispatch(record); }

int dispatchEventToChannel(const char* channelName, const EventRecord* record) {
  return notificationDispatcher().dispatchTo(channelName, record);
}

bool startNotificationChannels() {
  std::vector<std::string> errors;
  std::vector<ConditionRule> rules = readConditionRules(kConditionRulesPath, &errors);
  for (const std::string& error : errors) std::printf("%s: %s\n", kConditionRulesPath, error.c_str());
  conditionTracker().setRules(std::move(rules), kConditionStatePath);
  return notificationDispatcher().start();
}

void stopNotificationChannels() { notificationDispatcher().stop(); }

int notificationChannelCount() { return notificationDispatcher().channelCount(); }

const char* notificationChannelName(int channelIndex) {
  return notificationDispatcher().channelName(channelIndex);
}

uint64_t notificationDropCount(int channelIndex) { return notificationDispatcher().dropCount(channelIndex); }
