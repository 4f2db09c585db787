// The tech-support methods; see techsupport.h. The archive file itself is built in
// techsupport_archive.cc.
#include "server/techsupport.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/debug.h"
#include "common/file_utils.h"
#include "common/private_file.h"
#include "common/property_file.h"
#include "server/components.h"
#include "server/request/command_result.h"
#include "server/techsupport_archive.h"

namespace {

constexpr const char kProblemHeader[] = "''''' Customer Problem Information ''''''";
constexpr const char kNotSupplied[] = "Not Supplied.";
constexpr const char* kCustomerFields[] = {"CompanyName", "PersonName", "PhoneNumber", "EmailAddress",
                                           "Problem"};
constexpr const char* kLeftOutFields[] = {"module",     "method",     "RemoteAddress",
                                          "RemoteUser", "RemoteHost", "CgiTimeLimit"};

std::atomic<bool> gRunGoingOn{false};

struct MallocDeleter {
  void operator()(char* text) const { std::free(text); }
};
using MallocText = std::unique_ptr<char, MallocDeleter>;

// One page of the server whose request and reply go into the archive.
struct PageSnapshot {
  const char* method;
  const char* fileName;
  const char* header;
  bool localRequest;  // the request carries "RemoteAddress" = "127.0.0.1"
};

constexpr PageSnapshot kPages[] = {
    {"GetAboutPage", "aGetAboutPage.Info", "''''' GetAboutPage ''''''", false},
    {"GetNetworkInfo", "aGetNetworkInfo.Info", "''''' GetNetworkInfo ''''''", true},
    {"GetEmailConfig", "aGetEmailConfig.Info", "''''' GetEmailConfig ''''''", false},
    {"GetSyslogConfig", "aGetSyslogConfig.Info", "''''' GetSyslogConfig ''''''", false},
    {"GetSnmpConfig", "aGetSnmpConfig.Info", "''''' GetSnmpConfig ''''''", false},
    {"GetPrefsConfig", "aGetPrefsConfig.Info", "''''' GetPrefsConfig ''''''", false},
    {"LoadIndex", "aLoadIndex.Info", "''''' LoadIndex ''''''", true},
    {"ExportLogs", "aExportLogs.Info", "''''' ExportLogs ''''''", false},
    {"ViewLogs", "aViewLogs.Info", "''''' ViewLogs ''''''", false},
    {"GetMainPage", "aServerGetMainPage.Info", "''''' Server GetMainPage ''''''", true},
    {"PingPage", "aServerPing.Info", "''''' Server Ping ''''''", false},
    {"GetDebugInfo", "aGetDebugInfo.Info", "''''' GetDebugInfo ''''''", true},
};

bool isLeftOut(const char* key) {
  for (const char* field : kLeftOutFields) {
    if (std::strcmp(key, field) == 0) return true;
  }
  for (const char* field : kCustomerFields) {
    if (std::strcmp(key, field) == 0) return true;
  }
  // Such a key could not be read back from a property file.
  return *key == '\0' || std::strpbrk(key, "=\r\n") != nullptr;
}

std::string informationPath(const char* name) { return std::string(kInformationFolder) + "/" + name; }

void writeSnapshotFile(const PageSnapshot& page, VariableTable request, VariableTable reply) {
  const std::string path = informationPath(page.fileName);
  FILE* file = openPrivateFile(path.c_str(), "w", kSharedFileMode);
  if (file == nullptr) {
    std::printf("Unable to write %s\n", path.c_str());
    return;
  }
  std::fprintf(file, "'%s\n", page.header);
  writeVariableTableText(request, file);
  writeVariableTableText(reply, file);
  std::fclose(file);
}

// Routes one server page; null when the method does not exist.
VariableTable callPage(const char* method, VariableTable request) {
  ServerMethod handler = serverComponents().findServerMethod(method);
  return handler != nullptr ? handler(request) : nullptr;
}

TableOwner newPageRequest(const PageSnapshot& page) {
  TableOwner request;
  addVariable(request.address(), "module", "server");
  addVariable(request.address(), "method", page.method);
  if (page.localRequest) addVariable(request.address(), "RemoteAddress", "127.0.0.1");
  return request;
}

// The ping page is asked with the change count of a network page read just before, and its reply
// is written as one that needs no update.
void addPingExtras(VariableTable* request) {
  TableOwner networkRequest;
  addVariable(networkRequest.address(), "module", "server");
  addVariable(networkRequest.address(), "method", "GetNetworkInfo");
  TableOwner networkReply(callPage("GetNetworkInfo", networkRequest.get()));
  const char* changes = getVariable(networkReply.get(), "NumberOfNetworkChanges");
  if (changes != nullptr) addVariable(request, "NumberOfNetworkChanges", changes);
}

void writePageSnapshots() {
  for (const PageSnapshot& page : kPages) {
    if (serverComponents().findServerMethod(page.method) == nullptr) continue;
    TableOwner request = newPageRequest(page);
    const bool isPing = std::strcmp(page.method, "PingPage") == 0;
    if (isPing) addPingExtras(request.address());
    dumpVariableTable(request.get());
    TableOwner reply(callPage(page.method, request.get()));
    if (isPing) replaceVariable(reply.address(), "NeedUpdate", "false");
    writeSnapshotFile(page, request.get(), reply.get());
  }
}

void copyCollectedFiles() {
  copyFile(kServerLogPath, informationPath("ServerLog.log").c_str());
  if (debugToFile()) copyDebugFile(informationPath("DebugPrint.log").c_str());
  copyFile(kServerIniPath, informationPath("Server.ini").c_str());
}

VariableTable runningReply() {
  std::printf(">>>>>>>>>>>>>>>>>>>>>>>>>>_______________ ALREADY GETTING TECH SUPPORT ______________\n");
  std::fflush(stdout);
  VariableTable reply = nullptr;
  addCommandResult(&reply, true, "CmdGetTechSupport", "TechSupportRunning");
  addVariable(&reply, "HTMLPath", "../Server/other/tech_support_main.htm");
  return reply;
}

// Clears the run mark however the run ends.
struct RunMark {
  ~RunMark() { gRunGoingOn.store(false); }
};

}  // namespace

