// The SNMP settings pages; see snmp_settings.h.
#include "server/events/snmp_settings.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_test_report.h"
#include "server/events/receiver_pages.h"
#include "server/events/secret_file.h"
#include "server/events/snmp_sender.h"
#include "server/events/snmp_transport.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kSettingsPage[] = "../Server/other/setting_snmp.htm";
constexpr char kPageTimeout[] = "Timed out while waiting for SNMP configuration file for script.";
constexpr char kSaveTimeout[] = "Timed out while waiting for SNMP configuration file to add an entry.";
constexpr char kDefaultCommunity[] = "public";
constexpr char kDefaultPort[] = "162";
// USM user names are SnmpAdminStrings of at most 32 octets.
constexpr size_t kMaxUser = 32;
constexpr size_t kMaxPassphrase = 128;

// Empty text for an absent value.
const char* valueOrEmpty(VariableTable table, const char* key, int index) {
  const char* value = indexedValue(table, key, index);
  return value != nullptr ? value : "";
}

std::string rowKey(int row, const char* field) { return "SnmpLoop" + std::to_string(row) + field; }

// The page's rows of settings, with whether each version 3 receiver has its passphrases stored.
// REQUIRES: the in-use word is held (or settings is the caller's own table).
void addReceiverRows(VariableTable* reply, VariableTable settings, VariableTable secrets) {
  int rows = 0;
  for (; rows < kSnmpReceiverSlots && indexedValue(settings, "SnmpServer", rows) != nullptr; ++rows) {
    for (const char* field : {"SnmpServer", "SnmpCommunity", "SnmpIWE", "SnmpPort", "SnmpUser", "SnmpId"}) {
      addVariable(reply, rowKey(rows, field).c_str(), valueOrEmpty(settings, field, rows));
    }
    const char* version = indexedValue(settings, "SnmpVersion", rows);
    const char* protocol = indexedValue(settings, "SnmpAuthProtocol", rows);
    addVariable(reply, rowKey(rows, "SnmpVersion").c_str(), version != nullptr ? version : "1");
    addVariable(reply, rowKey(rows, "SnmpAuthProtocol").c_str(), protocol != nullptr ? protocol : "SHA-256");
    const char* id = indexedValue(settings, "SnmpId", rows);
    const bool stored = id != nullptr && getVariable(secrets, snmpAuthKeyName(id).c_str()) != nullptr &&
                        getVariable(secrets, snmpPrivKeyName(id).c_str()) != nullptr;
    addBoolVariable(reply, rowKey(rows, "SnmpKeysStored").c_str(), stored);
  }
  addIntVariable(reply, "SnmpLoop", static_cast<uint32_t>(rows), true);
  addIntVariable(reply, "TotalSnmp", static_cast<uint32_t>(rows), true);
  const char* version = getVariable(settings, "version");
  addVariable(reply, "version", version != nullptr ? version : "");
  const char* reminders = getVariable(settings, "SnmpReminderInterval");
  addVariable(reply, "SnmpReminderInterval", reminders != nullptr ? reminders : "");
}

// A posted text that is absent, empty or begins with a space takes the default.
std::string valueOrDefault(VariableTable request, const char* key, int index, const char* fallback) {
  const char* value = indexedValue(request, key, index);
  return value == nullptr || value[0] == '\0' || value[0] == ' ' ? std::string(fallback) : std::string(value);
}

// A passphrase typed on the page: 8 to 128 characters without control characters or blanks at
// either end. *given when one was typed.
bool postedPassphrase(VariableTable request, const char* key, int index, std::string* value, bool* given) {
  const char* posted = indexedValue(request, key, index);
  *given = posted != nullptr && posted[0] != '\0';
  if (!*given) return true;
  *value = posted;
  return value->size() >= kMinSnmpPassphrase && isPlainText(*value, kMaxPassphrase) &&
         trimBlanks(*value) == *value;
}

