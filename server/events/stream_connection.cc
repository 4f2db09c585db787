// Notifier stream connections; see stream_connection.h.
#include "server/events/stream_connection.h"

#include <algorithm>
#include <chrono>

#include "common/thread_manager.h"
#include "server/events/stream_socket.h"
#include "server/server_state.h"

namespace {

// Slice of a wait, so that a stopping server is noticed.
constexpr int kWaitSliceMs = 100;
constexpr size_t kReceiveChunk = 4096;

int64_t nowMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

bool keepWaiting() { return isServerRunning() && !threadStopRequested(); }

}  // namespace

const char* streamStatusText(StreamStatus status) {
  switch (status) {
    case StreamStatus::kOk:
      return "ok";
    case StreamStatus::kConnectFailed:
      return "connection failed";
    case StreamStatus::kTimedOut:
      return "no answer in time";
    case StreamStatus::kClosed:
      return "connection closed by the peer";
    case StreamStatus::kFailed:
      return "send or receive failed";
    case StreamStatus::kTlsFailed:
      return "TLS handshake failed";
    case StreamStatus::kCertificateRejected:
      return "certificate rejected";
    case StreamStatus::kStopped:
      return "server stopping";
  }
  return "unknown";
}

StreamConnection::~StreamConnection() { close(); }

StreamStatus StreamConnection::fail(StreamStatus status, std::string text) {
  failure_ = std::move(text);
  close();
  return status;
}

StreamStatus StreamConnection::connect(const std::string& host, uint16_t port, int timeoutMs) {
  close();
  failure_.clear();
  if (host.empty()) return fail(StreamStatus::kConnectFailed, "no host");
  std::string error;
  const SocketIo started = startConnect(host, port, &socket_, &error);
  if (started == SocketIo::kFailed) {
    socket_ = kInvalidSocket;
    return fail(StreamStatus::kConnectFailed, error);
  }
  if (started == SocketIo::kWouldBlock) {
    const StreamStatus waited = wait(true, nowMs() + timeoutMs);
    if (waited != StreamStatus::kOk) {
      return fail(
          waited == StreamStatus::kTimedOut ? StreamStatus::kConnectFailed : waited,
          "connection to " + host + " port " + std::to_string(port) + ": " + streamStatusText(waited));
    }
    if (finishConnect(socket_, &error) != SocketIo::kDone) return fail(StreamStatus::kConnectFailed, error);
  }
  return StreamStatus::kOk;
}

StreamStatus StreamConnection::wait(bool forWrite, int64_t deadlineMs) {
  for (;;) {
    if (!keepWaiting()) return StreamStatus::kStopped;
    const int64_t left = deadlineMs - nowMs();
    if (left <= 0) return StreamStatus::kTimedOut;
    const SocketIo ready = waitForSocket(socket_, forWrite, static_cast<int>(std::min<int64_t>(left, kWaitSliceMs)));
    if (ready == SocketIo::kDone) return StreamStatus::kOk;
    if (ready == SocketIo::kFailed) return StreamStatus::kFailed;
  }
}

StreamStatus StreamConnection::startTls(const std::string& host, const TlsSettings& settings, int timeoutMs) {
  if (!isOpen()) return StreamStatus::kClosed;
  std::string error;
  tls_ = createTlsChannel(socket_, host, settings, &error);
  if (!tls_) return fail(StreamStatus::kTlsFailed, error);
  const int64_t deadline = nowMs() + timeoutMs;
  for (;;) {
    const TlsChannel::Io io = tls_->handshake();
    if (io == TlsChannel::Io::kDone) return StreamStatus::kOk;
    if (io == TlsChannel::Io::kWantRead || io == TlsChannel::Io::kWantWrite) {
      const StreamStatus waited = wait(io == TlsChannel::Io::kWantWrite, deadline);
      if (waited != StreamStatus::kOk) return fail(waited, "TLS handshake: " + std::string(streamStatusText(waited)));
      continue;
    }
    const bool certificate = tls_->certificateRejected();
    const std::string text = io == TlsChannel::Io::kClosed ? "closed during the TLS handshake" : tls_->failureText();
    return fail(certificate ? StreamStatus::kCertificateRejected : StreamStatus::kTlsFailed, text);
  }
}

