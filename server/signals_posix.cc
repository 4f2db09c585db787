// Signal handling of the server; see signals.h.
#include "server/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "server/main_loop.h"
#include "server/server_state.h"

namespace {

int gSignalPipe[2] = {-1, -1};  // written once before the handlers are installed

extern "C" void onSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  ssize_t ignored = write(gSignalPipe[1], &byte, 1);
  (void)ignored;  // a full pipe already holds enough signals to end the process
  errno = savedErrno;
}

void handleSignal(int signalNumber) {
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

void watchSignals() {
  for (;;) {
    unsigned char byte = 0;
    ssize_t got = read(gSignalPipe[0], &byte, 1);
    if (got == 1) {
      handleSignal(byte);
    } else if (got < 0 && errno == EINTR) {
      continue;
    } else {
      return;
    }
  }
}

void install() {
  if (pipe2(gSignalPipe, O_CLOEXEC) != 0) {
    std::perror("Unable to create the signal pipe");
    return;
  }
  fcntl(gSignalPipe[1], F_SETFL, O_NONBLOCK);
  std::thread(watchSignals).detach();
  struct sigaction action {};
  action.sa_handler = onSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  sigaction(SIGINT, &action, nullptr);
  sigaction(SIGTERM, &action, nullptr);
}

}  // namespace

void installSignalHandling() {
  static std::once_flag once;
  std::call_once(once, install);
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
