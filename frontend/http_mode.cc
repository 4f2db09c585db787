// The standalone HTTP server mode; see http_mode.h.
#include "frontend/http_mode.h"

#ifdef _WIN32
#include <winsock2.h>
// after winsock2.h
#include <ws2tcpip.h>

#include "common/winsock_init.h"
#else
#include <arpa/inet.h>
#include <netdb.h>
#include <signal.h>
#endif
#include <microhttpd.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <vector>

#include "common/thread_annotations.h"
#include "frontend/status_pages.h"
#include "frontend/timer_thread.h"
#include "frontend/tls_settings.h"
#include "frontend/work_queue.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr size_t kConnectionMemory = 160 * 1024;  // headers and the read buffer of one connection
constexpr auto kSweepPeriod = std::chrono::milliseconds(500);
constexpr auto kBurstReportPeriod = std::chrono::seconds(5);
constexpr char kHsts[] = "max-age=31536000";

bool readFile(const std::string& path, std::string* text) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return false;
  text->assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return in.good() || in.eof();
}

std::string addressText(const sockaddr* address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (address == nullptr) return std::string();
  if (address->sa_family == AF_INET) {
    inet_ntop(AF_INET, &reinterpret_cast<const sockaddr_in*>(address)->sin_addr, text, sizeof text);
  } else if (address->sa_family == AF_INET6) {
    inet_ntop(AF_INET6, &reinterpret_cast<const sockaddr_in6*>(address)->sin6_addr, text, sizeof text);
  }
  return text;
}

// The path of a raw request target, percent-decoded once ("+" stays). Decoded here rather than by
// libmicrohttpd, whose C string would end at an encoded NUL and hide it from the path checks.
std::string decodedPath(const std::string& rawTarget) {
  const std::string raw = rawTarget.substr(0, rawTarget.find('?'));
  std::string path;
  path.reserve(raw.size());
  const auto hex = [](char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  for (size_t i = 0; i < raw.size(); ++i) {
    if (raw[i] == '%' && i + 2 < raw.size() && hex(raw[i + 1]) >= 0 && hex(raw[i + 2]) >= 0) {
      path.push_back(static_cast<char>(hex(raw[i + 1]) * 16 + hex(raw[i + 2])));
      i += 2;
    } else {
      path.push_back(raw[i]);
    }
  }
  return path;
}

std::string headerOf(MHD_Connection* connection, const char* name) {
  const char* value = MHD_lookup_connection_value(connection, MHD_HEADER_KIND, name);
  return value != nullptr ? value : std::string();
}

}  // namespace

// One request on its way, from its request line (URI log callback) to its completion.
struct HttpFrontEnd::Exchange {
  enum class Stage { kHead, kLogin, kBody, kWorking, kAnswered };
  MHD_Connection* connection = nullptr;
  Stage stage = Stage::kHead;
  std::string rawTarget;
  FrontRequest request;
  RequestIdentity identity;
  std::optional<FrontResponse> answer;  // set by a worker before the connection is resumed
  Clock::time_point start = Clock::now();
  int status = 0;             // of the answer queued
  bool routed = false;        // reached the front end's core
  bool bodyDeclared = false;  // the head announces a body (Content-Length > 0 or chunked)
};

// The open connections with the deadlines of their current request: its head from the
// connection's start (or the end of the request before), its body from the end of the head.
// A connection past its deadline is cut (shutdown of its socket), which libmicrohttpd notices
// like a client that went away.
struct HttpFrontEnd::Connections {
  struct Entry {
    MHD_socket socket;
    Clock::time_point deadline;
    bool watched = true;  // false while the request is with the front end (login, work)
    bool cut = false;
    Exchange* held = nullptr;  // suspended for this exchange until a job resumes it
  };
  Mutex mu;
  std::map<MHD_Connection*, Entry> open GUARDED_BY(mu);

