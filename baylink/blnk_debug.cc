// The debug file "blnkDebug.txt" in the working directory: messages cut into 75-character pieces
// with a time stamp each, a size check every 500 messages, and the reset header.
#include "baylink/blnk_debug.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "baylink/baylink.h"

int iDebugMode = 0;

namespace {

int messageCount = 0;  // messages since the last size check

// One "D: <time> : <piece>" line per 75 characters; an empty message still gives one line.
void writePieces(const char* message) {
  size_t length = std::strlen(message);
  size_t offset = 0;
  std::string text;
  do {
    std::string piece(message + offset, std::min(kBlnkDebugPiece, length - offset));
    text += std::string("D: ") + timeStamp() + " : " + piece + "\n";
    offset += piece.size();
  } while (offset < length);
  blnkWriteDebugFile(text, false);
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

extern "C" long getDebugFileSize(void) { return blnkDebugFileBytes(); }

extern "C" void ResetDebug(void) {
  blnkWriteDebugFile(std::string("Debug Reset\nBuild Version: ") + getVersion() + "\n\n", true);
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
