// The request loop: send, read, act on the answer, resend after a confirmation.
#include "qcli/http_client.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <vector>

#include "qcli/answer_handler.h"
#include "qcli/http_response.h"

namespace qcli {

namespace {

// Decimal value of the leading digits of the port text (0 without any), capped so that a long
// text stays an invalid port instead of wrapping into a valid one.
long leadingDecimal(const std::string& text) {
  long value = 0;
  for (size_t i = 0; i < text.size() && std::isdigit(static_cast<unsigned char>(text[i])); ++i) {
    value = std::min(value * 10 + (text[i] - '0'), 1000000L);
  }
  return value;
}

// The port handed to the connector: -1 (refused at the connect step) unless all digits.
long connectPort(const std::string& port) {
  bool allDigits = !port.empty() && std::strspn(port.c_str(), "0123456789") == port.size();
  return allDigits ? leadingDecimal(port) : -1;
}

void reportOpenFailure(const NetFailure& f, const RequestSettings& settings, FILE* out) {
  switch (f.step) {
    case NetStep::kResolve:
      std::fprintf(out, "Error: gethostbyname() returned an error. %d.\n", f.code);
      std::fprintf(out, "       Check that server, %s, is accessible by its text name.\n",
                   settings.ip.c_str());
      return;
    case NetStep::kTls:
      std::fputs(f.message.c_str(), out);
      return;
    case NetStep::kSocket:
      std::fprintf(out, "Error: socket() returned an error. %d.\n", f.code);
      std::fputs("       Check that the TCP/IP protocol is available on your network.\n", out);
      return;
    default:
      break;
  }
  std::fprintf(out, "Error: connect() returned an error. %d.\n", f.code);
  std::fprintf(out, "       Check that server, %d.%d.%d.%d, is accessible.\n", f.address[0], f.address[1],
               f.address[2], f.address[3]);
  if (settings.ip.find('.') == std::string::npos) {
    std::fprintf(out, "       Check that server, %s, is accessible.\n", settings.ip.c_str());
  }
  std::fprintf(out, "       Check that port number, %ld., is valid for that server.\n",
               leadingDecimal(settings.port));
}

void reportDeadline(const RequestContext& context) {
  std::fprintf(context.out, "Error: No complete answer from the server within %d seconds (--timeout).\n",
               context.timeoutSeconds);
}

// One exchange on a new connection: sends the pieces in order and reads the answer, all of it
// within the time limit.
std::optional<HttpAnswer> exchange(RequestContext& context, const std::vector<std::string_view>& pieces) {
  const Deadline deadline = std::chrono::steady_clock::now() + std::chrono::seconds(context.timeoutSeconds);
  NetFailure failure;
  std::unique_ptr<Connection> connection =
      context.connect(context.settings.ip, connectPort(context.settings.port), deadline, &failure);
  if (!connection) {
    reportOpenFailure(failure, context.settings, context.out);
    if (std::chrono::steady_clock::now() >= deadline) reportDeadline(context);
    return std::nullopt;
  }
  for (std::string_view piece : pieces) {
    int code = 0;
    if (!connection->sendAll(piece, &code)) {
      std::fprintf(context.out, "Error: send() returned an error. %d.\n", code);
      std::fputs("       Check that the network is working properly.\n", context.out);
      if (std::chrono::steady_clock::now() >= deadline) reportDeadline(context);
      return std::nullopt;
    }
  }
  ResponseReader reader(*connection, context.out, context.timeoutSeconds);
  HttpAnswer answer;
  if (!readAnswer(reader, context.out, &answer)) return std::nullopt;
  return answer;
}

// Asks the user; true when the answer line begins with y or Y.
bool confirm(RequestContext& context) {
  std::fputs("\nThis is a potentially data altering operation.\n", context.out);
  std::fputs("Do you want to continue? y/n > ", context.out);
  std::fflush(context.out);
  char line[1024];
  if (std::fgets(line, sizeof line, context.in) == nullptr) return false;
  // Drop the rest of an over-long answer so it is not taken as the next answer.
  if (std::strchr(line, '\n') == nullptr) {
    for (int c = std::fgetc(context.in); c != EOF && c != '\n';) c = std::fgetc(context.in);
  }
  return std::tolower(static_cast<unsigned char>(line[0])) == 'y';
}

// What to do after an answer: stop with an outcome, or send again (confirmed).
struct Next {
  bool resend = false;
  RequestOutcome outcome = RequestOutcome::kAnswered;
};

Next done(RequestOutcome outcome) { return {false, outcome}; }

Next handleAnswer(RequestContext& context, const HttpAnswer& answer) {
  switch (answer.kind) {
    case AnswerKind::kHtml: {
      std::string output;
      if (!extractScriptOutput(answer.body, &output)) {
        printInvalidFormat(context.out);
        return done(RequestOutcome::kTransportFailure);
      }
      if (!needsConfirmation(output)) {
        printScriptOutput(output, context.out);
        return done(reportsError(output) ? RequestOutcome::kServerError : RequestOutcome::kAnswered);
      }
      if (!confirm(context)) return done(RequestOutcome::kAnswered);
      std::fputs("Resending\n", context.out);
      context.args.words.push_back("-q");
      return {true, RequestOutcome::kAnswered};
    }
    case AnswerKind::kText:
    case AnswerKind::kBinary:
      return done(storeReceiveFile(answer.kind, answer.body, context.settings.rfile, context.out)
                      ? RequestOutcome::kAnswered
                      : RequestOutcome::kLocalFailure);
    case AnswerKind::kNone:
      break;
  }
  // An answer of no known content type is nothing the client can use.
  return done(RequestOutcome::kTransportFailure);
}

void showGetRequest(const std::string& query, FILE* out) {
  std::fputs("//// HTTP request /////////////\n", out);
  std::fprintf(out, "%s\n", query.c_str());
  std::fputs("///////////////////////////////\n", out);
}

void showPostRequest(const std::vector<PostPair>& pairs, FILE* out) {
  std::fputs("//// HTTP request /////////////\n", out);
  for (const PostPair& pair : pairs) {
    std::fprintf(out, "%s ", pair.name.c_str());
    if (pair.value.empty()) {
      std::fputs("@ ; ", out);
    } else {
      std::fprintf(out, "\"%s\" ; ", pair.value.c_str());
    }
  }
  std::fputs("\n///////////////////////////////\n", out);
}

RequestOutcome runGet(RequestContext& context) {
  switch (checkObject(context.args)) {
    case ObjectCheck::kOk:
      break;
    case ObjectCheck::kNotFirst:
      std::fputs("Error: Object name not specified or not specified first.\n", context.out);
      return RequestOutcome::kNoObject;
    case ObjectCheck::kNoObject:
      std::fputs("Warning: Server request not sent. No object specified.\n", context.out);
      return RequestOutcome::kNoObject;
  }
  for (;;) {
    std::string query = buildQuery(context.settings, context.args);
    if (context.showRequest) showGetRequest(query, context.out);
    std::string head = buildGetHead(context.settings, query);
    std::optional<HttpAnswer> answer = exchange(context, {head});
    if (!answer) {
      std::fputs("http request returned no data.\n", context.out);
      return RequestOutcome::kTransportFailure;
    }
    const Next next = handleAnswer(context, *answer);
    if (!next.resend) return next.outcome;
  }
}

// Reads the whole send file; false unless it is non-empty and at most `room` bytes.
bool readSendFile(const std::string& path, size_t room, std::string* data) {
  std::unique_ptr<FILE, int (*)(FILE*)> file(std::fopen(path.c_str(), "rb"), std::fclose);
  if (!file) return false;
  data->clear();
  char chunk[65536];
  size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file.get())) > 0) {
    if (n > room - data->size()) return false;  // never holds more than room bytes
    data->append(chunk, n);
  }
  return !std::ferror(file.get()) && !data->empty();
}

