// The e-mail settings pages; see email_pages.h.
#include "server/events/email_pages.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <utility>
#include <vector>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/events/email_config.h"
#include "server/events/email_test_run.h"
#include "server/events/email_text.h"
#include "server/events/notifier_reminders.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_test_report.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kPageTemplate[] = "../Server/other/setting_mail.htm";
constexpr char kErrorTemplate[] = "../Common/CommonErrorPanel.htm";
constexpr char kTimeOutMessage[] = "Timed out while waiting for email configuration file for script.";
constexpr char kMissingFieldPath[] = " missing field ";
// The property-file reader takes lines of at most 499 characters; a longer "key = value" line
// would read back as pieces.
constexpr size_t kMaxStoredLine = 499;

using Pairs = std::vector<std::pair<std::string, std::string>>;

std::atomic<int>* inUseWord() { return &serverSettings().emailInUse; }

bool acquireConfig(int owner) { return acquireNotifierSettings(inUseWord(), owner); }

std::string valueOr(VariableTable table, const char* key, const char* fallback) {
  const char* value = getVariable(table, key);
  return value != nullptr ? value : fallback;
}

// The page from the configuration table; the caller holds the in-use word.
void addPage(VariableTable* reply, VariableTable config, bool passwordStored) {
  addVariable(reply, "EmailLoop", "10");
  addVariable(reply, "TotalEmails", "10");
  char key[48];
  for (int i = 0; i < kEmailRecipientRows; ++i) {
    const std::string address = valueOr(config, indexedKey("emailAddr", i + 1).c_str(), "");
    const std::string iwe = valueOr(config, indexedKey("emailSetIWE", i + 1).c_str(), "");
    std::snprintf(key, sizeof key, "EmailLoop%demailAddr", i);
    addVariable(reply, key, address.c_str());
    std::snprintf(key, sizeof key, "EmailLoop%demailSetIWE", i);
    addVariable(reply, key, iwe.c_str());
  }
  // A file without a version still has to be savable: the page quotes 0, which a save accepts
  // because the file has no version to differ from.
  addVariable(reply, "version", valueOr(config, "version", "0").c_str());
  addVariable(reply, "emailServer", valueOr(config, "emailServer", "").c_str());
  addVariable(reply, "emailSigText", valueOr(config, "emailSigText", "").c_str());
  addVariable(reply, "emailSigEnable", valueOr(config, "emailSigEnable", "false").c_str());
  addVariable(reply, "emailSecurity", valueOr(config, "emailSecurity", "none").c_str());
  addVariable(reply, "emailPort", valueOr(config, "emailPort", "").c_str());
  addVariable(reply, "emailUser", valueOr(config, "emailUser", "").c_str());
  addVariable(reply, "emailCaFile", valueOr(config, "emailCaFile", "").c_str());
  addVariable(reply, "emailReminderInterval", valueOr(config, "emailReminderInterval", "").c_str());
  // The password is never shown; the page only learns whether one is stored.
  addBoolVariable(reply, "emailPasswordSet", passwordStored);
  addVariable(reply, "HTMLPath", kPageTemplate);
}

// The recipients of the request, renumbered from 1 without gaps. Returns the details key of the
// first bad address or filter, or null.
const char* addRecipients(VariableTable request, Pairs* pairs) {
  int stored = 0;
  for (int i = 1; i <= kEmailRequestRows; ++i) {
    const char* address = indexedValue(request, "emailAddr", i);
    if (address == nullptr) break;
    const std::string trimmed = trimBlanks(address);
    if (trimmed.empty()) continue;
    const char* iweText = indexedValue(request, "emailSetIWE", i);
    const std::string iwe = trimBlanks(iweText != nullptr ? iweText : "000");
    if (!usableMailAddress(trimmed) || !isPlainText(iwe, kMaxStoredLine)) return "EmailSettingInvalid";
    ++stored;
    pairs->emplace_back(indexedKey("emailAddr", stored), trimmed);
    pairs->emplace_back(indexedKey("emailSetIWE", stored), iwe);
  }
  return nullptr;
}

