// TLS client sessions for the notifiers (SMTP STARTTLS and implicit TLS, syslog over TLS): one
// small interface with one back end per TLS library (tls_channel_openssl.cc), so that a build
// without the library can leave the back end out or put another in its place.
//
// A channel works on a connected non-blocking socket that its caller owns and waits on; every
// operation returns at once, telling the caller what to wait for.
//
// Thread safety: a channel belongs to the thread that uses its socket.
#pragma once

#include <cstddef>
#include <memory>
#include <string>

#include "server/net/socket_layer.h"

struct TlsSettings {
  // Check the peer's certificate chain and that it names the host (or address) connected to.
  bool verify = true;
  // PEM file of certificate authorities to trust instead of the system's store; empty for the
  // system's store.
  std::string caFile;
};

class TlsChannel {
 public:
  enum class Io { kDone, kWantRead, kWantWrite, kClosed, kFailed };

  virtual ~TlsChannel() = default;
  virtual Io handshake() = 0;
  virtual Io write(const char* data, size_t size, size_t* written) = 0;
  virtual Io read(char* buffer, size_t size, size_t* got) = 0;
  // Decrypted bytes are waiting inside the channel (no socket wait needed before read).
  virtual bool pending() const = 0;
  // Sends the closing alert, best effort.
  virtual void shutdown() = 0;
  // After kFailed: true when the peer's certificate was the reason.
  virtual bool certificateRejected() const = 0;
  // After kFailed: what went wrong, one line.
  virtual std::string failureText() const = 0;
};

// A client channel for host (a name or dotted address: the certificate must name it when
// settings.verify) over socket. Null, with *error set, when the library can't set one up (an
// unreadable CA file among the reasons). The socket stays the caller's.
std::unique_ptr<TlsChannel> createTlsChannel(SocketHandle socket, const std::string& host,
                                             const TlsSettings& settings, std::string* error);
