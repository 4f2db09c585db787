// The syslog settings pages; see syslog_settings.h.
#include "server/events/syslog_settings.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_test_report.h"
#include "server/events/syslog_sender.h"
#include "server/main_loop.h"
#include "server/net/socket_layer.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kSettingsPage[] = "../Server/other/setting_syslog.htm";
constexpr char kErrorPanel[] = "../Common/CommonErrorPanel.htm";
constexpr char kPageTimeout[] = "Timed out while waiting for SYSLOG configuration file for script.";
constexpr char kSaveTimeout[] = "Timed out while waiting for SYSLOG configuration file to add an entry.";
constexpr char kDefaultPort[] = "514";
constexpr int kPageInUse = 1;

const char* valueOrEmpty(VariableTable table, const char* key, int index) {
  const char* value = indexedValue(table, key, index);
  return value != nullptr ? value : "";
}

std::string rowKey(int row, const char* field) { return "SyslogLoop" + std::to_string(row) + field; }

// REQUIRES: the in-use word is held.
void addReceiverRows(VariableTable* reply, VariableTable settings) {
  int rows = 0;
  for (; rows < kSyslogReceiverSlots && indexedValue(settings, "SyslogServer", rows) != nullptr; ++rows) {
    addVariable(reply, rowKey(rows, "SyslogServer").c_str(), valueOrEmpty(settings, "SyslogServer", rows));
    addVariable(reply, rowKey(rows, "SyslogIWE").c_str(), valueOrEmpty(settings, "SyslogIWE", rows));
    addVariable(reply, rowKey(rows, "SyslogPort").c_str(), valueOrEmpty(settings, "SyslogPort", rows));
  }
  addIntVariable(reply, "SyslogLoop", static_cast<uint32_t>(rows), true);
  addIntVariable(reply, "TotalSyslog", static_cast<uint32_t>(rows), true);
  const char* version = getVariable(settings, "version");
  addVariable(reply, "version", version != nullptr ? version : "");
}

// The receivers of the request, renumbered from 0, behind "version". False when a receiver's
// address or port can't be used (host names are not resolved, so the address must be dotted).
bool buildReceiverTable(VariableTable request, uint32_t version, TableOwner* table) {
  addUnsignedVariable(table->address(), "version", version);
  int stored = 0;
  for (int i = 0; i < kSyslogRequestRows; ++i) {
    const char* posted = indexedValue(request, "SyslogServer", i);
    const std::string server = posted != nullptr ? trimBlanks(posted) : std::string();
    if (server.empty()) continue;
    const char* postedPort = indexedValue(request, "SyslogPort", i);
    const std::string port = postedPort == nullptr || postedPort[0] == '\0' || postedPort[0] == ' '
                                 ? std::string(kDefaultPort)
                                 : std::string(postedPort);
    if (!isHostText(server) || !parseDottedAddress(server.c_str(), nullptr) ||
        !parsePortText(port, nullptr)) {
      *table = TableOwner();
      return false;
    }
    addVariable(table->address(), indexedKey("SyslogServer", stored).c_str(), server.c_str());
    addVariable(table->address(), indexedKey("SyslogIWE", stored).c_str(),
                iweFromRequest(request, "SyslogInfo", "SyslogWarn", "SyslogErr", i).c_str());
    addVariable(table->address(), indexedKey("SyslogPort", stored).c_str(), port.c_str());
    ++stored;
  }
  return true;
}

bool isKnownText(const char* text) { return text != nullptr && std::strcmp(text, kMissing) != 0; }

// How long a test waits for the host to say that nothing listens on the receiver's port.
constexpr int kTestRefusalWaitMs = 500;

// The rows of the request as they were typed, for showing them again when they can't be used.
VariableTable formReceiverTable(VariableTable request) {
  TableOwner table;
  int stored = 0;
  for (int i = 0; i < kSyslogRequestRows && stored < kSyslogReceiverSlots; ++i) {
    const char* server = indexedValue(request, "SyslogServer", i);
    if (server == nullptr || trimBlanks(server).empty()) continue;
    addVariable(table.address(), indexedKey("SyslogServer", stored).c_str(), server);
    addVariable(table.address(), indexedKey("SyslogIWE", stored).c_str(),
                iweFromRequest(request, "SyslogInfo", "SyslogWarn", "SyslogErr", i).c_str());
    addVariable(table.address(), indexedKey("SyslogPort", stored).c_str(), valueOrEmpty(request, "SyslogPort", i));
    ++stored;
  }
  return table.release();
}

}  // namespace

VariableTable GetSyslogConfig(VariableTable /*request*/) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.syslogInUse, kPageInUse)) {
    addVariable(&reply, "Message", kPageTimeout);
    addVariable(&reply, "HTMLPath", kErrorPanel);
    logServerError((std::string(" ") + kPageTimeout + " ").c_str());
    return reply;
  }
  addReceiverRows(&reply, settings.syslog);
  releaseFileInUse(&settings.syslogInUse);
  addVariable(&reply, "HTMLPath", kSettingsPage);
  return reply;
}

VariableTable SetSyslogConfig(VariableTable request) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.syslogInUse, kPageInUse)) {
    logServerError(kSaveTimeout);
    addCommandResult(&reply, true, "CmdSetSyslog", "SettingsTimeout");
  } else {
    const char* failure =
        saveReceiverSettings(request, &settings.syslog, kSyslogIniPath, kSyslogIniHeader, buildReceiverTable);
    releaseFileInUse(&settings.syslogInUse);
    addCommandResult(&reply, failure != nullptr, "CmdSetSyslog", failure);
  }
  appendVariableTable(&reply, GetSyslogConfig(request));
  return reply;
}

VariableTable TestSyslogConfig(VariableTable request) {
  // The test uses the receivers on the page, saved or not, and answers with them.
  VariableTable reply = nullptr;
  TableOwner form;
  const bool usable = buildReceiverTable(request, 0, &form);
  if (!usable) form = TableOwner(formReceiverTable(request));
  addReceiverRows(&reply, form.get());
  removeVariable(&reply, "version");
  const char* version = getVariable(request, "version");
  addVariable(&reply, "version", version != nullptr ? version : "");
  addVariable(&reply, "HTMLPath", kSettingsPage);
  char* message = lookupString(kStringsDbPath, "serverTestMessage");
  char* device = lookupString(kStringsDbPath, "serverDeviceName");
  if (!usable) {
    addCommandResult(&reply, true, "CmdTestSyslog", "InvalidReceiverSettings");
  } else if (!isKnownText(message) || !isKnownText(device)) {
    addCommandResult(&reply, true, "CmdTestSyslog", "NoTestMessage");
  } else {
    const EventRecord record{message, device, 4, 0, 0, 0, 0};
    std::vector<ReceiverOutcome> outcomes;
    for (int i = 0; i < kSyslogReceiverSlots; ++i) {
      const SyslogReceiver receiver = syslogReceiverAt(form.get(), i);
      if (!receiver.server.empty()) outcomes.push_back(sendSyslogTestMessage(receiver, record, kTestRefusalWaitMs));
    }
    addTestReport(&reply, "CmdTestSyslog", "syslog", outcomes);
  }
  std::free(message);
  std::free(device);
  return reply;
}