  void opened(MHD_Connection* connection, MHD_socket socket, Clock::time_point deadline) {
    MutexLock lock(mu);
    open[connection] = Entry{socket, deadline, true, false};
  }
  void watch(MHD_Connection* connection, Clock::time_point deadline) {
    MutexLock lock(mu);
    auto found = open.find(connection);
    if (found == open.end()) return;
    found->second.deadline = deadline;
    found->second.watched = true;
  }
  void unwatch(MHD_Connection* connection) {
    MutexLock lock(mu);
    auto found = open.find(connection);
    if (found != open.end()) found->second.watched = false;
  }
  // Called by libmicrohttpd before it closes the socket: the entry goes under the same lock as
  // the sweep, so a socket is never cut after it was closed (and its number reused).
  void closed(MHD_Connection* connection) {
    MutexLock lock(mu);
    open.erase(connection);
  }
  // The connection is suspended while a job works for exchange.
  void hold(MHD_Connection* connection, Exchange* exchange) {
    MutexLock lock(mu);
    auto found = open.find(connection);
    if (found != open.end()) found->second.held = exchange;
  }
  // The job is done with the connection: it goes back to the event loop.
  void release(MHD_Connection* connection) {
    {
      MutexLock lock(mu);
      auto found = open.find(connection);
      if (found != open.end()) found->second.held = nullptr;
    }
    MHD_resume_connection(connection);
  }
  // The exchanges whose connections are still suspended, forgotten here.
  std::vector<Exchange*> takeHeld() {
    MutexLock lock(mu);
    std::vector<Exchange*> held;
    for (auto& [connection, entry] : open) {
      if (entry.held != nullptr) held.push_back(entry.held);
      entry.held = nullptr;
    }
    return held;
  }
  void sweep(Clock::time_point now) {
    MutexLock lock(mu);
    for (auto& [connection, entry] : open) {
      if (!entry.watched || entry.cut || now < entry.deadline) continue;
      entry.cut = true;
      shutdown(entry.socket, 2);  // both directions, on POSIX and Windows alike
    }
  }
};

// libmicrohttpd's callbacks, with the HttpFrontEnd as their closure.
struct Callbacks {
  static void* uriLogged(void* self, const char* uri, MHD_Connection* connection) {
    auto* exchange = new HttpFrontEnd::Exchange;
    exchange->connection = connection;
    exchange->rawTarget = uri != nullptr ? uri : "";
    (void)self;
    return exchange;
  }

  static void connectionChanged(void* self, MHD_Connection* connection, void** /*socketContext*/,
                                MHD_ConnectionNotificationCode code) {
    auto* http = static_cast<HttpFrontEnd*>(self);
    if (code == MHD_CONNECTION_NOTIFY_CLOSED) {
      http->connections_->closed(connection);
      return;
    }
    const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CONNECTION_FD);
    if (info == nullptr) return;
    http->connections_->opened(connection, info->connect_fd,
                               Clock::now() + std::chrono::seconds(http->options_.headTimeoutSeconds));
  }

  static void completed(void* self, MHD_Connection* connection, void** context, MHD_RequestTerminationCode) {
    auto* http = static_cast<HttpFrontEnd*>(self);
    auto* exchange = static_cast<HttpFrontEnd::Exchange*>(*context);
    *context = nullptr;
    // The next request on the connection has the head time from now.
    http->connections_->watch(connection,
                              Clock::now() + std::chrono::seconds(http->options_.headTimeoutSeconds));
    if (exchange != nullptr) http->finishExchange(exchange);
  }

  static MHD_Result request(void* self, MHD_Connection* connection, const char* url, const char* method,
                            const char* /*version*/, const char* uploadData, size_t* uploadSize,
                            void** context) {
    auto* http = static_cast<HttpFrontEnd*>(self);
    auto* exchange = static_cast<HttpFrontEnd::Exchange*>(*context);
    if (exchange == nullptr) {  // no request line seen (should not happen): treat it as one
      exchange = static_cast<HttpFrontEnd::Exchange*>(uriLogged(self, url, connection));
      *context = exchange;
    }
    bool going = false;
    switch (exchange->stage) {
      case HttpFrontEnd::Exchange::Stage::kHead:
        going = http->onHead(exchange, url, method);
        break;
      case HttpFrontEnd::Exchange::Stage::kLogin:
        going = http->onLoginDone(exchange);
        break;
      case HttpFrontEnd::Exchange::Stage::kBody:
        going = http->onBody(exchange, uploadData, uploadSize);
        break;
      case HttpFrontEnd::Exchange::Stage::kWorking:
      case HttpFrontEnd::Exchange::Stage::kAnswered:
        going = http->queueAnswer(exchange);
        break;
    }
    return going ? MHD_YES : MHD_NO;
  }

  static void log(void* self, const char* format, va_list arguments) {
    auto* http = static_cast<HttpFrontEnd*>(self);
    if (!http->options_.verbose) return;
    std::vfprintf(stdout, format, arguments);
    std::fflush(stdout);
  }
};

