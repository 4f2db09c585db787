// The front end's core; see front_end.h.
#include "frontend/front_end.h"

#include <algorithm>
#include <cctype>
#include <optional>

#include "common/cgi_client.h"
#include "frontend/form_fields.h"
#include "frontend/metrics_page.h"
#include "frontend/multipart.h"
#include "frontend/reply_answer.h"
#include "frontend/result_store.h"
#include "frontend/request_table.h"
#include "frontend/static_files.h"
#include "frontend/upload_store.h"

namespace {

constexpr std::string_view kApiPrefix = "/api/";

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

RoundTrip sharedMemoryRoundTrip() {
  return [](VariableTable request, VariableTable* reply) {
    return cgiRoundTrip(request, reply, CgiClientOptions());
  };
}

FrontEnd::FrontEnd(const std::filesystem::path& root, FrontEndLimits limits, RoundTrip roundTrip)
    : guard_(root),
      limits_(limits),
      roundTrip_(std::move(roundTrip)),
      passwords_(guard_.root() / "db" / "password.web") {}

FrontResponse FrontEnd::handle(const FrontRequest& request) {
  if (!valid()) {
    return messageAnswer(AnswerKind::kPage, 500, "The web front end is not installed correctly",
                         "The folder of the installed server cannot be found.");
  }
  if (request.path == "/") return redirectAnswer(kMainPageUrl);
  if (request.path == "/metrics") return metricsRequest(request);
  if (isServerRequestPath(request.path)) return serverRequest(request, AnswerKind::kPage, "", "");
  if (request.path.starts_with(kApiPrefix)) {
    const auto target = apiTarget(request.path);
    if (!target) {
      return messageAnswer(AnswerKind::kJson, 404, "Not found", "The API address is /api/<module>/<method>.");
    }
    return serverRequest(request, AnswerKind::kJson, target->first, target->second);
  }
  return staticFileAnswer(guard_, request.method, request.path);
}

FrontResponse FrontEnd::serverRequest(const FrontRequest& request, AnswerKind kind, const std::string& module,
                                      const std::string& method) {
  if (request.method != "GET" && request.method != "POST") {
    return messageAnswer(kind, 405, "Method not allowed", "Requests are sent with GET or POST.");
  }
  RequestIdentity identity;
  if (auto refused = authenticate(request, kind, &identity)) return *refused;
  std::filesystem::path uploadFolder;
  if (!guard_.uploadFolder(&uploadFolder)) uploadFolder.clear();
  UploadStore store(uploadFolder);  // its files go when the answer is built
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
  TableOwner table = buildRequestTable(fields, uploads, identity);
  VariableTable reply = nullptr;
  const int result = roundTrip_(table.get(), &reply);
  TableOwner replyOwner(reply);
  if (result != kCgiOk) return slotFailureAnswer(kind, result, retryUrlOf(request));
  FrontResponse answer = answerReply(guard_, replyOwner.get(), kind);
  if (std::optional<FrontResponse> redirect = redirectToKept(request, identity, fields, answer)) return *redirect;
  return answer;
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

std::optional<FrontResponse> FrontEnd::authenticate(const FrontRequest& request, AnswerKind kind,
                                                    RequestIdentity* identity) {
  identity->remoteAddress = plainAddress(request.remoteAddress);
  identity->remoteHost = request.remoteHost;
  if (request.authorization.empty() && !request.serverAuthenticatedUser.empty()) {
    identity->remoteUser = request.serverAuthenticatedUser;
    return std::nullopt;
  }
  switch (passwords_.check(request.authorization, &identity->remoteUser)) {
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

FrontResponse FrontEnd::metricsRequest(const FrontRequest& request) {
  if (request.method != "GET" && request.method != "HEAD") {
    return messageAnswer(AnswerKind::kPage, 405, "Method not allowed", "The metrics are read with GET.");
  }
  RequestIdentity identity;
  if (auto refused = authenticate(request, AnswerKind::kPage, &identity)) return *refused;
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
