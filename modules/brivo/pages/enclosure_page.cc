// The enclosure page (GetEnclosureInformation): one SES enclosure of a pair with every element and
// its status, in the words of the event log: its slots (with the drive in each, its drive ID and
// qcli number, and the slot's locator), power supplies, fans, temperature sensors with their
// readings, enclosure services controllers (ESIs) and the audible alarm with its state. The page
// offers the enclosure's locator (LocateEnclosure), silencing the alarm or setting it to remind
// (MuteAlarm, RemindAlarm) and each slot's locator (IdentifySlot).
//
// Request: "ModDeviceName", "EnclosureNumber" (the controller's number; the first enclosure when
// absent or not a number). The pages are read fresh through the enclosure's SES addresses, so an
// action's effect shows at once; when no address answers, the monitor's cached copy is shown and
// "FromCache" says so.
//
// Keys: the enclosure identity of identity.h (EnclosureNumber, EnclosureLabel, EnclosureName,
// EnclosureWwn), "EnclosureFound", "SlotCount", "Vendor", "Product", "Revision", "PagesRead",
// "FromCache", "EnclosureIdentifying", "StatusText", "StatusClass"; the lists "EnclosureChoiceLoop"
// (Number, Label, Selected: every enclosure of the pair), "SlotLoop" (Slot, StatusText, Class,
// Identifying, Occupied, DriveId, DiskIndex, DriveWwn, DriveStatus, DriveUsage, DriveClass,
// Array), "PowerSupplyLoop", "FanLoop", "TemperatureLoop", "EsiLoop", "AlarmLoop", "OtherLoop"
// (Number, Name, Text, StatusText, Class, Identifying; temperatures add Reading, alarms State, Muted,
// Remind; other elements Type).
//
// Thread safety: request threads under the admission gate (as a reader).
#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kEnclosureTemplate[] = "../../html/Brivo/enclosure/enclosure.htm";
constexpr uint8_t kSesEsi = 0x07;
constexpr uint8_t kSesEnclosure = 0x0E;
constexpr uint8_t kSesStatusNotInstalled = 5;
constexpr int kTemperatureOffset = 20;  // SES temperatures are kept 20 degrees up

struct Pages {
  std::vector<uint8_t> config, status;
  bool fromCache = false;
};

const EnclosureEntry* enclosureOf(const ControllerInformation& info, long number) {
  for (const EnclosureEntry& e : info.enclosures) {
    if (e.valid == kOn && e.number == number) return &e;
  }
  return nullptr;
}

// Pages 1 and 2 through the first address that answers, else the monitor's cached copy.
bool readPages(const PairTarget& pair, const EnclosureEntry& e, Pages* out) {
  for (const EnclosureAddress& a : e.addresses) {
    for (int loop = 0; loop < 2; ++loop) {
      const uint8_t id = loop == 0 ? a.loop1Id : a.loop2Id;
      if (id == 0xFF) continue;
      const uint8_t address = sesAddress(loop, id);
      if (monitor::readSesPage(pair.device, pair.state, address, 1, &out->config) == kResultGood &&
          monitor::readSesPage(pair.device, pair.state, address, 2, &out->status) == kResultGood)
        return true;
    }
  }
  for (const monitor::EnclosurePages& cached : monitor::enclosureSnapshot(pair.state)) {
    if (cached.slot != e.number || cached.config.empty() || cached.status.empty()) continue;
    out->config = cached.config;
    out->status = cached.status;
    out->fromCache = true;
    return true;
  }
  return false;
}

// Health class of an element by its SES status code.
const char* elementClass(uint8_t code) {
  switch (code) {
    case monitor::kSesStatusOk:
      return "ok";
    case monitor::kSesStatusNonCritical:
      return "warn";
    case monitor::kSesStatusCritical:
    case monitor::kSesStatusUnrecoverable:
      return "fail";
    default:
      return "unknown";
  }
}

// Worse of two classes (fail, warn, unknown, ok in that order).
const char* worseClass(const char* a, const char* b) {
  auto rank = [](const std::string& c) { return c == "fail" ? 3 : c == "warn" ? 2 : c == "unknown" ? 1 : 0; };
  return rank(b) > rank(a) ? b : a;
}

std::string fixedText(const uint8_t* page, size_t size, size_t offset, size_t length) {
  return offset + length <= size ? fieldText(reinterpret_cast<const char*>(page + offset), length) : "";
}

