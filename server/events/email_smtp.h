// SMTP client of the e-mail notifier: one connection to the mail server (greeting, HELO or EHLO,
// STARTTLS or implicit TLS, AUTH PLAIN or LOGIN), any number of mail transactions on it, and
// QUIT. Every wait for the server is bounded by the reply time-out and ends early when the server
// stops, so the "email" channel thread (or a test on a request thread) never hangs on a silent or
// vanished peer; a connection that broke (closed by the peer, timed out, garbled) is closed at
// once and the client reports it as no longer open.
//
// Without TLS and credentials the client speaks as it always did (HELO, plain text). With
// STARTTLS it refuses to go on in clear when the server does not offer it; credentials are only
// ever sent inside TLS.
//
// Thread safety: one SmtpClient belongs to one thread.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "server/events/stream_connection.h"
#include "server/events/tls_channel.h"

// The name the client gives in HELO and EHLO.
inline constexpr const char kSmtpHeloName[] = "focalpoint.Server";

enum class SmtpSecurity { kNone, kStartTls, kTls };

struct SmtpOptions {
  SmtpSecurity security = SmtpSecurity::kNone;
  std::string user;  // empty: no AUTH
  std::string password;
  TlsSettings tls;
};

// How opening a connection ended.
enum class SmtpOpen {
  kOk,
  kConnectFailed,        // no TCP connection
  kNoAnswer,             // greeting or a reply did not come in time, or the peer hung up
  kRefused,              // greeting, HELO/EHLO or STARTTLS refused (lastReply() holds the answer)
  kNoStartTls,           // STARTTLS required but not offered: nothing was sent in clear after EHLO
  kTlsFailed,            // the TLS handshake failed
  kCertificateRejected,  // the server's certificate is not trusted or does not name it
  kAuthUnavailable,      // credentials given, but the server offers neither PLAIN nor LOGIN
  kAuthRefused,          // the server refused the credentials
};

class SmtpClient {
 public:
  explicit SmtpClient(int replyTimeoutMs);
  ~SmtpClient();  // closes the socket without QUIT
  SmtpClient(const SmtpClient&) = delete;
  SmtpClient& operator=(const SmtpClient&) = delete;

  // Connects to host (name or dotted address) on port and readies the session as options say.
  // Anything but kOk leaves no connection open.
  SmtpOpen connect(const std::string& host, uint16_t port, const SmtpOptions& options);
  // connect without TLS or credentials; true on kOk.
  bool open(const std::string& host, uint16_t port) { return connect(host, port, SmtpOptions{}) == SmtpOpen::kOk; }
  bool isOpen() const { return connection_.isOpen(); }

  // One mail transaction: MAIL FROM:<from> (250), RCPT TO:<to> (250), DATA (354), data (250).
  // data is the complete DATA part with its closing "\r\n.\r\n" (composeMailData). A step that
  // the server refuses after it took MAIL is followed by RSET, so that the next transaction on
  // this connection starts clean. from must be single-line (the caller builds it).
  // Returns 0 when the server took the mail, 1 when a step was refused or the connection failed,
  // 2 when to is not a usable address (nothing is sent).
  int sendMail(const std::string& from, const std::string& to, const std::string& data);

  // Sends QUIT, reads its reply (221 expected, not required) and closes. Nothing when not open.
  void close();

  // The last complete reply the server gave (its last line, control characters removed, at most
  // 300 bytes), or what failed on the connection when no reply came; for result pages.
  const std::string& lastReply() const { return lastReply_; }
  // What failed on the connection itself (TLS or certificate details included).
  const std::string& connectionFailure() const { return connection_.failure(); }

 private:
  SmtpOpen greetAndSecure(const std::string& host, const SmtpOptions& options);
  SmtpOpen authenticate(const SmtpOptions& options);
  // Sends EHLO and collects the offered extensions (upper case, one per line) into
  // extensions_. The reply code.
  int ehlo();
  bool offers(std::string_view extension) const;
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
  StreamConnection connection_;
  std::string received_;     // bytes received after the last complete reply
  std::string replyLines_;   // the lines of the reply being read, for EHLO
  std::string extensions_;   // EHLO keywords, "\n"-separated
  std::string lastReply_;
};

// Standard Base64 (RFC 4648, "=" padding) for the SMTP AUTH exchange.
std::string encodeBase64(std::string_view data);
