// GnuTLS's check of the TLS settings; see tls_settings.h.
#include <gnutls/gnutls.h>

#include "frontend/tls_settings.h"

bool tlsAvailable() { return true; }

bool tlsSettingsUsable(const std::string& certificate, const std::string& key, const std::string& priorities) {
  gnutls_certificate_credentials_t credentials = nullptr;
  if (gnutls_certificate_allocate_credentials(&credentials) != GNUTLS_E_SUCCESS) return false;
  gnutls_datum_t cert{reinterpret_cast<unsigned char*>(const_cast<char*>(certificate.data())),
                      static_cast<unsigned>(certificate.size())};
  gnutls_datum_t privateKey{reinterpret_cast<unsigned char*>(const_cast<char*>(key.data())),
                            static_cast<unsigned>(key.size())};
  const bool pair = gnutls_certificate_set_x509_key_mem2(credentials, &cert, &privateKey, GNUTLS_X509_FMT_PEM,
                                                         nullptr, 0) >= 0;
  gnutls_certificate_free_credentials(credentials);
  gnutls_priority_t cache = nullptr;
  const char* error = nullptr;
  const bool known = gnutls_priority_init(&cache, priorities.c_str(), &error) == GNUTLS_E_SUCCESS;
  if (known) gnutls_priority_deinit(cache);
  return pair && known;
}
