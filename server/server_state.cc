// Storage of the process-wide control words and run-time data.
#include "server/server_state.h"

#include <cstring>
#include <string>

#include "common/thread_annotations.h"

namespace {

Mutex gNamesMutex;
std::string gDeviceName GUARDED_BY(gNamesMutex);
std::string gSerialNumber GUARDED_BY(gNamesMutex);

struct ServiceNames {
  char service[kServiceNameSize] = "Kestrova";
  char display[kServiceNameSize] = "Kestrova";
  char message[kServiceNameSize] = "Kestrova";
};
ServiceNames gServiceNames;  // written only by the entry, before other threads start

}  // namespace

ServerControl& serverControl() {
  static ServerControl control;
  return control;
}

ServerSettings& serverSettings() {
  static ServerSettings settings;
  return settings;
}

// The names are set only during start-up and shutdown while no reader runs, so handing out
// c_str() is safe for the life of one server run.
const char* serverDeviceName() {
  MutexLock lock(gNamesMutex);
  return gDeviceName.c_str();
}

std::string serverDeviceNameCopy() {
  MutexLock lock(gNamesMutex);
  return gDeviceName;
}

void setServerDeviceName(const char* name) {
  MutexLock lock(gNamesMutex);
  gDeviceName = name ? name : "";
}

const char* serverSerialNumber() {
  MutexLock lock(gNamesMutex);
  return gSerialNumber.c_str();
}

void setServerSerialNumber(const char* serial) {
  MutexLock lock(gNamesMutex);
  gSerialNumber = serial ? serial : "";
}

bool setServiceNames(const char* name) {
  if (name == nullptr) return false;
  size_t length = std::strlen(name);
  if (length == 0 || length >= static_cast<size_t>(kServiceNameSize)) return false;
  std::memcpy(gServiceNames.service, name, length + 1);
  std::memcpy(gServiceNames.display, name, length + 1);
  std::memcpy(gServiceNames.message, name, length + 1);
  return true;
}

const char* serviceName() { return gServiceNames.service; }
const char* serviceDisplayName() { return gServiceNames.display; }
const char* serviceMessageName() { return gServiceNames.message; }
