// Status line, headers and bodies of the web server's answer.
#include "qcli/http_response.h"

#include <strings.h>

#include <algorithm>
#include <cctype>
#include <cstring>

#include "qcli/terminal_text.h"

namespace qcli {

bool ResponseReader::fill() {
  if (ended_) return false;
  size_t received = 0;
  int code = 0;
  switch (connection_.receive(buffer_, sizeof buffer_, &received, &code)) {
    case Connection::Recv::kData:
      begin_ = 0;
      end_ = received;
      return true;
    case Connection::Recv::kReset:
      std::fputs("httpSocketRecv:  WSAECONNRESET\n", out_);
      break;
    case Connection::Recv::kError:
      std::fprintf(out_, "Error: recv() returned an error. %d.\n", code);
      failed_ = true;
      break;
    case Connection::Recv::kDeadline:
      std::fprintf(out_, "Error: No complete answer from the server within %d seconds (--timeout).\n",
                   limitSeconds_);
      failed_ = true;
      break;
    case Connection::Recv::kClosed:
      break;
  }
  ended_ = true;
  return false;
}

ResponseReader::Line ResponseReader::readLine(size_t limit, std::string* line) {
  line->clear();
  for (;;) {
    if (begin_ == end_ && !fill()) return failed_ ? Line::kError : Line::kClosed;
    char c = buffer_[begin_++];
    line->push_back(c);
    // `limit` counts the line end too: a line must be shorter than it.
    if (line->size() >= limit) return Line::kTooLong;
    if (c == '\n' && line->size() >= 2 && (*line)[line->size() - 2] == '\r') return Line::kOk;
  }
}

bool ResponseReader::readBytes(size_t count, std::string* body) {
  while (count > 0) {
    if (begin_ == end_ && !fill()) return !failed_;
    size_t take = std::min(count, end_ - begin_);
    body->append(buffer_ + begin_, take);
    begin_ += take;
    count -= take;
  }
  return true;
}

bool ResponseReader::moreData(bool* failed) {
  bool more = begin_ < end_ || fill();
  *failed = failed_;
  return more;
}

AnswerKind kindOfHeaderLine(const std::string& line) {
  if (line.find("Content-Type: text/html") != std::string::npos) return AnswerKind::kHtml;
  if (line.find("Content-Type: text") != std::string::npos) return AnswerKind::kText;
  if (line.find("Content-Type: binary") != std::string::npos) return AnswerKind::kBinary;
  return AnswerKind::kNone;
}

namespace {

struct Head {
  AnswerKind kind = AnswerKind::kNone;
  bool chunked = false;
  bool hasLength = false;
  unsigned long long length = 0;  // saturates above kResponseCapacity
};

void printTooLarge(FILE* out) {
  std::fprintf(out, "Error: HTTP response is larger than %zu bytes.\n", kResponseCapacity);
}

// Reports a line that could not be read; true when the line is usable.
bool lineUsable(ResponseReader::Line status, FILE* out) {
  switch (status) {
    case ResponseReader::Line::kOk:
      return true;
    case ResponseReader::Line::kTooLong:
      std::fputs("Error: httpSocketReadLine() returned an error. Line too long.\n", out);
      return false;
    case ResponseReader::Line::kClosed:
      // A partial line without its line end is as incomplete as no line at all.
      std::fputs("Error: Early end of data.\n", out);
      return false;
    case ResponseReader::Line::kError:
      return false;
  }
  return false;
}

// "Content-Length:" in any letter case, then optional blanks and decimal digits.
bool parseContentLength(const std::string& line, unsigned long long* length) {
  static constexpr char kName[] = "content-length:";
  size_t n = sizeof kName - 1;
  if (line.size() < n || strncasecmp(line.c_str(), kName, n) != 0) return false;
  size_t i = n;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  if (i >= line.size() || !std::isdigit(static_cast<unsigned char>(line[i]))) return false;
  unsigned long long value = 0;
  for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])); ++i) {
    value = std::min<unsigned long long>(value * 10 + static_cast<unsigned>(line[i] - '0'),
                                         kResponseCapacity + 1);
  }
  *length = value;
  return true;
}

