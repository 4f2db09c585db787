// Script output, confirmation detection and the receive file.
#include "qcli/answer_handler.h"

#include "qcli/terminal_text.h"

namespace qcli {

bool extractScriptOutput(std::string_view body, std::string* output) {
  size_t marker = body.find(kScriptMarker);
  if (marker == std::string_view::npos) return false;
  size_t pre = body.find("<pre>", marker);
  if (pre == std::string_view::npos) return false;
  size_t lineEnd = body.find('\n', pre);
  if (lineEnd == std::string_view::npos) return false;
  size_t close = body.find("</pre>", lineEnd + 1);
  if (close == std::string_view::npos) return false;
  output->assign(body.substr(lineEnd + 1, close - lineEnd - 1));
  return true;
}

bool needsConfirmation(std::string_view output) {
  return output.find(kConfirmationText) != std::string_view::npos;
}

bool reportsError(std::string_view output) {
  constexpr std::string_view kError = "Error:";
  for (size_t start = 0; start < output.size();) {
    if (output.substr(start, kError.size()) == kError) return true;
    const size_t end = output.find('\n', start);
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  return false;
}

namespace {

std::string withoutCarriageReturns(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

}  // namespace

void printScriptOutput(std::string_view output, FILE* out) {
  const std::string text = terminalSafe(output);
  std::fwrite(text.data(), 1, text.size(), out);
}

void printInvalidFormat(FILE* out) {
  std::fputs("Error: HTTP response has invalid format.\n", out);
  std::fputs("       Check that the httpd is running.\n", out);
  std::fputs("       Check that the user and password are correct.\n", out);
  std::fputs("       Check that the Kestrova server is running.\n", out);
  std::fputs("       Check that the method and type are correct for your device.\n", out);
  std::fputs("\n", out);
}

bool storeReceiveFile(AnswerKind kind, std::string_view body, const std::string& rfile, FILE* out) {
  if (rfile.empty()) {
    std::fputs("Error: Receive file name not specified.\n", out);
    return false;
  }
  bool text = kind == AnswerKind::kText;
  FILE* file = std::fopen(rfile.c_str(), text ? "w" : "wb");
  if (file == nullptr) {
    std::fprintf(out, "Error: Cannot open receive file, <%s>.\n", rfile.c_str());
    return false;
  }
  std::string stored = text ? withoutCarriageReturns(body) : std::string(body);
  bool written = std::fwrite(stored.data(), 1, stored.size(), file) == stored.size();
  // Data still in the stream's buffer is lost if the close fails, so that counts as a failure.
  written = (std::fclose(file) == 0) && written;
  if (!written) {
    std::fprintf(out,
                 text ? "Error: Early EOF writing receive file, <%s>.\n"
                      : "Error: All bytes not written to file, <%s>.\n",
                 rfile.c_str());
    return false;
  }
  std::fprintf(out, "Operation complete in receive file, <%s>.\n", rfile.c_str());
  return true;
}

}  // namespace qcli
