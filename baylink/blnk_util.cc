// Small utilities of the library: hex dumps, byte-order reads, text helpers, device type names
// and delays.
#include "baylink/blnk_util.h"

#include <cctype>
#include <chrono>
#include <cstdio>
#include <thread>

#include "baylink/blnk_debug.h"

std::string blnkHexDumpLine(const unsigned char* data, int length, int line) {
  char entry[8];
  std::snprintf(entry, sizeof(entry), "%04x: ", (line * 16) & 0xFFFF);
  std::string text = entry;
  int start = line * 16;
  for (int i = start; i < start + 16; ++i) {
    if (i < length) {
      std::snprintf(entry, sizeof(entry), "%02X ", data[i]);
      text += entry;
    } else {
      text += "   ";
    }
  }
  text += "   ";
  for (int i = start; i < start + 16 && i < length; ++i)
    text += std::isprint(data[i]) != 0 ? static_cast<char>(data[i]) : '.';
  return text;
}

int blnkHexDumpLines(int length) { return length <= 0 ? 1 : (length + 15) / 16; }

extern "C" int ASCIIHexDump(const unsigned char* data, int length) {
  int lines = blnkHexDumpLines(length);
  for (int line = 0; line < lines; ++line) std::printf("%s\n", blnkHexDumpLine(data, length, line).c_str());
  std::fflush(stdout);
  return lines;
}

extern "C" int ASCIIHexDebugDump(const unsigned char* data, int length) {
  if (iDebugMode != 2) return 0;
  int lines = blnkHexDumpLines(length);
  for (int line = 0; line < lines; ++line)
    std::printf("D: %s\n", blnkHexDumpLine(data, length, line).c_str());
  std::fflush(stdout);
  return lines;
}

extern "C" int ASCIIHexDebugDumpToPrintF(const unsigned char* data, int length) {
  int lines = blnkHexDumpLines(length);
  std::string text = "\n";
  for (int line = 0; line < lines; ++line) text += "D: " + blnkHexDumpLine(data, length, line) + "\n";
  // One write keeps the dump's lines together even when the file is shared.
  return blnkWriteDebugFile(text, false) ? lines : 0;
}

extern "C" uint16_t BytesToU16(const unsigned char* b) { return static_cast<uint16_t>((b[0] << 8) | b[1]); }
extern "C" uint16_t BytesToU16LM(const unsigned char* b) { return static_cast<uint16_t>((b[1] << 8) | b[0]); }
extern "C" uint32_t BytesToU32(const unsigned char* b) {
  return (static_cast<uint32_t>(BytesToU16(b)) << 16) | BytesToU16(b + 2);
}
extern "C" uint32_t BytesToU32LM(const unsigned char* b) {
  return (static_cast<uint32_t>(BytesToU16LM(b + 2)) << 16) | BytesToU16LM(b);
}
extern "C" uint64_t BytesToU64(const unsigned char* b) {
  return (static_cast<uint64_t>(BytesToU32(b)) << 32) | BytesToU32(b + 4);
}
extern "C" uint64_t BytesToU64LM(const unsigned char* b) {
  return (static_cast<uint64_t>(BytesToU32LM(b + 4)) << 32) | BytesToU32LM(b);
}

extern "C" char* uppercase(char* text) {
  for (char* p = text; p != nullptr && *p != '\0'; ++p)
    *p = static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return text;
}

extern "C" char* lowercase(char* text) {
  for (char* p = text; p != nullptr && *p != '\0'; ++p)
    *p = static_cast<char>(std::tolower(static_cast<unsigned char>(*p)));
  return text;
}

extern "C" int axtoi(const char* text) {
  if (text == nullptr) return 0;
  if (text[0] == '0' && (text[1] == 'x' || text[1] == 'X')) text += 2;
  unsigned value = 0;
  for (; std::isxdigit(static_cast<unsigned char>(*text)) != 0; ++text) {
    int digit = std::isdigit(static_cast<unsigned char>(*text)) != 0
                    ? *text - '0'
                    : std::tolower(static_cast<unsigned char>(*text)) - 'a' + 10;
    value = value * 16 + static_cast<unsigned>(digit);
  }
  return static_cast<int>(value);
}

extern "C" const char* DecodeDevType(int type) {
  static const char* const kNames[] = {"Disk  ",   "Tape  ",    "Printer  ", "Processor  ",    "WORM  ",
                                       "CDROM  ",  "Scanner  ", "Optical  ", "MediaChanger  ", "CommDevice  ",
                                       "ASCIT8  ", "ASCIT8  ",  "RAID  ",    "Enclosure  ",    "RBC  "};
  int index = type & 0x1F;
  return index < static_cast<int>(sizeof(kNames) / sizeof(kNames[0])) ? kNames[index] : "Unknown  ";
}

namespace {

void sleepMs(long ms) { std::this_thread::sleep_for(std::chrono::milliseconds(ms)); }

}  // namespace

// A real sleep: waiting on the process clock would keep a processor busy for the whole delay.
extern "C" void CMD_Sleep(int seconds) {
  blnkTrace(" CMD_Sleep - Sleeping for %d seconds", seconds);
  if (seconds > 0) sleepMs(seconds * 1000L);
}

extern "C" void CMD_Sleep_mSecs(int milliseconds) {
  blnkTrace(" CMD_Sleep_mSecs - Sleeping for %d milliseconds", milliseconds);
  if (milliseconds > 0) sleepMs(milliseconds);
}