namespace {

// Fills the request from the connection's head. False when the head is over the limits.
bool readHead(MHD_Connection* connection, const HttpModeOptions& options, const std::string& rawTarget,
              const char* url, const char* method, bool tls, FrontRequest* request) {
  struct Count {
    size_t lines = 0;
    size_t bytes = 0;
  } count;
  MHD_get_connection_values(
      connection, MHD_HEADER_KIND,
      [](void* closure, MHD_ValueKind, const char* key, const char* value) -> MHD_Result {
        auto* c = static_cast<Count*>(closure);
        ++c->lines;
        c->bytes += std::strlen(key) + (value != nullptr ? std::strlen(value) : 0) + 4;
        return MHD_YES;
      },
      &count);
  request->method = method != nullptr ? method : "";
  request->path = rawTarget.empty() && url != nullptr ? std::string(url) : decodedPath(rawTarget);
  const size_t question = rawTarget.find('?');
  if (question != std::string::npos) request->rawQuery = rawTarget.substr(question + 1);
  request->contentType = headerOf(connection, "Content-Type");
  request->authorization = headerOf(connection, "Authorization");
  request->host = headerOf(connection, "Host");
  request->origin = headerOf(connection, "Origin");
  request->referer = headerOf(connection, "Referer");
  request->fetchSite = headerOf(connection, "Sec-Fetch-Site");
  request->fetchMode = headerOf(connection, "Sec-Fetch-Mode");
  request->pageToken = headerOf(connection, "X-Kestrova-Token");
  for (const char* marker : {"Sec-Fetch-Site", "Sec-Fetch-Mode", "Sec-Fetch-Dest", "Origin", "Cookie",
                             "Upgrade-Insecure-Requests"}) {
    if (MHD_lookup_connection_value(connection, MHD_HEADER_KIND, marker) != nullptr)
      request->browserMarkers = true;
  }
  request->tls = tls;
  const MHD_ConnectionInfo* info = MHD_get_connection_info(connection, MHD_CONNECTION_INFO_CLIENT_ADDRESS);
  if (info != nullptr) request->remoteAddress = addressText(info->client_addr);
  return count.lines <= options.maxHeaderLines && count.bytes <= options.maxHeaderBytes;
}

// The Content-Length the head declares; nullopt without one (or for a chunked body).
std::optional<size_t> declaredLength(MHD_Connection* connection) {
  const std::string text = headerOf(connection, "Content-Length");
  if (text.empty() || text.size() > 18 || text.find_first_not_of("0123456789") != std::string::npos)
    return std::nullopt;
  return static_cast<size_t>(std::stoull(text));
}

}  // namespace

HttpFrontEnd::HttpFrontEnd(FrontEnd* core, HttpModeOptions options)
    : core_(core), options_(std::move(options)), connections_(std::make_unique<Connections>()) {
  if (options_.tlsPriorities.empty()) options_.tlsPriorities = kModernTlsPriorities;
  if (tls()) {
    valid_ = readFile(options_.tlsCertificate, &certificatePem_) && readFile(options_.tlsKey, &keyPem_) &&
             tlsSettingsUsable(certificatePem_, keyPem_, options_.tlsPriorities);
  }
  core_->setRequestMetrics(&metrics_);
}

HttpFrontEnd::~HttpFrontEnd() {
  // The jobs that could still resume a connection go first, then the daemon with its threads.
  timer_.reset();
  work_.reset();
  if (daemon_ != nullptr) {
    // A login still waiting out its delay, or a request still queued, had its job dropped just
    // now; libmicrohttpd aborts the process when it is stopped with a connection suspended. They
    // are answered as stopping instead.
    for (Exchange* exchange : connections_->takeHeld()) {
      exchange->answer =
          messageAnswer(AnswerKind::kPage, 503, "The web front end is stopping", "Try again later.");
      MHD_resume_connection(exchange->connection);
    }
    MHD_stop_daemon(daemon_);
  }
  core_->setReporter(nullptr);
  core_->setRequestMetrics(nullptr);
}

