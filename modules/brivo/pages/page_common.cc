// Reply building shared by the module's web pages; see page_common.h.
#include "modules/brivo/pages/page_common.h"

#include <cstdio>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"

namespace brivo {

void addText(VariableTable* reply, const char* key, const std::string& value) {
  addVariable(reply, key, value.c_str());
}

void addFlag(VariableTable* reply, const char* key, bool value) {
  addVariable(reply, key, value ? "true" : "false");
}

void addNumber(VariableTable* reply, const char* key, long long value) {
  addVariable(reply, key, std::to_string(value).c_str());
}

std::string rowKey(const char* list, int row, const char* field) {
  return std::string(list) + std::to_string(row) + field;
}

void addRowText(VariableTable* reply, const char* list, int row, const char* field,
                const std::string& value) {
  addText(reply, rowKey(list, row, field).c_str(), value);
}

void addRowFlag(VariableTable* reply, const char* list, int row, const char* field, bool value) {
  addFlag(reply, rowKey(list, row, field).c_str(), value);
}

void addRowNumber(VariableTable* reply, const char* list, int row, const char* field, long long value) {
  addNumber(reply, rowKey(list, row, field).c_str(), value);
}

void setCount(VariableTable* reply, const char* list, int count) { addNumber(reply, list, count); }

std::string statusText(const char* key, const char* fallback) {
  std::string text = ModuleFiles::text(StringTable::kStatus, key);
  return text == kMissing ? std::string(fallback) : text;
}

std::string statusTextByte(const char* prefix, unsigned value, const char* fallback) {
  char key[96];
  std::snprintf(key, sizeof(key), "%s%.2X", prefix, value & 0xFFu);
  return statusText(key, fallback);
}

VariableTable commandPopupReply(VariableTable request, const char* methodKey, int result,
                                const ControllerCommand& failed, bool updateParent) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  addControllerCommandResult(&reply, methodKey, result, failed);
  if (updateParent) addFlag(&reply, "UpdateParent", result == kResultGood);
  addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
  return reply;
}

VariableTable errorPanelReply(const char* text) {
  VariableTable reply = nullptr;
  addVariable(&reply, "Message", text);
  addVariable(&reply, kHtmlPathKey, kCommonErrorPanel);
  return reply;
}

void echoDeviceName(VariableTable* reply, VariableTable request) {
  const char* name = getVariable(request, kModDeviceNameKey);
  if (name != nullptr) addVariable(reply, kModDeviceNameKey, name);
}

void printRequest(VariableTable request) {
  std::vector<const VariableEntry*> entries;
  for (const VariableEntry* entry = request; entry != nullptr; entry = entry->next) entries.push_back(entry);
  for (auto it = entries.rbegin(); it != entries.rend(); ++it)
    consolePrint("%s = %s\n", (*it)->key, (*it)->value);
}

}  // namespace brivo
