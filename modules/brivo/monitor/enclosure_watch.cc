// The monitor's enclosure watch; see enclosure_watch.h.
#include "modules/brivo/monitor/enclosure_watch.h"

#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>

#include "modules/brivo/controller_command.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/monitor/solution_checks.h"
#include "modules/brivo/stored_format.h"

namespace brivo::monitor {

namespace {

constexpr uint8_t kConfigPage = 0x01, kStatusPage = 0x02, kStringPage = 0x04;
constexpr size_t kWwnOffset = 12;  // page 1: the enclosure's logical identifier

struct Fetched {
  uint8_t address = 0;
  int number = 0;  // the controller's enclosure number
  std::string wwn;
  std::vector<uint8_t> config, status, strings;
};

std::string wwnText8(const uint8_t* bytes) {
  std::string text;
  for (int i = 0; i < 8; ++i) text += checks::printed("%02X", bytes[i]);
  return text;
}

std::span<const uint8_t> pageOf(const uint8_t* bytes, uint32_t length) {
  return bytes != nullptr ? std::span<const uint8_t>(bytes, length) : std::span<const uint8_t>();
}

std::string slotWwn(const BrivoEnclosureSlot* slot) {
  if (slot->configPage == nullptr || slot->configLength < kWwnOffset + 8) return "";
  return wwnText8(slot->configPage + kWwnOffset);
}

// A malloc'ed copy of bytes (null for none), as the slot owns it.
uint8_t* copyOut(const std::vector<uint8_t>& bytes, uint32_t* length) {
  *length = 0;
  if (bytes.empty()) return nullptr;
  auto* copy = static_cast<uint8_t*>(std::malloc(bytes.size()));
  if (copy == nullptr) return nullptr;
  std::memcpy(copy, bytes.data(), bytes.size());
  *length = static_cast<uint32_t>(bytes.size());
  return copy;
}

// Replaces one page of a slot.
void replacePage(uint8_t** page, uint32_t* length, const std::vector<uint8_t>& bytes)
    REQUIRES(enclosureLock()) {
  std::free(*page);
  *page = copyOut(bytes, length);
}

BrivoEnclosureSlot* newSlot(const Fetched& f) {
  auto* slot = static_cast<BrivoEnclosureSlot*>(std::calloc(1, sizeof(BrivoEnclosureSlot)));
  if (slot == nullptr) return nullptr;
  slot->address = f.address;
  slot->configPage = copyOut(f.config, &slot->configLength);
  slot->statusPage = copyOut(f.status, &slot->statusLength);
  slot->stringPage = copyOut(f.strings, &slot->stringLength);
  return slot;
}

// The SES address of an enclosure entry: the first of its processors seen on a drive loop.
bool entryAddress(const EnclosureEntry& entry, uint8_t* address) {
  for (const EnclosureAddress& a : entry.addresses) {
    if (a.loop1Id != kNotOnLoop) {
      *address = sesAddress(0, a.loop1Id);
      return true;
    }
    if (a.loop2Id != kNotOnLoop) {
      *address = sesAddress(1, a.loop2Id);
      return true;
    }
  }
  return false;
}

void reportMissing(const char* pairName, const std::string& wwn) {
  const std::string format = ModuleFiles::text(StringTable::kEvent, "SESEnclosureMissing");
  const std::string text =
      format == kMissing ? "Enclosure " + wwn + " is missing" : formatStoredText(format, {wwn});
  const std::string source = controllerSourceName(pairName, "0+1");
  raiseModuleEvent(source.c_str(), text.c_str(), kStatusError, 0, kEventIdEnclosureMissing, 0);
}

bool hasSlots(const BrivoDeviceState* state) {
  for (const BrivoEnclosureSlot* slot : state->enclosures) {
    if (slot != nullptr) return true;
  }
  return false;
}

void dropSlots(BrivoDeviceState* state) {
  MutexLock lock(enclosureLock());
  freeEnclosureSlots(state);
}

// Fetches the pages of every enclosure the controller information lists. False when the
// information could not be read.
bool discover(DeviceRecord* device, BrivoDeviceState* state, std::vector<Fetched>* found) {
  std::unique_ptr<ControllerInformation> info(new (std::nothrow) ControllerInformation());
  if (info == nullptr) return false;
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeData, kOpReadControllerInfo);
  const int result = transferCommandFor(device, state, &command, info.get(), kControllerInfoLength);
  noteCommandResult(result, device);
  if (result != kResultGood) return false;
  for (const EnclosureEntry& entry : info->enclosures) {
    Fetched f;
    if (entry.valid != kOn || !entryAddress(entry, &f.address)) continue;
    f.number = entry.number;
    f.wwn = wwnText8(entry.wwn);
    if (readSesPage(device, state, f.address, kConfigPage, &f.config) == kResultGood) {
      if (readSesPage(device, state, f.address, kStatusPage, &f.status) != kResultGood) f.status.clear();
      if (readSesPage(device, state, f.address, kStringPage, &f.strings) != kResultGood) f.strings.clear();
    }
    found->push_back(std::move(f));
    if (found->size() == kEnclosureSlots) break;
  }
  return true;
}

// Installs the discovered enclosures; reports those that went away. True when the set changed.
bool install(ModDeviceItem* item, BrivoDeviceState* state, const std::vector<Fetched>& found) {
  std::set<std::string> before, after;
  std::vector<std::string> missing;
  {
    MutexLock lock(enclosureLock());
    for (const BrivoEnclosureSlot* slot : state->enclosures) {
      if (slot != nullptr) before.insert(slotWwn(slot));
    }
    freeEnclosureSlots(state);
    // Enclosure n goes into slot n, so that "EnclosureNumber" names the same enclosure for the
    // locator (the controller's number) and for the alarm (the slot); a number out of range or
    // taken twice goes into the first free slot.
    std::vector<const Fetched*> leftOver;
    for (const Fetched& f : found) {
      if (f.number >= 0 && f.number < kEnclosureSlots && state->enclosures[f.number] == nullptr) {
        state->enclosures[f.number] = newSlot(f);
      } else {
        leftOver.push_back(&f);
      }
      after.insert(f.wwn);
    }
    for (int i = 0; i < kEnclosureSlots && !leftOver.empty(); ++i) {
      if (state->enclosures[i] != nullptr) continue;
      state->enclosures[i] = newSlot(*leftOver.front());
      leftOver.erase(leftOver.begin());
    }
  }
  for (const std::string& wwn : before) {
    if (!wwn.empty() && after.count(wwn) == 0) missing.push_back(wwn);
  }
  for (const std::string& wwn : missing) reportMissing(item->name, wwn);
  return before != after;
}

// Re-reads the header and, with support on, the enclosures. True when something changed.
bool refresh(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  ConfigurationHeader header{};
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeCommand, kOpReadConfigHeader);
  const int result = transferCommandFor(device, state, &command, &header, kConfigHeaderLength);
  noteCommandResult(result, device);
  const bool wasOn = loadField(state->enclosureSupport) != 0;
  if (result != kResultGood) {
    const bool had = hasSlots(state);
    dropSlots(state);
    return had;  // the refresh flag stays set
  }
  const bool on = header.enclosureSupport == kOn;
  storeField(state->enclosureSupport, on ? 1 : 0);
  if (!on) {
    const bool had = hasSlots(state);
    dropSlots(state);
    storeField(state->enclosureRefresh, 0);
    return had || wasOn;
  }
  std::vector<Fetched> found;
  if (!discover(device, state, &found)) return wasOn != on;
  storeField(state->enclosureRefresh, 0);
  return install(item, state, found) || wasOn != on;
}