// The connection settings of the request; absent ones keep today's behaviour (no TLS, the
// security's usual port, no credentials). Returns the details key of a bad value, or null.
const char* addConnectionSettings(VariableTable request, Pairs* pairs) {
  SmtpSecurity security = SmtpSecurity::kNone;
  const char* securityText = getVariable(request, "emailSecurity");
  if (!parseSmtpSecurity(securityText, &security)) return "EmailSettingInvalid";
  const std::string port = trimBlanks(valueOr(request, "emailPort", ""));
  const std::string user = trimBlanks(valueOr(request, "emailUser", ""));
  const std::string caFile = trimBlanks(valueOr(request, "emailCaFile", ""));
  if ((!port.empty() && !parsePortText(port, nullptr)) || !isPlainText(user, 200) || !isPlainText(caFile, 400)) {
    return "EmailSettingInvalid";
  }
  if (securityText != nullptr) pairs->emplace_back("emailSecurity", smtpSecurityText(security));
  if (!port.empty()) pairs->emplace_back("emailPort", port);
  if (!user.empty()) pairs->emplace_back("emailUser", user);
  if (!caFile.empty()) pairs->emplace_back("emailCaFile", caFile);
  const std::string reminders = trimBlanks(valueOr(request, "emailReminderInterval", ""));
  int64_t seconds = 0;
  if (!parseReminderInterval(reminders, &seconds)) return "EmailSettingInvalid";
  if (!reminders.empty()) pairs->emplace_back("emailReminderInterval", reminders);
  return nullptr;
}

// The password a request gives: *changed when it sets a new one or clears the stored one.
// Returns the details key of a password that can't be stored (control characters, blanks at
// either end, too long), or null.
const char* postedPassword(VariableTable request, std::string* password, bool* changed) {
  *changed = false;
  if (getBoolVariable(request, "emailPasswordClear")) {
    password->clear();
    *changed = true;
    return nullptr;
  }
  const char* posted = getVariable(request, "emailPassword");
  if (posted == nullptr || posted[0] == '\0') return nullptr;
  const std::string text = posted;
  if (!isPlainText(text, 400) || trimBlanks(text) != text) return "EmailPasswordInvalid";
  *password = text;
  *changed = true;
  return nullptr;
}

// The settings of the request without the version check. Returns null and fills pairs, or
// returns the details key of the failure (*missingServer when it was the server).
const char* formSettings(VariableTable request, uint32_t version, Pairs* pairs, bool* missingServer) {
  const char* server = getVariable(request, "emailServer");
  if (server == nullptr) {
    *missingServer = true;
    return "MissingParams";
  }
  const char* sigEnable = getVariable(request, "emailSigEnable");
  const char* sigText = getVariable(request, "emailSigText");
  if (sigEnable == nullptr || sigText == nullptr) return "MissingParams";
  // An empty server is allowed: it switches the mails off.
  const std::string serverName = trimBlanks(server);
  const std::string enable = trimBlanks(sigEnable);
  if ((!serverName.empty() && !isHostText(serverName)) || !isPlainText(enable, kMaxStoredLine)) {
    return "EmailSettingInvalid";
  }
  pairs->emplace_back("version", std::to_string(version));
  pairs->emplace_back("emailServer", serverName);
  pairs->emplace_back("emailSigEnable", enable);
  pairs->emplace_back("emailSigText", trimBlanks(escapeSignature(sigText)));
  if (const char* bad = addConnectionSettings(request, pairs)) return bad;
  if (const char* bad = addRecipients(request, pairs)) return bad;
  for (const auto& [key, value] : *pairs) {
    if (key.size() + 3 + value.size() > kMaxStoredLine) return "EmailSettingTooLong";
  }
  return nullptr;
}

// The settings the request asks to save, checked against the current table.
const char* settingsToSave(VariableTable request, VariableTable current, Pairs* pairs, bool* missingServer) {
  uint32_t version = 0;
  switch (checkSettingsVersion(request, current, &version)) {
    case VersionCheck::kMissing:
      return "MissingParams";
    case VersionCheck::kOld:
      return "OldVersionMsg";
    case VersionCheck::kOk:
      break;
  }
  return formSettings(request, version, pairs, missingServer);
}

