// Texts of the e-mail notifier; see email_text.h.
#include "server/events/email_text.h"

#include <atomic>
#include <cctype>
#include <cstdio>
#include <random>
#include <cstdlib>
#include <cstring>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/variable_table.h"

namespace {

constexpr const char* kWeekdays[] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonths[] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

bool isControl(unsigned char c) { return c < 0x20 || c == 0x7F; }

// The string-table text of key, or fallback when the table has none.
std::string tableText(const char* key, const char* fallback) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = (text != nullptr && std::strcmp(text, kMissing) != 0) ? text : fallback;
  std::free(text);
  return value;
}

bool localTime(time_t when, struct tm* out) { return localtime_r(&when, out) != nullptr; }

// Every line end (CR LF, lone CR, lone LF) as CR LF.
std::string crlfLines(std::string_view text) {
  std::string out;
  out.reserve(text.size() + text.size() / 32 + 2);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      out += "\r\n";
    } else if (c == '\n') {
      out += "\r\n";
    } else {
      out += c;
    }
  }
  return out;
}

// Where to cut a line that is too long: at most kMaxMailLineLength bytes, never inside a UTF-8
// sequence (a cut before a continuation byte moves back to the sequence's first byte).
size_t foldPoint(std::string_view line) {
  size_t cut = kMaxMailLineLength;
  size_t back = cut;
  while (back > kMaxMailLineLength - 4 && (static_cast<unsigned char>(line[back]) & 0xC0) == 0x80) --back;
  if ((static_cast<unsigned char>(line[back]) & 0xC0) != 0x80) cut = back;
  return cut;
}

// One line (without its line end) folded to kMaxMailLineLength and dot-stuffed, each piece
// followed by CR LF except the last.
void appendLine(std::string* out, std::string_view line) {
  for (;;) {
    const size_t cut = line.size() > kMaxMailLineLength ? foldPoint(line) : line.size();
    if (!line.empty() && line[0] == '.') *out += '.';
    out->append(line.substr(0, cut));
    if (cut == line.size()) return;
    *out += "\r\n";
    line.remove_prefix(cut);
  }
}

}  // namespace

std::string escapeSignature(std::string_view text) {
  std::string out;
  out.reserve(text.size() + 8);
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (c == '"') {
      out += "\\\"";
    } else if (c == '\r') {
      const bool pair = i + 1 < text.size() && text[i + 1] == '\n';
      out += pair ? "\\r\\n" : "\\r";
      if (pair) ++i;
    } else if (c == '\n') {
      out += "\\r\\n";
    } else if (c == '\\') {
      out += "\\\\";
    } else {
      out += c;
    }
  }
  return out;
}

std::string unescapeSignature(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    const char next = i + 1 < text.size() ? text[i + 1] : '\0';
    if (c != '\\' || (next != 'r' && next != 'n' && next != '\\' && next != '"')) {
      out += c;
      continue;
    }
    out += next == 'r' ? '\r' : next == 'n' ? '\n' : next;
    ++i;
  }
  return out;
}

time_t emailEventTime(uint32_t eventTime, time_t now) {
  return (eventTime == 0 || eventTime == 0xFFFFFFFFu) ? now : static_cast<time_t>(eventTime);
}

int utcOffsetMinutes(time_t now) {
  struct tm local {};
  struct tm utc {};
  if (localtime_r(&now, &local) == nullptr || gmtime_r(&now, &utc) == nullptr) return 0;
  local.tm_isdst = 0;
  utc.tm_isdst = 0;
  const time_t localSeconds = mktime(&local);
  const time_t utcSeconds = mktime(&utc);
  if (localSeconds == static_cast<time_t>(-1) || utcSeconds == static_cast<time_t>(-1)) return 0;
  return static_cast<int>((localSeconds - utcSeconds) / 60);
}

std::string longEventDate(time_t when, time_t now) {
  struct tm t {};
  if (!localTime(when, &t)) return std::string();
  const int offset = utcOffsetMinutes(now);
  const int magnitude = offset < 0 ? -offset : offset;
  char text[96];
  std::snprintf(text, sizeof text, "%s, %d %s %d\r\nTime: %.2d:%.2d:%.2d %s%.2d%.2d",
                kWeekdays[t.tm_wday % 7], t.tm_mday, kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour,
                t.tm_min, t.tm_sec, offset < 0 ? "-" : "+", magnitude / 60, magnitude % 60);
  return text;
}