StreamStatus StreamConnection::sendAll(std::string_view data, int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  while (!data.empty()) {
    if (!isOpen()) return StreamStatus::kClosed;
    size_t sent = 0;
    bool forWrite = true;
    if (tls_) {
      const TlsChannel::Io io = tls_->write(data.data(), data.size(), &sent);
      if (io == TlsChannel::Io::kClosed) return fail(StreamStatus::kClosed, "closed by the peer");
      if (io == TlsChannel::Io::kFailed) return fail(StreamStatus::kFailed, tls_->failureText());
      forWrite = io != TlsChannel::Io::kWantRead;
      if (io == TlsChannel::Io::kDone) {
        data.remove_prefix(sent);
        continue;
      }
    } else {
      const SocketIo io = sendSome(socket_, data.data(), data.size(), &sent);
      if (io == SocketIo::kFailed || io == SocketIo::kClosed) return fail(StreamStatus::kFailed, "send failed");
      if (io == SocketIo::kDone) {
        data.remove_prefix(sent);
        continue;
      }
    }
    const StreamStatus waited = wait(forWrite, deadline);
    if (waited != StreamStatus::kOk) return fail(waited, "send: " + std::string(streamStatusText(waited)));
  }
  return StreamStatus::kOk;
}

StreamStatus StreamConnection::receive(std::string* out, int timeoutMs) {
  const int64_t deadline = nowMs() + timeoutMs;
  char buffer[kReceiveChunk];
  for (;;) {
    if (!isOpen()) return StreamStatus::kClosed;
    size_t got = 0;
    bool forWrite = false;
    if (tls_) {
      const TlsChannel::Io io = tls_->read(buffer, sizeof buffer, &got);
      if (io == TlsChannel::Io::kDone) {
        out->append(buffer, got);
        return StreamStatus::kOk;
      }
      if (io == TlsChannel::Io::kClosed) return fail(StreamStatus::kClosed, "closed by the peer");
      if (io == TlsChannel::Io::kFailed) return fail(StreamStatus::kFailed, tls_->failureText());
      forWrite = io == TlsChannel::Io::kWantWrite;
    } else {
      const SocketIo io = receiveSome(socket_, buffer, sizeof buffer, &got);
      if (io == SocketIo::kDone) {
        out->append(buffer, got);
        return StreamStatus::kOk;
      }
      if (io == SocketIo::kClosed) return fail(StreamStatus::kClosed, "closed by the peer");
      if (io == SocketIo::kFailed) return fail(StreamStatus::kFailed, "receive failed");
    }
    const StreamStatus waited = wait(forWrite, deadline);
    if (waited != StreamStatus::kOk) {
      // A time-out leaves the connection usable only for a caller that expects silence; the
      // callers here treat it as the end of the connection.
      return fail(waited, "receive: " + std::string(streamStatusText(waited)));
    }
  }
}

bool StreamConnection::peerGone() {
  if (!isOpen()) return true;
  if (tls_ && tls_->pending()) return true;
  if (waitForSocket(socket_, false, 0) != SocketIo::kDone) return false;
  // Readable while idle: either the end of the stream, an error, or bytes nobody asked for.
  close();
  return true;
}

StreamStatus StreamConnection::drainIncoming() {
  char buffer[kReceiveChunk];
  for (;;) {
    if (!isOpen()) return StreamStatus::kClosed;
    size_t got = 0;
    if (tls_) {
      const TlsChannel::Io io = tls_->read(buffer, sizeof buffer, &got);
      if (io == TlsChannel::Io::kDone) continue;
      if (io == TlsChannel::Io::kWantRead || io == TlsChannel::Io::kWantWrite) return StreamStatus::kOk;
      return fail(io == TlsChannel::Io::kClosed ? StreamStatus::kClosed : StreamStatus::kFailed,
                  io == TlsChannel::Io::kClosed ? "closed by the peer" : tls_->failureText());
    }
    const SocketIo io = receiveSome(socket_, buffer, sizeof buffer, &got);
    if (io == SocketIo::kDone) continue;
    if (io == SocketIo::kWouldBlock) return StreamStatus::kOk;
    return fail(io == SocketIo::kClosed ? StreamStatus::kClosed : StreamStatus::kFailed,
                io == SocketIo::kClosed ? "closed by the peer" : "receive failed");
  }
}

void StreamConnection::close() {
  if (tls_) {
    tls_->shutdown();
    tls_.reset();
  }
  closeSocket(&socket_);
}
