// Service command dispatch of the server program; see entry.h.
#include "server/entry.h"

#include <strings.h>

#include <cstdio>

#include "server/main_loop.h"
#include "server/netkey_command.h"
#include "server/server_state.h"
#include "server/service_commands.h"
#include "server/service_mode.h"
#include "server/service_unit.h"

namespace {

struct CommandName {
  const char* text;
  EntryCommand command;
};

constexpr CommandName kCommands[] = {
    {"install", EntryCommand::kInstall}, {"remove", EntryCommand::kRemove}, {"start", EntryCommand::kStart},
    {"stop", EntryCommand::kStop},       {"debug", EntryCommand::kDebug},   {"netkey", EntryCommand::kNetKey},
};

bool isSwitch(const char* argument) { return argument[0] == '-' || argument[0] == '/'; }

bool tooManyArguments(const EntryRequest& request) {
  if (request.params.size() <= kMaxPassedArguments) return false;
  std::printf("More than 128 arguments given...\n");
  return true;
}

int runDebug(const EntryRequest& request) {
  if (tooManyArguments(request)) return 0;
  serverControl().debugMode.store(1);
  std::printf("Debugging %s.\n", serviceMessageName());
  std::fflush(stdout);
  std::vector<const char*> args{serviceName()};
  args.insert(args.end(), request.params.begin(), request.params.end());
  return runServer(static_cast<int>(args.size()), args.data());
}

int runWithoutArguments(const char* program) {
  printUsage(program);
  std::printf("\nStartServiceCtrlDispatcher being called.\n");
  std::printf("This may take several seconds.  Please wait.\n");
  std::fflush(stdout);
  if (startedByServiceManager()) return runAsService();
  recordServiceError("StartServiceCtrlDispatcher failed.");
  return 0;
}

}  // namespace

EntryRequest parseEntryArguments(int argc, const char* const* argv) {
  EntryRequest request;
  if (argc < 2) {
    request.command = EntryCommand::kNoArguments;
    return request;
  }
  int first = 2;
  if (argc > 3 && isSwitch(argv[2]) && strcasecmp(argv[2] + 1, "name") == 0) {
    if (!isValidServiceName(argv[3])) return request;
    request.name = argv[3];
    first = 4;
  }
  if (!isSwitch(argv[1])) return request;
  for (const CommandName& candidate : kCommands) {
    if (strcasecmp(argv[1] + 1, candidate.text) == 0) request.command = candidate.command;
  }
  if (request.command == EntryCommand::kUsage) return request;
  for (int i = first; i < argc; ++i) request.params.push_back(argv[i]);
  return request;
}

void printUsage(const char* program) {
  std::printf("%s -install [-name ServiceName]          to install the service\n", program);
  std::printf("%s -remove  [-name ServiceName]          to remove the service\n", program);
  std::printf("%s -start   [-name ServiceName] [params] to start the service\n", program);
  std::printf("%s -stop    [-name ServiceName]          to stop the service\n", program);
  std::printf("%s -debug   [-name ServiceName] [params] to run in console for debugging\n", program);
  std::printf(
      "%s -netkey  set|add|switch|drop|clear|show to change the network key (key from standard input)\n",
      program);
  std::fflush(stdout);
}

int serverEntry(int argc, char** argv) {
  const char* program = (argc > 0 && argv[0] != nullptr) ? argv[0] : "server";
  EntryRequest request = parseEntryArguments(argc, argv);
  if (request.name != nullptr) setServiceNames(request.name);
  const ServiceSetup setup = serviceSetupFromEnvironment();
  switch (request.command) {
    case EntryCommand::kNoArguments:
      return runWithoutArguments(program);
    case EntryCommand::kUsage:
      printUsage(program);
      return 0;
    case EntryCommand::kInstall:
      installService(setup);
      return 0;
    case EntryCommand::kRemove:
      removeService(setup);
      return 0;
    case EntryCommand::kStart:
      if (!tooManyArguments(request)) startService(setup, request.params);
      return 0;
    case EntryCommand::kStop:
      stopService(setup);
      return 0;
    case EntryCommand::kDebug:
      return runDebug(request);
    case EntryCommand::kNetKey:
      return runNetworkKeyCommand(request.params, stdin, stdout);
  }
  return 0;
}
