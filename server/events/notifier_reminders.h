// How often each notifier reminds of a condition that lasts (condition_tracker.h): its own setting,
// a duration such as "24h", "30m", "1d", "90s" or plain seconds; absent or empty, no reminders (as
// before there were any). The settings are "emailReminderInterval" (db/email.ini),
// "SnmpReminderInterval" (db/snmp.ini), "SyslogReminderInterval" (db/syslog.ini) and
// "WebhookReminderInterval" (db/webhook.ini).
//
// Thread safety: any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

// Reminders at most every 366 days and at least every second.
inline constexpr int64_t kMaxReminderSeconds = 366LL * 86400;

// *seconds from text (0 for an empty text). False for any other text, or one out of range.
bool parseReminderInterval(std::string_view text, int64_t* seconds);
// The interval the channel's settings give; 0 (no reminders) when unset, unusable, for a channel
// without the setting, or when its settings are in use at this moment.
time_t reminderIntervalOf(const char* channel);
