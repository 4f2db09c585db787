// HTTPS for the client: the same request and answer bytes as over plain TCP, inside a TLS
// session whose server certificate is checked against the system's trust store (or one CA file)
// and must name the host the user gave (a name or an address). Every failure of the set-up is a
// connect-time failure with its own message, and the password is only ever sent after the
// server proved who it is. A build without a TLS library refuses instead of falling back to
// plain text.
//
// Thread safety: a connector may be called from any thread; each connection belongs to one.
#pragma once

#include <string>

#include "qcli/tcp_connection.h"

namespace qcli {

struct TlsOptions {
  bool enabled = false;
  std::string caFile;  // PEM certificates to trust instead of the system's store; empty: the store
};

// A connector for the request: TCP, then the TLS handshake, all within the exchange's deadline and
// the single-wait limit. Its failures come as NetStep::kTls with the message to print.
Connector tlsConnector(TlsOptions options);

}  // namespace qcli
