// Calls into the modules on behalf of requests: routing a request to a module, the module tab
// rows, the combined global status with its cache, and the tech-support information.
// See module_manager.h.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/thread_annotations.h"
#include "server/main_loop.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"
#include "server/server_state.h"

namespace {

constexpr auto kStatusCacheTime = std::chrono::seconds(10);
constexpr uint32_t kStatusUnknown = 255;
constexpr uint32_t kStatusWarningBit = 0x1;
constexpr uint32_t kStatusFailureBit = 0x2;

// The status lock and what it guards.
struct StatusCache {
  Mutex lock;
  bool computed GUARDED_BY(lock) = false;
  uint32_t value GUARDED_BY(lock) = 0;
  std::chrono::steady_clock::time_point when GUARDED_BY(lock){};
  ModuleStatusClock clock GUARDED_BY(lock) = nullptr;
};

StatusCache& statusCache() {
  static StatusCache* const cache = new StatusCache;
  return *cache;
}

// The records' status is written under the status lock and read by the tab rows without it.
uint32_t loadStatus(ModuleRecord* record) {
  return std::atomic_ref<uint32_t>(record->globalStatus).load(std::memory_order_relaxed);
}

void storeStatus(ModuleRecord* record, uint32_t value) {
  std::atomic_ref<uint32_t>(record->globalStatus).store(value, std::memory_order_relaxed);
}

std::string formatText(const char* format, const char* a, const char* b = nullptr) {
  char buffer[512];
  std::snprintf(buffer, sizeof(buffer), format, a, b);
  return buffer;
}

const char* tabImageFormat(uint32_t status, bool called) {
  if (status & kStatusFailureBit) return called ? "/%s/images/tabActive_fail.gif" : "/%s/images/tab_fail.gif";
  if (status & kStatusWarningBit) return called ? "/%s/images/tabActive_warn.gif" : "/%s/images/tab_warn.gif";
  return called ? "/%s/images/tabActive.gif" : "/%s/images/tab.gif";
}

}  // namespace

VariableTable errorPanelReply(const char* text) {
  VariableTable reply = nullptr;
  addVariable(&reply, "Message", text);
  addVariable(&reply, "HTMLPath", kErrorPanelTemplate);
  logServerError(text);
  return reply;
}

VariableTable callModule(VariableTable request, const char* moduleName, const char* method) {
  const char* methodText = method != nullptr ? method : kMissing;
  const char* nameText = moduleName != nullptr ? moduleName : kMissing;
  if (moduleName != nullptr && !waitForModuleStart(kModuleStartWait)) {
    logServerError(
        formatText("The modules have not started; the request for module %s goes on anyway", nameText)
            .c_str());
  }
  for (ModuleRecord* record = moduleList(); moduleName != nullptr && record != nullptr;
       record = record->next) {
    if (!record->enabled || std::strcmp(record->name, moduleName) != 0) continue;
    auto getValues =
        reinterpret_cast<ModuleGetValuesFn>(findRecordExport(record, "getValuesForParametersFromMod"));
    if (getValues == nullptr) {
      return errorPanelReply(
          formatText("getValuesForParametersFromMod is missing from module: %s", record->name).c_str());
    }
    VariableTable reply = getValues(request);
    if (reply == nullptr) {
      return errorPanelReply(
          formatText("Invalid method (%s) called from module: %s", methodText, record->name).c_str());
    }
    return reply;
  }
  return errorPanelReply(formatText("Could not find a module called: %s", nameText).c_str());
}

int moduleMethodAltersData(const char* moduleName, const char* method) {
  if (moduleName == nullptr) return -1;
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled || std::strcmp(record->name, moduleName) != 0) continue;
    if (findRecordExport(record, "getValuesForParametersFromMod") == nullptr) return -1;
    auto altersData =
        reinterpret_cast<ModuleMethodAltersDataFn>(findRecordExport(record, "methodAltersData"));
    if (altersData == nullptr) return 1;
    const int answer = altersData(method != nullptr ? method : "");
    return answer == 0 || answer == -1 ? answer : 1;
  }
  return -1;
}

VariableTable addModuleTabs(VariableTable reply) {
  addVariable(&reply, "HaveGlobalVersion", "true");
  // Copied: the rows below are added to the same table.
  char* called = getVariableCopy(reply, "CalledModule");
  int row = 0;
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    const bool isCalled = called != nullptr && std::strcmp(called, record->name) == 0;
    char key[64];
    std::snprintf(key, sizeof(key), "Module%dModuleName", row);
    addVariable(&reply, key, record->name);
    std::snprintf(key, sizeof(key), "Module%dModuleImage", row);
    addVariable(&reply, key, formatText(tabImageFormat(loadStatus(record), isCalled), record->name).c_str());
    ++row;
  }
  addIntVariable(&reply, "Module", static_cast<uint32_t>(row), true);
  std::free(called);
  return reply;
}

uint32_t combineModuleStatus(uint32_t combined, uint32_t value) {
  if (combined == kStatusUnknown) return combined;
  if (value == kStatusUnknown) return combined == 0 ? value : combined;
  return value > combined ? value : combined;
}

uint32_t getGlobalStatus(bool force) {
  StatusCache& cache = statusCache();
  MutexLock lock(cache.lock);
  const auto now = cache.clock != nullptr ? cache.clock() : std::chrono::steady_clock::now();
  if (!force && cache.computed && now - cache.when < kStatusCacheTime) return cache.value;
  uint32_t combined = 0;
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    auto getStatus =
        reinterpret_cast<ModuleGetGlobalStatusFn>(findRecordExport(record, "getGlobalModStatus"));
    const uint32_t value = getStatus != nullptr ? getStatus() : 0;
    storeStatus(record, value);
    combined = combineModuleStatus(combined, value);
  }
  if (combined != cache.value) serverControl().networkChanges.fetch_add(1);
  cache.value = combined;
  cache.when = now;
  cache.computed = true;
  return combined;
}

void gatherModuleInformation() {
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    TableOwner table;
    addVariable(table.address(), "CalledModule", record->name);
    *table.address() = addModuleTabs(table.release());
    auto gather = reinterpret_cast<ModuleGatherInformationFn>(findRecordExport(record, "gatherInformation"));
    if (gather != nullptr) gather(table.get());
  }
}

void setModuleStatusClock(ModuleStatusClock clock) {
  StatusCache& cache = statusCache();
  MutexLock lock(cache.lock);
  cache.clock = clock;
}

void resetModuleStatusCache() {
  StatusCache& cache = statusCache();
  MutexLock lock(cache.lock);
  cache.computed = false;
}
