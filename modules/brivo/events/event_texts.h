// The event code's lookups over the module's own tables: TableEventTexts reads the event texts
// and the server's texts from the string tables (common/string_tables.h, by path) and the
// severities and settings from the module's property tables; the stored-time helpers read and
// write the bookmark times of BrivoConfigurations.db ("%sLastAEventTime", "%sLastBEventTime").
//
// Thread safety: lookups copy values under the variable table lock (getVariableCopyShared), so
// they may run while another thread changes the same table; the tables must outlive the object.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "common/variable_table.h"
#include "modules/brivo/events/event_host.h"

namespace brivo::events {

class TableEventTexts : public EventTexts {
 public:
  // severity and settings are the addresses of the module's EventSeverity.db and
  // BrivoSettings.ini tables (borrowed; either may hold a null table).
  TableEventTexts(std::string eventStringsPath, std::string serverStringsPath, const VariableTable* severity,
                  const VariableTable* settings);

  std::optional<std::string> eventText(const std::string& key) const override;
  std::optional<std::string> serverText(const std::string& key) const override;
  std::optional<std::string> severity(const std::string& key) const override;
  std::optional<std::string> setting(const std::string& key) const override;

 private:
  std::string eventStrings_;
  std::string serverStrings_;
  const VariableTable* severity_;
  const VariableTable* settings_;
};

// "%sLastAEventTime" / "%sLastBEventTime" filled with the pair name.
std::string lastEventTimeKey(std::string_view pairName, int side);
// "%sLastAEventCount" / "%sLastBEventCount": entries of the stored time's second recorded.
std::string lastEventCountKey(std::string_view pairName, int side);
// A stored count's value; kWholeSecond when it is not a decimal number below kWholeSecond.
uint32_t parseStoredEventCount(const std::string& text);
// A stored time's value, 0 when it is not a decimal number of at most 32 bits.
uint32_t parseStoredEventTime(const std::string& text);
// The stored time, 0 when missing or not a decimal number of at most 32 bits.
uint32_t readStoredEventTime(const VariableTable* table, std::string_view pairName, int side);
// Replaces the stored time with seconds in decimal.
void writeStoredEventTime(VariableTable* table, std::string_view pairName, int side, uint32_t seconds);

}  // namespace brivo::events