int writeProblemInfo(VariableTable request, const char* timeText, const char* longDateText) {
  TableOwner problem;
  for (VariableEntry* entry = request; entry != nullptr; entry = entry->next) {
    if (isLeftOut(entry->key)) continue;
    // A key the file cannot hold (a form field named with a leading blank, quote or backslash)
    // is left out: refusing the whole file would lose the customer's own text with it.
    const std::string value = escapeToOneLine(entry->value);
    if (!isWritableProperty(entry->key, value.c_str())) continue;
    addVariable(problem.address(), entry->key, value.c_str());
  }
  for (const char* field : kCustomerFields) {
    const char* value = getVariable(request, field);
    const bool supplied = value != nullptr && *value != '\0';
    addVariable(problem.address(), field, supplied ? escapeToOneLine(value).c_str() : kNotSupplied);
  }
  addVariable(problem.address(), "TimeOfArchive", timeText != nullptr ? timeText : "");
  addVariable(problem.address(), "DateOfArchive", longDateText != nullptr ? longDateText : "");
  return writePropertyFile(informationPath(kProblemFileName).c_str(), kProblemHeader, problem.get());
}

VariableTable GatherInformation(VariableTable request) {
  bool idle = false;
  if (!gRunGoingOn.compare_exchange_strong(idle, true)) return runningReply();
  RunMark mark;
  MallocText time(timeText());
  MallocText date(longDateText());

  removeFolder(kInformationFolder);
  makeFolder(kInformationFolder);
  if (writeProblemInfo(request, time.get(), date.get()) != 0)
    std::printf("Unable to write the problem file\n");
  serverComponents().gatherModuleInformation();
  copyCollectedFiles();
  writePageSnapshots();

  const std::string archive = archiveFileName(date.get(), time.get());
  if (createArchive(kInformationFolder, archive.c_str()) == 0) {
    std::printf("Archive of information created.\n");
  } else {
    std::printf("FAILURE Archive of information NOT created.\n");
  }
  std::printf("Date Time = %s\n", archive.c_str());
  std::fflush(stdout);

  VariableTable reply = nullptr;
  addVariable(&reply, "ExportText", ("../../" + informationPath(archive.c_str())).c_str());
  return reply;
}

VariableTable TechSupportPing(VariableTable) {
  VariableTable reply = nullptr;
  addBoolVariable(&reply, "GetInfoRunning", gRunGoingOn.load());
  addVariable(&reply, "HTMLPath", "../Server/other/tech_support_ping.htm");
  return reply;
}
