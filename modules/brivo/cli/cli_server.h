// The "server" object of the interpreter: what the handlers of cli_handlers.h (serverDisplay,
// serverRescan, serverSet) need beyond the server's services, exposed for their tests.
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace brivo::cli {

// This host's operating system as "<kernel name> <release> (<distribution>)", the distribution
// being PRETTY_NAME (else NAME) of the os-release file at osReleasePath; without a readable file
// the parenthesised part is left out. On Windows "Windows variant <major>.<minor>" (host_system.h).
std::string osVersionText(const std::string& osReleasePath = "/etc/os-release");

}  // namespace brivo::cli
