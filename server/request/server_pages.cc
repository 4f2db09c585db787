// The small server pages; see server_pages.h. The main page is in router.cc, beside the module
// routing it depends on.
#include "server/request/server_pages.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace {

std::atomic<uint32_t> gPingCounter{0};

// Fixed sample rows for the loop templates: a flat list and a list nested in each row.
struct SampleRow {
  const char* name;
  const char* value;
  const char* items[3];
};

constexpr SampleRow kSampleRows[] = {
    {"Alpha", "1", {"alpha-one", "alpha-two", nullptr}},
    {"Beta", "2", {"beta-one", nullptr, nullptr}},
    {"Gamma", "3", {"gamma-one", "gamma-two", "gamma-three"}},
};

std::string rowKey(const char* list, int row, const char* field) {
  return std::string(list) + std::to_string(row) + field;
}

// True when text is a decimal number that fits 32 bits; *value then holds it.
bool parseCounter(const char* text, uint32_t* value) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  errno = 0;
  char* end = nullptr;
  const unsigned long long number = std::strtoull(text, &end, 10);
  if (errno != 0 || *end != '\0' || number > UINT32_MAX) return false;
  *value = static_cast<uint32_t>(number);
  return true;
}

}  // namespace

VariableTable testMethod(VariableTable request) {
  VariableTable reply = nullptr;
  int row = 0;
  for (VariableEntry* entry = request; entry != nullptr; entry = entry->next, ++row) {
    addVariable(&reply, rowKey("VariablesLoop", row, "Key").c_str(), entry->key);
    addVariable(&reply, rowKey("VariablesLoop", row, "Value").c_str(), entry->value);
  }
  addIntVariable(&reply, "VariablesLoop", static_cast<uint32_t>(row), true);
  addVariable(&reply, "serverSet", "Inside request handler");
  addVariable(&reply, "HTMLPath", "../Server/html/results.html");
  return reply;
}

VariableTable TestLoop(VariableTable) {
  VariableTable reply = nullptr;
  int row = 0;
  for (const SampleRow& sample : kSampleRows) {
    addVariable(&reply, rowKey("TestLoop", row, "Name").c_str(), sample.name);
    addVariable(&reply, rowKey("TestLoop", row, "Value").c_str(), sample.value);
    const std::string inner = rowKey("TestLoop", row, "ItemLoop");
    int items = 0;
    for (const char* item : sample.items) {
      if (item == nullptr) break;
      addVariable(&reply, (inner + std::to_string(items) + "Item").c_str(), item);
      ++items;
    }
    addIntVariable(&reply, inner.c_str(), static_cast<uint32_t>(items), true);
    ++row;
  }
  addIntVariable(&reply, "TestLoop", static_cast<uint32_t>(row), true);
  addVariable(&reply, "HTMLPath", "../Server/html/testloop.html");
  return reply;
}

VariableTable SessionPing(VariableTable request) {
  // Taking the value and advancing it in one step gives each of several simultaneous pings its
  // own number.
  const uint32_t counter = gPingCounter.fetch_add(1);
  const char* lastEvent = getVariable(request, "LastEvent");
  uint32_t seen = 0;
  const bool changed = lastEvent != nullptr && (!parseCounter(lastEvent, &seen) || seen != counter);
  VariableTable reply = nullptr;
  addUnsignedVariable(&reply, "LastEvent", counter);
  addVariable(&reply, "ServerDefined", changed ? "alert(\"something changed\");" : "");
  addVariable(&reply, "HTMLPath", "../Server/html/SessionPing.html");
  return reply;
}

VariableTable LoadIndex(VariableTable) {
  VariableTable reply = nullptr;
  addVariable(&reply, "HTMLPath", "../Server/main/index.html");
  return reply;
}

uint32_t sessionPingCounter() { return gPingCounter.load(); }