// Fetches pages 2 and 4 of every cached enclosure and keeps them. True when one differs.
bool compareSlots(DeviceRecord* device, BrivoDeviceState* state) {
  bool changed = false;
  for (BrivoEnclosureSlot* slot : state->enclosures) {
    if (slot == nullptr) continue;
    std::vector<uint8_t> status, strings;
    if (readSesPage(device, state, slot->address, kStatusPage, &status) != kResultGood) {
      storeField(state->enclosureRefresh, 1);
      continue;
    }
    const std::vector<SesElementType> types = sesElementTypes(pageOf(slot->configPage, slot->configLength));
    if (sesStatusChanged(types, pageOf(slot->statusPage, slot->statusLength), status)) changed = true;
    const bool stringsRead = readSesPage(device, state, slot->address, kStringPage, &strings) == kResultGood;
    if (stringsRead && sesStringPageChanged(pageOf(slot->stringPage, slot->stringLength), strings))
      changed = true;
    MutexLock lock(enclosureLock());
    replacePage(&slot->statusPage, &slot->statusLength, status);
    if (stringsRead) replacePage(&slot->stringPage, &slot->stringLength, strings);
  }
  return changed;
}

}  // namespace

Mutex& enclosureLock() {
  static Mutex lock;
  return lock;
}

