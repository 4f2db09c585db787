// The Windows build has no TLS library: a request that asks for TLS is refused before anything
// is sent, so that the password never goes out in clear text instead.
#include "qcli/tls_connection.h"

namespace qcli {

Connector tlsConnector(TlsOptions) {
  return [](const std::string&, long, Deadline, NetFailure* failure) -> std::unique_ptr<Connection> {
    failure->step = NetStep::kTls;
    failure->code = 0;
    failure->message =
        "Error: TLS is not available in this build; the request was not sent.\n"
        "       Use a qcli built with TLS, or reach the front end over a trusted path.\n";
    return nullptr;
  };
}

}  // namespace qcli
