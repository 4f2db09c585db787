// The server's life cycle: the main loop that starts every component, waits and either exits or
// starts over (runServer), the shutdown sequence (shutdownServer), the restart thread
// (waitAndThenRestartServer) and the device scan at start-up (scanSystem).
//
// Start-up and shutdown never overlap: one lifecycle lock is held for the whole start-up of a
// pass and for the whole shutdown, so a shutdown requested while the server is starting (a
// signal, a restart thread) runs once the start-up is complete. A shutdown runs once per pass;
// further calls until the next start-up return at once.
//
// Thread safety: runServer runs on one thread (the program's main thread, or a test's). The
// other functions may be called from any thread.
#pragma once

#include <cstdint>

// Runs the server until it is stopped without a restart. argv[0] is the service name; the other
// arguments are the debug options. Returns 0. With the option "-x" the process exits with
// status 1 after the options were read.
int runServer(int argc, const char* const* argv);

// The shutdown sequence; sets the stop word at its end. May be called from any thread.
void shutdownServer();

// Thread routine (start it with kThreadKeep): waits 1000 ms, asks for a restart with a rescan,
// raises "KestrovaEvent_RescanStarted" and runs the shutdown, after which the main loop starts
// over. The context word is not used.
void waitAndThenRestartServer(uintptr_t context);

// Argument block of scanSystem.
struct ScanRequest {
  bool rescanBuses = false;
};
// Runs the device scan and hands the list to the modules (see components.h). Returns 0, or 2
// when request is null. Returns at once when a scan is already running. request is borrowed.
int scanSystem(const ScanRequest* request);

// Prints "logServerError: %s\n" on standard output.
void logServerError(const char* text);

// The console lines of one module in the shutdown: its name, then which procedure is called.
// For the module manager's moduleShutdownProcedures hook.
void printModuleShutdownBanner(const char* moduleName, bool restarting);

// Used by the signal handling: runs the shutdown and makes the main loop return instead of
// starting over.
void shutdownServerForExit();

// The waits of the life cycle. Tests shorten them; the program always runs with the defaults.
struct LifecycleTimings {
  int restartDelayMs = 1000;  // waitAndThenRestartServer, before it asks for the restart
  int shutdownEventMs = 500;  // after raising the shutdown event
  int threadGraceMs = 1500;   // the "Time left" count-down that lets threads end
};
void setLifecycleTimings(const LifecycleTimings& timings);
LifecycleTimings lifecycleTimings();
