// The webhook settings pages; see webhook_settings.h.
#include "server/events/webhook_settings.h"

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <set>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_test_report.h"
#include "server/events/receiver_pages.h"
#include "server/events/secret_file.h"
#include "server/events/webhook_config.h"
#include "server/events/webhook_sender.h"
#include "server/main_loop.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

constexpr char kSettingsPage[] = "../Server/other/setting_webhook.htm";
constexpr char kPageTimeout[] = "Timed out while waiting for webhook configuration file for script.";
constexpr char kSaveTimeout[] = "Timed out while waiting for webhook configuration file to add an entry.";
constexpr size_t kMaxText = 400;

std::string posted(VariableTable request, const char* key, int index) {
  const char* value = indexedValue(request, key, index);
  return value != nullptr ? trimBlanks(value) : std::string();
}

std::string rowKey(int row, const char* field) { return "WebhookLoop" + std::to_string(row) + field; }

// The page's rows from a settings table (the stored one or the form's), with whether each has a
// secret in secrets.
void addReceiverRows(VariableTable* reply, VariableTable settings, VariableTable secrets) {
  int rows = 0;
  for (; rows < kWebhookReceiverSlots && indexedValue(settings, "WebhookUrl", rows) != nullptr; ++rows) {
    for (const char* field : {"WebhookUrl", "WebhookIWE", "WebhookUser", "WebhookCaFile", "WebhookId"}) {
      const char* value = indexedValue(settings, field, rows);
      addVariable(reply, rowKey(rows, field).c_str(), value != nullptr ? value : "");
    }
    const char* style = indexedValue(settings, "WebhookStyle", rows);
    const char* auth = indexedValue(settings, "WebhookAuth", rows);
    addVariable(reply, rowKey(rows, "WebhookStyle").c_str(), style != nullptr ? style : "generic");
    addVariable(reply, rowKey(rows, "WebhookAuth").c_str(), auth != nullptr ? auth : "none");
    const char* id = indexedValue(settings, "WebhookId", rows);
    const bool stored = id != nullptr && getVariable(secrets, webhookSecretKey(id).c_str()) != nullptr;
    addBoolVariable(reply, rowKey(rows, "SecretStored").c_str(), stored);
  }
  addIntVariable(reply, "WebhookLoop", static_cast<uint32_t>(rows), true);
  addIntVariable(reply, "TotalWebhook", static_cast<uint32_t>(rows), true);
  const char* version = getVariable(settings, "version");
  addVariable(reply, "version", version != nullptr ? version : "");
  const char* reminders = getVariable(settings, "WebhookReminderInterval");
  addVariable(reply, "WebhookReminderInterval", reminders != nullptr ? reminders : "");
}

// The identities of the receivers of settings.
std::set<std::string> identities(VariableTable settings) {
  std::set<std::string> ids;
  for (int i = 0; i < kWebhookReceiverSlots; ++i) {
    const char* id = indexedValue(settings, "WebhookId", i);
    if (id != nullptr && isReceiverId(id)) ids.insert(id);
  }
  return ids;
}

