// Test-only helper: runs the whole client in-process with a given command line, environment and
// standard input, and returns what it printed and its exit code.
//
// Thread safety: one call per thread.
#pragma once

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "qcli/client.h"
#include "qcli/test_peer_stream.h"

namespace qcli::testing {

struct ClientRun {
  int exitCode = -1;
  std::string output;
};

inline std::string readAll(FILE* f) {
  std::string text;
  std::rewind(f);
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

// args excludes the program path, which is `program`. With TLS test peers the client is given
// the settings that trust them.
inline ClientRun runClientWith(const std::vector<std::string>& args,
                               std::map<std::string, std::string> env = {},
                               const std::string& input = "",
                               const std::string& program = "/usr/local/bin/qcli") {
  FILE* out = std::tmpfile();
  FILE* in = std::tmpfile();
  std::fwrite(input.data(), 1, input.size(), in);
  std::rewind(in);
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  addPeerTlsSettings(&env);
  ClientIo io;
  io.env = [&env](const char* name) -> const char* {
    auto it = env.find(name);
    return it == env.end() ? nullptr : it->second.c_str();
  };
  io.out = out;
  io.in = in;
  ClientRun run;
  run.exitCode = runClient(argv, io);
  run.output = readAll(out);
  std::fclose(out);
  std::fclose(in);
  return run;
}

}  // namespace qcli::testing
