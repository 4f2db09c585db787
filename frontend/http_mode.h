// The standalone HTTP server mode on libmicrohttpd: a few event-loop threads read and write every
// connection (epoll where there is one), so that idle, slow or numerous connections cost a
// socket and a little memory, never a thread. Whatever may wait (a password hash, the round trip
// to the server, rendering a page) runs on a pool of worker threads while the connection is
// suspended; a login that has to wait out the brute-force delay waits on a timer.
//
// What a handful of clients cannot do here: hold more than maxPerAddress connections from one
// address, take longer than headTimeout for a request's head or bodyTimeout for its body (the
// connection is cut), send a body before the login was checked or one larger than the front
// end's limit (refused by its Content-Length before it is read), or keep the listening socket's
// queue full (backlog listenBacklog).
//
// With a certificate and key it serves HTTPS only (GnuTLS through libmicrohttpd), with TLS 1.2
// and 1.3, forward secrecy and AEAD ciphers only unless tlsPriorities says otherwise, and
// Strict-Transport-Security on every answer. Every answer is counted for /metrics with the
// time from the request's head to the answer.
//
// Thread safety: run() blocks the calling thread; stop() may be called from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>

#include "common/thread_annotations.h"
#include "frontend/front_end.h"
#include "frontend/request_metrics.h"

// GnuTLS priorities of the default: TLS 1.3 and TLS 1.2 with ECDHE key exchange and AEAD
// ciphers only.
inline constexpr char kModernTlsPriorities[] =
    "SECURE128:-VERS-ALL:+VERS-TLS1.3:+VERS-TLS1.2:-CIPHER-ALL:+AES-128-GCM:+AES-256-GCM:+CHACHA20-POLY1305:"
    "-MAC-ALL:+AEAD:-KX-ALL:+ECDHE-RSA:+ECDHE-ECDSA:%SERVER_PRECEDENCE";

struct HttpModeOptions {
  std::string host = "127.0.0.1";
  int port = 9292;                    // 0: any free port (see boundPort)
  size_t threads = 16;                // workers: login checks, round trips to the server, pages
  size_t eventThreads = 2;            // threads that read and write the connections
  size_t maxHeaderBytes = 64 * 1024;  // all header lines together
  size_t maxHeaderLines = 100;
  unsigned maxConnections = 1024;
  unsigned maxPerAddress = 32;
  unsigned listenBacklog = 128;
  int headTimeoutSeconds = 10;   // the whole request head
  int bodyTimeoutSeconds = 120;  // the whole body
  int idleTimeoutSeconds = 10;   // no data at all
  bool verbose = false;          // one line per request on standard output
  // HTTPS: both set, the server speaks TLS with this certificate (PEM, may hold the chain) and
  // private key (PEM); both empty, plain HTTP.
  std::string tlsCertificate;
  std::string tlsKey;
  std::string tlsPriorities;  // GnuTLS priority string; empty: kModernTlsPriorities
};

class HttpFrontEnd {
 public:
  // core: borrowed; must outlive this object. The core's /metrics shows this server's counts
  // while the object lives.
  HttpFrontEnd(FrontEnd* core, HttpModeOptions options);
  ~HttpFrontEnd();
  HttpFrontEnd(const HttpFrontEnd&) = delete;
  HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

  // False when the TLS certificate, key or priorities cannot be used (nothing can be served).
  bool valid() const { return valid_; }
  bool tls() const { return !options_.tlsCertificate.empty(); }
  // Binds the listening socket and starts serving. False when the address cannot be bound.
  bool bind();
  int boundPort() const { return port_; }
  // Blocks until stop(). Ignores SIGPIPE for the whole process. REQUIRES: bind() succeeded.
  void run();
  // Ends run(), also when it is called before run() has started.
  void stop();
  // True once bind() succeeded and until run() ends.
  bool running() const { return daemon_ != nullptr && !stopped_.load(); }

  struct Exchange;     // one request on its way (http_mode.cc)
  struct Connections;  // the deadlines of the open connections (http_mode.cc)

 private:
  friend struct Callbacks;
  // The steps of an exchange on the event loop; false ends the connection.
  bool onHead(Exchange* exchange, const char* url, const char* method);
  bool onLoginDone(Exchange* exchange);
  bool onBody(Exchange* exchange, const char* data, size_t* size);
  bool answerEarly(Exchange* exchange);
  bool queueAnswer(Exchange* exchange);
  void startLogin(Exchange* exchange);
  void startWork(Exchange* exchange);
  // Counts the answered request for /metrics and frees the exchange.
  void finishExchange(Exchange* exchange);

  FrontEnd* core_;
  HttpModeOptions options_;
  bool valid_ = true;
  std::string certificatePem_;
  std::string keyPem_;
  RequestMetrics metrics_;
  std::unique_ptr<Connections> connections_;
  std::unique_ptr<class WorkQueue> work_;
  std::unique_ptr<class TimerThread> timer_;
  struct MHD_Daemon* daemon_ = nullptr;
  int port_ = -1;
  Mutex mu_;
  std::condition_variable stopChanged_;
  bool stopRequested_ GUARDED_BY(mu_) = false;
  std::atomic<bool> stopped_{false};
};
