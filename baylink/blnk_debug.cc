// The debug file "blnkDebug.txt" in the working directory: messages cut into 75-character pieces
// with a time stamp each, a size check every 500 messages, and the reset header.
#include "baylink/blnk_debug.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "baylink/baylink.h"

int iDebugMode = 0;

namespace {

int messageCount = 0;  // messages since the last size check

// Opens the debug file for appending (or truncating) without following a planted link.
int openDebugFile(bool truncate) {
  int flags = O_WRONLY | O_CREAT | O_CLOEXEC | O_NOFOLLOW | (truncate ? O_TRUNC : O_APPEND);
  return ::open(kBlnkDebugFile, flags, 0644);
}

void writeAll(int fd, const std::string& text) {
  const char* p = text.data();
  size_t left = text.size();
  while (left > 0) {
    ssize_t n = ::write(fd, p, left);
    if (n <= 0) return;
    p += n;
    left -= static_cast<size_t>(n);
  }
}

// One "D: <time> : <piece>" line per 75 characters; an empty message still gives one line.
void writePieces(const char* message) {
  int fd = openDebugFile(false);
  if (fd < 0) return;
  size_t length = std::strlen(message);
  size_t offset = 0;
  do {
    std::string piece(message + offset, std::min(kBlnkDebugPiece, length - offset));
    writeAll(fd, std::string("D: ") + timeStamp() + " : " + piece + "\n");
    offset += piece.size();
  } while (offset < length);
  ::close(fd);
}

std::string formatText(const char* format, va_list args) {
  va_list copy;
  va_copy(copy, args);
  int needed = std::vsnprintf(nullptr, 0, format, copy);
  va_end(copy);
  if (needed <= 0) return "";
  std::string text(static_cast<size_t>(needed) + 1, '\0');
  std::vsnprintf(text.data(), text.size(), format, args);
  text.resize(static_cast<size_t>(needed));
  return text;
}

}  // namespace

extern "C" char* getVersion(void) {
  static char version[64];
  std::snprintf(version, sizeof(version), "%s - v%s (%s)", "Baylink", "0.90", "1st September 2008");
  return version;
}

extern "C" char* timeStamp(void) {
  static char text[32];
  std::time_t now = std::time(nullptr);
  std::tm local{};
  localtime_r(&now, &local);
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

extern "C" long getDebugFileSize(void) {
  struct stat st {};
  if (::stat(kBlnkDebugFile, &st) != 0) return 0;
  return static_cast<long>(st.st_size);
}

extern "C" void ResetDebug(void) {
  int fd = openDebugFile(true);
  if (fd < 0) return;
  writeAll(fd, std::string("Debug Reset\nBuild Version: ") + getVersion() + "\n\n");
  ::close(fd);
}

extern "C" int ShowDebug(const char* message) {
  writePieces(message != nullptr ? message : "(null)");
  if (++messageCount >= kBlnkSizeCheckEvery) {
    if (getDebugFileSize() > kBlnkDebugLimit) {
      ResetDebug();
      writePieces("reset debug File as size growing...");
    }
    messageCount = 0;
    writePieces("Checking debug File as size growing...");
  }
  return 0;
}

extern "C" int addDebugToFile(const char* message) { return ShowDebug(message); }

void blnkTrace(const char* format, ...) {
  if (iDebugMode == 0) return;
  va_list args;
  va_start(args, format);
  std::string text = formatText(format, args);
  va_end(args);
  ShowDebug(text.c_str());
}

void blnkTraceDump(const unsigned char* data, int length) {
  if (iDebugMode != 0) ASCIIHexDebugDumpToPrintF(data, length);
}
