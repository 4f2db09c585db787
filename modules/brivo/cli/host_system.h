// The host's operating system as the "server display" command shows it: the one place that asks
// the platform (uname on POSIX, the system's version numbers on Windows).
//
// Thread safety: any thread.
#pragma once

#include <string>

namespace brivo::cli {

// POSIX: "<kernel name> <release>", e.g. "Linux 6.1.0-13-amd64". Windows: "Windows variant
// <major>.<minor>". Empty when the system does not say.
std::string hostSystemText();

// Whether this platform names its distribution in an os-release file (POSIX); Windows has none.
bool hostHasOsRelease();

}  // namespace brivo::cli
