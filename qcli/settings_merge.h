// Merge of the setting sets into the effective settings, with controller selection by Device
// line number, WWN or name, and the required-settings check. Strength, weakest first: built-in
// defaults, config Default values, the Device line chosen by DefaultNum, the Device line chosen
// by the environment, environment values, the Device line chosen on the command line,
// command-line values.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <cstdio>

#include "qcli/client_state.h"

namespace qcli {

// Builds state->effective from the sets. Prints the selection message and returns false when a
// selector matches no Device line or more than one selector of one source is given.
[[nodiscard]] bool mergeSettings(ClientState* state, FILE* out);

// Reports every missing required setting (Server IP, Port, User, Password, Device Type); false
// when any was missing.
[[nodiscard]] bool checkRequiredSettings(const ClientState& state, FILE* out);

}  // namespace qcli
