// multipart/form-data parsing in the standard and in qcli's form; see multipart.h.
#include "frontend/multipart.h"

#include <cctype>

namespace {

constexpr size_t kMaxBoundary = 200;
constexpr size_t kMaxPartHead = 8 * 1024;
constexpr std::string_view kCrlf = "\r\n";

std::string lowered(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
  while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
  return text;
}

// The value of parameter `name` in a header value of "; "-separated parameters (quoted or not).
// Returns false when it is absent.
bool headerParameter(std::string_view value, std::string_view name, std::string* out) {
  size_t pos = 0;
  while (pos < value.size()) {
    size_t semicolon = pos;
    bool quoted = false;
    while (semicolon < value.size() && (quoted || value[semicolon] != ';')) {
      if (value[semicolon] == '"') quoted = !quoted;
      if (quoted && value[semicolon] == '\\') ++semicolon;
      ++semicolon;
    }
    const std::string_view item = trimmed(value.substr(pos, semicolon - pos));
    const size_t equals = item.find('=');
    if (equals != std::string_view::npos && lowered(trimmed(item.substr(0, equals))) == name) {
      std::string_view raw = trimmed(item.substr(equals + 1));
      out->clear();
      if (raw.size() >= 2 && raw.front() == '"' && raw.back() == '"') {
        raw = raw.substr(1, raw.size() - 2);
        for (size_t i = 0; i < raw.size(); ++i) {
          if (raw[i] == '\\' && i + 1 < raw.size() && (raw[i + 1] == '"' || raw[i + 1] == '\\')) ++i;
          out->push_back(raw[i]);
        }
      } else {
        out->assign(raw);
      }
      return true;
    }
    pos = semicolon + 1;
  }
  return false;
}

// Reads a part's header lines and its content [head, end) into *part.
bool parsePart(std::string_view whole, FormPart* part) {
  // A part without header lines (no Content-Disposition, so no name) is refused as well.
  const size_t headEnd = whole.find("\r\n\r\n");
  if (headEnd == std::string_view::npos || headEnd > kMaxPartHead) return false;
  const std::string_view head = whole.substr(0, headEnd);
  part->data = whole.substr(headEnd + 4);
  bool named = false;
  size_t pos = 0;
  while (pos <= head.size()) {
    size_t end = head.find(kCrlf, pos);
    if (end == std::string_view::npos) end = head.size();
    const std::string_view line = head.substr(pos, end - pos);
    pos = end + 2;
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos) continue;
    const std::string field = lowered(trimmed(line.substr(0, colon)));
    const std::string_view value = trimmed(line.substr(colon + 1));
    if (field == "content-disposition") {
      if (lowered(value.substr(0, value.find(';'))) != "form-data") return false;
      named = headerParameter(value, "name", &part->name) && !part->name.empty();
      part->isFile = headerParameter(value, "filename", &part->fileName);
    } else if (field == "content-type") {
      part->contentType = std::string(value);
    }
  }
  return named;
}

// Standard form: "--B" lines, each part's content ends at CRLF "--B", closed by "--B--".
MultipartResult parseStandard(std::string_view body, const std::string& delimiter, size_t maxParts,
                              std::vector<FormPart>* parts) {
  size_t pos;
  if (body.starts_with(delimiter)) {
    pos = delimiter.size();
  } else {
    const size_t first = body.find(std::string(kCrlf) + delimiter);  // after a preamble
    if (first == std::string_view::npos) return MultipartResult::kMalformed;
    pos = first + 2 + delimiter.size();
  }
  const std::string separator = std::string(kCrlf) + delimiter;
  for (;;) {
    if (body.substr(pos).starts_with("--")) return MultipartResult::kOk;  // closing line
    while (pos < body.size() && (body[pos] == ' ' || body[pos] == '\t')) ++pos;
    if (!body.substr(pos).starts_with(kCrlf)) return MultipartResult::kMalformed;
    pos += 2;
    const size_t next = body.find(separator, pos);
    if (next == std::string_view::npos) return MultipartResult::kMalformed;
    if (parts->size() >= maxParts) return MultipartResult::kTooManyParts;
    FormPart part;
    if (!parsePart(body.substr(pos, next - pos), &part)) return MultipartResult::kMalformed;
    parts->push_back(std::move(part));
    pos = next + separator.size();
  }
}

// qcli's form: B CRLF before each part, parts separated by CRLF B CRLF, and the last part's
// bytes followed directly by B[1:] "--" (and a line end).
MultipartResult parseBare(std::string_view body, const std::string& boundary, size_t maxParts,
                          std::vector<FormPart>* parts) {
  if (body.ends_with(kCrlf)) body.remove_suffix(2);
  const std::string closing = boundary.substr(1) + "--";
  if (!body.ends_with(closing)) return MultipartResult::kMalformed;
  body.remove_suffix(closing.size());
  size_t pos = boundary.size() + 2;
  const std::string separator = std::string(kCrlf) + boundary + std::string(kCrlf);
  while (pos <= body.size()) {
    size_t next = body.find(separator, pos);
    const bool last = next == std::string_view::npos;
    if (last) next = body.size();
    if (parts->size() >= maxParts) return MultipartResult::kTooManyParts;
    FormPart part;
    if (!parsePart(body.substr(pos, next - pos), &part)) return MultipartResult::kMalformed;
    parts->push_back(std::move(part));
    if (last) return MultipartResult::kOk;
    pos = next + separator.size();
  }
  return MultipartResult::kMalformed;
}

}  // namespace

std::string multipartBoundary(std::string_view contentType) {
  const size_t semicolon = contentType.find(';');
  if (lowered(trimmed(contentType.substr(0, semicolon))) != "multipart/form-data") return std::string();
  if (semicolon == std::string_view::npos) return std::string();
  std::string boundary;
  if (!headerParameter(contentType.substr(semicolon + 1), "boundary", &boundary)) return std::string();
  if (boundary.size() > kMaxBoundary) return std::string();
  return boundary;
}

MultipartResult parseMultipart(std::string_view contentType, std::string_view body, size_t maxParts,
                               std::vector<FormPart>* parts) {
  parts->clear();
  const std::string boundary = multipartBoundary(contentType);
  if (boundary.size() < 2) return MultipartResult::kNoBoundary;
  const std::string delimiter = "--" + boundary;
  // The bare form is recognised by its first line before any search: a file inside it may well
  // hold a standard delimiter.
  MultipartResult result;
  if (body.starts_with(delimiter)) {
    result = parseStandard(body, delimiter, maxParts, parts);
  } else if (body.starts_with(boundary + "\r\n")) {
    result = parseBare(body, boundary, maxParts, parts);
  } else if (body.find("\r\n" + delimiter) != std::string_view::npos) {
    result = parseStandard(body, delimiter, maxParts, parts);
  } else {
    result = MultipartResult::kMalformed;
  }
  if (result != MultipartResult::kOk) parts->clear();
  return result;
}

std::string baseFileName(std::string_view fileName) {
  const size_t slash = fileName.find_last_of("/\\");
  if (slash != std::string_view::npos) fileName.remove_prefix(slash + 1);
  std::string out;
  for (char c : fileName) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b >= 0x20 && b != 0x7f && c != '"') out.push_back(c);
  }
  return out;
}
