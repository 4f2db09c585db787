// Reading of the web server's answer: status line, header lines, and a plain or chunked body,
// with every limit enforced so that a hostile or broken server can neither exhaust memory nor
// make the client accept a truncated answer. Messages go to `out` as they occur.
//
// Thread safety: a ResponseReader belongs to one thread.
#pragma once

#include <cstddef>
#include <cstdio>
#include <string>

#include "qcli/tcp_connection.h"

namespace qcli {

// Largest body the client accepts (the response buffer).
inline constexpr size_t kResponseCapacity = 10 * 1024 * 1024;
// Status and header lines are shorter than this, line end included.
inline constexpr size_t kHeaderLineLimit = 3072;
// Chunk-size lines and the line ends after chunk data are shorter than this.
inline constexpr size_t kChunkLineLimit = 100;

// What the client does with a body, from its Content-Type header line.
enum class AnswerKind { kNone = 0, kHtml = 1, kText = 2, kBinary = 3 };

struct HttpAnswer {
  AnswerKind kind = AnswerKind::kNone;
  std::string body;
};

// Buffered reads from one connection. A reset by the peer prints its notice and counts as the
// end of the data; the connection's deadline passing prints the time-limit message (with
// limitSeconds); any other receive error prints the recv() message.
class ResponseReader {
 public:
  enum class Line { kOk, kClosed, kTooLong, kError };

  ResponseReader(Connection& connection, FILE* out, int limitSeconds = 0)
      : connection_(connection), out_(out), limitSeconds_(limitSeconds) {}

  // Reads one line ending in CR LF (both kept in *line). kClosed when the data ended first
  // (*line holds what came); kTooLong when the line reaches `limit` bytes, line end included.
  Line readLine(size_t limit, std::string* line);
  // Appends up to count bytes to *body; false on a receive error. Fewer bytes mean the data ended.
  bool readBytes(size_t count, std::string* body);
  // True when at least one more byte can be read (consumes nothing logically: it is kept).
  bool moreData(bool* failed);

 private:
  bool fill();  // false at the end of the data or on an error (failed_ says which)

  Connection& connection_;
  FILE* out_;
  int limitSeconds_;
  char buffer_[16384];
  size_t begin_ = 0;
  size_t end_ = 0;
  bool ended_ = false;
  bool failed_ = false;
};

// Reads the whole answer. False after printing the reason (early end, not HTTP, a status other
// than 200, an over-long line, a bad or short chunk, a body beyond kResponseCapacity).
[[nodiscard]] bool readAnswer(ResponseReader& reader, FILE* out, HttpAnswer* answer);

// The answer kind named by one header line, or kNone.
AnswerKind kindOfHeaderLine(const std::string& line);

}  // namespace qcli
