// Interrupt and terminate signals of the server process. The first one prints its name and shuts
// the server down, after which the process ends with status 0; each further one prints
// "Signal already intercepted. %d more to kill.\n" while counting the signals left down from 25,
// and the one after that ends the process at once with status 0.
//
// The signal handler itself only writes the signal number into a pipe; a watcher thread (not a
// managed thread, so shutdowns never end it) does the printing and starts the shutdown on a
// thread of its own, so that it can go on counting signals while the shutdown runs.
//
// Thread safety: installSignalHandling may be called from any thread, any number of times; it
// installs once per process.
#pragma once

void installSignalHandling();

// What the platform's handling does with one interrupt (SIGINT, SIGTERM or another number), on a
// thread that may block: the first starts the shutdown, the others count down as above.
void handleInterrupt(int signalNumber);

// The console text of the first signal: "SIGINT (CTLR+C)\n", "SIGTERM\n" or "Signal : %d\n".
// Returns the number of characters written into buffer (always NUL-terminated).
int formatFirstSignalText(int signalNumber, char* buffer, int size);
