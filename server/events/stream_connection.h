// A TCP connection of a notifier (the SMTP client, syslog over TCP and TLS), plain or with TLS
// started at once or later (STARTTLS). Every operation is bounded by a time-out and ends early
// when the server stops, so a silent or vanished peer never holds a channel thread or a request
// thread; a connection that failed is closed at once and reports itself closed.
//
// Thread safety: one StreamConnection belongs to one thread.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "server/events/tls_channel.h"
#include "server/net/socket_layer.h"

enum class StreamStatus {
  kOk,
  kConnectFailed,        // no connection (name not resolved, refused, unreachable)
  kTimedOut,             // the peer did not answer in time
  kClosed,               // the peer ended the connection
  kFailed,               // send or receive failed
  kTlsFailed,            // the TLS handshake failed for another reason than the certificate
  kCertificateRejected,  // the peer's certificate was not trusted or does not name the host
  kStopped,              // the server is stopping
};

class StreamConnection {
 public:
  StreamConnection() = default;
  ~StreamConnection();  // closes without any closing exchange
  StreamConnection(const StreamConnection&) = delete;
  StreamConnection& operator=(const StreamConnection&) = delete;

  // Connects to host (name or dotted address) on port over TCP, giving up after timeoutMs.
  StreamStatus connect(const std::string& host, uint16_t port, int timeoutMs);
  // Starts TLS on the open connection; host is the name the certificate must carry.
  StreamStatus startTls(const std::string& host, const TlsSettings& settings, int timeoutMs);
  // Sends every byte of data.
  StreamStatus sendAll(std::string_view data, int timeoutMs);
  // Appends the bytes that arrive next (at least one) to *out.
  StreamStatus receive(std::string* out, int timeoutMs);
  // True when the peer closed or reset the connection or sent something unasked: used before a
  // connection that sat idle is used again.
  bool peerGone();
  // For a connection whose peer never speaks (a syslog collector): reads and discards whatever
  // arrived (TLS session tickets among it). kOk while the connection stands; kClosed or kFailed
  // (and closed) when the peer ended or reset it.
  StreamStatus drainIncoming();
  void close();

  bool isOpen() const { return socket_ != kInvalidSocket; }
  bool isTls() const { return tls_ != nullptr; }
  // What went wrong last, one line (empty when nothing did).
  const std::string& failure() const { return failure_; }

 private:
  StreamStatus fail(StreamStatus status, std::string text);
  // Waits for what the TLS channel or a plain operation needs; kOk when ready.
  StreamStatus wait(bool forWrite, int64_t deadlineMs);

  SocketHandle socket_ = kInvalidSocket;
  std::unique_ptr<TlsChannel> tls_;
  std::string failure_;
};

// The one-line text of a status for pages and debug lines ("connection failed", ...).
const char* streamStatusText(StreamStatus status);
