// The front end's core; see front_end.h.
#include "frontend/front_end.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <optional>
#include <thread>

#include "common/cgi_client.h"
#include "common/cgi_protocol.h"
#include "common/thread_annotations.h"
#include "frontend/form_fields.h"
#include "frontend/metrics_page.h"
#include "frontend/multipart.h"
#include "frontend/page_security.h"
#include "frontend/reply_answer.h"
#include "frontend/request_table.h"
#include "frontend/result_store.h"
#include "frontend/static_files.h"
#include "frontend/upload_store.h"

namespace {

constexpr std::string_view kApiPrefix = "/api/";
constexpr auto kReportInterval = std::chrono::minutes(1);
constexpr size_t kMaxReportedAddresses = 4096;

bool isServerRequestPath(std::string_view path) {
  return path == "/cgi-bin/cgiloader.cgi" || path == "/cgi-bin/cgiloader";
}

bool isPlainName(std::string_view name) {
  if (name.empty() || name.size() > 64) return false;
  for (char c : name) {
    const bool ok = (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
    if (!ok) return false;
  }
  return true;
}

// "/api/<module>/<method>" split into its two names; nullopt when it is not of that form.
std::optional<std::pair<std::string, std::string>> apiTarget(std::string_view path) {
  path.remove_prefix(kApiPrefix.size());
  const size_t slash = path.find('/');
  if (slash == std::string_view::npos) return std::nullopt;
  const std::string_view module = path.substr(0, slash);
  const std::string_view method = path.substr(slash + 1);
  if (!isPlainName(module) || !isPlainName(method)) return std::nullopt;
  return std::make_pair(std::string(module), std::string(method));
}

// Where a "try again" goes: the same address for a GET, the main page after a POST (its body
// is gone).
std::string retryUrlOf(const FrontRequest& request) {
  if (request.method != "GET") return kMainPageUrl;
  return request.rawQuery.empty() ? request.path : request.path + "?" + request.rawQuery;
}

FrontResponse redirectAnswer(const std::string& location) {
  FrontResponse response = messageAnswer(AnswerKind::kPage, 302, "Moved", "The main page is at " + location);
  response.setHeader("Location", location);
  return response;
}

bool isFormType(std::string_view type, std::string_view expected) {
  const size_t end = type.find(';');
  std::string base(type.substr(0, end));
  while (!base.empty() && base.back() == ' ') base.pop_back();
  for (char& c : base) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return base == expected;
}

}  // namespace

RoundTrip sharedMemoryRoundTrip(const std::filesystem::path& root) {
  CgiClientOptions options;
  if (!root.empty()) options.statusAreaNameFile = (root / kStatusAreaNameFile).string();
  return [options](VariableTable request, VariableTable* reply) {
    return cgiRoundTrip(request, reply, options);
  };
}

FrontEnd::FrontEnd(const std::filesystem::path& root, FrontEndLimits limits, RoundTrip roundTrip,
                   std::shared_ptr<HostAllowList> hosts, LoginThrottleSettings throttle)
    : guard_(root),
      limits_(limits),
      roundTrip_(std::move(roundTrip)),
      passwords_(guard_.root() / "db" / "password.web"),
      hosts_(std::move(hosts)),
      throttle_(throttle) {
  if (!hosts_) {
    const char* allowed = std::getenv("KESTROVA_ALLOWED_HOSTS");
    hosts_ = std::make_shared<HostAllowList>(splitHostList(allowed != nullptr ? allowed : ""));
  }
}

AnswerKind FrontEnd::kindOf(const FrontRequest& request) const {
  return request.path.starts_with(kApiPrefix) ? AnswerKind::kJson : AnswerKind::kPage;
}

FrontResponse FrontEnd::handle(const FrontRequest& request) {
  if (auto answer = answerBeforeLogin(request, request.body.size())) return *answer;
  RequestIdentity identity;
  if (!loginRemembered(request, &identity)) {
    if (!request.authorization.empty())
      std::this_thread::sleep_until(throttle_.admit(plainAddress(request.remoteAddress)));
    if (auto refused = login(request, &identity)) return *refused;
  }
  return answerAfterLogin(request, identity);
}

std::optional<FrontResponse> FrontEnd::answerBeforeLogin(const FrontRequest& request,
                                                         std::optional<size_t> declaredLength) {
  if (!valid()) {
    return messageAnswer(AnswerKind::kPage, 500, "The web front end is not installed correctly",
                         "The folder of the installed server cannot be found.");
  }
  const bool api = request.path.starts_with(kApiPrefix);
  const bool metrics = request.path == "/metrics";
  const bool dynamic = api || metrics || isServerRequestPath(request.path);
  const AnswerKind kind = kindOf(request);
  const GuardVerdict verdict = checkRequestSource(request, *hosts_, dynamic);
  if (verdict.outcome != GuardOutcome::kPass) return refusal(request, verdict, kind);
  if (request.path == "/") return redirectAnswer(kMainPageUrl);
  if (!dynamic) return staticFileAnswer(guard_, request.method, request.path);
  if (api && !apiTarget(request.path)) {
    return messageAnswer(AnswerKind::kJson, 404, "Not found", "The API address is /api/<module>/<method>.");
  }
  if (metrics && request.method != "GET" && request.method != "HEAD") {
    return messageAnswer(AnswerKind::kPage, 405, "Method not allowed", "The metrics are read with GET.");
  }
  if (!metrics && request.method != "GET" && request.method != "POST") {
    return messageAnswer(kind, 405, "Method not allowed", "Requests are sent with GET or POST.");
  }
  if (declaredLength && *declaredLength > limits_.maxBody) {
    return messageAnswer(kind, 413, "Request too large", "The request is larger than the front end accepts.");
  }
  return std::nullopt;
}

bool FrontEnd::loginRemembered(const FrontRequest& request, RequestIdentity* identity) {
  identity->remoteAddress = plainAddress(request.remoteAddress);
  identity->remoteHost = request.remoteHost;
  if (request.authorization.empty() && !request.serverAuthenticatedUser.empty()) {
    identity->remoteUser = request.serverAuthenticatedUser;
    return true;
  }
  return passwords_.remembered(request.authorization, &identity->remoteUser);
}

std::optional<FrontResponse> FrontEnd::login(const FrontRequest& request, RequestIdentity* identity) {
  const AnswerKind kind = kindOf(request);
  identity->remoteAddress = plainAddress(request.remoteAddress);
  identity->remoteHost = request.remoteHost;
  if (request.authorization.empty()) {
    // A web server's own login, or a browser that has not been asked for credentials yet: no
    // guess, nothing to count.
    if (request.serverAuthenticatedUser.empty()) return unauthorizedAnswer(kind);
    identity->remoteUser = request.serverAuthenticatedUser;
    return std::nullopt;
  }
  const AuthOutcome outcome = passwords_.check(request.authorization, &identity->remoteUser);
  const bool accepted = outcome == AuthOutcome::kAccepted;
  const std::string user = accepted ? identity->remoteUser : PasswordCheck::userOf(request.authorization);
  const auto burst = throttle_.record(identity->remoteAddress, user, accepted);
  if (burst) {
    report(burst->address,
           {{"FrontEndReport", "LoginFailures"},
            {"ReportCount", std::to_string(burst->count)},
            {"ReportDetail", burst->users}},
           false);
  }
  switch (outcome) {
    case AuthOutcome::kAccepted:
      return std::nullopt;
    case AuthOutcome::kRefused:
      return unauthorizedAnswer(kind);
    case AuthOutcome::kNoPasswordFile:
      break;
  }
  return messageAnswer(kind, 500, "Logins are not possible",
                       "The password file db/password.web of the installation cannot be read.");
}

void FrontEnd::reportQuietLoginBursts() {
  for (const LoginReport& burst : throttle_.due()) {
    report(burst.address,
           {{"FrontEndReport", "LoginFailures"},
            {"ReportCount", std::to_string(burst.count)},
            {"ReportDetail", burst.users}},
           false);
  }
}

FrontResponse FrontEnd::answerAfterLogin(const FrontRequest& request, const RequestIdentity& loggedIn) {
  RequestIdentity identity = loggedIn;
  if (request.browserMarkers) identity.browserMethod = request.method;
  if (request.path == "/metrics") return metricsRequest(request, identity);
  if (isServerRequestPath(request.path)) return serverRequest(request, identity, AnswerKind::kPage, "", "");
  const auto target = apiTarget(request.path);
  if (!target)
    return messageAnswer(AnswerKind::kJson, 404, "Not found", "The API address is /api/<module>/<method>.");
  return serverRequest(request, identity, AnswerKind::kJson, target->first, target->second);
}

FrontResponse FrontEnd::refusal(const FrontRequest& request, const GuardVerdict& verdict, AnswerKind kind) {
  const bool foreignHost = verdict.outcome == GuardOutcome::kForeignHost;
  // What was asked for, with the module and method when the query names them.
  std::string target = request.method + " " + request.path;
  FieldList query;
  (void)appendUrlEncodedFields(request.rawQuery.substr(0, 4096), 64, &query);
  for (const auto& [name, value] : query) {
    if (name == "module" || name == "method") target += " " + name + "=" + value.substr(0, 64);
  }
  report(plainAddress(request.remoteAddress),
         {{"FrontEndReport", foreignHost ? "RefusedHost" : "RefusedCrossSite"},
          {"ReportTarget", target},
          {"ReportDetail", verdict.detail.substr(0, 256)}},
         true);
  if (foreignHost) {
    return messageAnswer(
        kind, 403, "This server does not answer under that name",
        "The address used to reach it is none of this machine's names or addresses. If it is "
        "a name of this server, the administrator can allow it (cgiloader --allow-host).");
  }
  return messageAnswer(kind, 403, "This request came from another web site",
                       "A page of another web site asked for this page of the Kestrova server; the request "
                       "was refused. Open the start page of this server directly.");
}

void FrontEnd::report(const std::string& address, FieldList fields, bool limited) {
  if (limited) {
    MutexLock lock(reportMu_);
    const auto now = std::chrono::steady_clock::now();
    auto found = lastReport_.find(address);
    if (found != lastReport_.end() && now - found->second < kReportInterval) return;
    if (lastReport_.size() >= kMaxReportedAddresses) lastReport_.clear();
    lastReport_[address] = now;
  }
  RequestIdentity identity;
  identity.remoteAddress = address;
  auto job = [this, fields = std::move(fields), identity] {
    TableOwner table = buildReportTable(fields, identity);
    VariableTable reply = nullptr;
    (void)roundTrip_(table.get(), &reply);
    freeVariableTable(&reply);
  };
  if (reporter_) {
    reporter_(std::move(job));
  } else {
    job();
  }
}

FrontResponse FrontEnd::serverRequest(const FrontRequest& request, const RequestIdentity& identity,
                                      AnswerKind kind, const std::string& module, const std::string& method) {
  UploadStore store([this] {  // its files go when the answer is built
    std::filesystem::path folder;
    return guard_.uploadFolder(&folder) ? folder : std::filesystem::path();
  });
  FieldList fields;
  std::vector<StoredUpload> uploads;
  std::string why;
  if (const int refused = collectFields(request, &store, &fields, &uploads, &why); refused != 0) {
    return messageAnswer(kind, refused, "The request was refused", why);
  }
  if (kind == AnswerKind::kJson) {
    // The address names the target; fields of the same names must not compete with it.
    std::erase_if(fields,
                  [](const auto& field) { return field.first == "module" || field.first == "method"; });
    fields.emplace_back("module", module);
    fields.emplace_back("method", method);
  }
  if (results_ && kind == AnswerKind::kPage && request.method == "GET") {
    // A kept answer is shown by its token alone: the server is not asked again.
    const std::string* token = fieldOf(fields, kResultTokenField);
    if (token != nullptr) {
      if (std::optional<FrontResponse> kept = results_->find(identity.remoteUser, *token)) return *kept;
      return messageAnswer(kind, 410, "This result is no longer kept",
                           "The page that answered your form is kept for ten minutes; what the form did stays done. "
                           "Open the page again from the menu.");
    }
  }
  // A page's script sends its token as a header; a form sends it as a field.
  const bool tokenField = std::any_of(fields.begin(), fields.end(),
                                      [](const auto& field) { return field.first == kPageTokenField; });
  if (!tokenField && !request.pageToken.empty()) fields.emplace_back(kPageTokenField, request.pageToken);
  TableOwner table = buildRequestTable(fields, uploads, identity);
  VariableTable reply = nullptr;
  const int result = roundTrip_(table.get(), &reply);
  TableOwner replyOwner(reply);
  if (result != kCgiOk) return slotFailureAnswer(kind, result, retryUrlOf(request));
  FrontResponse response = answerReply(guard_, replyOwner.get(), kind);
  const char* token = getVariable(replyOwner.get(), kPageTokenField);
  if (token != nullptr && kind == AnswerKind::kPage && response.contentType.starts_with("text/html")) {
    if (passwords_.defaultLoginInUse()) response.body = withDefaultPasswordBanner(response.body);
    response.body = withPageToken(response.body, token);
  }
  if (std::optional<FrontResponse> redirect = redirectToKept(request, identity, fields, response)) return *redirect;
  return response;
}

std::optional<FrontResponse> FrontEnd::redirectToKept(const FrontRequest& request, const RequestIdentity& identity,
                                                      const FieldList& fields, const FrontResponse& page) {
  // Only a page a browser navigated to by sending a form; downloads, scripts' requests (fetch)
  // and qcli's uploads get their answer as it is.
  if (!results_ || request.method != "POST" || request.fetchMode != "navigate" || page.status != 200 ||
      !page.contentType.starts_with("text/html"))
    return std::nullopt;
  const std::string token = results_->keep(identity.remoteUser, page);
  if (token.empty()) return std::nullopt;
  // The form's own address (the page's script may read its query), with the module and method
  // when the form sent them in its body, and the token.
  std::string location = "/cgi-bin/cgiloader.cgi?";
  FieldList query;
  if (!appendUrlEncodedFields(request.rawQuery, limits_.maxFields, &query)) query.clear();
  for (const char* name : {"module", "method"}) {
    const std::string* value = fieldOf(query, name);
    if (value == nullptr) value = fieldOf(fields, name);
    if (value != nullptr) location += std::string(name) + "=" + urlEncoded(*value) + "&";
  }
  for (const auto& [name, value] : query) {
    if (name != "module" && name != "method" && name != kResultTokenField)
      location += urlEncoded(name) + "=" + urlEncoded(value) + "&";
  }
  location += std::string(kResultTokenField) + "=" + token;
  FrontResponse response = messageAnswer(AnswerKind::kPage, 303, "See other", "The answer is at " + location);
  response.setHeader("Location", location);
  response.setHeader("Cache-Control", "no-store");
  return response;
}

FrontResponse FrontEnd::metricsRequest(const FrontRequest&, const RequestIdentity& identity) {
  const FieldList fields = {{"module", "server"}, {"method", "GetMetrics"}};
  TableOwner table = buildRequestTable(fields, {}, identity);
  VariableTable reply = nullptr;
  const int result = roundTrip_(table.get(), &reply);
  TableOwner replyOwner(reply);
  FrontResponse response;
  response.contentType = kMetricsContentType;
  // A server that cannot answer is itself a measurement: kestrova_server_up 0.
  response.body = renderMetricsPage(result == kCgiOk ? replyOwner.get() : nullptr, metrics_);
  addDynamicHeaders(&response);
  return response;
}

int FrontEnd::collectFields(const FrontRequest& request, UploadStore* store, FieldList* fields,
                            std::vector<StoredUpload>* uploads, std::string* why) {
  constexpr const char kTooMany[] = "The request has too many fields.";
  if (request.body.size() > limits_.maxBody) {
    *why = "The request is larger than the front end accepts.";
    return 413;
  }
  if (!appendUrlEncodedFields(request.rawQuery, limits_.maxFields, fields)) {
    *why = kTooMany;
    return 413;
  }
  int refused = 0;
  if (request.body.empty()) {
    // Nothing more to read.
  } else if (isFormType(request.contentType, "application/x-www-form-urlencoded")) {
    if (!appendUrlEncodedFields(request.body, limits_.maxFields, fields)) {
      *why = kTooMany;
      refused = 413;
    }
  } else if (isFormType(request.contentType, "multipart/form-data")) {
    refused = collectParts(request, store, fields, uploads, why);
  } else {
    *why = "The request's content type is not a form.";
    refused = 415;
  }
  if (refused == 0 && anyFieldHoldsNul(*fields)) {
    *why = "A field of the request holds a NUL byte.";
    refused = 400;
  }
  return refused;
}

int FrontEnd::collectParts(const FrontRequest& request, UploadStore* store, FieldList* fields,
                           std::vector<StoredUpload>* uploads, std::string* why) {
  std::vector<FormPart> parts;
  const size_t room = limits_.maxFields - std::min(limits_.maxFields, fields->size());
  switch (parseMultipart(request.contentType, request.body, room, &parts)) {
    case MultipartResult::kOk:
      break;
    case MultipartResult::kTooManyParts:
      *why = "The request has too many fields.";
      return 413;
    default:
      *why = "The form data of the request cannot be read.";
      return 400;
  }
  for (const FormPart& part : parts) {
    if (part.name.find('\0') != std::string::npos) {
      *why = "A field of the request holds a NUL byte.";
      return 400;
    }
    // A file input left empty is sent as a file part without a name and without bytes.
    if (part.isFile && part.fileName.empty() && part.data.empty()) continue;
    if (!part.isFile) {
      fields->emplace_back(part.name, std::string(part.data));
      continue;
    }
    if (uploads->size() >= limits_.maxUploads) {
      *why = "The request carries too many files.";
      return 413;
    }
    StoredUpload upload{part.name, std::string(), baseFileName(part.fileName)};
    if (!store->store(part.data, &upload.path)) {
      *why = "The uploaded file cannot be stored in the temp folder.";
      return 500;
    }
    uploads->push_back(std::move(upload));
  }
  return 0;
}