// The settings and secrets a request asks for, given the current ones. Returns the details key of
// the first value that can't be stored, or null. A row keeps its identity (and so its secret and
// its queue) when the page showed one that the current settings hold; a new row gets a new one.
const char* buildTables(VariableTable request, VariableTable current, VariableTable currentSecrets,
                        uint32_t version, TableOwner* settings, TableOwner* secrets) {
  addUnsignedVariable(settings->address(), "version", version);
  if (!addReminderInterval(request, "WebhookReminderInterval", settings)) return "WebhookSettingInvalid";
  const std::set<std::string> known = identities(current);
  std::set<std::string> used;
  int stored = 0;
  for (int i = 0; i < kWebhookRequestRows; ++i) {
    const std::string url = posted(request, "WebhookUrl", i);
    if (url.empty()) continue;
    if (stored == kWebhookReceiverSlots) return "WebhookTooMany";
    WebhookStyle style = WebhookStyle::kGeneric;
    WebhookAuth auth = WebhookAuth::kNone;
    const std::string user = posted(request, "WebhookUser", i);
    const std::string caFile = posted(request, "WebhookCaFile", i);
    if (!isWebhookUrl(url) || !parseWebhookStyle(indexedValue(request, "WebhookStyle", i), &style) ||
        !parseWebhookAuth(indexedValue(request, "WebhookAuth", i), &auth) || !isPlainText(user, kMaxText) ||
        !isPlainText(caFile, kMaxText) ||
        (auth == WebhookAuth::kBasic && (user.empty() || user.find(':') != std::string::npos))) {
      return "WebhookSettingInvalid";
    }
    std::string id = posted(request, "WebhookId", i);
    if (known.count(id) == 0 || used.count(id) != 0) id = newReceiverId();
    used.insert(id);
    const char* typed = indexedValue(request, "WebhookSecret", i);
    std::string secret;
    if (typed != nullptr && typed[0] != '\0') {
      secret = typed;
      if (!isPlainText(secret, kMaxText) || trimBlanks(secret) != secret) return "WebhookSettingInvalid";
    } else if (!getBoolVariable(request, indexedKey("WebhookSecretClear", i).c_str())) {
      const char* kept = getVariable(currentSecrets, webhookSecretKey(id).c_str());
      if (kept != nullptr) secret = kept;
    }
    if (auth != WebhookAuth::kNone && secret.empty()) return "WebhookSecretMissing";
    addVariable(settings->address(), indexedKey("WebhookUrl", stored).c_str(), url.c_str());
    addVariable(settings->address(), indexedKey("WebhookStyle", stored).c_str(), webhookStyleText(style));
    addVariable(settings->address(), indexedKey("WebhookIWE", stored).c_str(),
                iweFromRequest(request, "WebhookInfo", "WebhookWarn", "WebhookErr", i).c_str());
    addVariable(settings->address(), indexedKey("WebhookAuth", stored).c_str(), webhookAuthText(auth));
    if (!user.empty())
      addVariable(settings->address(), indexedKey("WebhookUser", stored).c_str(), user.c_str());
    if (!caFile.empty())
      addVariable(settings->address(), indexedKey("WebhookCaFile", stored).c_str(), caFile.c_str());
    addVariable(settings->address(), indexedKey("WebhookId", stored).c_str(), id.c_str());
    if (!secret.empty()) addVariable(secrets->address(), webhookSecretKey(id).c_str(), secret.c_str());
    ++stored;
  }
  return nullptr;
}

// The rows of the request as they were typed, for showing them again when they can't be used.
VariableTable formTable(VariableTable request) {
  TableOwner table;
  if (const char* reminders = getVariable(request, "WebhookReminderInterval")) {
    addVariable(table.address(), "WebhookReminderInterval", reminders);
  }
  int stored = 0;
  for (int i = 0; i < kWebhookRequestRows && stored < kWebhookReceiverSlots; ++i) {
    const char* url = indexedValue(request, "WebhookUrl", i);
    if (url == nullptr || trimBlanks(url).empty()) continue;
    for (const char* field :
         {"WebhookUrl", "WebhookStyle", "WebhookAuth", "WebhookUser", "WebhookCaFile", "WebhookId"}) {
      if (const char* value = indexedValue(request, field, i))
        addVariable(table.address(), indexedKey(field, stored).c_str(), value);
    }
    addVariable(table.address(), indexedKey("WebhookIWE", stored).c_str(),
                iweFromRequest(request, "WebhookInfo", "WebhookWarn", "WebhookErr", i).c_str());
    ++stored;
  }
  return table.release();
}

std::vector<ReceiverOutcome> testReceivers(VariableTable form, VariableTable secrets,
                                           const EventRecord& record) {
  std::vector<ReceiverOutcome> outcomes;
  for (int i = 0; i < kWebhookReceiverSlots; ++i) {
    const WebhookReceiver receiver = webhookReceiverAt(form, secrets, i);
    if (!receiver.url.empty()) outcomes.push_back(sendWebhookTest(receiver, record));
  }
  return outcomes;
}

const ReceiverPages kPages = {"webhook",
                              &ServerSettings::webhookInUse,
                              &ServerSettings::webhook,
                              kWebhookIniPath,
                              kWebhookIniHeader,
                              kWebhookSecretPath,
                              kWebhookSecretHeader,
                              kSettingsPage,
                              kPageTimeout,
                              kSaveTimeout,
                              "CmdSetWebhook",
                              "CmdTestWebhook",
                              addReceiverRows,
                              buildTables,
                              formTable,
                              testReceivers};

}  // namespace

VariableTable GetWebhookConfig(VariableTable /*request*/) { return receiverGetPage(kPages); }

VariableTable SetWebhookConfig(VariableTable request) { return receiverSetPage(kPages, request); }

// The test uses the receivers on the page, saved or not (a secret left empty is the stored one),
// and answers with them.
VariableTable TestWebhookConfig(VariableTable request) { return receiverTestPage(kPages, request); }
