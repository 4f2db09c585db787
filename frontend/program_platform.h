// What cgiloader's entry (main.cc) asks of the platform: its own path and the stop requests of
// the standalone server (POSIX signals SIGINT and SIGTERM; on Windows the console's Ctrl+C,
// Ctrl+Break, closing, log-off and shut-down).
//
// Thread safety: called from the main thread, in this order: blockStopRequests before any other
// thread exists, then serveUntilStopped once.
#pragma once

#include <filesystem>

class HttpFrontEnd;

// The running program's absolute path; argv0 made absolute when the system does not tell it.
std::filesystem::path programPath(const char* argv0);
// Keeps the stop requests from the threads started later (POSIX: blocks the signals, a mask that
// new threads inherit); nothing to do on Windows.
void blockStopRequests();
// Runs http until a stop request comes, then returns with http stopped.
void serveUntilStopped(HttpFrontEnd* http);