void addSlotRow(VariableTable* r, int row, const monitor::SesElement& e, const EnclosureEntry& enclosure,
                const DriveList& drives) {
  const char* list = "SlotLoop";
  const uint8_t code = e.bytes[0] & 0x0F;
  bool complete = true;
  addRowNumber(r, list, row, "Slot", e.index);
  addRowText(r, list, row, "StatusText",
             events::enclosureElementStatusText(moduleEventTexts(), monitor::kSesDeviceSlot, e.bytes, &complete));
  addRowText(r, list, row, "Class", elementClass(code));
  addRowFlag(r, list, row, "Identifying", (e.bytes[2] & 0x02) != 0);
  const int count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    const DriveListEntry& d = drives.entries[i];
    if (d.enclosure != enclosure.number || d.slot != e.index) continue;
    addRowFlag(r, list, row, "Occupied", true);
    addRowNumber(r, list, row, "DriveId", d.driveId);
    addRowNumber(r, list, row, "DiskIndex", i);
    addRowText(r, list, row, "DriveWwn", wwnText(d.wwn));
    addRowText(r, list, row, "DriveStatus", statusTextByte("DriveStatus", d.status));
    addRowText(r, list, row, "DriveUsage", statusTextByte("DriveUsage", d.usage));
    addRowText(r, list, row, "DriveClass", driveStatusClass(d.status, (d.flags & kDriveFlagPredicted) != 0));
    addRowText(r, list, row, "Array", d.array < kMaxArrays ? std::to_string(d.array) : "");
    addRowFlag(r, list, row, "InArray", d.array < kMaxArrays);
    return;
  }
  addRowFlag(r, list, row, "Occupied", false);
}

struct Rows {
  int slots = 0, supplies = 0, fans = 0, temperatures = 0, esis = 0, alarms = 0, others = 0;
};

// One element that is not a slot; returns its class.
const char* addElementRow(VariableTable* r, Rows* rows, const monitor::SesElement& e) {
  const uint8_t code = e.bytes[0] & 0x0F;
  const char* cls = elementClass(code);
  const char* list = "OtherLoop";
  int* row = &rows->others;
  switch (e.type) {
    case events::kSesElementPowerSupply:
      list = "PowerSupplyLoop", row = &rows->supplies;
      break;
    case events::kSesElementCooling:
      list = "FanLoop", row = &rows->fans;
      break;
    case events::kSesElementTemperature:
      list = "TemperatureLoop", row = &rows->temperatures;
      break;
    case events::kSesElementAlarm:
      list = "AlarmLoop", row = &rows->alarms;
      break;
    case kSesEsi:
      list = "EsiLoop", row = &rows->esis;
      break;
    default:
      break;
  }
  bool complete = true;
  const events::EventTexts& texts = moduleEventTexts();
  addRowNumber(r, list, *row, "Number", e.index + 1);
  addRowText(r, list, *row, "Name", events::enclosureElementName(texts, e.type, e.index));
  addRowText(r, list, *row, "Text", events::enclosureElementText(texts, e.type, e.index, e.bytes, &complete));
  addRowText(r, list, *row, "StatusText", events::enclosureElementStatusText(texts, e.type, e.bytes, &complete));
  addRowFlag(r, list, *row, "Identifying", (e.bytes[1] & 0x80) != 0);
  if (e.type == events::kSesElementTemperature) {
    addRowText(r, list, *row, "Reading",
               e.bytes[2] != 0 ? std::to_string(e.bytes[2] - kTemperatureOffset) : std::string());
    addRowFlag(r, list, *row, "HasReading", e.bytes[2] != 0);
  } else if (e.type == events::kSesElementAlarm) {
    addRowText(r, list, *row, "State", events::alarmStateName(e.bytes[3]));
    addRowFlag(r, list, *row, "Muted", (e.bytes[3] & 0x40) != 0);
    addRowFlag(r, list, *row, "Remind", (e.bytes[3] & 0x10) != 0);
  } else if (e.type == kSesEsi) {
    addRowFlag(r, list, *row, "Reporting", (e.bytes[2] & 0x01) != 0);
  } else if (list == std::string("OtherLoop")) {
    addRowText(r, list, *row, "Type", hexByte(e.type));
  }
  addRowText(r, list, *row, "Class", cls);
  ++*row;
  return code == kSesStatusNotInstalled ? "ok" : cls;
}

