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
#include "server/events/receiver_pages.h"
#include "server/events/syslog_sender.h"
#include "server/main_loop.h"
#include "server/net/socket_layer.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kSettingsPage[] = "../Server/other/setting_syslog.htm";
constexpr char kPageTimeout[] = "Timed out while waiting for SYSLOG configuration file for script.";
constexpr char kSaveTimeout[] = "Timed out while waiting for SYSLOG configuration file to add an entry.";
constexpr char kDefaultPort[] = "514";
constexpr char kDefaultTlsPort[] = "6514";
// A path on a settings line, within the property file's line length.
constexpr size_t kMaxPathText = 400;

const char* valueOrEmpty(VariableTable table, const char* key, int index) {
  const char* value = indexedValue(table, key, index);
  return value != nullptr ? value : "";
}

std::string rowKey(int row, const char* field) { return "SyslogLoop" + std::to_string(row) + field; }

// REQUIRES: the in-use word is held.
void addReceiverRows(VariableTable* reply, VariableTable settings, VariableTable /*secrets*/) {
  int rows = 0;
  for (; rows < kSyslogReceiverSlots && indexedValue(settings, "SyslogServer", rows) != nullptr; ++rows) {
    addVariable(reply, rowKey(rows, "SyslogServer").c_str(), valueOrEmpty(settings, "SyslogServer", rows));
    addVariable(reply, rowKey(rows, "SyslogIWE").c_str(), valueOrEmpty(settings, "SyslogIWE", rows));
    addVariable(reply, rowKey(rows, "SyslogPort").c_str(), valueOrEmpty(settings, "SyslogPort", rows));
    const char* format = indexedValue(settings, "SyslogFormat", rows);
    const char* transport = indexedValue(settings, "SyslogTransport", rows);
    addVariable(reply, rowKey(rows, "SyslogFormat").c_str(), format != nullptr ? format : "bsd");
    addVariable(reply, rowKey(rows, "SyslogTransport").c_str(), transport != nullptr ? transport : "udp");
    addVariable(reply, rowKey(rows, "SyslogCaFile").c_str(), valueOrEmpty(settings, "SyslogCaFile", rows));
  }
  addIntVariable(reply, "SyslogLoop", static_cast<uint32_t>(rows), true);
  addIntVariable(reply, "TotalSyslog", static_cast<uint32_t>(rows), true);
  const char* version = getVariable(settings, "version");
  addVariable(reply, "version", version != nullptr ? version : "");
  const char* reminders = getVariable(settings, "SyslogReminderInterval");
  addVariable(reply, "SyslogReminderInterval", reminders != nullptr ? reminders : "");
}

// The port a receiver gets when none is given: 514 for UDP and TCP, 6514 for TLS.
const char* defaultPortOf(SyslogTransport transport) {
  return transport == SyslogTransport::kTls ? kDefaultTlsPort : kDefaultPort;
}

// The receivers of the request, renumbered from 0, behind "version". False when a receiver's
// address, port, format, transport or CA file can't be used. Over UDP host names are not resolved,
// so the address must be dotted; over TCP and TLS a name may be given. A format, transport or CA
// file is stored only when it differs from the default (BSD over UDP), so that a receiver saved as
// it always was reads as it always did.
bool buildReceiverTable(VariableTable request, uint32_t version, TableOwner* table) {
  addUnsignedVariable(table->address(), "version", version);
  if (!addReminderInterval(request, "SyslogReminderInterval", table)) return false;
  int stored = 0;
  for (int i = 0; i < kSyslogRequestRows; ++i) {
    const char* posted = indexedValue(request, "SyslogServer", i);
    const std::string server = posted != nullptr ? trimBlanks(posted) : std::string();
    if (server.empty()) continue;
    SyslogFormat format = SyslogFormat::kBsd;
    SyslogTransport transport = SyslogTransport::kUdp;
    const bool known = parseSyslogFormat(indexedValue(request, "SyslogFormat", i), &format) &&
                       parseSyslogTransport(indexedValue(request, "SyslogTransport", i), &transport);
    const char* postedPort = indexedValue(request, "SyslogPort", i);
    const std::string port = postedPort == nullptr || postedPort[0] == '\0' || postedPort[0] == ' '
                                 ? std::string(defaultPortOf(transport))
                                 : std::string(postedPort);
    const char* postedCa = indexedValue(request, "SyslogCaFile", i);
    const std::string caFile = trimBlanks(postedCa != nullptr ? postedCa : "");
    const bool addressOk =
        transport == SyslogTransport::kUdp ? parseDottedAddress(server.c_str(), nullptr) : true;
    if (!known || !isHostText(server) || !addressOk || !parsePortText(port, nullptr) ||
        !isPlainText(caFile, kMaxPathText)) {
      *table = TableOwner();
      return false;
    }
    addVariable(table->address(), indexedKey("SyslogServer", stored).c_str(), server.c_str());
    addVariable(table->address(), indexedKey("SyslogIWE", stored).c_str(),
                iweFromRequest(request, "SyslogInfo", "SyslogWarn", "SyslogErr", i).c_str());
    addVariable(table->address(), indexedKey("SyslogPort", stored).c_str(), port.c_str());
    if (format != SyslogFormat::kBsd) {
      addVariable(table->address(), indexedKey("SyslogFormat", stored).c_str(), syslogFormatText(format));
    }
    if (transport != SyslogTransport::kUdp) {
      addVariable(table->address(), indexedKey("SyslogTransport", stored).c_str(),
                  syslogTransportText(transport));
    }
    if (!caFile.empty())
      addVariable(table->address(), indexedKey("SyslogCaFile", stored).c_str(), caFile.c_str());
    ++stored;
  }
  return true;
}

