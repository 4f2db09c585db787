// The webhook notifier's configuration; see webhook_config.h.
#include "server/events/webhook_config.h"

#include "server/events/notifier_settings.h"
#include "server/events/secret_file.h"

namespace {

constexpr size_t kMaxUrl = 400;
constexpr uint32_t kLevelPassingEveryFilter = 4;
constexpr char kAlertmanagerPath[] = "/api/v2/alerts";

bool startsWith(const std::string& text, const char* prefix) { return text.rfind(prefix, 0) == 0; }

}  // namespace

bool parseWebhookStyle(const char* text, WebhookStyle* style) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "generic") {
    *style = WebhookStyle::kGeneric;
  } else if (value == "slack") {
    *style = WebhookStyle::kSlack;
  } else if (value == "alertmanager") {
    *style = WebhookStyle::kAlertmanager;
  } else {
    return false;
  }
  return true;
}

bool parseWebhookAuth(const char* text, WebhookAuth* auth) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "none") {
    *auth = WebhookAuth::kNone;
  } else if (value == "bearer") {
    *auth = WebhookAuth::kBearer;
  } else if (value == "basic") {
    *auth = WebhookAuth::kBasic;
  } else {
    return false;
  }
  return true;
}

const char* webhookStyleText(WebhookStyle style) {
  switch (style) {
    case WebhookStyle::kSlack:
      return "slack";
    case WebhookStyle::kAlertmanager:
      return "alertmanager";
    case WebhookStyle::kGeneric:
      break;
  }
  return "generic";
}

const char* webhookAuthText(WebhookAuth auth) {
  switch (auth) {
    case WebhookAuth::kBearer:
      return "bearer";
    case WebhookAuth::kBasic:
      return "basic";
    case WebhookAuth::kNone:
      break;
  }
  return "none";
}

std::string webhookSecretKey(const std::string& id) { return "WebhookSecret" + id; }

WebhookReceiver webhookReceiverAt(VariableTable settings, VariableTable secrets, int index) {
  WebhookReceiver receiver;
  const auto text = [&](const char* key) {
    const char* value = indexedValue(settings, key, index);
    return value != nullptr ? trimBlanks(value) : std::string();
  };
  receiver.url = text("WebhookUrl");
  receiver.id = text("WebhookId");
  receiver.filter = text("WebhookIWE");
  receiver.user = text("WebhookUser");
  receiver.caFile = text("WebhookCaFile");
  const bool known = parseWebhookStyle(indexedValue(settings, "WebhookStyle", index), &receiver.style) &&
                     parseWebhookAuth(indexedValue(settings, "WebhookAuth", index), &receiver.auth);
  receiver.usable = known && isWebhookUrl(receiver.url) && isReceiverId(receiver.id);
  if (receiver.usable) {
    const char* secret = getVariable(secrets, webhookSecretKey(receiver.id).c_str());
    if (secret != nullptr) receiver.secret = secret;
  }
  return receiver;
}

bool webhookReceiverWants(const WebhookReceiver& receiver, uint32_t concernLevel) {
  if (!receiver.usable) return false;
  if (concernLevel == kLevelPassingEveryFilter) return true;
  const size_t position = concernLevel == 0 ? 0 : concernLevel == 2 ? 2 : 1;
  return receiver.filter.size() == 3 && filterSelects(receiver.filter, position);
}

bool isWebhookUrl(const std::string& url) {
  if (url.size() > kMaxUrl || !isPlainText(url, kMaxUrl) || url.find(' ') != std::string::npos) return false;
  size_t hostStart = 0;
  if (startsWith(url, "http://")) {
    hostStart = 7;
  } else if (startsWith(url, "https://")) {
    hostStart = 8;
  } else {
    return false;
  }
  const size_t hostEnd = url.find_first_of("/?#", hostStart);
  const std::string authority =
      url.substr(hostStart, hostEnd == std::string::npos ? std::string::npos : hostEnd - hostStart);
  // Credentials in the URL would be shown on the page and written to the settings file.
  if (authority.empty() || authority.find('@') != std::string::npos) return false;
  for (unsigned char c : authority) {
    if (c > 0x7E) return false;
  }
  return authority[0] != ':';
}

std::string webhookTargetUrl(const WebhookReceiver& receiver) {
  if (receiver.style != WebhookStyle::kAlertmanager) return receiver.url;
  std::string url = receiver.url;
  const size_t query = url.find_first_of("?#");
  std::string path = query == std::string::npos ? url : url.substr(0, query);
  const std::string rest = query == std::string::npos ? std::string() : url.substr(query);
  const std::string suffix = kAlertmanagerPath;
  if (path.size() >= suffix.size() && path.compare(path.size() - suffix.size(), suffix.size(), suffix) == 0) {
    return url;
  }
  while (!path.empty() && path.back() == '/') path.pop_back();
  return path + suffix + rest;
}