bool readStatus(ResponseReader& reader, FILE* out) {
  std::string line;
  if (!lineUsable(reader.readLine(kHeaderLineLimit, &line), out)) return false;
  size_t http = line.find("HTTP/");
  size_t space = http == std::string::npos ? http : line.find(' ', http);
  if (space == std::string::npos || !std::isdigit(static_cast<unsigned char>(line[space + 1]))) {
    std::fputs("Error: Received message not in HTML format.\n", out);
    return false;
  }
  size_t i = space + 1;
  long code = 0;
  for (; i < line.size() && std::isdigit(static_cast<unsigned char>(line[i])) && code < 100000; ++i) {
    code = code * 10 + (line[i] - '0');
  }
  if (code == 200) return true;
  while (i < line.size() && line[i] == ' ') ++i;
  const std::string reason = terminalSafe(line.substr(i, line.find('\r', i) - i));
  std::fprintf(out, "Error: HTTP Server error: %ld %s.\n", code, reason.c_str());
  return false;
}

bool readHeaders(ResponseReader& reader, FILE* out, Head* head) {
  std::string line;
  for (;;) {
    if (!lineUsable(reader.readLine(kHeaderLineLimit, &line), out)) return false;
    if (line.size() == 2) return true;
    AnswerKind kind = kindOfHeaderLine(line);
    if (kind != AnswerKind::kNone) head->kind = kind;
    if (line.find("Transfer-Encoding: chunked") != std::string::npos) head->chunked = true;
    if (parseContentLength(line, &head->length)) head->hasLength = true;
  }
}

bool readPlainBody(ResponseReader& reader, const Head& head, FILE* out, std::string* body) {
  if (head.hasLength) {
    if (head.length > kResponseCapacity) {
      printTooLarge(out);
      return false;
    }
    if (!reader.readBytes(static_cast<size_t>(head.length), body)) return false;
    if (body->size() < head.length) {
      std::fputs("Error: Early end of data.\n", out);
      return false;
    }
    return true;
  }
  if (!reader.readBytes(kResponseCapacity, body)) return false;
  bool failed = false;
  if (body->size() == kResponseCapacity && reader.moreData(&failed)) {
    printTooLarge(out);
    return false;
  }
  return !failed;
}

// Leading hexadecimal digits of a chunk-size line; false when there are none. Saturates just
// above kResponseCapacity so a huge size cannot overflow.
bool parseChunkSize(const std::string& line, size_t* size) {
  size_t value = 0;
  size_t i = 0;
  for (; i < line.size() && std::isxdigit(static_cast<unsigned char>(line[i])); ++i) {
    char c = static_cast<char>(std::tolower(static_cast<unsigned char>(line[i])));
    size_t digit = c <= '9' ? static_cast<size_t>(c - '0') : static_cast<size_t>(c - 'a' + 10);
    value = std::min(value * 16 + digit, kResponseCapacity + 1);
  }
  *size = value;
  return i > 0;
}

bool readChunkedBody(ResponseReader& reader, FILE* out, std::string* body) {
  std::string line;
  for (;;) {
    // A connection that ends where a chunk size belongs has lost the rest of the body.
    if (!lineUsable(reader.readLine(kChunkLineLimit, &line), out)) return false;
    if (line.size() == 2) return true;
    size_t size = 0;
    if (!parseChunkSize(line, &size)) {
      std::fprintf(out, "Error: Decoding HTTP chunked response. Invalid format. numread=%zu.\n", line.size());
      return false;
    }
    if (size == 0) return true;
    if (size > kResponseCapacity - body->size()) {
      printTooLarge(out);
      return false;
    }
    size_t before = body->size();
    if (!reader.readBytes(size, body)) return false;
    if (body->size() - before < size) {
      std::fputs("Error: Receiving HTTP chunked response. Short data.\n", out);
      return false;
    }
    ResponseReader::Line status = reader.readLine(kChunkLineLimit, &line);
    if (status == ResponseReader::Line::kTooLong || status == ResponseReader::Line::kError) {
      return lineUsable(status, out);
    }
  }
}

}  // namespace

bool readAnswer(ResponseReader& reader, FILE* out, HttpAnswer* answer) {
  *answer = HttpAnswer();
  if (!readStatus(reader, out)) return false;
  Head head;
  if (!readHeaders(reader, out, &head)) return false;
  answer->kind = head.kind;
  if (head.chunked) return readChunkedBody(reader, out, &answer->body);
  return readPlainBody(reader, head, out, &answer->body);
}

}  // namespace qcli