std::string rfc5322Date(time_t when) {
  struct tm t {};
  if (!localTime(when, &t)) return std::string();
  const int offset = utcOffsetMinutes(when);
  const int magnitude = offset < 0 ? -offset : offset;
  char text[64];
  std::snprintf(text, sizeof text, "%s, %d %s %d %.2d:%.2d:%.2d %s%.2d%.2d", kWeekdays[t.tm_wday % 7], t.tm_mday,
                kMonths[t.tm_mon % 12], t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec, offset < 0 ? "-" : "+",
                magnitude / 60, magnitude % 60);
  return text;
}

std::string newMessageId(const std::string& host) {
  static std::atomic<uint32_t> counter{0};
  static const uint32_t processSalt = static_cast<uint32_t>(std::random_device{}());
  std::string domain;
  for (char c : host) {
    if (std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.') domain += c;
  }
  if (domain.empty()) domain = "localhost";
  char text[96];
  std::snprintf(text, sizeof text, "<%llx.%x.%08x@", static_cast<unsigned long long>(std::time(nullptr)),
                counter.fetch_add(1) + 1, processSalt);
  return text + domain.substr(0, 200) + ">";
}

std::string shortEventDate(time_t when) {
  struct tm t {};
  if (!localTime(when, &t)) return std::string();
  char text[64];
  std::snprintf(text, sizeof text, "%.2d/%.2d/%.4d\r\nTime: %.2d:%.2d:%.2d", t.tm_mon + 1, t.tm_mday,
                t.tm_year + 1900, t.tm_hour, t.tm_min, t.tm_sec);
  return text;
}

std::string mailSubject(uint32_t concernLevel, uint32_t eventId) {
  std::string subject;
  switch (concernLevel) {
    case 0:
      subject = tableText("serverMailInfo", "Server Message");
      break;
    case 1:
      subject = tableText("serverMailWarn", "Server Message");
      break;
    case 2:
      subject = tableText("serverMailErr", "Server Message");
      break;
    case 4:
      subject = tableText("serverTestSubject", "Test Message");
      break;
    default:
      subject = "server";
  }
  if (eventId != 0) {
    char id[32];
    std::snprintf(id, sizeof id, " (Event ID: 0x%2X)", eventId);
    subject += id;
  }
  return subject;
}

bool recipientWants(std::string_view iwe, uint32_t concernLevel) {
  if (concernLevel == 4) return true;
  return concernLevel < 4 && concernLevel < iwe.size() && iwe[concernLevel] == '1';
}

std::string singleLine(std::string_view text, size_t maxLength) {
  std::string out(text.substr(0, maxLength));
  for (char& c : out) {
    if (isControl(static_cast<unsigned char>(c))) c = ' ';
  }
  return out;
}

bool usableMailAddress(std::string_view address) {
  if (address.empty() || address.size() > 320) return false;
  for (const char c : address) {
    if (isControl(static_cast<unsigned char>(c)) || c == '<' || c == '>') return false;
  }
  return true;
}

std::string smtpTransparent(std::string_view text) {
  const std::string lines = crlfLines(text);
  std::string out;
  out.reserve(lines.size() + 16);
  std::string_view rest = lines;
  for (;;) {
    const size_t end = rest.find("\r\n");
    appendLine(&out, rest.substr(0, end));
    if (end == std::string_view::npos) return out;
    out += "\r\n";
    rest.remove_prefix(end + 2);
  }
}

std::string composeMailData(const MailTexts& texts) {
  std::string mail;
  mail.reserve(texts.message.size() + texts.signature.size() + 512);
  // One Date field of RFC 5322 form: a second one ("DATE:Date: ...", split over two lines) makes
  // relays and filters refuse the mail.
  if (!texts.from.empty()) mail += "From: <" + singleLine(texts.from) + ">\r\n";
  mail += "TO:" + singleLine(texts.recipient) + "\r\n";
  mail += "SUBJECT:" + singleLine(texts.subject) + "\r\n";
  mail += "Date: " + singleLine(texts.longDate) + "\r\n";
  if (!texts.messageId.empty()) mail += "Message-ID: " + singleLine(texts.messageId) + "\r\n";
  mail += "MIME-Version: 1.0\r\nContent-Type: text/plain; charset=utf-8\r\nContent-Transfer-Encoding: 8bit\r\n";
  mail += "\r\n";
  mail += "Date: " + texts.shortDate + "\r\n";
  mail += "Source: " + texts.device + "\r\n\r\n";
  mail += "Message: " + texts.message;
  if (!texts.signature.empty()) mail += "\r\n\r\n\r\n" + texts.signature;
  std::string data = smtpTransparent(mail);
  data += "\r\n.\r\n";
  return data;
}
