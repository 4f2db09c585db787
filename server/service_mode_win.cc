// The Windows service: the dispatcher, the service entry point with its status reports, the
// control handler, and the record of service failures in the event log. The status reports of
// service_notify.h live here too, since they need the status handle that the entry point gets.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"
#include "server/main_loop.h"
#include "server/server_state.h"
#include "server/service_mode.h"
#include "server/service_notify.h"
#include "server/service_unit.h"

namespace {

constexpr DWORD kStartWaitHintMs = 3000;
constexpr DWORD kStopWaitHintMs = 8000;

Mutex gStatusLock;
SERVICE_STATUS_HANDLE gStatusHandle GUARDED_BY(gStatusLock) = nullptr;
SERVICE_STATUS gStatus GUARDED_BY(gStatusLock){};
DWORD gCheckPoint GUARDED_BY(gStatusLock) = 0;
std::atomic<DWORD> gLastError{NO_ERROR};
std::atomic<bool> gStopRequested{false};

// Pending states count their check point up; the running and stopped states report 0. Stop and
// shutdown are accepted only while running. Nothing is reported in debug mode or outside the
// service manager.
void reportStatus(DWORD state, DWORD exitCode, DWORD waitHint) {
  MutexLock lock(gStatusLock);
  if (gStatusHandle == nullptr || serverControl().debugMode.load() != 0) return;
  gStatus.dwServiceType = SERVICE_WIN32_OWN_PROCESS;
  gStatus.dwCurrentState = state;
  gStatus.dwControlsAccepted = state == SERVICE_RUNNING ? SERVICE_ACCEPT_STOP | SERVICE_ACCEPT_SHUTDOWN : 0;
  gStatus.dwWin32ExitCode = exitCode;
  gStatus.dwServiceSpecificExitCode = 0;
  gStatus.dwWaitHint = waitHint;
  gStatus.dwCheckPoint = (state == SERVICE_RUNNING || state == SERVICE_STOPPED) ? 0 : ++gCheckPoint;
  if (!SetServiceStatus(gStatusHandle, &gStatus)) gLastError.store(GetLastError());
}

void reReportStatus() {
  MutexLock lock(gStatusLock);
  if (gStatusHandle != nullptr && serverControl().debugMode.load() == 0) SetServiceStatus(gStatusHandle, &gStatus);
}

// The shutdown makes runServer return (no restart), after which the entry point reports the stop.
DWORD WINAPI onServiceControl(DWORD control, DWORD, void*, void*) {
  switch (control) {
    case SERVICE_CONTROL_STOP:
    case SERVICE_CONTROL_SHUTDOWN:
      reportStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
      if (!gStopRequested.exchange(true)) std::thread(shutdownServerForExit).detach();
      return NO_ERROR;
    default:
      reReportStatus();
      return NO_ERROR;
  }
}

void WINAPI serviceMain(DWORD argc, LPSTR* argv) {
  // The service manager passes the service's own name first: a service installed with -name
  // learns its name here.
  if (argc > 0 && argv[0] != nullptr && isValidServiceName(argv[0])) setServiceNames(argv[0]);
  SERVICE_STATUS_HANDLE handle = RegisterServiceCtrlHandlerExA(serviceName(), onServiceControl, nullptr);
  if (handle == nullptr) {
    recordServiceError("RegisterServiceCtrlHandler failed.");
    return;
  }
  {
    MutexLock lock(gStatusLock);
    gStatusHandle = handle;
  }
  reportStatus(SERVICE_START_PENDING, NO_ERROR, kStartWaitHintMs);
  reportStatus(SERVICE_RUNNING, NO_ERROR, 0);
  const std::string folder = folderOf(programPath());
  if (folder.empty()) {
    recordServiceError("Missing server working path");
  } else if (!SetCurrentDirectoryA(folder.c_str())) {
    recordServiceError("Unable to enter the server working path");
  } else {
    std::vector<const char*> args{serviceName()};
    for (DWORD i = 1; i < argc; ++i) args.push_back(argv[i]);
    runServer(static_cast<int>(args.size()), args.data());
  }
  reportStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs);
  reportStatus(SERVICE_STOPPED, gLastError.load(), 0);
}

}  // namespace

// Only the dispatcher can tell whether the service manager started this process.
bool startedByServiceManager() { return true; }

int runAsService() {
  // The name in the table is not used for a service of its own process; the entry point gets
  // the real one from the service manager.
  static char name[100];
  std::snprintf(name, sizeof name, "%s", serviceName());
  const SERVICE_TABLE_ENTRYA table[] = {{name, serviceMain}, {nullptr, nullptr}};
  if (!StartServiceCtrlDispatcherA(table)) recordServiceError("StartServiceCtrlDispatcher failed.");
  return 0;
}

void recordServiceError(const char* message) {
  if (serverControl().debugMode.load() != 0) return;
  const DWORD error = GetLastError();
  gLastError.store(error);
  HANDLE log = RegisterEventSourceA(nullptr, serviceName());
  if (log == nullptr) return;
  char first[160];
  std::snprintf(first, sizeof first, "%s error: %lu", serviceName(), static_cast<unsigned long>(error));
  const char* strings[2] = {first, message};
  ReportEventA(log, EVENTLOG_ERROR_TYPE, 0, 0, nullptr, 2, 0, strings, nullptr);
  DeregisterEventSource(log);
}

void notifyServiceReady() { reportStatus(SERVICE_RUNNING, NO_ERROR, 0); }

// A restart after a rescan keeps the service running as far as the service manager can tell.
void notifyServiceRestarting() {}

void notifyServiceStopping() { reportStatus(SERVICE_STOP_PENDING, NO_ERROR, kStopWaitHintMs); }
