// The "-netkey" command of the server program: an administrator sets, rolls over or removes the
// site key of the server network from a shell, in the server's working folder (where db/ is):
//
//   server -netkey set      the key text read from standard input becomes the only key
//   server -netkey add      ... becomes the second, accepted key (first round of a roll-over)
//   server -netkey switch   send with the second key, keep the old one as the second
//   server -netkey drop     forget the second key (last round of a roll-over)
//   server -netkey clear    no key: unauthenticated coordination
//   server -netkey show     the key ids in use
//
// The key text is never taken from the command line, where other users could read it: it is one
// line of standard input (asked twice, without echo, on a terminal). The file is db/network.key;
// a running server uses the change within ten seconds.
//
// Thread safety: called once from the program entry, before any other thread exists.
#pragma once

#include <cstdio>
#include <vector>

// Runs the command with its arguments (the words after "-netkey"), reading the key from in and
// writing to out. Returns the exit status: 0 done, 1 refused or failed, 2 wrong arguments.
int runNetworkKeyCommand(const std::vector<const char*>& args, FILE* in, FILE* out);
