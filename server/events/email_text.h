// Texts of the e-mail notifier: the escaped one-line form of the signature, the two date forms,
// the subject, the recipient filter and the DATA part of one mail, made safe for SMTP (line ends,
// transparency dots, line length) and for the header fields.
//
// Used by the e-mail settings pages (signature escaping) and the e-mail sender (everything else).
//
// Thread safety: pure functions over their arguments (subject lookups read the string tables,
// which are read-only while the server runs); any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>

// Stored form of a signature: '"' -> \", CR LF -> \r\n, lone CR -> \r, lone LF -> \r\n,
// '\' -> \\; every other character as it is. The result holds no line break.
std::string escapeSignature(std::string_view text);
// The reverse, before sending: \r -> CR, \n -> LF, \\ -> '\', \" -> '"'; any other backslash is
// copied as it is.
std::string unescapeSignature(std::string_view text);

// The time a mail reports: eventTime, or now when eventTime is 0 or all ones.
time_t emailEventTime(uint32_t eventTime, time_t now);
// Minutes between local time and UTC at now (east of Greenwich positive), daylight saving
// included: both broken-down forms of now are read back as local standard time and subtracted.
int utcOffsetMinutes(time_t now);
// "Mon, 7 Jan 2008\r\nTime: 09:05:03 +0100" in local time; the offset is that of now.
std::string longEventDate(time_t when, time_t now);
// "01/07/2008\r\nTime: 09:05:03" in local time.
std::string shortEventDate(time_t when);

// Subject of a mail at concernLevel: the db/strings.db text of "serverMailInfo" (0),
// "serverMailWarn" (1), "serverMailErr" (2) or "serverTestSubject" (4), "Server Message" or
// "Test Message" when the text is missing, "server" for any other level; then
// " (Event ID: 0x%2X)" when eventId is nonzero.
std::string mailSubject(uint32_t concernLevel, uint32_t eventId);

// True when a recipient with this IWE filter gets a record of concernLevel: always at level 4;
// below 4 when the filter has '1' at the level's position; never above 4.
bool recipientWants(std::string_view iwe, uint32_t concernLevel);

// A header field or command argument made single-line: every CR, LF or other control character
// becomes a blank, and the text is cut to at most maxLength bytes.
std::string singleLine(std::string_view text, size_t maxLength = 900);
// True when an address can go into "RCPT TO:<...>" and "TO:" unchanged: not empty, no control
// character, no angle bracket, at most 320 bytes.
bool usableMailAddress(std::string_view address);

// RFC 5322 date of when in local time with that moment's UTC offset:
// "Mon, 7 Jan 2008 09:05:03 +0100".
std::string rfc5322Date(time_t when);
// A new message identifier "<time.count.random@host>", unique for this process and host.
std::string newMessageId(const std::string& host);

// The pieces of one mail.
struct MailTexts {
  std::string from;       // sender address, single-line (mailFromAddress)
  std::string messageId;  // as newMessageId
  std::string subject;    // header field; made single-line here
  std::string recipient;  // header field; made single-line here
  std::string longDate;   // as rfc5322Date: the event time in the Date header
  std::string shortDate;  // as shortEventDate
  std::string device;
  std::string message;
  std::string signature;  // unescaped; empty for none
};

// Longest line sent inside DATA, without its CR LF (RFC 5322 allows 998; room is left for the
// transparency dot).
inline constexpr size_t kMaxMailLineLength = 990;

// The DATA part of one mail: header lines (From, TO, SUBJECT, Date, Message-ID and the MIME lines
// of UTF-8 plain text), an empty line, the short date, the source, the message and the signature
// (after three line ends) - with every line end made
// CR LF, lines longer than kMaxMailLineLength folded, every line that starts with '.' given a
// second '.', and the closing "\r\n.\r\n".
std::string composeMailData(const MailTexts& texts);
// The transparency step alone: CR LF line ends, folding and dot-stuffing of text.
std::string smtpTransparent(std::string_view text);