// The version 3 settings of request row i into the stored row: its user, protocol and identity,
// and its passphrases into secrets (typed, or kept from currentSecrets). Returns the details key of
// a failure, or null.
const char* addVersion3(VariableTable request, int i, int stored, const std::set<std::string>& known,
                        std::set<std::string>* used, VariableTable currentSecrets, TableOwner* table,
                        TableOwner* secrets) {
  const char* posted = indexedValue(request, "SnmpUser", i);
  const std::string user = trimBlanks(posted != nullptr ? posted : "");
  const char* protocolPosted = indexedValue(request, "SnmpAuthProtocol", i);
  const std::string protocol = trimBlanks(protocolPosted != nullptr ? protocolPosted : "");
  if (user.empty() || user.size() > kMaxUser || !isPlainText(user, kMaxUser) ||
      user.find(' ') != std::string::npos ||
      (!protocol.empty() && protocol != "SHA-256" && protocol != "SHA-1")) {
    return "InvalidReceiverSettings";
  }
  std::string id = trimBlanks(valueOrEmpty(request, "SnmpId", i));
  if (known.count(id) == 0 || used->count(id) != 0) id = newReceiverId();
  used->insert(id);
  std::string auth;
  std::string priv;
  bool authGiven = false;
  bool privGiven = false;
  if (!postedPassphrase(request, "SnmpAuthKey", i, &auth, &authGiven) ||
      !postedPassphrase(request, "SnmpPrivKey", i, &priv, &privGiven)) {
    return "SnmpPassphraseInvalid";
  }
  const char* keptAuth = getVariable(currentSecrets, snmpAuthKeyName(id).c_str());
  const char* keptPriv = getVariable(currentSecrets, snmpPrivKeyName(id).c_str());
  if (!authGiven && keptAuth != nullptr) auth = keptAuth;
  if (!privGiven && keptPriv != nullptr) priv = keptPriv;
  if (auth.empty() || priv.empty()) return "SnmpPassphraseInvalid";
  addVariable(table->address(), indexedKey("SnmpUser", stored).c_str(), user.c_str());
  addVariable(table->address(), indexedKey("SnmpAuthProtocol", stored).c_str(),
              protocol.empty() ? "SHA-256" : protocol.c_str());
  addVariable(table->address(), indexedKey("SnmpId", stored).c_str(), id.c_str());
  addVariable(secrets->address(), snmpAuthKeyName(id).c_str(), auth.c_str());
  addVariable(secrets->address(), snmpPrivKeyName(id).c_str(), priv.c_str());
  return nullptr;
}

// The identities of the version 3 receivers of settings.
std::set<std::string> identities(VariableTable settings) {
  std::set<std::string> ids;
  for (int i = 0; i < kSnmpRequestRows; ++i) {
    const char* id = indexedValue(settings, "SnmpId", i);
    if (id != nullptr && isReceiverId(id)) ids.insert(id);
  }
  return ids;
}

// The receivers of the request, renumbered from 0, behind "version", and the passphrases of its
// version 3 receivers. Returns the details key of a receiver that can't be stored or used, or
// null. A version is stored only when it is not 1, so that a receiver saved as it always was reads
// as it always did.
const char* buildReceiverTable(VariableTable request, VariableTable current, VariableTable currentSecrets,
                               uint32_t version, TableOwner* table, TableOwner* secrets) {
  addUnsignedVariable(table->address(), "version", version);
  if (!addReminderInterval(request, "SnmpReminderInterval", table)) return "InvalidReceiverSettings";
  const std::set<std::string> known = identities(current);
  std::set<std::string> used;
  int stored = 0;
  for (int i = 0; i < kSnmpRequestRows; ++i) {
    const char* posted = indexedValue(request, "SnmpServer", i);
    const std::string server = posted != nullptr ? trimBlanks(posted) : std::string();
    if (server.empty()) continue;
    const std::string community = valueOrDefault(request, "SnmpCommunity", i, kDefaultCommunity);
    const std::string port = valueOrDefault(request, "SnmpPort", i, kDefaultPort);
    SnmpVersion snmpVersion = SnmpVersion::kV1;
    if (!isHostText(server) || !isPlainText(community, 255) || !parsePortText(port, nullptr) ||
        !parseSnmpVersion(indexedValue(request, "SnmpVersion", i), &snmpVersion)) {
      return "InvalidReceiverSettings";
    }
    addVariable(table->address(), indexedKey("SnmpServer", stored).c_str(), server.c_str());
    addVariable(table->address(), indexedKey("SnmpCommunity", stored).c_str(), community.c_str());
    addVariable(table->address(), indexedKey("SnmpIWE", stored).c_str(),
                iweFromRequest(request, "SnmpInfo", "SnmpWarn", "SnmpErr", i).c_str());
    addVariable(table->address(), indexedKey("SnmpPort", stored).c_str(), port.c_str());
    if (snmpVersion != SnmpVersion::kV1) {
      addVariable(table->address(), indexedKey("SnmpVersion", stored).c_str(), snmpVersionText(snmpVersion));
    }
    if (snmpVersion == SnmpVersion::kV3) {
      if (const char* bad = addVersion3(request, i, stored, known, &used, currentSecrets, table, secrets))
        return bad;
    }
    ++stored;
  }
  return nullptr;
}

