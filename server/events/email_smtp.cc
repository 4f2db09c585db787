// SMTP client of the e-mail notifier; see email_smtp.h.
#include "server/events/email_smtp.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "common/debug.h"
#include "common/thread_manager.h"
#include "server/events/email_socket_wait.h"
#include "server/events/email_text.h"
#include "server/server_state.h"

namespace {

constexpr size_t kReceiveBuffer = 1024;
// Failed receives in a row after which a reply is given up.
constexpr int kReceiveTries = 5;
// A reply line longer than this is not SMTP; the connection is given up.
constexpr size_t kMaxPendingReply = 64 * 1024;
// Slice of a wait, so that a stopping server is noticed.
constexpr int kWaitSliceMs = 100;
constexpr uint32_t kDebugSmtp = 0x8014;

bool keepWaiting() { return isServerRunning() && !threadStopRequested(); }

// The reply code at the start of line: its leading decimal digits, 0 when it has none.
int leadingCode(std::string_view line) {
  int code = 0;
  for (size_t i = 0; i < line.size() && i < 9 && line[i] >= '0' && line[i] <= '9'; ++i) {
    code = code * 10 + (line[i] - '0');
  }
  return code;
}

}  // namespace

SmtpClient::SmtpClient(int replyTimeoutMs) : replyTimeoutMs_(replyTimeoutMs > 0 ? replyTimeoutMs : 1) {}

SmtpClient::~SmtpClient() { drop(); }

bool SmtpClient::open(const std::string& host, uint16_t port) {
  drop();
  if (host.empty()) return false;
  const uint32_t status = connectToHost(host.c_str(), nullptr, port, &socket_, kTcpSpecifier);
  if (status != kNetNoError || socket_ == kInvalidSocket) {
    debugPrint(kDebugSmtp, "email: cannot connect to %s port %u: status 0x%X\n", host.c_str(), port, status);
    socket_ = kInvalidSocket;
    return false;
  }
  setSocketSendTimeout(socket_, replyTimeoutMs_);
  received_.clear();
  if (readReply() != 220) {
    drop();
    return false;
  }
  if (command(std::string("HELO ") + kSmtpHeloName + "\r\n") != 250) {
    close();
    return false;
  }
  return true;
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
    // the next MAIL on this connection.
    if (isOpen()) command("RSET\r\n");
    return 1;
  }
  if (!sendAll(data)) return 1;
  return readReply() == 250 ? 0 : 1;
}

void SmtpClient::close() {
  if (!isOpen()) return;
  command("QUIT\r\n");
  drop();
}

int SmtpClient::command(std::string_view line) {
  if (!sendAll(line)) return 0;
  return readReply();
}

bool SmtpClient::sendAll(std::string_view bytes) {
  if (!isOpen()) return false;
  if (writeToSocket(socket_, bytes.data(), bytes.size()) != 0) {
    debugPrint(kDebugSmtp, "email: send to the SMTP server failed\n");
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
      received_.erase(0, start);  // continuation lines already read are of no further use
      return false;
    }
    std::string_view line(received_.data() + start, end - start);
    if (line.size() >= 4 && line[3] == '-') {  // "250-..." continues the reply
      start = end + 1;
      continue;
    }
    *code = leadingCode(line);
    received_.erase(0, end + 1);
    return true;
  }
}

int SmtpClient::readReply() {
  int code = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(replyTimeoutMs_);
  int failedReceives = 0;
  while (isOpen() && !takeReply(&code)) {
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0 || !keepWaiting() || received_.size() > kMaxPendingReply) {
      debugPrint(kDebugSmtp, "email: no complete reply from the SMTP server\n");
      drop();
      break;
    }
    const SocketWait wait =
        waitForSocketData(socket_, std::min<int>(kWaitSliceMs, static_cast<int>(left.count())));
    if (wait == SocketWait::kTimedOut) continue;
    char buffer[kReceiveBuffer];
    size_t received = 0;
    if (wait == SocketWait::kFailed || readFromSocket(socket_, buffer, sizeof buffer, &received) != 0) {
      if (++failedReceives < kReceiveTries) continue;
      drop();
      break;
    }
    failedReceives = 0;
    if (received == 0) {  // the server closed the connection
      drop();
      break;
    }
    received_.append(buffer, received);
  }
  std::printf("%d ", code);
  return code;
}

void SmtpClient::drop() {
  closeSocket(&socket_);
  received_.clear();
}
