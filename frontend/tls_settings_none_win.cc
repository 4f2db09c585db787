// No TLS library in the Windows build (libmicrohttpd is built there without GnuTLS); see
// tls_settings.h.
#include "frontend/tls_settings.h"

bool tlsAvailable() { return false; }

bool tlsSettingsUsable(const std::string&, const std::string&, const std::string&) { return false; }
