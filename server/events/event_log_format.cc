// Composing and parsing the lines of the event log; see event_log_format.h.
#include "server/events/event_log_format.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "server/events/event_text.h"

namespace {

// Escaped form of one byte into unit; returns its length (1 or 2).
size_t escapeByte(char c, char unit[2]) {
  switch (c) {
    case '"':
      unit[0] = '"';
      unit[1] = '"';
      return 2;
    case '\\':
      unit[0] = '\\';
      unit[1] = '\\';
      return 2;
    case '\n':
      unit[0] = '\\';
      unit[1] = 'n';
      return 2;
    case '\r':
      unit[0] = '\\';
      unit[1] = 'r';
      return 2;
    default:
      unit[0] = c;
      return 1;
  }
}

// Appends the escaped text to out, at most room bytes; a text that does not fit is cut between
// escape units and between characters. Returns the bytes written.
size_t appendEscaped(char* out, size_t room, const char* text) {
  size_t used = 0;
  for (const char* p = text; *p != '\0'; ++p) {
    char unit[2];
    const size_t size = escapeByte(*p, unit);
    if (used + size > room) return completeUtf8Length(out, used);
    std::memcpy(out + used, unit, size);
    used += size;
  }
  return used;
}

// Date and time texts of a raise time; false when the local time cannot be formed.
bool formatRaiseTime(uint32_t raiseTime, char date[32], char time[32]) {
  const time_t when = static_cast<time_t>(raiseTime);
  struct tm local;
  if (localtime_r(&when, &local) == nullptr) return false;
  std::snprintf(date, 32, "%02d/%02d/%02d", local.tm_mon + 1, local.tm_mday, (local.tm_year + 1900) % 100);
  std::snprintf(time, 32, "%02d:%02d:%02d", local.tm_hour, local.tm_min, local.tm_sec);
  return true;
}

}  // namespace

size_t composeLogRecordLine(char* line, int32_t number, const EventRecord& record) {
  char date[32];
  char time[32];
  const bool haveTime = formatRaiseTime(record.raiseTime, date, time);
  const int prefix =
      std::snprintf(line, kLogLineLimit, "\"%d\",\"%d\",\"%s\",\"%s\",\"", number,
                    static_cast<int>(record.concernLevel), haveTime ? date : "??", haveTime ? time : "??");
  size_t used = static_cast<size_t>(prefix);
  used += appendEscaped(line + used, kLogDeviceMax, record.device ? record.device : "");
  std::memcpy(line + used, "\",\"", 3);
  used += 3;
  // Room for the message leaves the closing quote and the newline.
  used += appendEscaped(line + used, kLogRecordMax - used - 2, record.message ? record.message : "");
  std::memcpy(line + used, "\"\n", 3);
  return used + 2;
}

bool findLogField(const char* line, int k, const char** begin, const char** end) {
  int opened = 0;
  const char* p = line;
  while (*p != '\0') {
    if (*p != '"') {
      ++p;
      continue;
    }
    ++opened;
    const char* start = ++p;
    while (*p != '\0' && !(*p == '"' && p[1] != '"')) p += (*p == '"') ? 2 : 1;
    if (*p == '\0') return false;
    if (opened == k + 1) {
      *begin = start;
      *end = p;
      return true;
    }
    ++p;
  }
  return false;
}

namespace {

// Unescapes raw[0..length) into out (room for length + 1 bytes); returns the length written.
size_t unescapeField(const char* raw, size_t length, char* out) {
  size_t used = 0;
  for (size_t i = 0; i < length; ++i) {
    const char c = raw[i];
    const char next = (i + 1 < length) ? raw[i + 1] : '\0';
    if (c == '"' && next == '"') {
      out[used++] = '"';
      ++i;
    } else if (c == '\\' && (next == '\\' || next == 'n' || next == 'r')) {
      out[used++] = next == 'n' ? '\n' : next == 'r' ? '\r' : '\\';
      ++i;
    } else {
      out[used++] = c;
    }
  }
  out[used] = '\0';
  return used;
}

}  // namespace

bool readLogField(const char* line, int k, std::string* value) {
  const char* begin;
  const char* end;
  if (!findLogField(line, k, &begin, &end)) return false;
  value->resize(static_cast<size_t>(end - begin) + 1);
  value->resize(unescapeField(begin, static_cast<size_t>(end - begin), value->data()));
  return true;
}

char* copyLogField(const char* line, int k) {
  const char* begin;
  const char* end;
  if (!findLogField(line, k, &begin, &end)) return nullptr;
  auto* copy = static_cast<char*>(std::malloc(static_cast<size_t>(end - begin) + 1));
  if (copy != nullptr) unescapeField(begin, static_cast<size_t>(end - begin), copy);
  return copy;
}

bool readLogNumber(const char* line, int32_t* number) {
  const char* begin;
  const char* end;
  if (!findLogField(line, 0, &begin, &end)) return false;
  char text[32];
  const size_t length = static_cast<size_t>(end - begin) < sizeof(text) - 1 ? static_cast<size_t>(end - begin)
                                                                            : sizeof(text) - 1;
  unescapeField(begin, length, text);
  // atoi, but clamped instead of undefined when the digits overflow.
  const long value = std::strtol(text, nullptr, 10);
  *number = value > INT_MAX ? INT_MAX : value < INT_MIN ? INT_MIN : static_cast<int32_t>(value);
  return true;
}

bool LogLineReader::fill() {
  end_ = std::fread(buffer_, 1, sizeof(buffer_), file_);
  begin_ = 0;
  return end_ > 0;
}

bool LogLineReader::next(const char** line, size_t* length, uint64_t* offset) {
  size_t used = 0;
  while (used < kLogLineLimit - 1) {
    if (begin_ == end_ && !fill()) break;
    const size_t want = std::min(end_ - begin_, kLogLineLimit - 1 - used);
    const auto* newline = static_cast<const char*>(std::memchr(buffer_ + begin_, '\n', want));
    const size_t take = newline ? static_cast<size_t>(newline - (buffer_ + begin_)) + 1 : want;
    std::memcpy(line_ + used, buffer_ + begin_, take);
    used += take;
    begin_ += take;
    if (newline) break;
  }
  if (used == 0) return false;
  line_[used] = '\0';
  *line = line_;
  *length = used;
  *offset = offset_;
  offset_ += used;
  return true;
}
