// OpenSSL implementation of the client's TLS connection. The socket stays non-blocking: every
// step of OpenSSL that would block waits in poll() with the same single-wait limit and deadline
// as a plain connection, so a server that trickles its handshake cannot hang the client.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>
#include <poll.h>
#include <signal.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "qcli/posix_socket.h"
#include "qcli/tls_connection.h"

namespace qcli {

namespace {

// How much of the server's first answer is kept to tell why a handshake failed.
constexpr size_t kFirstBytesKept = 8;

// Keeps the first bytes the socket delivered to OpenSSL: a plain-HTTP server answers a
// ClientHello with "HTTP/1.1 400 ...", which tells the user more than OpenSSL's record error.
long keepFirstBytes(BIO* bio, int operation, const char* data, size_t, int, long, int ret, size_t* processed) {
  if (operation == (BIO_CB_READ | BIO_CB_RETURN) && ret > 0 && processed != nullptr && *processed > 0) {
    auto* first = reinterpret_cast<std::string*>(BIO_get_callback_arg(bio));
    if (first->size() < kFirstBytesKept) first->append(data, std::min(*processed, kFirstBytesKept - first->size()));
  }
  return ret;
}

// OpenSSL writes to its socket without MSG_NOSIGNAL: a server that closes while the request is
// still going out would end the client by SIGPIPE instead of a send error and its message. The
// client has no use for the signal; a handler someone else set is left alone.
void ignoreBrokenPipe() {
  struct sigaction current {};
  if (sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL) signal(SIGPIPE, SIG_IGN);
}

bool isAddress(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

std::string openSslReason() {
  const unsigned long code = ERR_peek_last_error();
  ERR_clear_error();
  if (code == 0) return "the connection ended";
  const char* reason = ERR_reason_error_string(code);
  return reason != nullptr ? reason : "error " + std::to_string(code);
}


constexpr char kHttpsHint[] = "       Check that the port is the front end's HTTPS port (--tls-cert, --tls-key).\n";

// Owns what a connection is made of until the connection itself takes it.
struct Session {
  int fd = -1;
  SSL_CTX* context = nullptr;
  SSL* ssl = nullptr;
  std::string firstBytes;  // before ssl (its callback points here)
  ~Session() {
    SSL_free(ssl);
    SSL_CTX_free(context);
    if (fd >= 0) ::close(fd);
  }
};

// Waits for what OpenSSL asked for after a call returned result. kReady to call again; otherwise
// why not, with *sslError set to OpenSSL's verdict.
SocketWait waitForOpenSsl(const Session& s, int result, Deadline deadline, int* sslError) {
  *sslError = SSL_get_error(s.ssl, result);
  if (*sslError == SSL_ERROR_WANT_READ) return waitForSocket(s.fd, POLLIN, deadline);
  if (*sslError == SSL_ERROR_WANT_WRITE) return waitForSocket(s.fd, POLLOUT, deadline);
  return SocketWait::kError;
}

class TlsConnection : public Connection {
 public:
  TlsConnection(std::unique_ptr<Session> session, Deadline deadline)
      : session_(std::move(session)), deadline_(deadline) {}
  ~TlsConnection() override {
    // The closing alert, best effort: the answer is complete or abandoned by now.
    SSL_shutdown(session_->ssl);
    ERR_clear_error();
  }
  TlsConnection(const TlsConnection&) = delete;
  TlsConnection& operator=(const TlsConnection&) = delete;

  bool sendAll(std::string_view bytes, int* code) override {
    while (!bytes.empty()) {
      size_t written = 0;
      errno = 0;
      const int result = SSL_write_ex(session_->ssl, bytes.data(), bytes.size(), &written);
      if (result == 1) {
        bytes.remove_prefix(written);
        continue;
      }
      int sslError = 0;
      const SocketWait wait = waitForOpenSsl(*session_, result, deadline_, &sslError);
      if (wait == SocketWait::kReady) continue;
      *code = failureCode(wait, sslError, EPIPE);
      return false;
    }
    return true;
  }

  Recv receive(char* buffer, size_t size, size_t* received, int* code) override {
    *received = 0;
    for (;;) {
      errno = 0;
      const int result = SSL_read_ex(session_->ssl, buffer, size, received);
      if (result == 1) return Recv::kData;
      int sslError = 0;
      const SocketWait wait = waitForOpenSsl(*session_, result, deadline_, &sslError);
      if (wait == SocketWait::kReady) continue;
      if (wait == SocketWait::kDeadline) return Recv::kDeadline;
      if (sslError == SSL_ERROR_ZERO_RETURN) return Recv::kClosed;
      // A close without the closing alert (or a reset): the data so far may be cut short, the
      // same as a reset of a plain connection.
      if ((sslError == SSL_ERROR_SYSCALL && (errno == 0 || errno == ECONNRESET)) || unexpectedEof()) {
        ERR_clear_error();
        return Recv::kReset;
      }
      *code = failureCode(wait, sslError, EPROTO);
      return Recv::kError;
    }
  }

 private:
  static int failureCode(SocketWait wait, int sslError, int protocolCode) {
    ERR_clear_error();
    if (wait == SocketWait::kDeadline) return ETIMEDOUT;
    if (wait == SocketWait::kTimeOut) return EAGAIN;
    if (sslError == SSL_ERROR_SYSCALL && errno != 0) return errno;
    return protocolCode;
  }

  static bool unexpectedEof() {
    const unsigned long code = ERR_peek_last_error();
    return code != 0 && ERR_GET_REASON(code) == SSL_R_UNEXPECTED_EOF_WHILE_READING;
  }

  std::unique_ptr<Session> session_;
  Deadline deadline_;
};

class TlsConnector {
 public:
  TlsConnector(TlsOptions options, std::string host, long port)
      : options_(std::move(options)), host_(std::move(host)), port_(port) {}

  std::unique_ptr<Connection> open(Deadline deadline, NetFailure* failure) {
    ignoreBrokenPipe();
    auto session = std::make_unique<Session>();
    session->fd = openTcpSocket(host_, port_, deadline, failure);
    if (session->fd < 0) return nullptr;
    failure->step = NetStep::kTls;
    if (!prepare(*session, &failure->message)) return nullptr;
    for (;;) {
      errno = 0;
      const int result = SSL_connect(session->ssl);
      if (result == 1) return std::make_unique<TlsConnection>(std::move(session), deadline);
      int sslError = 0;
      const SocketWait wait = waitForOpenSsl(*session, result, deadline, &sslError);
      if (wait == SocketWait::kReady) continue;
      failure->code = sslError == SSL_ERROR_SYSCALL ? errno : 0;
      failure->message = explain(*session, wait, sslError);
      ERR_clear_error();
      return nullptr;
    }
  }

 private:
  bool prepare(Session& s, std::string* message) {
    s.context = SSL_CTX_new(TLS_client_method());
    if (s.context == nullptr) {
      *message = "Error: TLS could not be set up: " + openSslReason() + ".\n";
      return false;
    }
    SSL_CTX_set_min_proto_version(s.context, TLS1_2_VERSION);
    const bool loaded = options_.caFile.empty()
                            ? SSL_CTX_set_default_verify_paths(s.context) == 1
                            : SSL_CTX_load_verify_locations(s.context, options_.caFile.c_str(), nullptr) == 1;
    if (!loaded) {
      *message = options_.caFile.empty()
                     ? "Error: TLS: the system's trusted certificates could not be loaded: " + openSslReason() + ".\n"
                     : "Error: TLS: cannot load the CA file " + options_.caFile + ": " + openSslReason() + ".\n" +
                           "       Check that --cafile names a readable PEM certificate file.\n";
      return false;
    }
    SSL_CTX_set_verify(s.context, SSL_VERIFY_PEER, nullptr);
    s.ssl = SSL_new(s.context);
    if (s.ssl == nullptr || SSL_set_fd(s.ssl, s.fd) != 1) {
      *message = "Error: TLS could not be set up: " + openSslReason() + ".\n";
      return false;
    }
    const bool address = isAddress(host_);
    // Names are sent for the server's choice of certificate; addresses may not be (RFC 6066).
    if (!address) SSL_set_tlsext_host_name(s.ssl, host_.c_str());
    X509_VERIFY_PARAM* param = SSL_get0_param(s.ssl);
    const int named = address ? X509_VERIFY_PARAM_set1_ip_asc(param, host_.c_str())
                              : X509_VERIFY_PARAM_set1_host(param, host_.c_str(), host_.size());
    if (named != 1) {
      *message = "Error: TLS: server, " + host_ + ", is not a name a certificate can be checked against.\n";
      ERR_clear_error();
      return false;
    }
    BIO* socketBio = SSL_get_rbio(s.ssl);
    BIO_set_callback_arg(socketBio, reinterpret_cast<char*>(&s.firstBytes));
    BIO_set_callback_ex(socketBio, keepFirstBytes);
    return true;
  }

  std::string explain(const Session& s, SocketWait wait, int sslError) const {
    if (wait == SocketWait::kDeadline || wait == SocketWait::kTimeOut) {
      const std::string why = wait == SocketWait::kDeadline ? std::string("the time limit passed")
                                                            : "no answer for " + std::to_string(kIoTimeoutSeconds) + " seconds";
      return "Error: TLS: no handshake with " + where() + ": " + why + ".\n" + kHttpsHint;
    }
    const long verdict = SSL_get_verify_result(s.ssl);
    if (verdict == X509_V_ERR_HOSTNAME_MISMATCH || verdict == X509_V_ERR_IP_ADDRESS_MISMATCH) {
      return "Error: TLS: the server's certificate does not name " + host_ + ".\n" +
             "       Check that --ip is a name or address that the certificate lists.\n";
    }
    if (verdict != X509_V_OK) {
      return "Error: TLS: the certificate of server, " + host_ + ", is not trusted: " +
             X509_verify_cert_error_string(verdict) + ".\n" +
             (options_.caFile.empty() ? "       Check that --cafile names the certificate the front end uses "
                                        "(or the authority that signed it).\n"
                                      : "       Check that the CA file holds the certificate the front end uses "
                                        "(or the authority that signed it).\n");
    }
    const std::string& first = s.firstBytes;
    if (first.starts_with("HTTP/")) {
      return "Error: TLS: " + where() + " answered in plain HTTP, not TLS.\n" + kHttpsHint;
    }
    // A TLS record begins with its type: 0x15 alert, 0x16 handshake.
    const bool record = !first.empty() && (first[0] == 0x15 || first[0] == 0x16);
    if (!record) {
      const std::string what = first.empty() ? std::string("it closed the connection") : "it answered in another protocol";
      return "Error: TLS: " + where() + " does not offer TLS: " + what + ".\n" + kHttpsHint;
    }
    const std::string reason = sslError == SSL_ERROR_SYSCALL && errno != 0 ? std::strerror(errno) : openSslReason();
    return "Error: TLS: the handshake with " + where() + " failed: " + reason + ".\n";
  }

  std::string where() const { return "server " + host_ + " port " + std::to_string(port_); }

  TlsOptions options_;
  std::string host_;
  long port_;
};

}  // namespace

Connector tlsConnector(TlsOptions options) {
  return [options](const std::string& host, long port, Deadline deadline, NetFailure* failure) {
    TlsConnector connector(options, host, port);
    return connector.open(deadline, failure);
  };
}

}  // namespace qcli
