// Service commands over unit files and systemctl; see service_commands.h.
#include "server/service_commands.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <future>
#include <string>
#include <thread>

#include "server/server_state.h"
#include "server/systemctl.h"

namespace {

constexpr int kPendingLimitSeconds = 120;

// The unit's state as the service manager reports it; "inactive" without a service manager.
std::string activeState(const ServiceSetup& setup) {
  if (!setup.systemManaged) return "inactive";
  std::string output;
  runSystemctl({"is-active", unitFileName(serviceName())}, &output);
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

// Runs the blocking systemctl command while printing one dot per second, then returns the state
// the unit reached. Without a service manager nothing runs and the state is read at once.
std::string runWithDots(const ServiceSetup& setup, std::vector<std::string> args) {
  if (setup.systemManaged) {
    std::future<int> done = std::async(std::launch::async, [args] { return runSystemctl(args, nullptr); });
    for (int second = 0; second < kPendingLimitSeconds; ++second) {
      if (done.wait_for(std::chrono::seconds(1)) == std::future_status::ready) break;
      std::printf(".");
      std::fflush(stdout);
    }
    done.wait();
  }
  return activeState(setup);
}

bool unitIsPresent(const ServiceSetup& setup) {
  struct stat info {};
  if (stat(unitFilePath(setup, serviceName()).c_str(), &info) == 0) return true;
  std::printf("OpenService failed - %s\n", errorText(errno).c_str());
  return false;
}

std::string commandFailureText(const char* what, int status) {
  char text[128];
  std::snprintf(text, sizeof text, "systemctl %s exited with status %d (0x%x)", what, status,
                static_cast<unsigned>(status));
  return text;
}

// Sends the stop and reports its outcome.
int stopAndReport(const ServiceSetup& setup) {
  std::printf("Stopping %s.", serviceMessageName());
  std::fflush(stdout);
  std::string state = runWithDots(setup, {"stop", unitFileName(serviceName())});
  if (state == "inactive" || state == "failed") {
    std::printf("\n%s stopped.\n", serviceMessageName());
    return 0;
  }
  std::printf("\n%s failed to stop.\n", serviceMessageName());
  return 1;
}

// Writes the unit file; it must not exist yet. Prints the failure.
bool writeUnitFile(const ServiceSetup& setup, const std::string& text) {
  std::string path = unitFilePath(setup, serviceName());
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  if (fd < 0) {
    std::printf("CreateService failed - %s\n", errorText(errno).c_str());
    return false;
  }
  size_t done = 0;
  while (done < text.size()) {
    ssize_t wrote = write(fd, text.data() + done, text.size() - done);
    if (wrote < 0 && errno == EINTR) continue;
    if (wrote <= 0) break;
    done += static_cast<size_t>(wrote);
  }
  int writeError = done == text.size() ? 0 : errno;
  if (close(fd) != 0 && writeError == 0) writeError = errno;
  if (writeError == 0) return true;
  unlink(path.c_str());
  std::printf("CreateService failed - %s\n", errorText(writeError).c_str());
  return false;
}

bool registerWithManager(const ServiceSetup& setup) {
  if (!setup.systemManaged) return true;
  int status = runSystemctl({"daemon-reload"}, nullptr);
  if (status == 0) status = runSystemctl({"enable", "--quiet", unitFileName(serviceName())}, nullptr);
  if (status == 0) return true;
  std::printf("CreateService failed - %s\n", commandFailureText("enable", status).c_str());
  unlink(unitFilePath(setup, serviceName()).c_str());
  runSystemctl({"daemon-reload"}, nullptr);
  return false;
}

}  // namespace

int installService(const ServiceSetup& setup) {
  std::string path = programPath();
  if (path.empty()) {
    std::printf("Unable to install %s - %s\n", serviceDisplayName(), errorText(errno).c_str());
    return 1;
  }
  std::string text;
  if (!buildUnitText(serviceName(), serviceDisplayName(), path, &text)) {
    std::printf("Unable to install %s - %s\n", serviceDisplayName(), errorText(EINVAL).c_str());
    return 1;
  }
  struct stat info {};
  if (stat(setup.unitFolder.c_str(), &info) != 0 || access(setup.unitFolder.c_str(), W_OK) != 0) {
    std::printf("OpenSCManager failed - %s\n", errorText(errno).c_str());
    return 1;
  }
  if (!S_ISDIR(info.st_mode)) {
    std::printf("OpenSCManager failed - %s\n", errorText(ENOTDIR).c_str());
    return 1;
  }
  if (!writeUnitFile(setup, text) || !registerWithManager(setup)) return 1;
  std::printf("%s installed.\n", serviceDisplayName());
  return 0;
}

int removeService(const ServiceSetup& setup) {
  if (!unitIsPresent(setup)) return 1;
  std::string state = activeState(setup);
  if (state == "active" || state == "activating" || state == "reloading") stopAndReport(setup);
  if (setup.systemManaged) runSystemctl({"disable", "--quiet", unitFileName(serviceName())}, nullptr);
  if (unlink(unitFilePath(setup, serviceName()).c_str()) != 0) {
    std::printf("DeleteService failed - %s\n", errorText(errno).c_str());
    return 1;
  }
  if (setup.systemManaged) runSystemctl({"daemon-reload"}, nullptr);
  std::printf("%s removed.\n", serviceDisplayName());
  return 0;
}

int startService(const ServiceSetup& setup, const std::vector<const char*>& params) {
  if (!unitIsPresent(setup)) return 1;
  const std::string unit = unitFileName(serviceName());
  const bool passParams = setup.systemManaged && !params.empty();
  if (passParams) {
    runSystemctl({"set-environment", std::string(kServiceArgsVariable) + "=" + encodeServiceParams(params)},
                 nullptr);
  }
  std::printf("Starting %s.", serviceMessageName());
  std::fflush(stdout);
  std::string state = runWithDots(setup, {"start", unit});
  if (passParams) runSystemctl({"unset-environment", kServiceArgsVariable}, nullptr);
  if (state == "active") {
    std::printf("\n%s started.\n", serviceMessageName());
    return 0;
  }
  std::printf("\n%s failed to start.\n", serviceMessageName());
  return 1;
}

int stopService(const ServiceSetup& setup) {
  if (!unitIsPresent(setup)) return 1;
  return stopAndReport(setup);
}
