// cgiloader's platform half under POSIX: /proc/self/exe, and the stop signals taken by one thread
// with sigwait; see program_platform.h.
#include <pthread.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <thread>

#include "frontend/http_mode.h"
#include "frontend/program_platform.h"

namespace {

sigset_t stopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigaddset(&signals, SIGUSR2);  // sent to ourselves to end the signal thread
  return signals;
}

}  // namespace

std::filesystem::path programPath(const char* argv0) {
  std::error_code error;
  std::filesystem::path path = std::filesystem::canonical("/proc/self/exe", error);
  if (error) path = std::filesystem::absolute(argv0, error);
  return path;
}

void blockStopRequests() {
  const sigset_t signals = stopSignals();
  pthread_sigmask(SIG_BLOCK, &signals, nullptr);
}

void serveUntilStopped(HttpFrontEnd* http) {
  const sigset_t signals = stopSignals();
  // The signals are blocked in every thread (the mask is inherited) and taken by this one alone.
  std::thread signalThread([http, signals] {
    int number = 0;
    sigwait(&signals, &number);
    if (number != SIGUSR2) std::printf("cgiloader: signal %d, stopping\n", number);
    http->stop();
  });
  http->run();
  kill(getpid(), SIGUSR2);
  signalThread.join();
}
