// Everything the client settles before it sends a request: the setting sets, the Device lines,
// the arguments with their consumed marks, and the display requests. Filled by the start-up steps
// (client_startup.h) and read by the displays and the request.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <string>
#include <vector>

#include "qcli/config_file.h"
#include "qcli/option_table.h"
#include "qcli/tls_connection.h"

namespace qcli {

// How long one exchange with the web server may take unless the user says otherwise.
inline constexpr int kDefaultTimeoutSeconds = 300;

struct ClientState {
  std::vector<std::string> args;  // the command line; args[0] is the program path
  std::vector<bool> consumed;     // args consumed by the client (not sent to the server)
  std::string baseName;
  bool helpRequested = false;     // "--h" or "--help" anywhere
  bool exampleRequested = false;  // "--infoc" anywhere: no config-file warning
  bool showRequest = false;       // display code Q
  std::string configFileName = kDefaultConfigFile;
  ConfigContents config;
  SettingSet environment;
  SettingSet arguments;
  SettingSet effective;                         // "Settings used for execution"
  std::vector<char> displayCodes;               // in the order collected (table order)
  int timeoutSeconds = kDefaultTimeoutSeconds;  // one exchange's limit (request_timeout.h)
  TlsOptions tls;                               // HTTPS or not (tls_settings.h)
};

// Creates the state for a command line (argv[0] first). consumed is all false.
ClientState makeClientState(const std::vector<std::string>& args);

}  // namespace qcli
