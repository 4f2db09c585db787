// Storage of the process-wide control words and run-time data.
#include "server/server_state.h"

#include <mutex>
#include <string>

namespace {

std::mutex gNamesMutex;
std::string gDeviceName;     // guarded by gNamesMutex
std::string gSerialNumber;   // guarded by gNamesMutex

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
