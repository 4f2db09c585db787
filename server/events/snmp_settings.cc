// The SNMP settings pages; see snmp_settings.h.
#include "server/events/snmp_settings.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_test_report.h"
#include "server/events/snmp_sender.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kSettingsPage[] = "../Server/other/setting_snmp.htm";
constexpr char kErrorPanel[] = "../Common/CommonErrorPanel.htm";
constexpr char kPageTimeout[] = "Timed out while waiting for SNMP configuration file for script.";
constexpr char kSaveTimeout[] = "Timed out while waiting for SNMP configuration file to add an entry.";
constexpr char kDefaultCommunity[] = "public";
constexpr char kDefaultPort[] = "162";
constexpr int kPageInUse = 1;

// Empty text for an absent value.
const char* valueOrEmpty(VariableTable table, const char* key, int index) {
  const char* value = indexedValue(table, key, index);
  return value != nullptr ? value : "";
}

std::string rowKey(int row, const char* field) { return "SnmpLoop" + std::to_string(row) + field; }

// REQUIRES: the in-use word is held.
void addReceiverRows(VariableTable* reply, VariableTable settings) {
  int rows = 0;
  for (; rows < kSnmpReceiverSlots && indexedValue(settings, "SnmpServer", rows) != nullptr; ++rows) {
    addVariable(reply, rowKey(rows, "SnmpServer").c_str(), valueOrEmpty(settings, "SnmpServer", rows));
    addVariable(reply, rowKey(rows, "SnmpCommunity").c_str(), valueOrEmpty(settings, "SnmpCommunity", rows));
    addVariable(reply, rowKey(rows, "SnmpIWE").c_str(), valueOrEmpty(settings, "SnmpIWE", rows));
    addVariable(reply, rowKey(rows, "SnmpPort").c_str(), valueOrEmpty(settings, "SnmpPort", rows));
  }
  addIntVariable(reply, "SnmpLoop", static_cast<uint32_t>(rows), true);
  addIntVariable(reply, "TotalSnmp", static_cast<uint32_t>(rows), true);
  const char* version = getVariable(settings, "version");
  addVariable(reply, "version", version != nullptr ? version : "");
}

// A posted text that is absent, empty or begins with a space takes the default.
std::string valueOrDefault(VariableTable request, const char* key, int index, const char* fallback) {
  const char* value = indexedValue(request, key, index);
  return value == nullptr || value[0] == '\0' || value[0] == ' ' ? std::string(fallback) : std::string(value);
}

// The receivers of the request, renumbered from 0, behind "version". Null in *table and false
// when a receiver's address, community or port can't be stored or used.
bool buildReceiverTable(VariableTable request, uint32_t version, TableOwner* table) {
  addUnsignedVariable(table->address(), "version", version);
  int stored = 0;
  for (int i = 0; i < kSnmpRequestRows; ++i) {
    const char* posted = indexedValue(request, "SnmpServer", i);
    const std::string server = posted != nullptr ? trimBlanks(posted) : std::string();
    if (server.empty()) continue;
    const std::string community = valueOrDefault(request, "SnmpCommunity", i, kDefaultCommunity);
    const std::string port = valueOrDefault(request, "SnmpPort", i, kDefaultPort);
    if (!isHostText(server) || !isPlainText(community, 255) || !parsePortText(port, nullptr)) {
      *table = TableOwner();
      return false;
    }
    addVariable(table->address(), indexedKey("SnmpServer", stored).c_str(), server.c_str());
    addVariable(table->address(), indexedKey("SnmpCommunity", stored).c_str(), community.c_str());
    addVariable(table->address(), indexedKey("SnmpIWE", stored).c_str(),
                iweFromRequest(request, "SnmpInfo", "SnmpWarn", "SnmpErr", i).c_str());
    addVariable(table->address(), indexedKey("SnmpPort", stored).c_str(), port.c_str());
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
  for (int i = 0; i < kSnmpRequestRows && stored < kSnmpReceiverSlots; ++i) {
    const char* server = indexedValue(request, "SnmpServer", i);
    if (server == nullptr || trimBlanks(server).empty()) continue;
    addVariable(table.address(), indexedKey("SnmpServer", stored).c_str(), server);
    addVariable(table.address(), indexedKey("SnmpCommunity", stored).c_str(), valueOrEmpty(request, "SnmpCommunity", i));
    addVariable(table.address(), indexedKey("SnmpIWE", stored).c_str(),
                iweFromRequest(request, "SnmpInfo", "SnmpWarn", "SnmpErr", i).c_str());
    addVariable(table.address(), indexedKey("SnmpPort", stored).c_str(), valueOrEmpty(request, "SnmpPort", i));
    ++stored;
  }
  return table.release();
}

}  // namespace

VariableTable GetSnmpConfig(VariableTable /*request*/) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.snmpInUse, kPageInUse)) {
    addVariable(&reply, "Message", kPageTimeout);
    addVariable(&reply, "HTMLPath", kErrorPanel);
    logServerError((std::string(" ") + kPageTimeout + " ").c_str());
    return reply;
  }
  addReceiverRows(&reply, settings.snmp);
  releaseFileInUse(&settings.snmpInUse);
  addVariable(&reply, "HTMLPath", kSettingsPage);
  return reply;
}

VariableTable SetSnmpConfig(VariableTable request) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.snmpInUse, kPageInUse)) {
    logServerError(kSaveTimeout);
    addCommandResult(&reply, true, "CmdSetSnmp", "SettingsTimeout");
  } else {
    const char* failure =
        saveReceiverSettings(request, &settings.snmp, kSnmpIniPath, kSnmpIniHeader, buildReceiverTable);
    releaseFileInUse(&settings.snmpInUse);
    addCommandResult(&reply, failure != nullptr, "CmdSetSnmp", failure);
  }
  appendVariableTable(&reply, GetSnmpConfig(request));
  return reply;
}

VariableTable TestSnmpConfig(VariableTable request) {
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
    addCommandResult(&reply, true, "CmdTestSnmp", "InvalidReceiverSettings");
  } else if (!isKnownText(message) || !isKnownText(device)) {
    addCommandResult(&reply, true, "CmdTestSnmp", "NoTestMessage");
  } else {
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    const EventRecord record{message, device, 4, now, now, 0, 0};
    std::vector<ReceiverOutcome> outcomes;
    for (int i = 0; i < kSnmpReceiverSlots; ++i) {
      const SnmpReceiver receiver = snmpReceiverAt(form.get(), i);
      if (receiver.complete) outcomes.push_back(sendSnmpTestTrap(receiver, record, kTestRefusalWaitMs));
    }
    addTestReport(&reply, "CmdTestSnmp", "snmp", outcomes);
  }
  std::free(message);
  std::free(device);
  return reply;
}
