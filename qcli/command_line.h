// The command-line and environment steps of the client's start-up: program base name, the help
// pre-scan, the configuration-file name, the environment pass and the argument pass. Each step
// prints its own error message on `out` and reports failure; the caller runs the help step.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "qcli/client_state.h"

namespace qcli {

// Reads one environment variable; null when it is not set.
using EnvironmentReader = std::function<const char*(const char* name)>;

// Configuration-file names of this length or more are refused.
inline constexpr size_t kConfigNameLimit = 2048;

// The program path after its last "\" (else its last "/"), cut at the first ".exe".
std::string baseNameOf(const std::string& programPath);

// Sets helpRequested and exampleRequested; consumes nothing.
void preScan(ClientState* state);

// Settles state->configFileName from the environment and the first "--cfgfile" argument.
[[nodiscard]] bool settleConfigFileName(ClientState* state, const EnvironmentReader& env, FILE* out);

// Copies every set table variable into state->environment. A value longer than a slot holds is
// refused with a message.
[[nodiscard]] bool environmentPass(ClientState* state, const EnvironmentReader& env, FILE* out);

// Consumes the client options in table order: setting values go to state->arguments, display
// codes to state->displayCodes.
[[nodiscard]] bool argumentPass(ClientState* state, FILE* out);

}  // namespace qcli
