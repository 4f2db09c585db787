// The client's time limit for one exchange with the web server (connect, send, the whole answer):
// qcli gives up with a clear message instead of waiting for a server that trickles its answer or
// never finishes it. Default 300 s; the configuration file's "DefaultTimeout", the environment
// variable QCLI_TIMEOUT and the option "--timeout SECONDS" change it, each stronger than the one
// before. The option and its value are consumed (never sent to the server). Kept outside the
// option table, whose displays and example configuration stay as users know them.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <cstdio>

#include "qcli/client_state.h"
#include "qcli/command_line.h"

namespace qcli {

inline constexpr const char kTimeoutOption[] = "--timeout";
inline constexpr const char kTimeoutEnvironment[] = "QCLI_TIMEOUT";
inline constexpr const char kTimeoutConfigKey[] = "DefaultTimeout";
inline constexpr int kMaxTimeoutSeconds = 86400;

// Settles state->timeoutSeconds and consumes "--timeout" with its value. False after a message
// when a value is missing or is not a whole number of seconds from 1 to kMaxTimeoutSeconds.
[[nodiscard]] bool settleRequestTimeout(ClientState* state, const EnvironmentReader& env, FILE* out);

}  // namespace qcli
