// The module list and the module life cycle: scanning mods/, ordering, loading and unloading the
// libraries, the module table printout, and the calls at the fixed moments of the server's life
// (startup, device list, shutdown/reset). See module_manager.h.
#include "server/request/module_manager.h"

#include <algorithm>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "common/thread_annotations.h"
#include "server/main_loop.h"
#include "server/request/module_internal.h"
#include "server/request/module_library.h"

namespace {

namespace fs = std::filesystem;

constexpr const char kModsFolder[] = "mods";

// Head of the ordered list. Changed only by loadModules/unloadModules while no request is
// served; atomic so that request threads read a whole pointer.
std::atomic<ModuleRecord*> g_head{nullptr};

// Whether module requests wait for the modules' start, with its lock and the waiters' wake-up.
struct StartHold {
  Mutex lock;
  std::condition_variable released;
  bool held GUARDED_BY(lock) = false;
};

StartHold& startHold() {
  static StartHold* const hold = new StartHold;
  return *hold;
}

void freeRecord(ModuleRecord* record) {
  std::free(record->name);
  std::free(record->displayName);
  std::free(record);
}

void freeRecords(ModuleRecord* head) {
  while (head != nullptr) {
    ModuleRecord* next = head->next;
    closeModuleLibrary(head->library);
    freeRecord(head);
    head = next;
  }
}

// True when path names a regular file that can be opened for reading.
bool libraryFileReadable(const std::string& path) {
  std::error_code ec;
  if (!fs::is_regular_file(path, ec)) return false;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  std::fclose(file);
  return true;
}

// Names of the candidate module folders: folders under mods whose names do not begin with a dot,
// in byte order of their names so that equal tab orders give the same tabs on every start.
std::vector<std::string> moduleFolderNames() {
  std::vector<std::string> names;
  std::error_code ec;
  fs::directory_iterator it(kModsFolder, ec);
  if (ec) return names;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    if (ec) break;
    std::string name = it->path().filename().string();
    std::error_code typeError;
    if (name.empty() || name[0] == '.' || !it->is_directory(typeError)) continue;
    names.push_back(std::move(name));
  }
  std::sort(names.begin(), names.end());
  return names;
}

ModuleRecord* newRecord(const std::string& name) {
  ModuleRecord* record = static_cast<ModuleRecord*>(std::calloc(1, sizeof(ModuleRecord)));
  char* copy = strdup(name.c_str());
  if (record == nullptr || copy == nullptr) {
    std::printf("Out of memory for the module %s.\n", name.c_str());
    std::free(record);
    std::free(copy);
    return nullptr;
  }
  record->name = copy;
  return record;
}

// Step 1: one record (settings read) per folder that holds its library, in listing order.
std::vector<ModuleRecord*> scanModules() {
  std::vector<ModuleRecord*> records;
  for (const std::string& name : moduleFolderNames()) {
    if (!libraryFileReadable(moduleLibraryPath(name.c_str()))) continue;
    ModuleRecord* record = newRecord(name);
    if (record == nullptr) continue;
    readModuleSettings(record);
    records.push_back(record);
  }
  return records;
}

// Step 3 for one record.
void loadLibrary(ModuleRecord* record) {
  if (!record->enabled) {
    std::printf("Module %s disabled - not loaded.\n", record->name);
    return;
  }
  const std::string path = moduleLibraryPath(record->name);
  std::string reason = "the library cannot be opened";
  if (libraryFileReadable(path)) record->library = openModuleLibrary(path.c_str(), &reason);
  if (record->library == nullptr) {
    std::printf("Load module failed.\n");
    std::printf("  %s\n", reason.c_str());
  }
}

}  // namespace

std::string moduleLibraryPath(const char* name) {
  return std::string(kModsFolder) + "/" + name + "/" + name + kModuleLibrarySuffix;
}

std::string moduleSettingsPath(const char* name) {
  return std::string(kModsFolder) + "/" + name + "/" + name + "Settings.ini";
}

void* findRecordExport(const ModuleRecord* record, const char* exportName) {
  if (record == nullptr || record->library == nullptr) return nullptr;
  return findModuleExport(record->library, exportName);
}

void loadModules() {
  std::printf("Loading Modules.\n");
  // A list left from a pass whose shutdown never ran must not leak or stay loaded twice.
  freeRecords(g_head.exchange(nullptr));

  std::vector<ModuleRecord*> records = scanModules();
  if (records.empty()) std::printf("No modules found.\n");
  std::stable_sort(records.begin(), records.end(),
                   [](const ModuleRecord* a, const ModuleRecord* b) { return a->tabOrder < b->tabOrder; });
  ModuleRecord* head = nullptr;
  for (auto it = records.rbegin(); it != records.rend(); ++it) {
    (*it)->next = head;
    head = *it;
  }
  for (ModuleRecord* record = head; record != nullptr; record = record->next) loadLibrary(record);
  resetModuleStatusCache();
  g_head.store(head);
  printModuleTable();
  std::printf("Loading Modules Complete.\n");
  std::fflush(stdout);
}

void unloadModules() {
  releaseModuleRequests();
  freeRecords(g_head.exchange(nullptr));
  resetModuleStatusCache();
}

ModuleRecord* moduleList() { return g_head.load(); }

const char* firstEnabledModuleName() {
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (record->enabled) return record->name;
  }
  return nullptr;
}

void printModuleTable() {
  std::printf("+---- Module Info ------------------------------------\n");
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    const auto handle = static_cast<unsigned int>(reinterpret_cast<uintptr_t>(record->library));
    std::printf("+ Module %-10s ena=%d ord=%d name=%s lib=%x\n", record->name, record->enabled,
                record->tabOrder, record->displayName != nullptr ? record->displayName : "(null)", handle);
  }
  std::printf("+-----------------------------------------------------\n");
  std::fflush(stdout);
}

void holdModuleRequests() {
  StartHold& hold = startHold();
  MutexLock lock(hold.lock);
  hold.held = true;
}

void releaseModuleRequests() {
  StartHold& hold = startHold();
  {
    MutexLock lock(hold.lock);
    hold.held = false;
  }
  hold.released.notify_all();
}

bool waitForModuleStart(std::chrono::milliseconds limit) {
  StartHold& hold = startHold();
  MutexLock lock(hold.lock);
  return hold.released.wait_for(lock.native(), limit, [&hold]() REQUIRES(hold.lock) { return !hold.held; });
}

void startModules() {
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    auto startup = reinterpret_cast<ModuleStartupFn>(findRecordExport(record, "startup"));
    if (startup != nullptr) startup(moduleServices());
  }
}

void callAcceptDeviceList(DeviceRecord* list) {
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    auto accept = reinterpret_cast<ModuleAcceptDeviceListFn>(findRecordExport(record, "acceptDeviceList"));
    if (accept != nullptr) accept(list);
  }
  releaseModuleRequests();
}

void moduleShutdownProcedures(bool restarting) {
  releaseModuleRequests();
  const char* exportName = restarting ? "doResetProcedures" : "doShutdownProcedures";
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (record->library == nullptr) continue;
    printModuleShutdownBanner(record->name, restarting);
    // Both procedures have the same type.
    auto procedure = reinterpret_cast<ModuleShutdownFn>(findRecordExport(record, exportName));
    if (procedure != nullptr) procedure();
  }
}
