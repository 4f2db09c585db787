// SMTP client of the e-mail notifier: one connection to the mail server (greeting, HELO), any
// number of mail transactions on it, and QUIT. Every wait for the server is bounded by the reply
// time-out and ends early when the server stops, so the "email" channel thread never hangs on a
// silent or vanished peer; a connection that broke (closed by the peer, timed out, garbled) is
// closed at once and the client reports it as no longer open.
//
// Thread safety: one SmtpClient belongs to one thread (the "email" channel thread).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/net/socket_layer.h"

// The name the client gives in HELO.
inline constexpr const char kSmtpHeloName[] = "focalpoint.Server";

class SmtpClient {
 public:
  explicit SmtpClient(int replyTimeoutMs);
  ~SmtpClient();  // closes the socket without QUIT
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Connects to host (name or dotted address) on port over TCP, reads the greeting (220) and
  // sends "HELO focalpoint.Server" (250). False, with no connection left open, otherwise.
  bool open(const std::string& host, uint16_t port);
  bool isOpen() const { return socket_ != kInvalidSocket; }

  // One mail transaction: MAIL FROM:<from> (250), RCPT TO:<to> (250), DATA (354), data (250).
  // data is the complete DATA part with its closing "\r\n.\r\n" (composeMailData). A step that
  // the server refuses after it took MAIL is followed by RSET, so that the next transaction on
  // this connection starts clean. from must be single-line (the caller builds it).
  // Returns 0 when the server took the mail, 1 when a step was refused or the connection failed,
  // 2 when to is not a usable address (nothing is sent).
  int sendMail(const std::string& from, const std::string& to, const std::string& data);

  // Sends QUIT, reads its reply (221 expected, not required) and closes. Nothing when not open.
  void close();

 private:
  // Sends line and reads the reply; the reply code, or 0 when the connection failed (it is then
  // closed).
  int command(std::string_view line);
  // The code of the next complete reply (multi-line replies read to their last line), printed
  // on the console followed by a blank; 0 when none came (the connection is then closed).
  int readReply();
  // Takes the next complete reply out of received_; false when it has none yet.
  bool takeReply(int* code);
  bool sendAll(std::string_view bytes);
  void drop();  // closes without QUIT

  int replyTimeoutMs_;
  SocketHandle socket_ = kInvalidSocket;
  std::string received_;  // bytes received after the last complete reply
};
