// Process-wide control words and the run-time data that each start of the main loop fills and
// each shutdown frees. Kept apart from configuration so that a restart visibly rebuilds it.
//
// Thread safety: the words are atomics read by every loop of the server; the settings tables are
// written only during start-up and shutdown (and replaced whole by the settings pages under their
// in-use words), and read through the VariableTable lock.
#pragma once

#include <atomic>
#include <ctime>
#include <string>

#include "common/variable_table.h"

struct ServerControl {
  std::atomic<int> serverRunning{0};
  std::atomic<int> stop{0};
  std::atomic<int> restart{0};
  std::atomic<int> rescanRequested{0};
  std::atomic<int> scanning{0};
  std::atomic<int> debugMode{0};
  std::atomic<int> signalIntercepted{0};
  std::atomic<int> signalsLeft{25};
  std::atomic<int> restartCount{0};
  // Advanced on every change of the global status, the server list and the logged-in users;
  // pages compare it to know when to refresh.
  std::atomic<int> networkChanges{0};
  std::atomic<time_t> startTime{0};
  std::atomic<time_t> restartTime{0};
};

// Settings tables read at start-up; freed at shutdown ("Clearing hashtables:").
struct ServerSettings {
  VariableTable email = nullptr;
  VariableTable snmp = nullptr;
  VariableTable syslog = nullptr;
  VariableTable server = nullptr;
  VariableTable ip = nullptr;
  // db/prefs.ini; like ip, changed only by the preferences page while holding ipInUse.
  VariableTable prefs = nullptr;
  // db/webhook.ini; changed by the webhook settings page while holding webhookInUse.
  VariableTable webhook = nullptr;
  std::atomic<int> emailInUse{0};
  std::atomic<int> snmpInUse{0};
  std::atomic<int> syslogInUse{0};
  std::atomic<int> webhookInUse{0};
  std::atomic<int> serverInUse{0};
  std::atomic<int> ipInUse{0};
};

ServerControl& serverControl();
ServerSettings& serverSettings();

// Text "serverDeviceName" looked up at start; borrowed, valid while the server runs. Never null.
const char* serverDeviceName();
void setServerDeviceName(const char* name);  // copies; null clears
// A copy taken under the lock, for threads that may run while start-up or shutdown changes it.
std::string serverDeviceNameCopy();
const char* serverSerialNumber();
void setServerSerialNumber(const char* serial);

inline bool isServerRunning() { return serverControl().serverRunning.load() != 0; }

// The names the program runs under: the service name, its display name and the name used in
// messages, each "Kestrova" unless "-name" gives another. Set by the program entry before any
// other thread starts; read-only afterwards, so the borrowed texts stay valid for the process.
inline constexpr int kServiceNameSize = 100;  // buffer size: at most 99 characters
inline constexpr const char kDefaultServiceName[] = "Kestrova";
// Sets all three names. Returns false (and changes nothing) unless name has 1 to 99 characters.
bool setServiceNames(const char* name);
const char* serviceName();
const char* serviceDisplayName();
const char* serviceMessageName();
