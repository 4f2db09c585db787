// The shared shape of the receiver settings pages; see receiver_pages.h.
#include "server/events/receiver_pages.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/notifier_settings.h"
#include "server/events/secret_file.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"

namespace {

constexpr char kErrorPanel[] = "../Common/CommonErrorPanel.htm";
constexpr int kPageInUse = 1;

TableOwner readSecrets(const ReceiverPages& pages) {
  return TableOwner(pages.secretPath != nullptr ? readPropertyFile(pages.secretPath) : nullptr);
}

// Saves the request. Returns the details key of a failure, or null.
// REQUIRES: the in-use word is held.
const char* save(const ReceiverPages& pages, VariableTable request) {
  VariableTable& current = serverSettings().*pages.table;
  uint32_t version = 0;
  switch (checkSettingsVersion(request, current, &version)) {
    case VersionCheck::kMissing:
      return "MissingParams";
    case VersionCheck::kOld:
      return "OldVersionMsg";
    case VersionCheck::kOk:
      break;
  }
  TableOwner currentSecrets = readSecrets(pages);
  TableOwner fresh;
  TableOwner secrets;
  if (const char* bad = pages.build(request, current, currentSecrets.get(), version, &fresh, &secrets))
    return bad;
  // The secrets first: a settings file never names a receiver whose secrets were not written.
  if (pages.secretPath != nullptr && !writeSecretFile(pages.secretPath, pages.secretHeader, secrets.get())) {
    logServerError((std::string("Error saving ") + pages.secretPath).c_str());
    return "NoSaveSetting";
  }
  // The file lists the keys in the order they were added; the table keeps them newest first.
  TableOwner fileOrder(copyVariableTable(fresh.get()));
  if (writePropertyFile(pages.iniPath, pages.iniHeader, fileOrder.get()) != 0) return "NoSaveSetting";
  replaceSettingsTable(&current, fresh.release());
  return nullptr;
}

bool isKnownText(const char* text) { return text != nullptr && std::strcmp(text, kMissing) != 0; }

}  // namespace

VariableTable receiverGetPage(const ReceiverPages& pages) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&(settings.*pages.inUse), kPageInUse)) {
    addVariable(&reply, "Message", pages.pageTimeout);
    addVariable(&reply, "HTMLPath", kErrorPanel);
    logServerError((std::string(" ") + pages.pageTimeout + " ").c_str());
    return reply;
  }
  TableOwner secrets = readSecrets(pages);
  pages.addRows(&reply, settings.*pages.table, secrets.get());
  releaseFileInUse(&(settings.*pages.inUse));
  addVariable(&reply, "HTMLPath", pages.templatePath);
  return reply;
}

VariableTable receiverSetPage(const ReceiverPages& pages, VariableTable request) {
  VariableTable reply = nullptr;
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&(settings.*pages.inUse), kPageInUse)) {
    logServerError(pages.saveTimeout);
    addCommandResult(&reply, true, pages.setCommand, "SettingsTimeout");
  } else {
    const char* failure = save(pages, request);
    releaseFileInUse(&(settings.*pages.inUse));
    addCommandResult(&reply, failure != nullptr, pages.setCommand, failure);
  }
  appendVariableTable(&reply, receiverGetPage(pages));
  return reply;
}

VariableTable receiverTestPage(const ReceiverPages& pages, VariableTable request) {
  // Receivers keep their identities (and so their stored secrets) as on a save.
  ServerSettings& settings = serverSettings();
  TableOwner current;
  if (acquireReceiverSettings(&(settings.*pages.inUse), kPageInUse)) {
    current = TableOwner(copyVariableTable(settings.*pages.table));
    releaseFileInUse(&(settings.*pages.inUse));
  }
  TableOwner currentSecrets = readSecrets(pages);
  TableOwner form;
  TableOwner secrets;
  const char* invalid = pages.build(request, current.get(), currentSecrets.get(), 0, &form, &secrets);
  if (invalid != nullptr) form = TableOwner(pages.formTable(request));
  VariableTable reply = nullptr;
  pages.addRows(&reply, form.get(), invalid != nullptr ? currentSecrets.get() : secrets.get());
  removeVariable(&reply, "version");
  const char* version = getVariable(request, "version");
  addVariable(&reply, "version", version != nullptr ? version : "");
  addVariable(&reply, "HTMLPath", pages.templatePath);
  char* message = lookupString(kStringsDbPath, "serverTestMessage");
  char* device = lookupString(kStringsDbPath, "serverDeviceName");
  if (invalid != nullptr) {
    addCommandResult(&reply, true, pages.testCommand, invalid);
  } else if (!isKnownText(message) || !isKnownText(device)) {
    addCommandResult(&reply, true, pages.testCommand, "NoTestMessage");
  } else {
    const auto now = static_cast<uint32_t>(std::time(nullptr));
    const EventRecord record{message, device, 4, now, now, 0, 0};
    addTestReport(&reply, pages.testCommand, pages.channel, pages.test(form.get(), secrets.get(), record));
  }
  std::free(message);
  std::free(device);
  return reply;
}