bool HttpFrontEnd::bind() {
  if (!valid_ || daemon_ != nullptr) return false;
#ifdef _WIN32
  if (!ensureWinsock()) return false;
#endif
  addrinfo hints{};
  hints.ai_flags = AI_PASSIVE | AI_NUMERICSERV;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(options_.port);
  if (getaddrinfo(options_.host.c_str(), service.c_str(), &hints, &found) != 0 || found == nullptr)
    return false;
  sockaddr_storage address{};
  std::memcpy(&address, found->ai_addr, found->ai_addrlen);
  const bool ipv6 = found->ai_family == AF_INET6;
  freeaddrinfo(found);

  work_ = std::make_unique<WorkQueue>(options_.threads);
  timer_ = std::make_unique<TimerThread>();
  core_->setReporter([this](std::function<void()> job) { work_->post(std::move(job)); });
  unsigned flags =
      MHD_USE_INTERNAL_POLLING_THREAD | MHD_USE_AUTO | MHD_ALLOW_SUSPEND_RESUME | MHD_USE_ERROR_LOG;
  if (ipv6) flags |= MHD_USE_IPv6;
  if (tls()) flags |= MHD_USE_TLS;
  MHD_OptionItem tlsOptions[] = {
      {MHD_OPTION_HTTPS_MEM_CERT, 0, const_cast<char*>(certificatePem_.c_str())},
      {MHD_OPTION_HTTPS_MEM_KEY, 0, const_cast<char*>(keyPem_.c_str())},
      {MHD_OPTION_HTTPS_PRIORITIES, 0, const_cast<char*>(options_.tlsPriorities.c_str())},
      {MHD_OPTION_END, 0, nullptr},
  };
  // The logger first: libmicrohttpd reports the options before it through its own logger.
  daemon_ = MHD_start_daemon(
      flags, 0, nullptr, nullptr, &Callbacks::request, this, MHD_OPTION_EXTERNAL_LOGGER, &Callbacks::log,
      this, MHD_OPTION_SOCK_ADDR, reinterpret_cast<sockaddr*>(&address), MHD_OPTION_LISTEN_BACKLOG_SIZE,
      options_.listenBacklog, MHD_OPTION_CONNECTION_LIMIT, options_.maxConnections,
      MHD_OPTION_PER_IP_CONNECTION_LIMIT, options_.maxPerAddress, MHD_OPTION_CONNECTION_TIMEOUT,
      static_cast<unsigned>(options_.idleTimeoutSeconds), MHD_OPTION_CONNECTION_MEMORY_LIMIT,
      std::max(kConnectionMemory, options_.maxHeaderBytes + 32 * 1024), MHD_OPTION_THREAD_POOL_SIZE,
      static_cast<unsigned>(std::max<size_t>(options_.eventThreads, 1)), MHD_OPTION_URI_LOG_CALLBACK,
      &Callbacks::uriLogged, this, MHD_OPTION_NOTIFY_COMPLETED, &Callbacks::completed, this,
      MHD_OPTION_NOTIFY_CONNECTION, &Callbacks::connectionChanged, this, MHD_OPTION_ARRAY,
      tls() ? tlsOptions : tlsOptions + 3, MHD_OPTION_END);
  if (daemon_ == nullptr) {
    timer_.reset();
    work_.reset();
    core_->setReporter(nullptr);
    return false;
  }
  const MHD_DaemonInfo* info = MHD_get_daemon_info(daemon_, MHD_DAEMON_INFO_BIND_PORT);
  port_ = info != nullptr ? info->port : options_.port;
  timer_->every(std::chrono::duration_cast<std::chrono::milliseconds>(kSweepPeriod),
                [this] { connections_->sweep(Clock::now()); });
  timer_->every(std::chrono::duration_cast<std::chrono::milliseconds>(kBurstReportPeriod), [this] {
    core_->reportQuietLoginBursts();
    core_->hosts().refresh();
  });
  return true;
}

void HttpFrontEnd::run() {
#ifndef _WIN32
  signal(SIGPIPE, SIG_IGN);
#endif
  MutexLock lock(mu_);
  stopChanged_.wait(lock.native(), [this]() REQUIRES(mu_) { return stopRequested_; });
  stopped_ = true;
}

void HttpFrontEnd::stop() {
  {
    MutexLock lock(mu_);
    stopRequested_ = true;
  }
  stopChanged_.notify_all();
}

bool HttpFrontEnd::onHead(Exchange* exchange, const char* url, const char* method) {
  MHD_Connection* connection = exchange->connection;
  FrontRequest& request = exchange->request;
  exchange->start = Clock::now();
  const auto length = declaredLength(connection);
  exchange->bodyDeclared = (length && *length > 0) || !headerOf(connection, "Transfer-Encoding").empty();
  if (!readHead(connection, options_, exchange->rawTarget, url, method, tls(), &request)) {
    exchange->answer = messageAnswer(AnswerKind::kPage, 431, "Request header too large",
                                     "The request's header lines are too many or too long.");
    return answerEarly(exchange);
  }
  exchange->routed = true;
  if (auto answer = core_->answerBeforeLogin(request, length)) {
    exchange->answer = std::move(*answer);
    return answerEarly(exchange);
  }
  const bool remembered = core_->loginRemembered(request, &exchange->identity);
  if (!remembered && request.authorization.empty()) {
    // Without credentials the answer is the login challenge, given at once.
    exchange->answer = core_->login(request, &exchange->identity);
    if (exchange->answer) return answerEarly(exchange);
  }
  if (remembered) {
    exchange->stage = Exchange::Stage::kBody;
    connections_->watch(connection, Clock::now() + std::chrono::seconds(options_.bodyTimeoutSeconds));
    return true;
  }
  startLogin(exchange);
  return true;
}

