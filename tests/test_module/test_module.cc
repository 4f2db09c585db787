// A module for the module manager's tests: every export of the module interface, each leaving a
// trace the tests can see (marker files in the module's own folder, answers to methods), and
// methods that call each server service the tests check.
//
// Methods ("method" key, exact): Echo, GetMainPage, GetMonitor, RewriteToGetMonitor (answers the
// monitor page and rewrites the request's method to say so), SetStatus ("status"),
// RaiseEvent ("device", "message", "level", "eventId"; "repeat" raises that many, at most 1000, the
// message then numbered), DispatchEvent (same keys but "repeat"), DebugPrint
// ("code", "text"), ServerRequest ("code"), TakeDeviceControl (the request is passed on),
// SendDeviceList, Services, DeviceCount, AddVariableAddress. Any other method answers null.
//
// With a file "hang_units" in its folder, acceptDeviceList hangs one UNCLAIMED unit on every
// valid record, named "Test" and 16 hexadecimal digits drawn from the record's bus address and
// identity, so that every server that sees the device forms the same name (the network tests
// watch these units being claimed). The server frees them with the device list.
//
// Thread safety: requests may come from several threads; the module's state is atomic and the
// marker files are appended with one write each.
#ifdef _WIN32
#include <windows.h>
#else
#include <dlfcn.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "common/device_list.h"
#include "common/module_abi.h"
#include "common/variable_table.h"

namespace {

std::atomic<const ModuleServices*> g_services{nullptr};
std::atomic<uint32_t> g_status{0};
std::atomic<int> g_devices{-1};

// The folder this library was loaded from, as the loader was given it.
std::string ownFolder() {
#ifdef _WIN32
  HMODULE self = nullptr;
  char name[MAX_PATH] = {};
  if (!GetModuleHandleExA(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCSTR>(&ownFolder), &self) ||
      GetModuleFileNameA(self, name, sizeof(name)) == 0) {
    return ".";
  }
  std::string path = name;
  const size_t slash = path.find_last_of("/\\");
#else
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ownFolder), &info) == 0 || info.dli_fname == nullptr) return ".";
  std::string path = info.dli_fname;
  const size_t slash = path.rfind('/');
#endif
  return slash == std::string::npos ? "." : path.substr(0, slash);
}