// Table whose file lists pairs in their order (a table is written newest first).
VariableTable tableOf(const Pairs& pairs) {
  VariableTable table = nullptr;
  for (auto it = pairs.rbegin(); it != pairs.rend(); ++it)
    addVariable(&table, it->first.c_str(), it->second.c_str());
  return table;
}

// Saves the request's settings; adds the command result (and the " missing field " path when
// the server is missing) to reply.
void saveSettings(VariableTable request, VariableTable* reply) {
  if (!acquireConfig(kEmailInUseSave)) {
    addCommandResult(reply, true, "CmdSetEmail", "SettingsTimeout");
    return;
  }
  Pairs pairs;
  bool missingServer = false;
  std::string password;
  bool passwordChanged = false;
  const char* failure = settingsToSave(request, serverSettings().email, &pairs, &missingServer);
  if (failure == nullptr) failure = postedPassword(request, &password, &passwordChanged);
  if (failure == nullptr && passwordChanged && !writeEmailPassword(password)) {
    logServerError("Error saving email.secret");
    failure = "NoSaveSetting";
  }
  if (failure == nullptr) {
    VariableTable table = tableOf(pairs);
    if (writePropertyFile(kEmailIniPath, kEmailIniHeader, table) == 0) {
      replaceSettingsTable(&serverSettings().email, table);
    } else {
      freeVariableTable(&table);
      logServerError("Error saving email.ini");
      failure = "NoSaveSetting";
    }
  }
  releaseFileInUse(inUseWord());
  if (missingServer) addVariable(reply, "HTMLPath", kMissingFieldPath);
  addCommandResult(reply, failure != nullptr, "CmdSetEmail", failure);
}

// The string-table text of key, or an empty text when it can't be had.
std::string tableText(const char* key) {
  char* text = lookupString(kStringsDbPath, key);
  std::string value = (text != nullptr && std::strcmp(text, kMissing) != 0) ? text : "";
  std::free(text);
  return value;
}

}  // namespace

VariableTable GetEmailConfig(VariableTable /*request*/) {
  VariableTable reply = nullptr;
  if (!acquireConfig(kEmailInUsePage)) {
    addVariable(&reply, "Message", kTimeOutMessage);
    addVariable(&reply, "HTMLPath", kErrorTemplate);
    logServerError(kTimeOutMessage);
    debugPrint(0x8014, "email: GetEmailConfig: T.O. emailFileInUse=%d\n", inUseWord()->load());
    return reply;
  }
  addPage(&reply, serverSettings().email, !readEmailPassword().empty());
  releaseFileInUse(inUseWord());
  return reply;
}

VariableTable SetEmailConfig(VariableTable request) {
  VariableTable reply = nullptr;
  saveSettings(request, &reply);
  appendVariableTable(&reply, GetEmailConfig(request));
  return reply;
}

VariableTable TestEmailConfig(VariableTable request) {
  // The test uses the values on the page, saved or not, and answers with them, so that nothing
  // typed is lost.
  Pairs pairs;
  bool missingServer = false;
  const char* versionText = getVariable(request, "version");
  const char* invalid = formSettings(request, 0, &pairs, &missingServer);
  std::string password;
  bool passwordChanged = false;
  if (invalid == nullptr) invalid = postedPassword(request, &password, &passwordChanged);
  if (invalid != nullptr) {
    VariableTable reply = GetEmailConfig(request);
    addCommandResult(&reply, true, "CmdTestEmail", missingServer ? "MissingParams" : invalid);
    return reply;
  }
  if (!passwordChanged) password = readEmailPassword();
  TableOwner form(tableOf(pairs));
  VariableTable reply = nullptr;
  addPage(&reply, form.get(), !password.empty());
  removeVariable(&reply, "version");
  addVariable(&reply, "version", versionText != nullptr ? versionText : "");
  const std::string message = tableText("serverTestMessage");
  const std::string device = tableText("serverDeviceName");
  if (message.empty() || device.empty()) {
    addCommandResult(&reply, true, "CmdTestEmail", "NoTestMessage");
    return reply;
  }
  const EmailConfig config = readEmailConfig(form.get(), password);
  addTestReport(&reply, "CmdTestEmail", "email", runEmailTest(config, device, message));
  return reply;
}
