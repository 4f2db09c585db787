// Program entry of the server: the service commands (-install, -remove, -start, -stop), the
// console mode (-debug), the network key command (-netkey, netkey_command.h) and, without
// arguments, the start as a systemd service.
//
// Thread safety: called once from main, before any other thread exists.
#pragma once

#include <string>
#include <vector>

enum class EntryCommand { kNoArguments, kUsage, kInstall, kRemove, kStart, kStop, kDebug, kNetKey };

struct EntryRequest {
  EntryCommand command = EntryCommand::kUsage;
  const char* name = nullptr;       // the "-name" value, or null for the default name
  std::vector<const char*> params;  // the arguments after the command and the option pair
};

// At most this many arguments are passed on by -start and -debug.
inline constexpr size_t kMaxPassedArguments = 128;

// Reads the command line. The first argument must be the command, with a dash or a slash in front,
// compared without regard to case; "-name X" may follow it. Anything else asks for the usage
// lines (kUsage), as does a "-name" value that cannot be a service name.
EntryRequest parseEntryArguments(int argc, const char* const* argv);

// Prints the usage lines with program in each.
void printUsage(const char* program);

// Returns the process exit status.
int serverEntry(int argc, char** argv);
