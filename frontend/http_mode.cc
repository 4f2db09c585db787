// The standalone HTTP server mode; see http_mode.h.
#include "frontend/http_mode.h"

#include <signal.h>

#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

#include "frontend/status_pages.h"

namespace {

// Where the hidden multipart content type waits for the core. A client's header of this name is
// dropped first.
constexpr const char kHiddenContentType[] = "X-Kestrova-Form-Content-Type";

bool startsWithIgnoringCase(const std::string& text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i) {
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  }
  return true;
}

// When the request this worker thread is answering was routed (the pre-routing handler runs on
// the thread that answers, so the logger finds its own request's start here).
thread_local std::chrono::steady_clock::time_point gRequestStart;
thread_local bool gRequestRouted = false;

}  // namespace

HttpFrontEnd::HttpFrontEnd(FrontEnd* core, HttpModeOptions options)
    : core_(core), options_(std::move(options)) {
  if (tls()) {
    server_ = std::make_unique<httplib::SSLServer>(options_.tlsCertificate.c_str(), options_.tlsKey.c_str());
  } else {
    server_ = std::make_unique<httplib::Server>();
  }
  core_->setRequestMetrics(&metrics_);
  install();
}

HttpFrontEnd::~HttpFrontEnd() { core_->setRequestMetrics(nullptr); }

bool HttpFrontEnd::bind() {
  if (options_.port == 0) {
    port_ = server_->bind_to_any_port(options_.host);
    return port_ > 0;
  }
  if (!server_->bind_to_port(options_.host, options_.port)) return false;
  port_ = options_.port;
  return true;
}

void HttpFrontEnd::run() {
  signal(SIGPIPE, SIG_IGN);
  runStarted_ = true;
  if (!stopRequested_) server_->listen_after_bind();
  runEnded_ = true;
}

void HttpFrontEnd::stop() {
  stopRequested_ = true;
  if (!runStarted_) return;
  // httplib's stop does nothing until the listening loop runs.
  while (!server_->is_running() && !runEnded_) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  server_->stop();
}

void HttpFrontEnd::install() {
  const size_t threads = options_.threads;
  server_->new_task_queue = [threads] { return new httplib::ThreadPool(threads); };
  server_->set_payload_max_length(core_->limits().maxBody);
  server_->set_keep_alive_max_count(1000);
  server_->set_keep_alive_timeout(5);
  server_->set_read_timeout(10, 0);
  server_->set_write_timeout(10, 0);
  server_->set_tcp_nodelay(true);
  // httplib's default also sets SO_REUSEPORT, which would let a second program listen on the
  // same port and take a share of the connections; a port in use must be an error instead.
  server_->set_socket_options([](socket_t fd) {
    const int yes = 1;
    setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &yes, sizeof yes);
  });
  server_->set_pre_routing_handler([this](const httplib::Request& request, httplib::Response& response) {
    gRequestStart = std::chrono::steady_clock::now();
    gRequestRouted = true;
    return preRoute(request, &response);
  });
  server_->Get(".*", [this](const httplib::Request& request, httplib::Response& response) {
    answer(core_->handle(requestOf(request)), &response);
  });
  server_->Post(".*",
                [this](const httplib::Request& request, httplib::Response& response,
                       const httplib::ContentReader& reader) { handlePost(request, reader, &response); });
  // httplib's own refusals (unknown method, URI too long, ...) come without a body.
  server_->set_error_handler(
      httplib::Server::HandlerWithResponse([](const httplib::Request&, httplib::Response& response) {
        if (!response.body.empty()) return httplib::Server::HandlerResponse::Unhandled;
        const FrontResponse page = messageAnswer(AnswerKind::kPage, response.status,
                                                 httpReasonOf(response.status), "The request was refused.");
        response.set_content(page.body, page.contentType);
        return httplib::Server::HandlerResponse::Handled;
      }));
  // Called once for every answer, also for those httplib gives itself.
  server_->set_logger([this](const httplib::Request& request, const httplib::Response& response) {
    record(request, response);
  });
}

