// OpenSSL back end of tls_channel.h: TLS 1.2 or newer, the system's certificate store or a given
// CA file, host name (or IP address) checks, SNI for names.
#include <arpa/inet.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include "server/events/tls_channel.h"

namespace {

std::string lastOpenSslError(const char* fallback) {
  const unsigned long code = ERR_get_error();
  ERR_clear_error();
  if (code == 0) return fallback;
  char text[256];
  ERR_error_string_n(code, text, sizeof text);
  return text;
}

bool isAddressText(const std::string& host) {
  unsigned char buffer[16];
  return inet_pton(AF_INET, host.c_str(), buffer) == 1 || inet_pton(AF_INET6, host.c_str(), buffer) == 1;
}

class OpenSslChannel : public TlsChannel {
 public:
  OpenSslChannel(SSL_CTX* context, SSL* ssl, bool verify) : context_(context), ssl_(ssl), verify_(verify) {}
  ~OpenSslChannel() override {
    SSL_free(ssl_);
    SSL_CTX_free(context_);
  }

  Io handshake() override { return outcome(SSL_connect(ssl_)); }

  Io write(const char* data, size_t size, size_t* written) override {
    *written = 0;
    const int n = SSL_write_ex(ssl_, data, size, written);
    return n == 1 ? Io::kDone : outcome(n);
  }

  Io read(char* buffer, size_t size, size_t* got) override {
    *got = 0;
    const int n = SSL_read_ex(ssl_, buffer, size, got);
    return n == 1 ? Io::kDone : outcome(n);
  }

  bool pending() const override { return SSL_pending(ssl_) > 0; }

  void shutdown() override {
    if (!failed_) SSL_shutdown(ssl_);
    ERR_clear_error();
  }

  bool certificateRejected() const override { return certificateRejected_; }
  std::string failureText() const override { return failure_; }

 private:
  Io outcome(int result) {
    if (result == 1) return Io::kDone;
    switch (SSL_get_error(ssl_, result)) {
      case SSL_ERROR_WANT_READ:
        return Io::kWantRead;
      case SSL_ERROR_WANT_WRITE:
        return Io::kWantWrite;
      case SSL_ERROR_ZERO_RETURN:
        return Io::kClosed;
      default:
        break;
    }
    failed_ = true;
    const long verdict = SSL_get_verify_result(ssl_);
    if (verify_ && verdict != X509_V_OK) {
      certificateRejected_ = true;
      failure_ = std::string("certificate rejected: ") + X509_verify_cert_error_string(verdict);
      ERR_clear_error();
    } else {
      failure_ = lastOpenSslError("the TLS connection failed");
    }
    return Io::kFailed;
  }

  SSL_CTX* context_;
  SSL* ssl_;
  bool verify_;
  bool failed_ = false;
  bool certificateRejected_ = false;
  std::string failure_;
};

}  // namespace

std::unique_ptr<TlsChannel> createTlsChannel(SocketHandle socket, const std::string& host,
                                             const TlsSettings& settings, std::string* error) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  if (context == nullptr) {
    *error = lastOpenSslError("no TLS context");
    return nullptr;
  }
  SSL_CTX_set_min_proto_version(context, TLS1_2_VERSION);
  if (settings.verify) {
    const bool loaded = settings.caFile.empty()
                            ? SSL_CTX_set_default_verify_paths(context) == 1
                            : SSL_CTX_load_verify_locations(context, settings.caFile.c_str(), nullptr) == 1;
    if (!loaded) {
      *error = "the certificate authorities could not be loaded" +
               (settings.caFile.empty() ? std::string() : " from " + settings.caFile);
      ERR_clear_error();
      SSL_CTX_free(context);
      return nullptr;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER, nullptr);
  }
  SSL* ssl = SSL_new(context);
  if (ssl == nullptr || SSL_set_fd(ssl, socket) != 1) {
    *error = lastOpenSslError("no TLS session");
    SSL_free(ssl);
    SSL_CTX_free(context);
    return nullptr;
  }
  const bool address = isAddressText(host);
  if (!address) SSL_set_tlsext_host_name(ssl, host.c_str());
  if (settings.verify) {
    X509_VERIFY_PARAM* param = SSL_get0_param(ssl);
    const int named = address ? X509_VERIFY_PARAM_set1_ip_asc(param, host.c_str())
                              : X509_VERIFY_PARAM_set1_host(param, host.c_str(), host.size());
    if (named != 1) {
      *error = "the host name cannot be checked against a certificate";
      SSL_free(ssl);
      SSL_CTX_free(context);
      return nullptr;
    }
  }
  return std::make_unique<OpenSslChannel>(context, ssl, settings.verify);
}
