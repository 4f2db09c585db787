// The standalone HTTP server mode: cpp-httplib receives the requests (keep-alive, a pool of
// worker threads, read and write time-outs) and hands each complete request to the front end's
// core.
//
// httplib parses multipart bodies itself and refuses qcli's form; the raw body is kept from it
// by hiding the multipart content type before routing and restoring it for the core. Answers are
// never compressed: qcli asks for gzip but reads bodies as they come.
//
// Thread safety: run() blocks the calling thread; stop() may be called from any thread.
#pragma once

#include <httplib.h>

#include <atomic>
#include <string>

#include "frontend/front_end.h"

struct HttpModeOptions {
  std::string host = "127.0.0.1";
  int port = 9292;  // 0: any free port (see boundPort)
  size_t threads = 32;
  size_t maxHeaderBytes = 64 * 1024;  // all header lines together
  size_t maxHeaderLines = 100;
  bool verbose = false;  // one line per request on standard output
};

class HttpFrontEnd {
 public:
  // core: borrowed; must outlive this object.
  HttpFrontEnd(FrontEnd* core, HttpModeOptions options);
  HttpFrontEnd(const HttpFrontEnd&) = delete;
  HttpFrontEnd& operator=(const HttpFrontEnd&) = delete;

  // Binds the listening socket. False when the address cannot be bound.
  bool bind();
  int boundPort() const { return port_; }
  // Serves until stop(). Ignores SIGPIPE for the whole process (a client that goes away while
  // its answer is written must not end the program). REQUIRES: bind() succeeded.
  void run();
  // Ends run(), also when it is called before run() has started to accept connections.
  void stop();
  // True once run() accepts connections.
  bool running() const { return server_.is_running(); }

 private:
  void install();
  // Header limits, and the header changes that keep httplib from parsing or compressing bodies.
  httplib::Server::HandlerResponse preRoute(const httplib::Request& request,
                                            httplib::Response* response) const;
  // Reads the whole body (within the limit) before the core sees the request.
  void handlePost(const httplib::Request& request, const httplib::ContentReader& reader,
                  httplib::Response* response) const;
  FrontRequest requestOf(const httplib::Request& request) const;
  void answer(const FrontResponse& response, httplib::Response* out) const;

  FrontEnd* core_;
  HttpModeOptions options_;
  httplib::Server server_;
  int port_ = -1;
  std::atomic<bool> stopRequested_{false};
  std::atomic<bool> runStarted_{false};
  std::atomic<bool> runEnded_{false};
};
