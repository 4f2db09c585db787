// The client program as a function: start-up in its fixed order (base name, banner, pre-scan,
// configuration file, environment, arguments, merge, required settings, displays, help), then the
// request. main() only supplies the real environment, streams and connector, so tests run the
// whole program in-process.
//
// Thread safety: single-threaded.
#pragma once

#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "qcli/client_state.h"
#include "qcli/command_line.h"
#include "qcli/exit_codes.h"
#include "qcli/tcp_connection.h"
#include "qcli/tls_connection.h"

namespace qcli {


struct ClientIo {
  EnvironmentReader env;
  FILE* out = stdout;
  FILE* in = stdin;
  Connector connect = connectTcp;                                 // plain HTTP
  std::function<Connector(TlsOptions)> connectTls = tlsConnector;  // HTTPS
};

struct StartupResult {
  bool proceed = false;  // true: send the request
  int exitCode = kExitOk;
};

// The start-up steps up to the help step. On an error path the help step has already run, so
// exitCode is 0 when help was requested and 1 otherwise.
StartupResult runStartup(ClientState* state, const ClientIo& io);

// The error path's help step: the help page and 0 when help was requested, else 1.
int failWithHelpStep(const ClientState& state, FILE* out);

// The whole program for the given command line (args[0] is the program path); returns the exit code.
int runClient(const std::vector<std::string>& args, const ClientIo& io);

}  // namespace qcli
