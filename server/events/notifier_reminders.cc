// Reminder intervals of the notifiers; see notifier_reminders.h.
#include "server/events/notifier_reminders.h"

#include <charconv>
#include <cstring>
#include <string>

#include "common/property_file.h"
#include "server/events/email_config.h"
#include "server/events/notifier_settings.h"
#include "server/events/webhook_config.h"
#include "server/server_state.h"

namespace {

struct ChannelSetting {
  const char* channel;
  VariableTable ServerSettings::*table;
  std::atomic<int> ServerSettings::*inUse;
  int holder;  // the value the senders put in the in-use word
  const char* key;
};

constexpr ChannelSetting kSettings[] = {
    {"email", &ServerSettings::email, &ServerSettings::emailInUse, kEmailInUseSender,
     "emailReminderInterval"},
    {"snmp", &ServerSettings::snmp, &ServerSettings::snmpInUse, 5, "SnmpReminderInterval"},
    {"syslog", &ServerSettings::syslog, &ServerSettings::syslogInUse, 1, "SyslogReminderInterval"},
    {"webhook", &ServerSettings::webhook, &ServerSettings::webhookInUse, kWebhookInUseSender,
     "WebhookReminderInterval"},
};

}  // namespace

bool parseReminderInterval(std::string_view text, int64_t* seconds) {
  const std::string value = trimBlanks(text);
  *seconds = 0;
  if (value == "off") return true;
  if (value.empty()) {
    *seconds = kDefaultReminderSeconds;
    return true;
  }
  int64_t unit = 1;
  std::string_view digits = value;
  switch (value.back()) {
    case 's':
      digits.remove_suffix(1);
      break;
    case 'm':
      unit = 60;
      digits.remove_suffix(1);
      break;
    case 'h':
      unit = 3600;
      digits.remove_suffix(1);
      break;
    case 'd':
      unit = 86400;
      digits.remove_suffix(1);
      break;
    default:
      break;
  }
  int64_t count = 0;
  if (digits.empty() || digits.size() > 9) return false;
  const auto result = std::from_chars(digits.data(), digits.data() + digits.size(), count);
  if (result.ec != std::errc() || result.ptr != digits.data() + digits.size() || count < 1) return false;
  if (count * unit > kMaxReminderSeconds) return false;
  *seconds = count * unit;
  return true;
}

time_t reminderIntervalOf(const char* channel) {
  if (channel == nullptr) return 0;
  for (const ChannelSetting& setting : kSettings) {
    if (std::strcmp(setting.channel, channel) != 0) continue;
    ServerSettings& settings = serverSettings();
    // One look, without waiting: a page that holds the settings delays a reminder by a second.
    if (!acquireFileInUse(&(settings.*setting.inUse), 0, setting.holder, 1)) return 0;
    const char* text = getVariable(settings.*setting.table, setting.key);
    int64_t seconds = 0;
    // A hand-edited value the pages would refuse falls back to the default rather than silence.
    if (!parseReminderInterval(text != nullptr ? text : "", &seconds)) seconds = kDefaultReminderSeconds;
    releaseFileInUse(&(settings.*setting.inUse));
    return static_cast<time_t>(seconds);
  }
  return 0;
}
