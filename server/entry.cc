// Service command dispatch. For now the console mode only reads the debug options and waits for
// an interrupt; the full main loop joins it with the life-cycle code.
#include "server/entry.h"

#include <strings.h>

#include <csignal>
#include <cstdio>
#include <string>
#include <vector>

#include "common/debug.h"

namespace {

volatile std::sig_atomic_t gStop = 0;

void onSignal(int) { gStop = 1; }

void printUsage(const char* program) {
  std::printf("%s -install [-name ServiceName]          to install the service\n", program);
  std::printf("%s -remove  [-name ServiceName]          to remove the service\n", program);
  std::printf("%s -start   [-name ServiceName] [params] to start the service\n", program);
  std::printf("%s -stop    [-name ServiceName]          to stop the service\n", program);
  std::printf("%s -debug   [-name ServiceName] [params] to run in console for debugging\n", program);
}

int runConsole(const std::vector<const char*>& args) {
  std::printf("Debugging %s.\n", args[0]);
  initDebug(static_cast<int>(args.size()), args.data());
  std::signal(SIGINT, onSignal);
  std::signal(SIGTERM, onSignal);
  while (!gStop) pause();
  closeDebug();
  return 0;
}

}  // namespace

int serverEntry(int argc, char** argv) {
  if (argc < 2 || (argv[1][0] != '-' && argv[1][0] != '/') || strcasecmp(argv[1] + 1, "debug") != 0) {
    printUsage(argv[0]);
    return 0;
  }
  std::vector<const char*> args{"Kestrova"};
  for (int i = 2; i < argc; ++i) args.push_back(argv[i]);
  return runConsole(args);
}