// Every element of the pages; false when they cannot be walked.
bool addElements(VariableTable* r, const Pages& pages, const EnclosureEntry& enclosure, const DriveList& drives) {
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(pages.config);
  std::vector<monitor::SesElement> elements;
  if (types.empty() || !monitor::sesStatusElements(types, pages.status, &elements)) return false;
  Rows rows;
  const char* worst = "ok";
  for (const monitor::SesElement& e : elements) {
    if (e.index < 0) continue;  // the overall element of its type
    if (e.type == monitor::kSesDeviceSlot) {
      addSlotRow(r, rows.slots++, e, enclosure, drives);
      worst = worseClass(worst, elementClass(e.bytes[0] & 0x0F));
    } else if (e.type == kSesEnclosure) {
      addFlag(r, "EnclosureIdentifying", (e.bytes[1] & 0x80) != 0);
    } else {
      worst = worseClass(worst, addElementRow(r, &rows, e));
    }
  }
  setCount(r, "SlotLoop", rows.slots);
  setCount(r, "PowerSupplyLoop", rows.supplies);
  setCount(r, "FanLoop", rows.fans);
  setCount(r, "TemperatureLoop", rows.temperatures);
  setCount(r, "EsiLoop", rows.esis);
  setCount(r, "AlarmLoop", rows.alarms);
  setCount(r, "OtherLoop", rows.others);
  addText(r, "StatusClass", worst);
  addText(r, "StatusText", statusText(worst == std::string("ok")     ? "ElementsOk"
                                      : worst == std::string("warn") ? "ElementsWarning"
                                      : worst == std::string("fail") ? "ElementsFailed"
                                                                     : "ElementsUnknown"));
  // Vendor, product and revision of the enclosure descriptor (page 1 from byte 8).
  const uint8_t* p = pages.config.data();
  addText(r, "Vendor", fixedText(p, pages.config.size(), 20, 8));
  addText(r, "Product", fixedText(p, pages.config.size(), 28, 16));
  addText(r, "Revision", fixedText(p, pages.config.size(), 44, 4));
  return true;
}

void addChoices(VariableTable* r, const ControllerInformation& info, long selected) {
  int row = 0;
  for (const EnclosureEntry& e : info.enclosures) {
    if (e.valid != kOn) continue;
    addRowNumber(r, "EnclosureChoiceLoop", row, "Number", e.number);
    addRowText(r, "EnclosureChoiceLoop", row, "Label", enclosureLabel(e.number));
    addRowFlag(r, "EnclosureChoiceLoop", row, "Selected", e.number == selected);
    ++row;
  }
  setCount(r, "EnclosureChoiceLoop", row);
}

// The number the request names, or the pair's first enclosure.
long chosenNumber(VariableTable request, const ControllerInformation& info) {
  const long asked = requestNumber(request, "EnclosureNumber", -1);
  if (asked >= 0) return asked;
  for (const EnclosureEntry& e : info.enclosures) {
    if (e.valid == kOn) return e.number;
  }
  return -1;
}

}  // namespace

VariableTable getEnclosureInformationMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  TableOwner reply;
  VariableTable* r = reply.address();
  echoDeviceName(r, request);
  addText(r, kHtmlPathKey, kEnclosureTemplate);
  auto info = std::make_unique<ControllerInformation>();
  auto drives = std::make_unique<DriveList>();
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    result = readControllerInformation(pair, info.get(), &failed);
    if (result == kResultGood) result = readDriveList(pair, drives.get(), &failed);
  }
  if (result != kResultGood) {
    addFlag(r, "ReadFailed", true);
    addControllerCommandResult(r, "GetEnclosureInformation", result, failed);
    return reply.release();
  }
  const long number = chosenNumber(request, *info);
  addChoices(r, *info, number);
  const EnclosureEntry* enclosure = enclosureOf(*info, number);
  addFlag(r, "EnclosureFound", enclosure != nullptr);
  if (enclosure == nullptr) {
    addText(r, "EnclosureNumber", number >= 0 ? std::to_string(number) : "");
    return reply.release();
  }
  addEnclosureIdentity(r, "", enclosure->number, enclosure->wwn);
  addNumber(r, "SlotCount", enclosure->slots);
  Pages pages;
  const bool read = readPages(pair, *enclosure, &pages) && addElements(r, pages, *enclosure, *drives);
  addFlag(r, "PagesRead", read);
  addFlag(r, "FromCache", read && pages.fromCache);
  return reply.release();
}

}  // namespace brivo
