// The webhook notifier's configuration: up to 5 receivers in db/webhook.ini, each a URL with its
// payload style, its information/warning/error filter, its credentials and a CA file, and the
// secrets (bearer tokens, Basic passwords) apart in db/webhook.secret (mode 0600), keyed by each
// receiver's stable identity ("WebhookId<n>"), which also names its on-disk queue.
//
// db/webhook.ini, n counting from 0 without gaps:
//   version                 edit counter, raised by one at each save
//   WebhookUrl<n>           http:// or https:// URL (for Alertmanager: its base URL or the full
//                           /api/v2/alerts URL)
//   WebhookStyle<n>         generic (default), slack or alertmanager
//   WebhookIWE<n>           three digits, information/warning/error
//   WebhookAuth<n>          none (default), bearer or basic
//   WebhookUser<n>          the user of Basic authentication
//   WebhookCaFile<n>        certificate authorities to trust instead of the system's store
//   WebhookId<n>            16 hexadecimal digits
//
// Thread safety: the functions are pure or read files; the in-memory table is
// serverSettings().webhook under serverSettings().webhookInUse.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "common/variable_table.h"

inline constexpr int kWebhookReceiverSlots = 5;
inline constexpr int kWebhookRequestRows = 101;
inline constexpr char kWebhookIniPath[] = "db/webhook.ini";
inline constexpr char kWebhookIniHeader[] = "\\\\\\\\\\This is the webhook configuration file.";
inline constexpr char kWebhookSecretPath[] = "db/webhook.secret";
inline constexpr char kWebhookSecretHeader[] = "\\\\\\This is the webhook secrets file.";
// Values of the in-use word: a page or save, the sender.
inline constexpr int kWebhookInUsePage = 1;
inline constexpr int kWebhookInUseSender = 5;

enum class WebhookStyle { kGeneric, kSlack, kAlertmanager };
enum class WebhookAuth { kNone, kBearer, kBasic };

// An absent or empty text is the default (generic, none); false for an unknown text.
bool parseWebhookStyle(const char* text, WebhookStyle* style);
bool parseWebhookAuth(const char* text, WebhookAuth* auth);
const char* webhookStyleText(WebhookStyle style);
const char* webhookAuthText(WebhookAuth auth);

struct WebhookReceiver {
  std::string id;
  std::string url;
  WebhookStyle style = WebhookStyle::kGeneric;
  std::string filter;
  WebhookAuth auth = WebhookAuth::kNone;
  std::string user;
  std::string secret;  // the token or password; empty when none is stored
  std::string caFile;
  bool usable = false;  // a URL, an identity and known style and authentication
};
using WebhookReceivers = std::array<WebhookReceiver, kWebhookReceiverSlots>;

// The receiver of slot index of settings, with its secret from secrets (db/webhook.secret).
WebhookReceiver webhookReceiverAt(VariableTable settings, VariableTable secrets, int index);
// Key of a receiver's secret in db/webhook.secret.
std::string webhookSecretKey(const std::string& id);

// True when the receiver gets an event of this level: every level 4 event; otherwise the digit 1
// at the level's position of its filter (0 information, 2 error, every other level a warning).
bool webhookReceiverWants(const WebhookReceiver& receiver, uint32_t concernLevel);

// A URL a receiver may have: http or https, a host, no credentials in it (they belong in the
// receiver's authentication), no blanks or control characters, at most 400 characters.
bool isWebhookUrl(const std::string& url);
// Where the style posts: an Alertmanager URL without its API path gets "/api/v2/alerts".
std::string webhookTargetUrl(const WebhookReceiver& receiver);
