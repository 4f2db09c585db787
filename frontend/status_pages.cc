// The front end's own answers; see status_pages.h.
#include "frontend/status_pages.h"

#include "common/cgi_client.h"
#include "frontend/reply_json.h"

std::string htmlEscaped(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    switch (c) {
      case '&':
        out += "&amp;";
        break;
      case '<':
        out += "&lt;";
        break;
      case '>':
        out += "&gt;";
        break;
      case '"':
        out += "&quot;";
        break;
      case '\'':
        out += "&#39;";
        break;
      default:
        out += c;
    }
  }
  return out;
}

void addDynamicHeaders(FrontResponse* response) {
  response->setHeader("Cache-Control", "no-store");
  response->setHeader("X-Content-Type-Options", "nosniff");
  response->setHeader("X-Frame-Options", "SAMEORIGIN");
  response->setHeader("Referrer-Policy", "same-origin");
}

FrontResponse messageAnswer(AnswerKind kind, int status, std::string_view title, std::string_view text,
                            int refreshSeconds, std::string_view refreshUrl) {
  FrontResponse response;
  response.status = status;
  addDynamicHeaders(&response);
  if (refreshSeconds > 0) response.setHeader("Retry-After", std::to_string(refreshSeconds));
  if (kind == AnswerKind::kJson) {
    response.contentType = "application/json";
    response.body =
        errorJsonText(std::string(title) + ": " + std::string(text), std::string(httpReasonOf(status)));
    return response;
  }
  std::string refresh;
  if (refreshSeconds > 0) {
    refresh = "<meta http-equiv=\"refresh\" content=\"" + std::to_string(refreshSeconds);
    if (!refreshUrl.empty()) refresh += ";url=" + htmlEscaped(refreshUrl);
    refresh += "\">\n";
  }
  const std::string escapedTitle = htmlEscaped(title);
  response.contentType = "text/html; charset=utf-8";
  response.body = "<!DOCTYPE html>\n<html lang=\"en\">\n<head>\n<meta charset=\"utf-8\">\n" + refresh +
                  "<title>" + escapedTitle +
                  "</title>\n<style>body{font-family:sans-serif;margin:3em;color:#222}"
                  "h1{font-size:1.4em}p{max-width:40em}</style>\n</head>\n<body>\n<h1>" +
                  escapedTitle + "</h1>\n<p>" + htmlEscaped(text) + "</p>\n";
  if (refreshSeconds > 0) {
    response.body += "<p>This page tries again in " + std::to_string(refreshSeconds) + " seconds.</p>\n";
  }
  response.body += "<p><a href=\"" +
                   htmlEscaped(refreshUrl.empty() ? std::string_view(kMainPageUrl) : refreshUrl) +
                   "\">Try again</a></p>\n</body>\n</html>\n";
  return response;
}

FrontResponse slotFailureAnswer(AnswerKind kind, int cgiResult, std::string_view retryUrl) {
  switch (cgiResult) {
    case kCgiServerNotRunning:
      return messageAnswer(kind, 503, "The Kestrova server is not running",
                           "The web front end cannot reach the server. Start the server and try again.");
    case kCgiBusy:
      return messageAnswer(kind, 503, "The server is busy", "All request slots of the server are in use.", 2,
                           retryUrl);
    case kCgiServerRestarting:
    case kCgiServerRescanning:
      return messageAnswer(kind, 503, "The server is restarting",
                           "The server is restarting (for example after a rescan or a settings change).", 5,
                           retryUrl);
    case kCgiServerStopped:
      return messageAnswer(kind, 503, "The server has stopped",
                           "The server has stopped; it answers no requests.");
    case kCgiNoReply:
      return messageAnswer(kind, 502, "The server could not answer this request",
                           "The server could not produce a reply (no reply).");
    case kCgiNoVariables:
      return messageAnswer(kind, 502, "The server could not answer this request",
                           "The server found no variables in the request.");
    case kCgiNoHandler:
      return messageAnswer(kind, 502, "The server could not answer this request",
                           "The server could not start a handler for the request.");
    case kCgiTimeOut:
      return messageAnswer(kind, 504, "The server did not answer in time",
                           "The server did not answer within 40 seconds.");
    default:
      return messageAnswer(kind, 500, "The request could not be passed to the server",
                           std::string("The front end failed to hand over the request (") +
                               cgiClientResultText(cgiResult) + ").");
  }
}

FrontResponse unauthorizedAnswer(AnswerKind kind) {
  FrontResponse response = messageAnswer(kind, 401, "Authorization required",
                                         "Log in with the user name and password of the Kestrova server.");
  response.setHeader("WWW-Authenticate", kAuthRealm);
  return response;
}

const char* httpReasonOf(int status) {
  switch (status) {
    case 200:
      return "OK";
    case 302:
      return "Found";
    case 303:
      return "See Other";
    case 400:
      return "Bad Request";
    case 401:
      return "Unauthorized";
    case 403:
      return "Forbidden";
    case 404:
      return "Not Found";
    case 405:
      return "Method Not Allowed";
    case 413:
      return "Payload Too Large";
    case 414:
      return "URI Too Long";
    case 410:
      return "Gone";
    case 415:
      return "Unsupported Media Type";
    case 431:
      return "Request Header Fields Too Large";
    case 500:
      return "Internal Server Error";
    case 502:
      return "Bad Gateway";
    case 503:
      return "Service Unavailable";
    case 504:
      return "Gateway Timeout";
    default:
      return "Unknown";
  }
}
