// Notification dispatcher: turns raised events into EventRecords and copies each into the queue
// of every started channel ("kvlog", "oslog", "email", "snmp", "syslog", "webhook"); each channel
// has one consumer thread, so a slow channel never delays the others.
//
// The event log's channel ("kvlog") keeps every record: its queue grows instead of refusing a
// burst, and records still queued when the server stops are written before its thread ends.
// The other channels have fixed queues; a record that finds one full is lost for that channel
// only and counted in its drop count.
//
// Thread safety: raiseEvent and dispatchEvent may be called from any thread. Start and stop run
// only in the main loop's start-up and shutdown (and in tests); they exclude dispatching while
// they change the channel table.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "common/thread_annotations.h"
#include "server/events/condition_tracker.h"
#include "server/events/event_record.h"

// Takes a record and frees it. Returns 0 on success, nonzero on failure (the record is freed
// either way).
typedef int (*ChannelHandler)(EventRecord* record);
// Called on the channel's thread whenever its queue is found empty (about every 50 ms while idle):
// retries, reconnections and timed work of a channel that keeps a backlog of its own.
typedef void (*ChannelIdle)();

struct NotificationChannelSpec {
  const char* name;            // also the tag of the channel's thread; must live for the program
  int slotsLog2;               // queue of 2^slotsLog2 slots
  int maxSlotsLog2;            // the queue may double up to 2^maxSlotsLog2 (no growth when smaller)
  ChannelHandler handler;      // called for each record while the server runs
  ChannelHandler stopHandler;  // called for records still queued when the thread ends; null drops them
  ChannelIdle idle = nullptr;  // null: nothing to do while idle
  // A notifier: it sees each condition once, with reminders and its end (condition_tracker.h),
  // instead of every record; an idle notifier is handed the reminders that are due.
  bool notices = false;
};

// The fixed channel table of the server, in dispatch order.
std::vector<NotificationChannelSpec> defaultNotificationChannels();

// A set of channels with their queues and threads. The server uses one (notificationDispatcher);
// tests build their own with their own handlers.
class NotificationDispatcher {
 public:
  explicit NotificationDispatcher(std::vector<NotificationChannelSpec> channels);
  ~NotificationDispatcher();  // stops the channels
  NotificationDispatcher(const NotificationDispatcher&) = delete;
  NotificationDispatcher& operator=(const NotificationDispatcher&) = delete;

  // Creates each channel's queue and starts its thread through the thread manager; prints
  // "[ ERROR ] Failed to start %s\n" for each channel that failed. False when any failed.
  // Channels already started are left as they are.
  bool start();
  // Tells the threads to end, waits up to waitMs for them and frees their queues with the records
  // left in them. A thread that has not ended by then frees its own queue when it does.
  // A thread ends when the server stops running, too: what is queued then goes to the channel's
  // stop handler, and so does what is raised after that until stop (modules record their last
  // events while they shut down, and count them as recorded).
  void stop(int waitMs = 2000);

  // dispatchEvent and raiseEvent for this set of channels.
  int dispatch(const EventRecord* record);
  int raise(const char* device, const char* message, uint32_t concernLevel, uint32_t eventTime,
            uint32_t eventId, uint8_t syncFlag);
  // Copies the record into the named channel's queue only (the test message of one notifier).
  // Returns 0, 1 when the channel is not started, memory ran out or its queue refused the copy,
  // 2 when the record, its message or its device is missing. The record stays the caller's.
  int dispatchTo(const char* channelName, const EventRecord* record);

  int channelCount() const { return static_cast<int>(specs_.size()); }
  // Borrowed, lives as long as the program; null for an index out of range.
  const char* channelName(int index) const;
  bool channelStarted(int index) const;
  // Records the channel lost because its queue was full (or memory ran out), since construction.
  uint64_t dropCount(int index) const;
  // Records waiting in the channel's queue (0 when not started).
  size_t queuedCount(int index) const;

 private:
  struct Channel;
  static void channelThread(uintptr_t context);
  static void releaseChannel(Channel* channel);
  // Queues copy on channel, or (once its thread has ended) hands it to the stop handler at once.
  // False when the queue refused it (the copy is then still the caller's).
  static bool deliver(Channel* channel, EventRecord* copy);
  // A stamped copy of record onto channel index; false (counted as a drop) when it could not.
  // REQUIRES: the channel started.
  bool deliverCopy(size_t index, const EventRecord* record, const NoticeStamp& stamp) REQUIRES_SHARED(mutex_);
  // On the channel's thread: hands it the reminders that are due.
  static void remindIfDue(Channel* channel);

  std::vector<NotificationChannelSpec> specs_;
  std::unique_ptr<std::atomic<uint64_t>[]> drops_;
  mutable SharedMutex mutex_;                          // exclusive for start and stop, shared for dispatching
  std::vector<Channel*> channels_ GUARDED_BY(mutex_);  // null while not started
};

// The server's dispatcher over defaultNotificationChannels().
NotificationDispatcher& notificationDispatcher();

// Returns 0 on success, 1 when memory ran out or a queue refused the record, 2 when device or
// message is missing. eventTime 0 means now.
int raiseEvent(const char* device, const char* message, uint32_t concernLevel, uint32_t eventTime,
               uint32_t eventId, uint8_t syncFlag);
// Same codes; the record stays the caller's.
int dispatchEvent(const EventRecord* record);
// NotificationDispatcher::dispatchTo on the server's dispatcher.
int dispatchEventToChannel(const char* channelName, const EventRecord* record);

// Reads the condition rules (db/conditions.db) and starts every channel; returns false when any
// failed to start (each printed).
bool startNotificationChannels();
// Frees the queues of the started channels (after the running word was cleared and the threads
// had time to end).
void stopNotificationChannels();

// For the debug page: the server's channels, their names and drop counts.
int notificationChannelCount();
const char* notificationChannelName(int channelIndex);  // borrowed; null out of range
uint64_t notificationDropCount(int channelIndex);