void HttpFrontEnd::record(const httplib::Request& request, const httplib::Response& response) {
  // A request refused before routing has no start time (seconds < 0: counted, not timed).
  double seconds = -1;
  std::string_view kind = "refused";
  if (gRequestRouted) {
    seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - gRequestStart).count();
    kind = RequestMetrics::kindOfPath(request.path);
    gRequestRouted = false;
  }
  metrics_.record(kind, response.status, seconds);
  if (options_.verbose) {
    std::printf("%s %s %s %d\n", request.remote_addr.c_str(), request.method.c_str(), request.path.c_str(),
                response.status);
    std::fflush(stdout);
  }
}

httplib::Server::HandlerResponse HttpFrontEnd::preRoute(const httplib::Request& request,
                                                        httplib::Response* response) const {
  size_t bytes = 0;
  for (const auto& [name, value] : request.headers) bytes += name.size() + value.size() + 4;
  if (request.headers.size() > options_.maxHeaderLines || bytes > options_.maxHeaderBytes) {
    answer(messageAnswer(AnswerKind::kPage, 431, "Request header too large",
                         "The request's header lines are too many or too long."),
           response);
    return httplib::Server::HandlerResponse::Handled;
  }
  // httplib hands the request to routing as a non-const object; the handler type only shows it
  // as const. Changing the headers here is the one way to keep httplib's multipart parser away
  // from bodies it cannot read and its compression away from answers.
  auto& headers = const_cast<httplib::Headers&>(request.headers);
  // Answers go out as they are: qcli advertises gzip but never decodes a body.
  headers.erase("Accept-Encoding");
  headers.erase(kHiddenContentType);
  const auto type = headers.find("Content-Type");
  if (type != headers.end() && startsWithIgnoringCase(type->second, "multipart/")) {
    std::string value = type->second;
    headers.erase(type);
    headers.emplace(kHiddenContentType, std::move(value));
    headers.emplace("Content-Type", "application/octet-stream");
  }
  return httplib::Server::HandlerResponse::Unhandled;
}

void HttpFrontEnd::handlePost(const httplib::Request& request, const httplib::ContentReader& reader,
                              httplib::Response* response) const {
  FrontRequest front = requestOf(request);
  const size_t limit = core_->limits().maxBody;
  bool tooLarge = false;
  const bool read = reader([&](const char* data, size_t size) {
    if (front.body.size() + size > limit) {
      tooLarge = true;
      return false;
    }
    front.body.append(data, size);
    return true;
  });
  if (tooLarge || response->status == 413) {
    answer(messageAnswer(AnswerKind::kPage, 413, "Request too large",
                         "The request is larger than the front end accepts."),
           response);
  } else if (!read) {
    answer(messageAnswer(AnswerKind::kPage, 400, "Bad request", "The request's body could not be read."),
           response);
  } else {
    answer(core_->handle(front), response);
  }
}

FrontRequest HttpFrontEnd::requestOf(const httplib::Request& request) const {
  FrontRequest front;
  front.method = request.method;
  front.path = request.path;
  const size_t question = request.target.find('?');
  if (question != std::string::npos) front.rawQuery = request.target.substr(question + 1);
  front.contentType = request.has_header(kHiddenContentType) ? request.get_header_value(kHiddenContentType)
                                                             : request.get_header_value("Content-Type");
  front.authorization = request.get_header_value("Authorization");
  front.fetchMode = request.get_header_value("Sec-Fetch-Mode");
  front.remoteAddress = request.remote_addr;
  return front;
}

void HttpFrontEnd::answer(const FrontResponse& response, httplib::Response* out) const {
  out->status = response.status;
  for (const auto& [name, value] : response.headers) out->set_header(name, value);
  out->set_content(response.body, response.contentType);
}
