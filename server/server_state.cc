// Storage of the process-wide control words and run-time data.
#include "server/server_state.h"

#include <cstring>
#include <mutex>
#include <string>

namespace {

std::mutex gNamesMutex;
std::string gDeviceName;    // guarded by gNamesMutex
std::string gSerialNumber;  // guarded by gNamesMutex

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
  std::lock_guard<std::mutex> lock(gNamesMutex);
  return gDeviceName.c_str();
}

std::string serverDeviceNameCopy() {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  return gDeviceName;
}

void setServerDeviceName(const char* name) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  gDeviceName = name ? name : "";
}

const char* serverSerialNumber() {
  std::lock_guard<std::mutex> lock(gNamesMutex);
  return gSerialNumber.c_str();
}

void setServerSerialNumber(const char* serial) {
  std::lock_guard<std::mutex> lock(gNamesMutex);
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