// One append of the whole line, so that lines of concurrent requests never interleave.
void appendMarker(const char* file, const std::string& line) {
  const std::string path = ownFolder() + "/" + file;
  const std::string text = line + "\n";
#ifdef _WIN32
  HANDLE out =
      CreateFileA(path.c_str(), FILE_APPEND_DATA, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (out == INVALID_HANDLE_VALUE) return;
  DWORD written = 0;
  WriteFile(out, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
  CloseHandle(out);
#else
  int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0666);
  if (fd < 0) return;
  [[maybe_unused]] ssize_t written = write(fd, text.data(), text.size());
  close(fd);
#endif
}

uint32_t numberOf(VariableTable request, const char* key) {
  const char* text = getVariable(request, key);
  return text != nullptr ? static_cast<uint32_t>(std::strtoul(text, nullptr, 0)) : 0;
}

const char* textOf(VariableTable request, const char* key) { return getVariable(request, key); }

VariableTable withResult(VariableTable reply, long long result) {
  addVariable(&reply, "Result", std::to_string(result).c_str());
  return reply;
}

VariableTable page(const char* method) {
  VariableTable reply = nullptr;
  addVariable(&reply, "Page", method);
  addVariable(&reply, "HTMLPath", "../../html/TestModule/main.htm");
  return reply;
}

VariableTable raise(VariableTable request, const ModuleServices* services) {
  const uint32_t repeat = numberOf(request, "repeat");
  if (repeat <= 1) {
    return withResult(nullptr,
                      services->raiseEvent(textOf(request, "device"), textOf(request, "message"),
                                           numberOf(request, "level"), 0, numberOf(request, "eventId"), 0));
  }
  // A burst: many events from one request, as fast as the server takes them.
  const char* message = textOf(request, "message");
  long long failures = 0;
  for (uint32_t n = 0; n < repeat && n < 1000; ++n) {
    const std::string text = std::string(message != nullptr ? message : "") + " #" + std::to_string(n);
    failures += services->raiseEvent(textOf(request, "device"), text.c_str(), numberOf(request, "level"), 0,
                                     numberOf(request, "eventId"), 0) != 0;
  }
  return withResult(nullptr, failures);
}

VariableTable dispatch(VariableTable request, const ModuleServices* services) {
  EventRecord record{};
  record.message = const_cast<char*>(textOf(request, "message"));
  record.device = const_cast<char*>(textOf(request, "device"));
  record.concernLevel = numberOf(request, "level");
  record.eventId = numberOf(request, "eventId");
  return withResult(nullptr, services->dispatchEvent(&record));
}

VariableTable serviceTable(const ModuleServices* services) {
  VariableTable reply = nullptr;
  addBoolVariable(&reply, "Started", services != nullptr);
  if (services == nullptr) return reply;
  addBoolVariable(&reply, "Reserved2Null", services->reserved2 == nullptr);
  addBoolVariable(&reply, "Reserved8Null", services->reserved8 == nullptr);
  addBoolVariable(&reply, "AllEntriesSet",
                  services->dispatchEvent && services->raiseEvent && services->debugPrint &&
                      services->flushDebug && services->setDebugPrefixes && services->takeDeviceControl &&
                      services->sendDeviceList && services->serverRequest);
  return reply;
}

VariableTable serverRequest(VariableTable request, const ModuleServices* services) {
  VariableTable reply = services->serverRequest(numberOf(request, "code"), nullptr);
  addVariable(&reply, "Answer", reply != nullptr ? "table" : "null");
  return reply;
}

VariableTable debugPrintRequest(VariableTable request, const ModuleServices* services) {
  const char* text = textOf(request, "text");
  const int printed = services->debugPrint(numberOf(request, "code"), "%s\n", text != nullptr ? text : "");
  services->flushDebug();
  return withResult(nullptr, printed);
}

VariableTable addressOfAddVariable() {
  char text[32];
  std::snprintf(text, sizeof(text), "%p", reinterpret_cast<void*>(&addVariable));
  VariableTable reply = nullptr;
  addVariable(&reply, "ModuleAddVariable", text);
  return reply;
}

// The methods that need the services table; null when startup has not stored it.
VariableTable serviceMethod(const char* method, VariableTable request) {
  const ModuleServices* services = g_services.load();
  if (services == nullptr) return nullptr;
  if (std::strcmp(method, "RaiseEvent") == 0) return raise(request, services);
  if (std::strcmp(method, "DispatchEvent") == 0) return dispatch(request, services);
  if (std::strcmp(method, "DebugPrint") == 0) return debugPrintRequest(request, services);
  if (std::strcmp(method, "ServerRequest") == 0) return serverRequest(request, services);
  if (std::strcmp(method, "TakeDeviceControl") == 0) return services->takeDeviceControl(request);
  if (std::strcmp(method, "SendDeviceList") == 0) {
    return withResult(nullptr, static_cast<long long>(services->sendDeviceList()));
  }
  return nullptr;
}

// FNV-1a over the record's bus address and INQUIRY identity (vendor, product, revision).
uint64_t unitId(const DeviceInfo& info) {
  uint64_t hash = 14695981039346656037ULL;
  auto mix = [&hash](uint8_t byte) { hash = (hash ^ byte) * 1099511628211ULL; };
  mix(info.pathId);
  mix(info.targetId);
  mix(info.lun);
  for (int i = 8; i < 36; ++i) mix(info.inquiryData[i]);
  return hash;
}

void hangUnit(DeviceRecord* record) {
  if (record->valid != DEVICE_RECORD_VALID || record->info == nullptr) return;
  ModDeviceItem* unit = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
  if (unit == nullptr) return;
  unit->modStatus = UNCLAIMED;
  std::snprintf(unit->name, sizeof(unit->name), "Test%016llX",
                static_cast<unsigned long long>(unitId(*record->info)));
  unit->next = record->units;
  record->units = unit;
}

}  // namespace

