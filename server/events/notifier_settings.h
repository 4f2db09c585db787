// Pieces shared by the settings pages and senders of the SNMP and syslog notifiers: the wait for
// a settings table's in-use word (with its time-out, which tests shorten), the edit-counter check
// of a save, the receiver filters, and the checks of what a save may store.
//
// Thread safety: every function may be called from any thread; the timings are atomics.
#pragma once

#include <atomic>
#include <cstdint>
#include <string>
#include <string_view>

#include "common/variable_table.h"

// How long a page or a sender waits for a settings table's in-use word, and how often it looks.
// The e-mail settings wait up to two minutes in 10 ms steps; the SNMP and syslog settings, whose
// sender waits on every event, give up after 5 s in 5 ms steps, so that a stuck word stalls
// their channel for seconds, not minutes.
struct NotifierWaitTimings {
  int inUseTimeoutMs = 120000;
  int inUsePollMs = 10;
};
inline constexpr NotifierWaitTimings kReceiverWaitTimings{5000, 5};
void setNotifierWaitTimings(const NotifierWaitTimings& timings);
NotifierWaitTimings notifierWaitTimings();
void setReceiverWaitTimings(const NotifierWaitTimings& timings);
NotifierWaitTimings receiverWaitTimings();

// Waits for *word to be free and sets it to value. False on time-out. The e-mail settings use
// acquireNotifierSettings, the SNMP and syslog settings acquireReceiverSettings.
[[nodiscard]] bool acquireNotifierSettings(std::atomic<int>* word, int value);
[[nodiscard]] bool acquireReceiverSettings(std::atomic<int>* word, int value);

enum class VersionCheck { kOk, kMissing, kOld };
// The request's "version" must be a decimal number (else kMissing), or empty when the current
// table has no "version" (it then counts as 0); when the current table has a "version" whose
// number differs, kOld. On kOk *newVersion is the request's number plus one.
VersionCheck checkSettingsVersion(VariableTable request, VariableTable current, uint32_t* newVersion);

// The text without leading and trailing spaces and tabs.
std::string trimBlanks(std::string_view text);

// "%d%d%d" of the request's booleans infoKey<index>, warnKey<index>, errKey<index>.
std::string iweFromRequest(VariableTable request, const char* infoKey, const char* warnKey,
                           const char* errKey, int index);

// True when filter has the digit 1 at position.
bool filterSelects(std::string_view filter, size_t position);

// A port text that a save may store and a sender may use: 1 to 5 decimal digits, 1 to 65535.
bool parsePortText(std::string_view text, uint16_t* port);
// A host name or dotted IPv4 address: 1 to 253 characters of letters, digits, '.', '-' and '_'.
bool isHostText(std::string_view text);
// Text without control characters (line breaks included), at most maxLength bytes.
bool isPlainText(std::string_view text, size_t maxLength);

// Copies the request's reminder interval under key into *table when it is given (trimmed); true
// when absent, empty or a usable interval (notifier_reminders.h), false otherwise.
bool addReminderInterval(VariableTable request, const char* key, TableOwner* table);

// "key<index>".
std::string indexedKey(const char* key, int index);
// Borrowed value of key<index>, or null.
const char* indexedValue(VariableTable table, const char* key, int index);

// Replaces *slot with fresh and frees the old table.
// REQUIRES: the table's in-use word is held.
void replaceSettingsTable(VariableTable* slot, VariableTable fresh);
