// The client's information displays ("--info", "--infodef", "--infodb", "--infoenv", "--infoarg",
// "--info+", "--infoc") and the example configuration. Passwords given by the user (arguments,
// environment, configuration file) are shown masked; the built-in defaults are shown as they are.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <cstdio>
#include <string>

#include "qcli/client_state.h"

namespace qcli {

// What a display password slot shows instead of a user-given value.
inline constexpr const char kMaskedPassword[] = "********";

// Prints one display by its code (I, D, X, E, A, P, C; Q prints nothing and sets the
// show-request flag). Returns true when the program is to end now with exit code 0 (C).
bool runDisplay(char code, ClientState* state, FILE* out);

// The example configuration, written so that it reads back as a configuration file.
void writeExampleConfiguration(const std::string& baseName, FILE* out);

}  // namespace qcli