// How long a test waits for the host to say that nothing listens on the receiver's port.
constexpr int kTestRefusalWaitMs = 500;

// The rows of the request as they were typed, for showing them again when they can't be used.
VariableTable formReceiverTable(VariableTable request) {
  TableOwner table;
  if (const char* reminders = getVariable(request, "SyslogReminderInterval")) {
    addVariable(table.address(), "SyslogReminderInterval", reminders);
  }
  int stored = 0;
  for (int i = 0; i < kSyslogRequestRows && stored < kSyslogReceiverSlots; ++i) {
    const char* server = indexedValue(request, "SyslogServer", i);
    if (server == nullptr || trimBlanks(server).empty()) continue;
    addVariable(table.address(), indexedKey("SyslogServer", stored).c_str(), server);
    addVariable(table.address(), indexedKey("SyslogIWE", stored).c_str(),
                iweFromRequest(request, "SyslogInfo", "SyslogWarn", "SyslogErr", i).c_str());
    addVariable(table.address(), indexedKey("SyslogPort", stored).c_str(), valueOrEmpty(request, "SyslogPort", i));
    for (const char* key : {"SyslogFormat", "SyslogTransport", "SyslogCaFile"}) {
      if (const char* value = indexedValue(request, key, i))
        addVariable(table.address(), indexedKey(key, stored).c_str(), value);
    }
    ++stored;
  }
  return table.release();
}

// The receivers of the request; syslog keeps no secrets.
const char* buildTables(VariableTable request, VariableTable /*current*/, VariableTable /*currentSecrets*/,
                        uint32_t version, TableOwner* settings, TableOwner* /*secrets*/) {
  return buildReceiverTable(request, version, settings) ? nullptr : "InvalidReceiverSettings";
}

std::vector<ReceiverOutcome> testReceivers(VariableTable form, VariableTable /*secrets*/,
                                           const EventRecord& record) {
  std::vector<ReceiverOutcome> outcomes;
  for (int i = 0; i < kSyslogReceiverSlots; ++i) {
    const SyslogReceiver receiver = syslogReceiverAt(form, i);
    if (!receiver.server.empty())
      outcomes.push_back(sendSyslogTestMessage(receiver, record, kTestRefusalWaitMs));
  }
  return outcomes;
}

const ReceiverPages kPages = {"syslog",
                              &ServerSettings::syslogInUse,
                              &ServerSettings::syslog,
                              kSyslogIniPath,
                              kSyslogIniHeader,
                              nullptr,
                              nullptr,
                              kSettingsPage,
                              kPageTimeout,
                              kSaveTimeout,
                              "CmdSetSyslog",
                              "CmdTestSyslog",
                              addReceiverRows,
                              buildTables,
                              formReceiverTable,
                              testReceivers};

}  // namespace

VariableTable GetSyslogConfig(VariableTable /*request*/) { return receiverGetPage(kPages); }

VariableTable SetSyslogConfig(VariableTable request) { return receiverSetPage(kPages, request); }

// The test uses the receivers on the page, saved or not, and answers with them.
VariableTable TestSyslogConfig(VariableTable request) { return receiverTestPage(kPages, request); }