std::vector<EnclosurePages> enclosureSnapshot(const BrivoDeviceState* state) {
  std::vector<EnclosurePages> pages;
  if (state == nullptr) return pages;
  MutexLock lock(enclosureLock());
  for (int i = 0; i < kEnclosureSlots; ++i) {
    const BrivoEnclosureSlot* slot = state->enclosures[i];
    if (slot == nullptr) continue;
    EnclosurePages copy;
    copy.slot = i;
    copy.address = slot->address;
    if (slot->configPage != nullptr)
      copy.config.assign(slot->configPage, slot->configPage + slot->configLength);
    if (slot->statusPage != nullptr)
      copy.status.assign(slot->statusPage, slot->statusPage + slot->statusLength);
    if (slot->stringPage != nullptr)
      copy.strings.assign(slot->stringPage, slot->stringPage + slot->stringLength);
    pages.push_back(std::move(copy));
  }
  return pages;
}

bool enclosureSupportOn(const BrivoDeviceState* state) {
  return state != nullptr && loadField(state->enclosureSupport) != 0;
}

uint32_t enclosureChangeCount(const BrivoDeviceState* state) {
  return state != nullptr ? loadField(state->enclosureChanges) : 0;
}

int readSesPage(DeviceRecord* device, const BrivoDeviceState* state, uint8_t address, uint8_t pageCode,
                std::vector<uint8_t>* page) {
  page->assign(kSesPageAllocation, 0);
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeCommand, kOpReadSesPage, address, kSesReceiveByte4,
               kSesReceiveByte5);
  command.block[6] = pageCode;
  command.block[7] = static_cast<uint8_t>(kSesPageAllocation >> 8);
  command.block[8] = static_cast<uint8_t>(kSesPageAllocation & 0xFF);
  const int result = transferCommandFor(device, state, &command, page->data(), kSesPageAllocation);
  noteCommandResult(result, device);
  if (result != kResultGood || sesPageLength(*page) == 0 || (*page)[0] != pageCode) {
    page->clear();
    return result != kResultGood ? result : kResultBadArguments;
  }
  page->resize(sesPageLength(*page));
  return kResultGood;
}

bool watchEnclosures(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  if (device == nullptr || item == nullptr || state == nullptr) return false;
  if (moduleState().monitorCycleComplete.load()) return false;
  bool changed = false;
  if (loadField(state->enclosureRefresh) != 0) changed = refresh(device, item, state);
  if (loadField(state->enclosureSupport) != 0 && compareSlots(device, state)) changed = true;
  if (changed) std::atomic_ref<uint32_t>(state->enclosureChanges).fetch_add(1);
  return changed;
}

}  // namespace brivo::monitor
