// cgiloader's command line: --listen ADDR:PORT, --root PREFIX, --max-body BYTES (K/M/G suffixes),
// --max-fields N, --threads N, --tls-cert FILE with --tls-key FILE, --tls-ciphers PRIORITIES,
// --allow-host NAME (repeatable), --max-per-address N, --max-connections N, --backlog N,
// --head-timeout SECONDS, --body-timeout SECONDS, --login-delay-max SECONDS, --verbose, --help.
//
// Thread safety: pure functions.
#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "frontend/front_end.h"
#include "frontend/http_mode.h"

struct LoaderOptions {
  HttpModeOptions http;
  FrontEndLimits limits;
  LoginThrottleSettings throttle;
  std::vector<std::string> allowedHosts;  // besides the machine's own names
  std::filesystem::path root;             // empty: the default (defaultRoot)
  bool help = false;
};

// Parses argv[1..argc-1] into *options. False with a message in *error for an unknown option or
// a bad value.
bool parseLoaderOptions(int argc, const char* const* argv, LoaderOptions* options, std::string* error);

// The installed tree two folders above the folder of program (<prefix>/www/cgi-bin/cgiloader ->
// <prefix>). program: the program's real path.
std::filesystem::path defaultRoot(const std::filesystem::path& program);

// The usage text.
const char* loaderUsage();
