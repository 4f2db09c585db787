// Service commands through the Service Control Manager; see service_commands.h.
#include "server/service_commands.h"

#include <windows.h>

#include <cstdio>
#include <string>

#include "server/server_state.h"

namespace {

constexpr int kPendingLimitSeconds = 120;

// Closes a service manager handle at the end of its scope.
class ScHandle {
 public:
  explicit ScHandle(SC_HANDLE handle) : handle_(handle) {}
  ~ScHandle() {
    if (handle_ != nullptr) CloseServiceHandle(handle_);
  }
  ScHandle(const ScHandle&) = delete;
  ScHandle& operator=(const ScHandle&) = delete;
  SC_HANDLE get() const { return handle_; }

 private:
  SC_HANDLE handle_;
};

std::string lastErrorText() { return errorText(static_cast<int>(GetLastError())); }

SC_HANDLE openManager() {
  SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
  if (manager == nullptr) std::printf("OpenSCManager failed - %s\n", lastErrorText().c_str());
  return manager;
}

SC_HANDLE openService(SC_HANDLE manager) {
  SC_HANDLE service = OpenServiceA(manager, serviceName(), SERVICE_ALL_ACCESS);
  if (service == nullptr) std::printf("OpenService failed - %s\n", lastErrorText().c_str());
  return service;
}

DWORD currentState(SC_HANDLE service) {
  SERVICE_STATUS status{};
  return QueryServiceStatus(service, &status) ? status.dwCurrentState : 0;
}

// Prints one dot per second while the service stays in the pending state, then returns the
// state it reached.
DWORD waitWhile(SC_HANDLE service, DWORD pending) {
  DWORD state = currentState(service);
  for (int second = 0; state == pending && second < kPendingLimitSeconds; ++second) {
    Sleep(1000);
    std::printf(".");
    std::fflush(stdout);
    state = currentState(service);
  }
  return state;
}

int stopAndReport(SC_HANDLE service) {
  std::printf("Stopping %s.", serviceMessageName());
  std::fflush(stdout);
  SERVICE_STATUS status{};
  const bool sent = ControlService(service, SERVICE_CONTROL_STOP, &status) != 0;
  if (sent && waitWhile(service, SERVICE_STOP_PENDING) == SERVICE_STOPPED) {
    std::printf("\n%s stopped.\n", serviceMessageName());
    return 0;
  }
  std::printf("\n%s failed to stop.\n", serviceMessageName());
  return 1;
}

}  // namespace

int installService(const ServiceSetup&) {
  const std::string path = programPath();
  if (path.empty()) {
    std::printf("Unable to install %s - %s\n", serviceDisplayName(), lastErrorText().c_str());
    return 1;
  }
  ScHandle manager(openManager());
  if (manager.get() == nullptr) return 1;
  // Quoted: an unquoted path with blanks would let the service manager run C:\Program.exe.
  const std::string command = "\"" + path + "\"";
  ScHandle service(CreateServiceA(manager.get(), serviceName(), serviceDisplayName(), SERVICE_ALL_ACCESS,
                                  SERVICE_WIN32_OWN_PROCESS, SERVICE_AUTO_START, SERVICE_ERROR_NORMAL,
                                  command.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr));
  if (service.get() == nullptr) {
    std::printf("CreateService failed - %s\n", lastErrorText().c_str());
    return 1;
  }
  std::printf("%s installed.\n", serviceDisplayName());
  return 0;
}

int removeService(const ServiceSetup&) {
  ScHandle manager(openManager());
  if (manager.get() == nullptr) return 1;
  ScHandle service(openService(manager.get()));
  if (service.get() == nullptr) return 1;
  const DWORD state = currentState(service.get());
  if (state != SERVICE_STOPPED && state != 0) stopAndReport(service.get());
  if (!DeleteService(service.get())) {
    std::printf("DeleteService failed - %s\n", lastErrorText().c_str());
    return 1;
  }
  std::printf("%s removed.\n", serviceDisplayName());
  return 0;
}

int startService(const ServiceSetup&, const std::vector<const char*>& params) {
  ScHandle manager(openManager());
  if (manager.get() == nullptr) return 1;
  ScHandle service(openService(manager.get()));
  if (service.get() == nullptr) return 1;
  std::printf("Starting %s.", serviceMessageName());
  std::fflush(stdout);
  std::vector<const char*> args(params);
  const bool started = StartServiceA(service.get(), static_cast<DWORD>(args.size()),
                                     args.empty() ? nullptr : const_cast<const char**>(args.data())) != 0;
  if (started && waitWhile(service.get(), SERVICE_START_PENDING) == SERVICE_RUNNING) {
    std::printf("\n%s started.\n", serviceMessageName());
    return 0;
  }
  std::printf("\n%s failed to start.\n", serviceMessageName());
  return 1;
}

int stopService(const ServiceSetup&) {
  ScHandle manager(openManager());
  if (manager.get() == nullptr) return 1;
  ScHandle service(openService(manager.get()));
  if (service.get() == nullptr) return 1;
  return stopAndReport(service.get());
}
