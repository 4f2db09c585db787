// The CGI mode; see cgi_mode.h.
#include "frontend/cgi_mode.h"

#include <cerrno>
#include <cstdlib>
#include <thread>

#include "frontend/status_pages.h"

namespace {

std::string variable(const EnvironmentLookup& environment, const char* name) {
  const char* value = environment(name);
  return value == nullptr ? std::string() : std::string(value);
}

// CONTENT_LENGTH as a number; false when it is present but not a plain decimal.
bool contentLength(const std::string& text, size_t* length) {
  *length = 0;
  if (text.empty()) return true;
  if (text.size() > 18) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
    *length = *length * 10 + static_cast<size_t>(c - '0');
  }
  return true;
}

}  // namespace

bool cgiRequestOf(const EnvironmentLookup& environment, FrontRequest* request, size_t* length,
                  FrontResponse* refusal) {
  request->method = variable(environment, "REQUEST_METHOD");
  const std::string pathInfo = variable(environment, "PATH_INFO");
  // The program itself is the server request; the API rides on the path behind it.
  request->path = pathInfo.empty() ? "/cgi-bin/cgiloader.cgi" : pathInfo;
  request->rawQuery = variable(environment, "QUERY_STRING");
  request->contentType = variable(environment, "CONTENT_TYPE");
  request->authorization = variable(environment, "HTTP_AUTHORIZATION");
  request->remoteAddress = variable(environment, "REMOTE_ADDR");
  request->remoteHost = variable(environment, "REMOTE_HOST");
  if (!variable(environment, "AUTH_TYPE").empty()) {
    request->serverAuthenticatedUser = variable(environment, "REMOTE_USER");
  }
  request->host = variable(environment, "HTTP_HOST");
  request->origin = variable(environment, "HTTP_ORIGIN");
  request->referer = variable(environment, "HTTP_REFERER");
  request->fetchSite = variable(environment, "HTTP_SEC_FETCH_SITE");
  request->pageToken = variable(environment, "HTTP_X_KESTROVA_TOKEN");
  for (const char* marker : {"HTTP_SEC_FETCH_SITE", "HTTP_SEC_FETCH_MODE", "HTTP_SEC_FETCH_DEST",
                             "HTTP_ORIGIN", "HTTP_COOKIE", "HTTP_UPGRADE_INSECURE_REQUESTS"}) {
    if (environment(marker) != nullptr) request->browserMarkers = true;
  }
  const std::string https = variable(environment, "HTTPS");
  request->tls = !https.empty() && https != "off";
  if (!contentLength(variable(environment, "CONTENT_LENGTH"), length)) {
    *refusal = messageAnswer(AnswerKind::kPage, 400, "Bad request", "The request's length is not a number.");
    return false;
  }
  return true;
}

bool readCgiBody(FILE* input, size_t length, FrontRequest* request, FrontResponse* refusal) {
  request->body.resize(length);
  size_t got = 0;
  while (got < length) {
    const size_t n = std::fread(request->body.data() + got, 1, length - got, input);
    if (n == 0) break;
    got += n;
  }
  if (got != length) {
    *refusal = messageAnswer(AnswerKind::kPage, 400, "Bad request", "The request's body ended early.");
    return false;
  }
  return true;
}

std::string cgiAnswerText(const FrontResponse& response, bool head) {
  std::string text =
      "Status: " + std::to_string(response.status) + " " + httpReasonOf(response.status) + "\r\n";
  if (!response.contentType.empty()) text += "Content-Type: " + response.contentType + "\r\n";
  for (const auto& [name, value] : response.headers) text += name + ": " + value + "\r\n";
  text += "Content-Length: " + std::to_string(response.body.size()) + "\r\n\r\n";
  if (!head) text += response.body;
  return text;
}

int runCgiRequest(FrontEnd* core, const EnvironmentLookup& environment, FILE* input, FILE* output) {
  FrontRequest request;
  size_t length = 0;
  FrontResponse response;
  [&] {
    if (!cgiRequestOf(environment, &request, &length, &response)) return;
    if (auto answer = core->answerBeforeLogin(request, length)) {
      response = *answer;
      return;
    }
    RequestIdentity identity;
    if (!core->loginRemembered(request, &identity)) {
      if (!request.authorization.empty())
        std::this_thread::sleep_until(core->throttle().admit(plainAddress(request.remoteAddress)));
      if (auto refused = core->login(request, &identity)) {
        response = *refused;
        return;
      }
    }
    // Only a request that logged in has its body read.
    if (!readCgiBody(input, length, &request, &response)) return;
    response = core->answerAfterLogin(request, identity);
  }();
  const std::string text = cgiAnswerText(response, request.method == "HEAD");
  std::fwrite(text.data(), 1, text.size(), output);
  std::fflush(output);
  return 0;
}
