// The Windows build has no TLS library of ours (OpenSSL has no Windows build here): notifier
// settings that ask for TLS get a clear refusal instead of a plain-text connection.
#include "server/events/tls_channel.h"

std::unique_ptr<TlsChannel> createTlsChannel(SocketHandle, const std::string&, const TlsSettings&,
                                             std::string* error) {
  if (error != nullptr) *error = "TLS is not available in this build";
  return nullptr;
}
