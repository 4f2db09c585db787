// Enclosure element lines; see cli_enclosure_ses.h.
//
// Thread safety: as cli_enclosure_ses.h.
#include "modules/brivo/cli/cli_enclosure_ses.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_selectors.h"
#include "modules/brivo/monitor/ses_pages.h"

namespace brivo::cli {

namespace {

constexpr uint8_t kSesPowerSupply = 0x02;
constexpr uint8_t kSesAlarm = 0x06;
constexpr int kTemperatureOffset = 20;  // SES temperatures are kept 20 degrees up
constexpr uint8_t kAlarmMuted = 0x40;

std::string elementText(const monitor::SesElement& e) {
  const uint8_t code = e.bytes[0] & 0x0F;
  char text[64];
  if (e.type == monitor::kSesCooling) {
    const int speed = e.bytes[3] & 0x07;
    std::snprintf(text, sizeof(text), "%d %s (%s)", e.index + 1, sesStatusText(code),
                  speed == 0 ? "stopped" : ("speed " + std::to_string(speed)).c_str());
  } else if (e.type == monitor::kSesTemperature) {
    if (e.bytes[2] == 0) {
      std::snprintf(text, sizeof(text), "%d %s", e.index + 1, sesStatusText(code));
    } else {
      std::snprintf(text, sizeof(text), "%d %dC %s", e.index + 1, e.bytes[2] - kTemperatureOffset,
                    sesStatusText(code));
    }
  } else if (e.type == kSesAlarm) {
    std::snprintf(text, sizeof(text), "%s%s", sesStatusText(code),
                  (e.bytes[3] & kAlarmMuted) != 0 ? ", muted" : "");
  } else {
    std::snprintf(text, sizeof(text), "%d %s", e.index + 1, sesStatusText(code));
  }
  return text;
}

}  // namespace

const char* sesStatusText(uint8_t code) {
  static const char* const kTexts[8] = {
      "Unsupported",   "OK",      "Critical",     "Noncritical", "Unrecoverable",
      "Not installed", "Unknown", "Not available"};
  return code < 8 ? kTexts[code] : "Reserved";
}

bool writeEnclosureElements(CliContext& ctx, std::span<const uint8_t> configPage,
                            std::span<const uint8_t> statusPage) {
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(configPage);
  std::vector<monitor::SesElement> elements;
  if (types.empty() || !monitor::sesStatusElements(types, statusPage, &elements)) return false;
  std::vector<std::string> supplies, fans, temperatures, alarms;
  std::map<std::string, int> slots;  // status text -> slots
  int slotCount = 0;
  for (const monitor::SesElement& e : elements) {
    if (e.index < 0) continue;  // the overall element of its type
    if (e.type == monitor::kSesDeviceSlot) {
      ++slotCount;
      ++slots[sesStatusText(e.bytes[0] & 0x0F)];
    } else if (e.type == kSesPowerSupply) {
      supplies.push_back(elementText(e));
    } else if (e.type == monitor::kSesCooling) {
      fans.push_back(elementText(e));
    } else if (e.type == monitor::kSesTemperature) {
      temperatures.push_back(elementText(e));
    } else if (e.type == kSesAlarm) {
      alarms.push_back(elementText(e));
    }
  }
  std::vector<std::string> slotItems;
  for (const auto& [status, count] : slots) slotItems.push_back(std::to_string(count) + " " + status);
  writeItemsField(ctx, ("Slot Status (" + std::to_string(slotCount) + ")").c_str(), slotItems);
  writeItemsField(ctx, "Power Supplies", supplies);
  writeItemsField(ctx, "Fans", fans);
  writeItemsField(ctx, "Temperatures", temperatures);
  writeItemsField(ctx, "Alarm", alarms);
  return true;
}

}  // namespace brivo::cli
