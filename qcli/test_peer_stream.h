// Test-only: how a test peer reads and writes one accepted connection. Plain bytes by default;
// on Linux, with QCLI_TEST_PEERS_TLS=1 in the environment, a TLS server session with a
// self-signed certificate for 127.0.0.1 made by openssl once per test program, and the client
// runs of the test helpers are given --tls settings for it. So the same byte-exact tests run over
// plain HTTP and over HTTPS. Never linked into the program.
//
// Thread safety: testCertificate() may be called from any thread; a stream belongs to one.
#pragma once

#include <poll.h>
#include <sys/socket.h>

#include <cstdlib>
#include <map>
#include <memory>
#include <string>

#ifdef _WIN32
inline void closePeerSocket(int fd) { closesocket(static_cast<SOCKET>(fd)); }
#else
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/time.h>
#include <unistd.h>

#include <filesystem>
#include <mutex>

inline void closePeerSocket(int fd) { ::close(fd); }
#endif

namespace qcli::testing {

class PeerStream {
 public:
  explicit PeerStream(int fd) : fd_(fd) {}
  virtual ~PeerStream() { closePeerSocket(fd_); }
  PeerStream(const PeerStream&) = delete;
  PeerStream& operator=(const PeerStream&) = delete;

  // Bytes read (> 0), or 0 when the connection closed, failed or stayed silent for 10 s.
  virtual long read(char* buffer, size_t size) {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, 10000) <= 0) return 0;
    const long n = static_cast<long>(::recv(fd_, buffer, size, 0));
    return n > 0 ? n : 0;
  }
  virtual void write(const std::string& bytes) {
    size_t sent = 0;
    while (sent < bytes.size()) {
      const long n = static_cast<long>(::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL));
      if (n <= 0) return;
      sent += static_cast<size_t>(n);
    }
  }

 protected:
  int fd_;
};

#ifdef _WIN32
inline bool peersSpeakTls() { return false; }
inline std::unique_ptr<PeerStream> openPeerStream(int fd, bool) { return std::make_unique<PeerStream>(fd); }
inline void addPeerTlsSettings(std::map<std::string, std::string>*) {}
#else

struct TestCertificate {
  std::string certificate;  // PEM; self-signed, so also the CA file the client trusts
  std::string key;
  std::string error;        // what openssl said when it failed
};

// Makes a self-signed certificate naming IP 127.0.0.1 and DNS kestrova.test (not localhost) in
// folder. The error text is empty on success.
inline TestCertificate makeTestCertificate(const std::filesystem::path& folder) {
  TestCertificate made;
  made.certificate = (folder / "cert.pem").string();
  made.key = (folder / "key.pem").string();
  const std::string log = (folder / "openssl.log").string();
  const std::string command =
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 -subj "
      "'/CN=Kestrova test front end' -addext 'subjectAltName=IP:127.0.0.1,DNS:kestrova.test' -keyout '" +
      made.key + "' -out '" + made.certificate + "' >'" + log + "' 2>&1";
  if (std::system(command.c_str()) != 0) made.error = "openssl failed; see " + log;
  return made;
}

// One certificate per test program, in a folder of its own that is left for the system's
// temporary-file clean-up (the test program may still use it while exiting).
inline const TestCertificate& testCertificate() {
  static std::once_flag once;
  static TestCertificate made;
  std::call_once(once, [] {
    std::string pattern = (std::filesystem::temp_directory_path() / "qcli-tls-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
      made.error = "no temporary folder";
      return;
    }
    made = makeTestCertificate(pattern);
  });
  return made;
}

inline bool peersSpeakTls() {
  const char* value = std::getenv("QCLI_TEST_PEERS_TLS");
  return value != nullptr && std::string(value) == "1";
}

// A TLS server session over an accepted blocking socket. A failed handshake reads as a closed
// connection, so a peer records nothing of a client that gave up on it.
class TlsPeerStream : public PeerStream {
 public:
  explicit TlsPeerStream(int fd) : PeerStream(fd) {
    timeval limit{10, 0};
    setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
    setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
    const TestCertificate& made = testCertificate();
    context_ = SSL_CTX_new(TLS_server_method());
    if (context_ == nullptr || !made.error.empty() ||
        SSL_CTX_use_certificate_file(context_, made.certificate.c_str(), SSL_FILETYPE_PEM) != 1 ||
        SSL_CTX_use_PrivateKey_file(context_, made.key.c_str(), SSL_FILETYPE_PEM) != 1) {
      return;
    }
    ssl_ = SSL_new(context_);
    if (ssl_ != nullptr && SSL_set_fd(ssl_, fd_) == 1) ready_ = SSL_accept(ssl_) == 1;
    ERR_clear_error();
  }
  ~TlsPeerStream() override {
    if (ready_) SSL_shutdown(ssl_);
    SSL_free(ssl_);
    SSL_CTX_free(context_);
    ERR_clear_error();
  }

  long read(char* buffer, size_t size) override {
    size_t got = 0;
    if (!ready_ || SSL_read_ex(ssl_, buffer, size, &got) != 1) return 0;
    return static_cast<long>(got);
  }
  void write(const std::string& bytes) override {
    size_t written = 0;
    if (ready_ && !bytes.empty()) ready_ = SSL_write_ex(ssl_, bytes.data(), bytes.size(), &written) == 1;
  }

 private:
  SSL_CTX* context_ = nullptr;
  SSL* ssl_ = nullptr;
  bool ready_ = false;
};

inline std::unique_ptr<PeerStream> openPeerStream(int fd, bool tls) {
  if (tls) return std::make_unique<TlsPeerStream>(fd);
  return std::make_unique<PeerStream>(fd);
}

// The client settings that make a test's client run trust and use the TLS peers; settings the
// test gave itself are kept.
inline void addPeerTlsSettings(std::map<std::string, std::string>* env) {
  if (!peersSpeakTls()) return;
  env->emplace("QCLI_SERVER_TLS", "yes");
  env->emplace("QCLI_CA_FILE", testCertificate().certificate);
}
#endif

}  // namespace qcli::testing
