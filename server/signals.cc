// The reaction to an interrupt, the same for POSIX signals and Windows console controls; see
// signals.h.
#include "server/signals.h"

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <thread>

#include "server/main_loop.h"
#include "server/server_state.h"

void handleInterrupt(int signalNumber) {
  ServerControl& control = serverControl();
  int notYet = 0;
  if (control.signalIntercepted.compare_exchange_strong(notYet, 1)) {
    // In the console (-debug) Ctrl+C is the console's stop request, announced as the service
    // command announces one.
    if (signalNumber == SIGINT && control.debugMode.load() != 0)
      std::printf("Stopping %s.\n", serviceMessageName());
    char text[64];
    formatFirstSignalText(signalNumber, text, sizeof text);
    std::fputs(text, stdout);
    std::fflush(stdout);
    std::thread(shutdownServerForExit).detach();
    return;
  }
  const int left = control.signalsLeft.load();
  if (left <= 0) {
    std::fflush(stdout);
    std::_Exit(0);
  }
  std::printf("Signal already intercepted. %d more to kill.\n", left);
  std::fflush(stdout);
  control.signalsLeft.store(left - 1);
}

int formatFirstSignalText(int signalNumber, char* buffer, int size) {
  if (buffer == nullptr || size <= 0) return 0;
  int written = 0;
  if (signalNumber == SIGINT) {
    written = std::snprintf(buffer, size, "SIGINT (CTLR+C)\n");
  } else if (signalNumber == SIGTERM) {
    written = std::snprintf(buffer, size, "SIGTERM\n");
  } else {
    written = std::snprintf(buffer, size, "Signal : %d\n", signalNumber);
  }
  return written < size ? written : size - 1;
}