// How long a test waits for the host to say that nothing listens on the receiver's port.
constexpr int kTestRefusalWaitMs = 500;

// The rows of the request as they were typed, for showing them again when they can't be used.
VariableTable formReceiverTable(VariableTable request) {
  TableOwner table;
  if (const char* reminders = getVariable(request, "SnmpReminderInterval")) {
    addVariable(table.address(), "SnmpReminderInterval", reminders);
  }
  int stored = 0;
  for (int i = 0; i < kSnmpRequestRows && stored < kSnmpReceiverSlots; ++i) {
    const char* server = indexedValue(request, "SnmpServer", i);
    if (server == nullptr || trimBlanks(server).empty()) continue;
    addVariable(table.address(), indexedKey("SnmpServer", stored).c_str(), server);
    addVariable(table.address(), indexedKey("SnmpCommunity", stored).c_str(), valueOrEmpty(request, "SnmpCommunity", i));
    addVariable(table.address(), indexedKey("SnmpIWE", stored).c_str(),
                iweFromRequest(request, "SnmpInfo", "SnmpWarn", "SnmpErr", i).c_str());
    addVariable(table.address(), indexedKey("SnmpPort", stored).c_str(), valueOrEmpty(request, "SnmpPort", i));
    for (const char* field : {"SnmpVersion", "SnmpUser", "SnmpAuthProtocol", "SnmpId"}) {
      if (const char* value = indexedValue(request, field, i))
        addVariable(table.address(), indexedKey(field, stored).c_str(), value);
    }
    ++stored;
  }
  return table.release();
}

std::vector<ReceiverOutcome> testReceivers(VariableTable form, VariableTable secrets,
                                           const EventRecord& record) {
  std::vector<ReceiverOutcome> outcomes;
  for (int i = 0; i < kSnmpReceiverSlots; ++i) {
    const SnmpReceiver receiver = snmpReceiverAt(form, secrets, i);
    if (receiver.complete) outcomes.push_back(sendSnmpTestTrap(receiver, record, kTestRefusalWaitMs));
  }
  return outcomes;
}

const ReceiverPages kPages = {"snmp",
                              &ServerSettings::snmpInUse,
                              &ServerSettings::snmp,
                              kSnmpIniPath,
                              kSnmpIniHeader,
                              kSnmpSecretPath,
                              kSnmpSecretHeader,
                              kSettingsPage,
                              kPageTimeout,
                              kSaveTimeout,
                              "CmdSetSnmp",
                              "CmdTestSnmp",
                              addReceiverRows,
                              buildReceiverTable,
                              formReceiverTable,
                              testReceivers};

}  // namespace

VariableTable GetSnmpConfig(VariableTable /*request*/) { return receiverGetPage(kPages); }

VariableTable SetSnmpConfig(VariableTable request) { return receiverSetPage(kPages, request); }

// The test uses the receivers on the page, saved or not (passphrases left empty are the stored
// ones), and answers with them.
VariableTable TestSnmpConfig(VariableTable request) { return receiverTestPage(kPages, request); }
