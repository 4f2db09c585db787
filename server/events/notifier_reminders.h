// How often each notifier reminds of a condition that lasts (condition_tracker.h): its own setting,
// a duration such as "24h", "30m", "1d", "90s" or plain seconds; absent or empty, daily; "off", no
// reminders. A lasting failure is notified once, so without reminders an unread first notice would
// be the only one: daily is the default for that reason. The settings are "emailReminderInterval" (db/email.ini),
// "SnmpReminderInterval" (db/snmp.ini), "SyslogReminderInterval" (db/syslog.ini) and
// "WebhookReminderInterval" (db/webhook.ini).
//
// Thread safety: any thread.
#pragma once

#include <cstdint>
#include <ctime>
#include <string_view>

// Reminders at most every 366 days and at least every second; daily unless told otherwise.
inline constexpr int64_t kMaxReminderSeconds = 366LL * 86400;
inline constexpr int64_t kDefaultReminderSeconds = 86400;

// *seconds from text (kDefaultReminderSeconds for an empty text, 0 for "off"). False for any other
// text, or one out of range.
bool parseReminderInterval(std::string_view text, int64_t* seconds);
// The interval the channel's settings give (the default when unset or unusable); 0 (no reminder
// now) when set "off", for a channel without the setting, or when its settings are in use at this
// moment.
time_t reminderIntervalOf(const char* channel);
