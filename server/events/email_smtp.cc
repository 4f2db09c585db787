// SMTP client of the e-mail notifier; see email_smtp.h.
#include "server/events/email_smtp.h"

#include <cctype>
#include <chrono>
#include <cstdio>

#include "common/debug.h"
#include "server/events/email_text.h"

namespace {

// A reply longer than this is not SMTP; the connection is given up.
constexpr size_t kMaxPendingReply = 64 * 1024;
constexpr size_t kMaxShownReply = 300;
constexpr uint32_t kDebugSmtp = 0x8014;

// The reply code at the start of line: its leading decimal digits, 0 when it has none.
int leadingCode(std::string_view line) {
  int code = 0;
  for (size_t i = 0; i < line.size() && i < 9 && line[i] >= '0' && line[i] <= '9'; ++i) {
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

std::string upper(std::string_view text) {
  std::string out(text);
  for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

}  // namespace

std::string encodeBase64(std::string_view data) {
  static constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 2 < data.size(); i += 3) {
    const uint32_t n = (static_cast<uint8_t>(data[i]) << 16) | (static_cast<uint8_t>(data[i + 1]) << 8) |
                       static_cast<uint8_t>(data[i + 2]);
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += kAlphabet[(n >> 6) & 63];
    out += kAlphabet[n & 63];
  }
  if (i < data.size()) {
    uint32_t n = static_cast<uint8_t>(data[i]) << 16;
    if (i + 1 < data.size()) n |= static_cast<uint8_t>(data[i + 1]) << 8;
    out += kAlphabet[(n >> 18) & 63];
    out += kAlphabet[(n >> 12) & 63];
    out += i + 1 < data.size() ? kAlphabet[(n >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

SmtpClient::SmtpClient(int replyTimeoutMs) : replyTimeoutMs_(replyTimeoutMs > 0 ? replyTimeoutMs : 1) {}

SmtpClient::~SmtpClient() { drop(); }

SmtpOpen SmtpClient::connect(const std::string& host, uint16_t port, const SmtpOptions& options) {
  drop();
  lastReply_.clear();
  if (host.empty() || connection_.connect(host, port, replyTimeoutMs_) != StreamStatus::kOk) {
    debugPrint(kDebugSmtp, "email: cannot connect to %s port %u\n", host.c_str(), port);
    lastReply_ = connection_.failure();
    return SmtpOpen::kConnectFailed;
  }
  const SmtpOpen result = greetAndSecure(host, options);
  if (result != SmtpOpen::kOk) {
    if (lastReply_.empty()) lastReply_ = connection_.failure();
    if (isOpen()) close();
  }
  return result;
}

SmtpOpen SmtpClient::greetAndSecure(const std::string& host, const SmtpOptions& options) {
  if (options.security == SmtpSecurity::kTls) {
    const StreamStatus tls = connection_.startTls(host, options.tls, replyTimeoutMs_);
    if (tls == StreamStatus::kCertificateRejected) return SmtpOpen::kCertificateRejected;
    if (tls != StreamStatus::kOk) return SmtpOpen::kTlsFailed;
  }
  const int greeting = readReply();
  if (greeting == 0) return SmtpOpen::kNoAnswer;
  if (greeting != 220) return SmtpOpen::kRefused;
  const bool plainSession = options.security == SmtpSecurity::kNone && options.user.empty();
  if (plainSession) {
    const int helo = command(std::string("HELO ") + kSmtpHeloName + "\r\n");
    return helo == 250 ? SmtpOpen::kOk : helo == 0 ? SmtpOpen::kNoAnswer : SmtpOpen::kRefused;
  }
  int code = ehlo();
  if (code != 250) return code == 0 ? SmtpOpen::kNoAnswer : SmtpOpen::kRefused;
  if (options.security == SmtpSecurity::kStartTls) {
    if (!offers("STARTTLS")) {
      lastReply_ = "the server does not offer STARTTLS";
      return SmtpOpen::kNoStartTls;
    }
    code = command("STARTTLS\r\n");
    if (code != 220) return code == 0 ? SmtpOpen::kNoAnswer : SmtpOpen::kRefused;
    // Anything the server sent ahead of the handshake is not to be trusted (RFC 3207).
    received_.clear();
    const StreamStatus tls = connection_.startTls(host, options.tls, replyTimeoutMs_);
    if (tls == StreamStatus::kCertificateRejected) return SmtpOpen::kCertificateRejected;
    if (tls != StreamStatus::kOk) return SmtpOpen::kTlsFailed;
    code = ehlo();
    if (code != 250) return code == 0 ? SmtpOpen::kNoAnswer : SmtpOpen::kRefused;
  }
  return options.user.empty() ? SmtpOpen::kOk : authenticate(options);
}

SmtpOpen SmtpClient::authenticate(const SmtpOptions& options) {
  // Credentials never travel in clear, whatever the server offers.
  if (!connection_.isTls()) {
    lastReply_ = "credentials are only sent over TLS: choose STARTTLS or TLS";
    return SmtpOpen::kAuthUnavailable;
  }
  int code = 0;
  if (offers("AUTH PLAIN") || offers("AUTH=PLAIN")) {
    const std::string token = encodeBase64(std::string(1, '\0') + options.user + '\0' + options.password);
    code = command("AUTH PLAIN " + token + "\r\n");
  } else if (offers("AUTH LOGIN") || offers("AUTH=LOGIN")) {
    code = command("AUTH LOGIN\r\n");
    if (code == 334) code = command(encodeBase64(options.user) + "\r\n");
    if (code == 334) code = command(encodeBase64(options.password) + "\r\n");
  } else {
    lastReply_ = "the server offers neither AUTH PLAIN nor AUTH LOGIN";
    return SmtpOpen::kAuthUnavailable;
  }
  if (code == 235) return SmtpOpen::kOk;
  return code == 0 ? SmtpOpen::kNoAnswer : SmtpOpen::kAuthRefused;
}

int SmtpClient::ehlo() {
  const int code = command(std::string("EHLO ") + kSmtpHeloName + "\r\n");
  extensions_.clear();
  if (code != 250) return code;
  // Every line but the first names an extension: "250-STARTTLS", "250 AUTH PLAIN LOGIN".
  size_t start = replyLines_.find('\n');
  while (start != std::string::npos && start + 1 < replyLines_.size()) {
    const size_t end = replyLines_.find('\n', start + 1);
    std::string_view line(replyLines_.data() + start + 1,
                          (end == std::string::npos ? replyLines_.size() : end) - start - 1);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.remove_suffix(1);
    if (line.size() > 4) extensions_ += upper(line.substr(4)) + "\n";
    start = end;
  }
  return code;
}

bool SmtpClient::offers(std::string_view extension) const {
  // An "AUTH" line lists several mechanisms: "AUTH LOGIN PLAIN" offers both.
  size_t start = 0;
  while (start < extensions_.size()) {
    const size_t end = extensions_.find('\n', start);
    std::string_view line(extensions_.data() + start, end - start);
    if (line == extension) return true;
    const size_t blank = extension.find(' ');
    if (blank != std::string_view::npos && line.substr(0, blank + 1) == extension.substr(0, blank + 1)) {
      std::string_view words = line.substr(blank + 1);
      const std::string_view wanted = extension.substr(blank + 1);
      while (!words.empty()) {
        const size_t next = words.find(' ');
        if (words.substr(0, next) == wanted) return true;
        if (next == std::string_view::npos) break;
        words.remove_prefix(next + 1);
      }
    }
    start = end + 1;
  }
  return false;
}

int SmtpClient::sendMail(const std::string& from, const std::string& to, const std::string& data) {
  if (!usableMailAddress(to)) {
    debugPrint(kDebugSmtp,
               "email: recipient address refused: empty, too long or holding control characters\n");
    return 2;
  }
  if (!isOpen()) return 1;
  if (command("MAIL FROM:<" + from + ">\r\n") != 250) return 1;
  if (command("RCPT TO:<" + to + ">\r\n") != 250 || command("DATA\r\n") != 354) {
    // The server still holds the sender of this transaction; without a reset it would refuse
    // the next MAIL on this connection. The refusal stays the reply to report.
    const std::string refusal = lastReply_;
    if (isOpen()) command("RSET\r\n");
    lastReply_ = refusal;
    return 1;
  }
  if (!sendAll(data)) return 1;
  return readReply() == 250 ? 0 : 1;
}

void SmtpClient::close() {
  if (!isOpen()) return;
  const std::string kept = lastReply_;
  command("QUIT\r\n");
  lastReply_ = kept;
  drop();
}

int SmtpClient::command(std::string_view line) {
  if (!sendAll(line)) return 0;
  return readReply();
}

bool SmtpClient::sendAll(std::string_view bytes) {
  if (!isOpen()) return false;
  if (connection_.sendAll(bytes, replyTimeoutMs_) != StreamStatus::kOk) {
    debugPrint(kDebugSmtp, "email: send to the SMTP server failed\n");
    lastReply_ = connection_.failure();
    drop();
    return false;
  }
  return true;
}

bool SmtpClient::takeReply(int* code) {
  size_t start = 0;
  for (;;) {
    const size_t end = received_.find('\n', start);
    if (end == std::string::npos) {
      replyLines_.append(received_, 0, start);
      received_.erase(0, start);
      return false;
    }
    std::string_view line(received_.data() + start, end - start);
    if (line.size() >= 4 && line[3] == '-') {  // "250-..." continues the reply
      start = end + 1;
      continue;
    }
    *code = leadingCode(line);
    replyLines_.append(received_, 0, end + 1);
    lastReply_ = singleLine(line, kMaxShownReply);
    while (!lastReply_.empty() && lastReply_.back() == ' ') lastReply_.pop_back();
    received_.erase(0, end + 1);
    return true;
  }
}

int SmtpClient::readReply() {
  int code = 0;
  replyLines_.clear();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
  while (isOpen() && !takeReply(&code)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || received_.size() + replyLines_.size() > kMaxPendingReply ||
        connection_.receive(&received_, static_cast<int>(left.count())) != StreamStatus::kOk) {
      debugPrint(kDebugSmtp, "email: no complete reply from the SMTP server\n");
      if (connection_.isOpen()) lastReply_ = "no complete reply from the server";
      else lastReply_ = connection_.failure();
      drop();
      break;
    }
  }
  std::printf("%d ", code);
  return code;
}

void SmtpClient::drop() {
  connection_.close();
  received_.clear();
}
