// Names of drives, slots and enclosures on the pages; see identity.h.
#include "modules/brivo/pages/identity.h"

#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

constexpr uint8_t kNoEnclosure = 0xFE;
constexpr int32_t kFailuresShownAsLost = 2;

}  // namespace

std::string enclosureLabel(int number) {
  return formatStoredText(statusText("EnclosureLabel", "Enclosure %d"), {number + 1});
}

std::string enclosureLogName(int number, const uint8_t wwn[8]) {
  bool complete = true;
  return events::enclosureSourceName(moduleEventTexts(), number, wwn, &complete);
}

PairIdentity pairIdentity(const char* modDeviceName) {
  PairIdentity identity;
  const std::string text = modDeviceName != nullptr ? modDeviceName : "";
  identity.wwn = text.size() > kBrivoNamePrefixLength ? text.substr(kBrivoNamePrefixLength) : "";
  const PairTarget pair = findPair(modDeviceName);
  ConfigurationHeader header{};
  if (pair.found() && loadField(pair.state->failureCount) <= kFailuresShownAsLost &&
      readConfigHeader(pair, &header, nullptr, Counting::kDoNotCount) == kResultGood) {
    identity.name = fieldText(header.name, sizeof(header.name));
    identity.wwn = wwnText(header.configurationWwn);
  }
  return identity;
}

void addPairIdentity(VariableTable* reply, const char* name) {
  if (name == nullptr || getVariable(*reply, "PairName") != nullptr) return;
  const PairIdentity identity = pairIdentity(name);
  addText(reply, "PairName", identity.name);
  addText(reply, "PairWwn", identity.wwn);
}

void addDriveIdentity(VariableTable* reply, const char* list, int row, int index, const DriveListEntry& e) {
  const bool inEnclosure = e.enclosure != kNoEnclosure;
  addRowNumber(reply, list, row, "DriveId", e.driveId);
  addRowNumber(reply, list, row, "DiskIndex", index);
  addRowNumber(reply, list, row, "Slot", e.slot);
  addRowText(reply, list, row, "EnclosureNumber", inEnclosure ? std::to_string(e.enclosure) : "");
  addRowText(reply, list, row, "EnclosureLabel", inEnclosure ? enclosureLabel(e.enclosure) : "None");
}

void addEnclosureIdentity(VariableTable* reply, const std::string& prefix, int number, const uint8_t wwn[8]) {
  addText(reply, (prefix + "EnclosureNumber").c_str(), std::to_string(number));
  addText(reply, (prefix + "EnclosureLabel").c_str(), enclosureLabel(number));
  addText(reply, (prefix + "EnclosureName").c_str(), enclosureLogName(number, wwn));
  addText(reply, (prefix + "EnclosureWwn").c_str(), wwnText(wwn));
}

}  // namespace brivo
