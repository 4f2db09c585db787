// The standalone HTTP server mode: cpp-httplib receives the requests (keep-alive, a pool of
// worker threads, read and write time-outs) and hands each complete request to the front end's
// core.
//
// httplib parses multipart bodies itself and refuses qcli's form; the raw body is kept from it
// by hiding the multipart content type before routing and restoring it for the core. Answers are
// never compressed: qcli asks for gzip but reads bodies as they come.
//
// With a certificate and key it serves HTTPS instead (OpenSSL through httplib's SSLServer). Every
// answer is counted for /metrics with the time from routing to the answer.
//
// Thread safety: run() blocks the calling thread; stop() may be called from any thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <memory>
#include <string>

#include "frontend/front_end.h"
#include "frontend/request_metrics.h"

struct HttpModeOptions {
  std::string host = "127.0.0.1";
  int port = 9292;  // 0: any free port (see boundPort)
  size_t threads = 32;
  size_t maxHeaderBytes = 64 * 1024;  // all header lines together
  size_t maxHeaderLines = 100;
  bool verbose = false;  // one line per request on standard output
  // HTTPS: both set, the server speaks TLS with this certificate (PEM, may hold the chain) and
  // private key (PEM); both empty, plain HTTP.
  std::string tlsCertificate;
  std::string tlsKey;
};

class HttpFrontEnd {
 public:
  // core: borrowed; must outlive this object. The core's /metrics shows this server's counts
  // while the object lives.
  HttpFrontEnd(FrontEnd* core, HttpModeOptions options);
  ~HttpFrontEnd();
  HttpFrontEnd(const HttpFrontEnd&) = delete;
  HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

  // False when the TLS certificate or key could not be loaded (nothing can be served then).
  bool valid() const { return server_->is_valid(); }
  bool tls() const { return !options_.tlsCertificate.empty(); }
  // Binds the listening socket. False when the address cannot be bound.
  bool bind();
  int boundPort() const { return port_; }
  // Serves until stop(). Ignores SIGPIPE for the whole process (a client that goes away while
  // its answer is written must not end the program). REQUIRES: bind() succeeded.
  void run();
  // Ends run(), also when it is called before run() has started to accept connections.
  void stop();
  // True once run() accepts connections.
  bool running() const { return server_->is_running(); }

 private:
  void install();
  // Header limits, and the header changes that keep httplib from parsing or compressing bodies.
  httplib::Server::HandlerResponse preRoute(const httplib::Request& request,
                                            httplib::Response* response) const;
  // Reads the whole body (within the limit) before the core sees the request.
  void handlePost(const httplib::Request& request, const httplib::ContentReader& reader,
                  httplib::Response* response) const;
  FrontRequest requestOf(const httplib::Request& request) const;
  // Counts the answer for /metrics (and prints it with --verbose).
  void record(const httplib::Request& request, const httplib::Response& response);
  void answer(const FrontResponse& response, httplib::Response* out) const;

  FrontEnd* core_;
  HttpModeOptions options_;
  std::unique_ptr<httplib::Server> server_;  // an httplib::SSLServer for HTTPS
  RequestMetrics metrics_;
  int port_ = -1;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> runStarted_{false};
  std::atomic<bool> runEnded_{false};
};
