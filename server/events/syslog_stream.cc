// Syslog over TCP and TLS with a backlog; see syslog_stream.h.
#include "server/events/syslog_stream.h"

#include <algorithm>
#include <chrono>

#include "common/debug.h"
#include "server/events/notifier_stats.h"

namespace {

constexpr uint32_t kErrorDebugCode = 0x1000011;
constexpr char kChannel[] = "syslog";
// After a clean close only the last eighth of the resend window is sent again: enough for the
// messages that crossed the receiver's close on the wire.
constexpr int kCleanCloseWindowDivisor = 8;

}  // namespace

SyslogStreamTuning& syslogStreamTuning() {
  static SyslogStreamTuning tuning;
  return tuning;
}

int64_t syslogClockMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

SyslogStream::~SyslogStream() {
  if (!backlog_.empty()) countNotifierDropped(kChannel, backlog_.size());
}

void SyslogStream::submit(std::string framed) {
  backlog_.push_back(std::move(framed));
  trimBacklog();
  pump();
}

void SyslogStream::trimBacklog() {
  const size_t limit = std::max<size_t>(1, syslogStreamTuning().backlogLimit.load());
  while (backlog_.size() > limit) {
    backlog_.pop_front();
    countNotifierDropped(kChannel);
  }
}

bool SyslogStream::connect(int64_t nowMs) {
  if (nowMs < nextAttemptMs_) return false;
  const int timeoutMs = syslogStreamTuning().ioTimeoutMs.load();
  StreamStatus status = connection_.connect(target_.host, target_.port, timeoutMs);
  if (status == StreamStatus::kOk && target_.tls) {
    status = connection_.startTls(target_.host, target_.tlsSettings, timeoutMs);
  }
  if (status == StreamStatus::kOk) {
    retryDelayMs_ = 0;
    return true;
  }
  debugPrint(kErrorDebugCode, "syslog: %s port %d: %s\n", target_.host.c_str(), target_.port,
             connection_.failure().c_str());
  countNotifierFailed(kChannel);
  const SyslogStreamTuning& tuning = syslogStreamTuning();
  retryDelayMs_ =
      retryDelayMs_ == 0 ? tuning.firstRetryMs.load() : std::min(retryDelayMs_ * 2, tuning.maxRetryMs.load());
  nextAttemptMs_ = syslogClockMs() + retryDelayMs_;
  return false;
}

void SyslogStream::broken(int64_t nowMs, bool closedCleanly) {
  debugPrint(kErrorDebugCode, "syslog: the connection to %s port %d broke: %s\n", target_.host.c_str(),
             target_.port, connection_.failure().c_str());
  countNotifierFailed(kChannel);
  connection_.close();
  // What went out just before the break may never have been read: it goes again, in order. A
  // receiver that closed cleanly had read all that reached it before it closed (a close with
  // unread bytes resets the connection instead), so only what crossed its close is at stake.
  const int window = syslogStreamTuning().resendWindowMs.load();
  const int64_t since = nowMs - (closedCleanly ? window / kCleanCloseWindowDivisor : window);
  for (auto it = recent_.rbegin(); it != recent_.rend(); ++it) {
    if (it->atMs >= since) backlog_.push_front(std::move(it->framed));
  }
  recent_.clear();
  trimBacklog();
  retryDelayMs_ = syslogStreamTuning().firstRetryMs.load();
  nextAttemptMs_ = nowMs + retryDelayMs_;
}

void SyslogStream::pump() {
  int64_t now = syslogClockMs();
  if (connection_.isOpen()) {
    const StreamStatus status = connection_.drainIncoming();
    if (status != StreamStatus::kOk) broken(now, status == StreamStatus::kClosed);
  }
  if (backlog_.empty()) return;
  if (!connection_.isOpen() && !connect(now)) return;
  const int timeoutMs = syslogStreamTuning().ioTimeoutMs.load();
  while (!backlog_.empty()) {
    // A receiver that closed since the last message is noticed before the next one is lost.
    const StreamStatus status = connection_.drainIncoming();
    if (status != StreamStatus::kOk ||
        connection_.sendAll(backlog_.front(), timeoutMs) != StreamStatus::kOk) {
      broken(syslogClockMs(), status == StreamStatus::kClosed);
      return;
    }
    now = syslogClockMs();
    recent_.push_back({now, std::move(backlog_.front())});
    backlog_.pop_front();
    countNotifierSent(kChannel);
  }
  const int64_t since = now - syslogStreamTuning().resendWindowMs.load();
  while (!recent_.empty() && recent_.front().atMs < since) recent_.pop_front();
}
