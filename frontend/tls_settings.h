// Whether this build can serve HTTPS, and the start-up check of the TLS settings. The Linux build
// has GnuTLS (tls_settings_gnutls.cc); the Windows build has no TLS library
// (tls_settings_none_win.cc): there HTTPS is refused at start, never served as plain HTTP.
//
// Thread safety: any thread.
#pragma once

#include <string>

// False where the build has no TLS library; the text for the refusal then.
bool tlsAvailable();
inline constexpr char kTlsUnavailable[] = "TLS is not available in this build";

// True when the TLS library accepts the certificate (PEM, may hold the chain) with the key (a key
// of another certificate is refused) and the priority string. Always false without TLS.
bool tlsSettingsUsable(const std::string& certificate, const std::string& key, const std::string& priorities);
