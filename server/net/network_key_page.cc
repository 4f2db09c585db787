// The network key settings page; see network_key_page.h.
#include "server/net/network_key_page.h"

#include <mutex>
#include <string>

#include "common/property_file.h"
#include "server/net/network_key_store.h"
#include "server/net/password_file.h"
#include "server/request/command_result.h"

namespace {

constexpr char kPage[] = "../Server/other/setting_netkey.htm";
constexpr char kCommand[] = "CmdSetNetworkKey";

std::mutex gChangeLock;

void addPageValues(VariableTable* reply) {
  NetworkKeySet keys;
  const KeyFileStatus status = readNetworkKeyFile(networkKeyPath().c_str(), &keys);
  addVariable(reply, "NetworkKeyFile", status != KeyFileStatus::kAbsent ? "true" : "false");
  addVariable(reply, "NetworkKeyUnusable",
              status == KeyFileStatus::kUnreadable || status == KeyFileStatus::kMalformed ? "true" : "false");
  addVariable(reply, "NetworkKeySet", keys.send ? "true" : "false");
  addVariable(reply, "SecondKeySet", keys.second ? "true" : "false");
  addVariable(reply, "SendKeyId", keys.send ? keyIdText(keys.send->id).c_str() : "");
  addVariable(reply, "SecondKeyId", keys.second ? keyIdText(keys.second->id).c_str() : "");
  addVariable(reply, "version", std::to_string(keys.version).c_str());
  addVariable(reply, "HTMLPath", kPage);
}

// The typed key of a "set" or "add"; null on success, else the details key.
const char* typedKey(VariableTable request, NetworkKey* key) {
  const char* text = getVariable(request, "NetworkKey");
  const char* confirm = getVariable(request, "NetworkKeyConfirm");
  if (text == nullptr || confirm == nullptr) return "MissingParams";
  if (std::string(text) != confirm) return "NetworkKeyMismatch";
  if (const char* refusal = checkKeyText(text)) return refusal;
  return deriveNetworkKey(text, key) ? nullptr : "NetworkKeyNoSave";
}

// The change itself; null on success, else the details key.
const char* change(VariableTable request) {
  long version = 0;
  KeyAction action;
  const char* password = getVariable(request, "Password");
  const char* versionText = getVariable(request, "version");
  if (versionText == nullptr || !parseKeyVersion(versionText, &version) || password == nullptr)
    return "MissingParams";
  const char* actionText = getVariable(request, "KeyAction");
  if (actionText == nullptr || !parseKeyAction(actionText, &action)) return "MissingParams";
  PasswordRecord record;
  if (readPasswordFile(kPasswordPath, &record) != kPasswordFileOk) return "PasswordNoOpen";
  if (!passwordMatches(password, record)) return "PasswordNotValid";
  NetworkKey key;
  if (keyActionNeedsKey(action)) {
    if (const char* refusal = typedKey(request, &key)) return refusal;
  }
  std::lock_guard<std::mutex> lock(gChangeLock);
  const std::string path = networkKeyPath();
  NetworkKeySet keys;
  readNetworkKeyFile(path.c_str(), &keys);  // a damaged file reads as no keys, which "set" replaces
  if (keys.version != version) return "OldVersionMsg";
  if (const char* refusal = applyKeyAction(&keys, action, keyActionNeedsKey(action) ? &key : nullptr)) {
    return refusal;
  }
  if (!writeNetworkKeyFile(path.c_str(), keys)) return "NetworkKeyNoSave";
  loadNetworkKeys(false);
  return nullptr;
}

}  // namespace

VariableTable GetNetworkKeyConfig(VariableTable) {
  VariableTable reply = nullptr;
  addPageValues(&reply);
  return reply;
}

VariableTable SetNetworkKeyConfig(VariableTable request) {
  VariableTable reply = nullptr;
  const char* refusal = change(request);
  addCommandResult(&reply, refusal != nullptr, kCommand, refusal);
  addPageValues(&reply);
  return reply;
}
