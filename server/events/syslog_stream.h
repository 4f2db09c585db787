// One syslog receiver reached over TCP (RFC 6587, octet counting) or TLS (RFC 5425): its
// connection, kept open between events, and its backlog. A message that can't go at once (the
// receiver is down, restarting, or the connection just broke) waits in the backlog, which holds at
// most backlogLimit messages; beyond that the oldest are dropped and counted. A broken connection
// is made again after a pause that doubles from firstRetryMs up to maxRetryMs.
//
// TCP gives no receipt: bytes that the receiver had taken into its socket but not yet read when it
// went down are lost without a sign. So the messages sent in the resendWindowMs before a break is
// noticed are sent again after the next connection (only the last eighth of it when the receiver
// closed cleanly, having read what it had): the receiver may see a few messages twice, but loses
// none while the backlog holds.
//
// Thread safety: a stream belongs to the "syslog" channel thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <string>

#include "server/events/stream_connection.h"
#include "server/events/tls_channel.h"

struct SyslogStreamTuning {
  std::atomic<size_t> backlogLimit{1000};
  std::atomic<int> firstRetryMs{250};
  std::atomic<int> maxRetryMs{30000};
  std::atomic<int> resendWindowMs{2000};
  std::atomic<int> ioTimeoutMs{5000};
};
// The process's knobs (tests shorten them).
SyslogStreamTuning& syslogStreamTuning();

struct SyslogStreamTarget {
  std::string host;  // name or dotted address
  uint16_t port = 0;
  bool tls = false;
  TlsSettings tlsSettings;  // used when tls
};

class SyslogStream {
 public:
  explicit SyslogStream(SyslogStreamTarget target) : target_(std::move(target)) {}
  SyslogStream(const SyslogStream&) = delete;
  SyslogStream& operator=(const SyslogStream&) = delete;

  // Puts the framed message behind the backlog, then sends what it can.
  void submit(std::string framed);
  // Sends what waits, connecting first when the pause after the last failure is over. Also
  // notices a connection that the receiver closed while idle.
  void pump();
  // Closes the connection; the backlog is dropped (counted) with the stream.
  ~SyslogStream();

  size_t waiting() const { return backlog_.size(); }
  bool connected() const { return connection_.isOpen(); }
  const SyslogStreamTarget& target() const { return target_; }

 private:
  struct Sent {
    int64_t atMs;
    std::string framed;
  };
  bool connect(int64_t nowMs);
  void broken(int64_t nowMs, bool closedCleanly);
  void trimBacklog();

  SyslogStreamTarget target_;
  StreamConnection connection_;
  std::deque<std::string> backlog_;
  std::deque<Sent> recent_;  // sent within the resend window, oldest first
  int64_t nextAttemptMs_ = 0;
  int retryDelayMs_ = 0;
};

// Milliseconds of a steady clock.
int64_t syslogClockMs();
