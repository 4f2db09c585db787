// The systemd service mode; see service_mode.h.
#include "server/service_mode.h"

#include <syslog.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "server/main_loop.h"
#include "server/server_state.h"
#include "server/service_unit.h"

bool startedByServiceManager() {
  const char* invocation = std::getenv("INVOCATION_ID");
  const char* name = std::getenv(kServiceNameVariable);
  return invocation != nullptr && *invocation != '\0' && name != nullptr && *name != '\0';
}

void recordServiceError(const char* message) {
  if (serverControl().debugMode.load() != 0) return;
  const int error = errno;
  openlog(serviceName(), LOG_PID, LOG_DAEMON);
  syslog(LOG_ERR, "%s error: %d", serviceName(), error);
  syslog(LOG_ERR, "%s", message);
  closelog();
}

int runAsService() {
  const char* name = std::getenv(kServiceNameVariable);
  if (name != nullptr && isValidServiceName(name)) setServiceNames(name);
  std::string folder = folderOf(programPath());
  if (folder.empty()) {
    recordServiceError("Missing server working path");
    return 0;
  }
  if (chdir(folder.c_str()) != 0) {
    recordServiceError("Unable to enter the server working path");
    return 0;
  }
  std::vector<std::string> words{serviceName()};
  if (const char* params = std::getenv(kServiceArgsVariable)) {
    for (std::string& word : decodeServiceParams(params)) words.push_back(std::move(word));
  }
  std::vector<const char*> argv;
  for (const std::string& word : words) argv.push_back(word.c_str());
  return runServer(static_cast<int>(argv.size()), argv.data());
}