// The login check waits (the throttle's delay on the timer, the hash on a worker) while the
// connection is suspended; the body is not read before it is done.
void HttpFrontEnd::startLogin(Exchange* exchange) {
  exchange->stage = Exchange::Stage::kLogin;
  connections_->unwatch(exchange->connection);
  connections_->hold(exchange->connection, exchange);
  MHD_suspend_connection(exchange->connection);
  auto check = [this, exchange] {
    if (auto refused = core_->login(exchange->request, &exchange->identity))
      exchange->answer = std::move(*refused);
    connections_->release(exchange->connection);
  };
  const Clock::time_point when = core_->throttle().admit(plainAddress(exchange->request.remoteAddress));
  if (when <= Clock::now()) {
    work_->post(std::move(check), true);
  } else {
    timer_->at(when, [this, check = std::move(check)]() mutable { work_->post(std::move(check), true); });
  }
}

bool HttpFrontEnd::onLoginDone(Exchange* exchange) {
  if (exchange->answer) return answerEarly(exchange);
  exchange->stage = Exchange::Stage::kBody;
  connections_->watch(exchange->connection, Clock::now() + std::chrono::seconds(options_.bodyTimeoutSeconds));
  return true;
}

bool HttpFrontEnd::onBody(Exchange* exchange, const char* data, size_t* size) {
  if (*size > 0) {
    // A body without a declared length (chunked) that grows past the limit ends the connection:
    // an answer cannot be given in the middle of a body.
    if (exchange->request.body.size() + *size > core_->limits().maxBody) return false;
    exchange->request.body.append(data, *size);
    *size = 0;
    return true;
  }
  startWork(exchange);
  return true;
}

void HttpFrontEnd::startWork(Exchange* exchange) {
  exchange->stage = Exchange::Stage::kWorking;
  connections_->unwatch(exchange->connection);
  connections_->hold(exchange->connection, exchange);
  MHD_suspend_connection(exchange->connection);
  const bool posted = work_->post([this, exchange] {
    exchange->answer = core_->answerAfterLogin(exchange->request, exchange->identity);
    connections_->release(exchange->connection);
  });
  if (!posted) {
    exchange->answer =
        messageAnswer(AnswerKind::kPage, 503, "The web front end is stopping", "Try again later.");
    connections_->release(exchange->connection);
  }
}

// An answer decided from the head alone. A request with a body is answered at once, and its body
// is never read (the connection closes after the answer); one without waits for libmicrohttpd's
// final call, so that its connection stays open for the next request.
bool HttpFrontEnd::answerEarly(Exchange* exchange) {
  if (exchange->bodyDeclared) return queueAnswer(exchange);
  exchange->stage = Exchange::Stage::kAnswered;
  return true;
}

bool HttpFrontEnd::queueAnswer(Exchange* exchange) {
  if (!exchange->answer) return true;  // still waiting (a resume without an answer does not happen)
  const FrontResponse& answer = *exchange->answer;
  MHD_Response* response = MHD_create_response_from_buffer(
      answer.body.size(), const_cast<char*>(answer.body.data()), MHD_RESPMEM_MUST_COPY);
  if (response == nullptr) return false;
  if (!answer.contentType.empty())
    MHD_add_response_header(response, "Content-Type", answer.contentType.c_str());
  for (const auto& [name, value] : answer.headers)
    MHD_add_response_header(response, name.c_str(), value.c_str());
  if (tls()) MHD_add_response_header(response, "Strict-Transport-Security", kHsts);
  exchange->status = answer.status;
  exchange->stage = Exchange::Stage::kAnswered;
  const MHD_Result queued =
      MHD_queue_response(exchange->connection, static_cast<unsigned>(answer.status), response);
  MHD_destroy_response(response);
  return queued == MHD_YES;
}

void HttpFrontEnd::finishExchange(Exchange* exchange) {
  if (exchange->status != 0) {
    const double seconds =
        exchange->routed ? std::chrono::duration<double>(Clock::now() - exchange->start).count() : -1;
    metrics_.record(exchange->routed ? RequestMetrics::kindOfPath(exchange->request.path) : "refused",
                    exchange->status, seconds);
    if (options_.verbose) {
      std::printf("%s %s %s %d\n", exchange->request.remoteAddress.c_str(), exchange->request.method.c_str(),
                  exchange->request.path.c_str(), exchange->status);
      std::fflush(stdout);
    }
  }
  delete exchange;
}
