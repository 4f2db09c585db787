// The "webhook" channel's sender: each event, as a notice in the generic JSON form
// (webhook_payload.h), goes into the on-disk queue (webhook_spool.h) of every receiver whose filter
// selects its level, and each queue is sent in order, rendered in its receiver's style, one POST
// per notice. A receiver that answers 2xx has the notice; one that can't be reached, times out or
// answers anything else is tried again after a pause that doubles from firstRetryMs up to
// maxRetryMs, the queue waiting behind the notice (answers that no retry can change, such as 400
// or 422, drop the notice instead and count it failed). So an outage of the receiver or a restart
// of the server loses nothing up to queueLimit notices per receiver; beyond it the oldest goes.
//
// Queues of receivers that are no longer configured are removed with their notices.
//
// Thread safety: the channel functions run on the "webhook" channel thread; the test sender and
// the readers on any thread. The sender's state is guarded by one lock.
#pragma once

#include <atomic>
#include <cstddef>

#include "server/events/event_record.h"
#include "server/events/notifier_test_report.h"
#include "server/events/webhook_config.h"

struct WebhookTuning {
  std::atomic<size_t> queueLimit{1000};
  std::atomic<int> firstRetryMs{1000};
  std::atomic<int> maxRetryMs{60000};
  std::atomic<int> timeoutMs{10000};
  // How long one turn of the channel thread may spend sending before it looks at its queue again.
  std::atomic<int> sendBudgetMs{2000};
};
WebhookTuning& webhookTuning();

inline constexpr char kWebhookQueueFolder[] = "db/webhook.queue";

// The receivers of the in-memory settings with their secrets. False when the in-use word stayed
// taken.
bool readWebhookReceivers(WebhookReceivers* receivers);

// The channel's handler: queues the record for each receiver that wants it, then sends.
int sendWebhookNotification(EventRecord* record);
// For records still queued when the channel's thread ends: queued on disk, sent after the restart.
int queueWebhookNotification(EventRecord* record);
// The channel's idle work: sends what waits whose pause is over; drops the queues of receivers no
// longer configured.
void webhookChannelIdle();
// Forgets the sender's state (the queues on disk stay and are read again).
void resetWebhookSender();
// Notices waiting in every receiver's queue.
size_t webhookQueuedNotices();

// The test button's notice of record to one receiver, at once and not queued: kAccepted with the
// HTTP status when it answered 2xx, kRefused with status and the start of its answer otherwise,
// kConnectFailed, kNoAnswer, kCertificateRejected or kTlsFailed when no answer came.
ReceiverOutcome sendWebhookTest(const WebhookReceiver& receiver, const EventRecord& record);
