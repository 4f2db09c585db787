// Whether the client speaks HTTPS, and which certificates it trusts. Off by default, so existing
// configuration files behave as before; the configuration file's "DefaultTls" and
// "DefaultCaFile", the environment's QCLI_SERVER_TLS and QCLI_CA_FILE, and the options "--tls"
// (alone) and "--cafile FILE" change it, each stronger than the one before. The options are
// consumed (never sent to the server). Kept outside the option table, like the time limit, so
// the table's displays stay as users know them.
//
// Thread safety: none needed; the client is single-threaded.
#pragma once

#include <cstdio>

#include "qcli/client_state.h"
#include "qcli/command_line.h"

namespace qcli {

inline constexpr const char kTlsOption[] = "--tls";
inline constexpr const char kTlsEnvironment[] = "QCLI_SERVER_TLS";
inline constexpr const char kTlsConfigKey[] = "DefaultTls";
inline constexpr const char kCaFileOption[] = "--cafile";
inline constexpr const char kCaFileEnvironment[] = "QCLI_CA_FILE";
inline constexpr const char kCaFileConfigKey[] = "DefaultCaFile";

// Settles state->tls and consumes "--tls" and "--cafile" with its value. False after a message
// when a TLS value is not yes/no (on/off, true/false, 1/0), a "--cafile" value is missing, or a CA
// file is named while TLS is off (the user meant HTTPS; the password must not go out in clear).
[[nodiscard]] bool settleTls(ClientState* state, const EnvironmentReader& env, FILE* out);

}  // namespace qcli
