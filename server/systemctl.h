// Runs the service manager's command-line tool (systemctl) with an argument vector; no shell
// ever sees the arguments.
//
// Thread safety: may be called from any thread.
#pragma once

#include <string>
#include <vector>

// Runs "systemctl args...". Returns its exit status, or -1 when it could not be run. When output
// is non-null it receives what the command wrote on standard output.
int runSystemctl(const std::vector<std::string>& args, std::string* output);