extern "C" {

KESTROVA_MODULE_EXPORT int startup(const ModuleServices* services) {
  appendMarker("startup.marker", "startup");
  if (services == nullptr || services->dispatchEvent == nullptr || services->raiseEvent == nullptr) return 1;
  g_services.store(services);
  return 0;
}

KESTROVA_MODULE_EXPORT void acceptDeviceList(DeviceRecord* list) {
  int count = 0;
  std::error_code ignored;
  const bool hang = std::filesystem::exists(ownFolder() + "/hang_units", ignored);
  for (DeviceRecord* record = list; record != nullptr; record = record->next) {
    ++count;
    if (hang) hangUnit(record);
  }
  g_devices.store(count);
}

KESTROVA_MODULE_EXPORT VariableTable getValuesForParametersFromMod(VariableTable request) {
  const char* method = getVariable(request, "method");
  if (method == nullptr) return nullptr;
  if (std::strcmp(method, "Echo") == 0) {
    VariableTable reply = copyVariableTable(request);
    addVariable(&reply, "ModuleFolder", ownFolder().c_str());
    return reply;
  }
  if (std::strcmp(method, "GetMainPage") == 0 || std::strcmp(method, "GetMonitor") == 0) return page(method);
  if (std::strcmp(method, "RewriteToGetMonitor") == 0) {
    // A module that answers one page with another rewrites the request's method in place.
    for (VariableEntry* e = request; e != nullptr; e = e->next) {
      if (std::strcmp(e->key, "method") == 0) std::strcpy(e->value, "GetMonitor");
    }
    return page("GetMonitor");
  }
  if (std::strcmp(method, "SetStatus") == 0) {
    g_status.store(numberOf(request, "status"));
    return withResult(nullptr, 0);
  }
  if (std::strcmp(method, "Services") == 0) return serviceTable(g_services.load());
  if (std::strcmp(method, "DeviceCount") == 0) return withResult(nullptr, g_devices.load());
  if (std::strcmp(method, "AddVariableAddress") == 0) return addressOfAddVariable();
  return serviceMethod(method, request);
}

KESTROVA_MODULE_EXPORT void gatherInformation(VariableTable table) {
  std::string line;
  for (VariableEntry* entry = table; entry != nullptr; entry = entry->next) {
    line += std::string(entry->key) + "=" + entry->value + ";";
  }
  appendMarker("gather.marker", line);
}

KESTROVA_MODULE_EXPORT uint32_t getGlobalModStatus() { return g_status.load(); }

KESTROVA_MODULE_EXPORT void suspendDeviceModActivity() { appendMarker("suspend.marker", "suspend"); }

KESTROVA_MODULE_EXPORT void doResetProcedures() {
  g_services.store(nullptr);
  appendMarker("reset.marker", "reset");
}

KESTROVA_MODULE_EXPORT void doShutdownProcedures() {
  g_services.store(nullptr);
  appendMarker("shutdown.marker", "shutdown");
}

#ifndef KESTROVA_TEST_MODULE_UNMARKED
// The pages and the listings only read; SetStatus and the service methods change something;
// any other name is no method of this module.
KESTROVA_MODULE_EXPORT int methodAltersData(const char* method) {
  if (method == nullptr) return -1;
  for (const char* reader :
       {"Echo", "GetMainPage", "GetMonitor", "Services", "DeviceCount", "AddVariableAddress"}) {
    if (std::strcmp(method, reader) == 0) return 0;
  }
  for (const char* writer : {"SetStatus", "RaiseEvent", "DispatchEvent", "DebugPrint", "ServerRequest",
                             "TakeDeviceControl", "SendDeviceList"}) {
    if (std::strcmp(method, writer) == 0) return 1;
  }
  return -1;
}
#endif

}  // extern "C"
