// The Windows command runner under the host operations' run(): a program started with
// CreateProcessW and no shell, its arguments passed in the quoting the program's parse undoes
// (blnkwin::commandLine), its standard output captured through a pipe, a time limit after which
// it is ended. Only the pipe and the null device are inherited, so a child never holds another
// of the process's handles.
//
// A program named without a folder ("netsh", "ipconfig") is the one of the system folder
// (GetSystemDirectory), never one found in the working folder or PATH: the library runs as an
// administrator, and anyone may write to those.
//
// Thread safety: each call is independent.
#pragma once

#include <string>
#include <vector>

namespace blnkwin {

// How long netsh may take: applying an address waits for the adapter.
inline constexpr unsigned kCommandTimeoutMs = 120000;
// Output beyond this many bytes is read and dropped (a listing is a few KiB).
inline constexpr size_t kCommandOutputMax = 4u << 20;

// Runs argv. With output non-null its standard output is captured into it; standard error (and
// standard output without output) goes to the null device. The exit code, or -1 when the program
// could not be started, the arguments cannot be passed (passableArguments), or it ran past
// timeoutMs (it is then ended) or ended with a code above INT_MAX (a crash's status).
int runProgram(const std::vector<std::string>& argv, std::string* output,
               unsigned timeoutMs = kCommandTimeoutMs);

// The program runProgram starts for argv[0]: a name without a folder as "<system folder>\name"
// (".exe" added when the name has no extension); any other as it is. Empty when the system
// folder is unknown.
std::wstring programPath(const std::string& name);

// UTF-8 to UTF-16 and back (invalid sequences replaced by U+FFFD).
std::wstring widen(const std::string& text);
std::string narrow(const std::wstring& text);

}  // namespace blnkwin
