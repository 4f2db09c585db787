// Test-only HTTP peer for the client's tests: listens on a loopback port, takes one request per
// connection (the head up to its blank line, then Content-Length bytes of body), records the
// exact bytes received and answers with the next canned reply, then closes. It speaks HTTPS
// instead when the test program runs with QCLI_TEST_PEERS_TLS=1 (test_peer_stream.h). Used by the request
// and system tests; never linked into the program.
//
// Thread safety: the serving thread owns the socket; requests() may be read after stop() (or the
// destructor of an earlier peer) and while serving under the peer's own lock.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "qcli/test_peer_stream.h"

namespace qcli::testing {

// Canned answers in the forms the client reads.
inline std::string htmlPage(const std::string& scriptText) {
  return "<html><body>\n<!-- qcli script -->\n<pre> ignored rest of line\n" + scriptText +
         "</pre>\n</body></html>\n";
}

inline std::string plainReply(const std::string& contentType, const std::string& body,
                              bool withLength = true) {
  std::string reply = "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\n";
  if (withLength) reply += "Content-Length: " + std::to_string(body.size()) + "\r\n";
  return reply + "Connection: close\r\n\r\n" + body;
}

inline std::string chunkedReply(const std::string& contentType, const std::vector<std::string>& chunks) {
  std::string reply =
      "HTTP/1.1 200 OK\r\nContent-Type: " + contentType + "\r\nTransfer-Encoding: chunked\r\n\r\n";
  for (const std::string& c : chunks) {
    char size[32];
    std::snprintf(size, sizeof size, "%zx\r\n", c.size());
    reply += size + c + "\r\n";
  }
  return reply + "0\r\n\r\n";
}

// A listening socket on a free loopback port (its number in *port), for the test peers. Aborts
// when the system refuses one: no test can run then.
inline int listenOnLoopback(int* port) {
  const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  int one = 1;
  setsockopt(listener, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  if (::bind(listener, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0 || ::listen(listener, 8) != 0 ||
      getsockname(listener, reinterpret_cast<sockaddr*>(&address), &length) != 0) {
    std::abort();
  }
  *port = ntohs(address.sin_port);
  return listener;
}

class TestHttpPeer {
 public:
  // Serves replies[i] to the i-th connection; connections beyond the list are closed unanswered.
  // tls: speak HTTPS (Linux only), by default as the test program was told.
  explicit TestHttpPeer(std::vector<std::string> replies, bool tls = peersSpeakTls())
      : replies_(std::move(replies)), tls_(tls) {
    listener_ = listenOnLoopback(&port_);
    thread_ = std::thread([this] { serve(); });
  }
  ~TestHttpPeer() { stop(); }
  TestHttpPeer(const TestHttpPeer&) = delete;
  TestHttpPeer& operator=(const TestHttpPeer&) = delete;

  int port() const { return port_; }
  std::string portText() const { return std::to_string(port_); }

  void stop() {
    if (!thread_.joinable()) return;
    stopping_ = true;
    thread_.join();
    closePeerSocket(listener_);
  }

  std::vector<std::string> requests() {
    MutexLock lock(mutex_);
    return requests_;
  }

 private:
  void serve() {
    size_t served = 0;
    // Bounded: at most 30 s of waiting in all, so a test that goes wrong cannot hang.
    for (int waited = 0; !stopping_ && waited < 30000;) {
      pollfd p{listener_, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) {
        waited += 50;
        continue;
      }
      int fd = ::accept(listener_, nullptr, nullptr);
      if (fd < 0) continue;
      std::unique_ptr<PeerStream> stream = openPeerStream(fd, tls_);
      std::string request = readRequest(*stream);
      {
        MutexLock lock(mutex_);
        requests_.push_back(request);
      }
      if (served < replies_.size()) stream->write(replies_[served]);
      ++served;
    }
  }

  static std::string readRequest(PeerStream& stream) {
    std::string data;
    char buffer[65536];
    size_t wanted = std::string::npos;
    for (;;) {
      if (wanted == std::string::npos) {
        size_t end = data.find("\r\n\r\n");
        if (end != std::string::npos) wanted = end + 4 + contentLength(data.substr(0, end));
      }
      if (wanted != std::string::npos && data.size() >= wanted) return data;
      const long n = stream.read(buffer, sizeof buffer);
      if (n <= 0) return data;
      data.append(buffer, static_cast<size_t>(n));
    }
  }

  static size_t contentLength(const std::string& head) {
    size_t at = head.find("Content-Length: ");
    return at == std::string::npos ? 0 : std::strtoul(head.c_str() + at + 16, nullptr, 10);
  }

  std::vector<std::string> replies_;
  bool tls_;
  int listener_ = -1;
  int port_ = 0;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
  Mutex mutex_;
  std::vector<std::string> requests_ GUARDED_BY(mutex_);
};

}  // namespace qcli::testing
