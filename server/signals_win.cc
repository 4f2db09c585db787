// Console controls of the server on Windows: Ctrl+C and Ctrl+Break count as the interrupt signal,
// closing the console, logging off and shutting down as the terminate signal. Windows calls the
// handler on a thread of its own, so it may do the whole reaction there; see signals.h.
#include <windows.h>

#include <csignal>
#include <mutex>

#include "server/signals.h"

namespace {

BOOL WINAPI onConsoleControl(DWORD control) {
  switch (control) {
    case CTRL_C_EVENT:
    case CTRL_BREAK_EVENT:
      handleInterrupt(SIGINT);
      return TRUE;
    case CTRL_CLOSE_EVENT:
    case CTRL_LOGOFF_EVENT:
    case CTRL_SHUTDOWN_EVENT:
      handleInterrupt(SIGTERM);
      return TRUE;
    default:
      return FALSE;
  }
}

}  // namespace

void installSignalHandling() {
  static std::once_flag once;
  std::call_once(once, [] { SetConsoleCtrlHandler(onConsoleControl, TRUE); });
}
