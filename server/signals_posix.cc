// Signal handling of the server on POSIX: the handler writes the number into a pipe that a
// watcher thread reads; see signals.h.
#include "server/signals.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdio>
#include <mutex>
#include <thread>

namespace {

int gSignalPipe[2] = {-1, -1};  // written once before the handlers are installed

extern "C" void onSignal(int signalNumber) {
  const int savedErrno = errno;
  const unsigned char byte = static_cast<unsigned char>(signalNumber);
  ssize_t ignored = write(gSignalPipe[1], &byte, 1);
  (void)ignored;  // a full pipe already holds enough signals to end the process
  errno = savedErrno;
}

void watchSignals() {
  for (;;) {
    unsigned char byte = 0;
    ssize_t got = read(gSignalPipe[0], &byte, 1);
    if (got == 1) {
      handleInterrupt(byte);
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