RequestOutcome runPost(RequestContext& context) {
  std::fputs("qcliRequestSendPost ---------------\n", context.out);
  for (;;) {
    std::vector<PostPair> pairs = buildPostPairs(context.settings, context.args);
    if (context.showRequest) showPostRequest(pairs, context.out);
    PostRequest request = buildPostRequest(context.settings, pairs, 0);
    // The head grows by the digits of the final Content-Length; 32 bytes cover any of them.
    size_t overhead = request.head.size() + 32 + request.parts.size() + request.closing.size();
    std::string file;
    if (overhead >= kResponseCapacity ||
        !readSendFile(context.settings.sfile, kResponseCapacity - overhead, &file)) {
      std::fprintf(context.out, "Error: Cannot open/read file %s\n", context.settings.sfile.c_str());
      std::fputs("Error: HTTP request failed\n", context.out);
      return RequestOutcome::kLocalFailure;
    }
    request = buildPostRequest(context.settings, pairs, file.size());
    std::optional<HttpAnswer> answer =
        exchange(context, {request.head, request.parts, file, request.closing});
    if (!answer) {
      std::fputs("http POST request returned no data.\n", context.out);
      std::fputs("Error: HTTP request failed\n", context.out);
      return RequestOutcome::kTransportFailure;
    }
    const Next next = handleAnswer(context, *answer);
    if (!next.resend) return next.outcome;
  }
}

}  // namespace

RequestOutcome runRequest(RequestContext& context) {
  return context.settings.sfile.empty() ? runGet(context) : runPost(context);
}

}  // namespace qcli
