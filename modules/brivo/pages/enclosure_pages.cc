// Enclosure and alarm methods: LocateEnclosure (blinks an enclosure's locator through the
// controller), SetAlarmState (mutes, enables or disables the controllers' own alarm) and MuteAlarm
// (mutes an SES enclosure's audible alarm by sending its status page back as a control page
// through the controller, 0xF2). All answer with the pop-up and a command result.
//
// MuteAlarm works on a copy of the pages the monitor caches for the enclosure slot named by
// "EnclosureNumber" and edits the audible alarm element whose index within the alarm elements
// equals the enclosure number, or the first one when the enclosure has fewer. Every other
// element's SELECT bit is cleared first: in a status page that bit means "predicted failure", and
// sent back unchanged it would ask the enclosure to act on those elements too. The page goes to
// the enclosure's SES addresses from the controller information (matched by the enclosure's
// logical identifier; the slot's cached address when it is not listed), first on drive loop 1,
// then on loop 2, each loop until one address takes it.
//
// Thread safety: request threads under the admission gate in their method's mode; the cached
// pages are copied under the monitor's enclosure lock.
#include <strings.h>

#include <cstring>
#include <span>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr uint8_t kSesAudibleAlarm = 0x06;
constexpr size_t kEnclosureIdOffset = 12;  // page 1: the enclosure's logical identifier
constexpr uint8_t kSelectBit = 0x80;

VariableTable alarmReply(VariableTable request, const char* methodKey, int result,
                         const ControllerCommand& failed) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  addControllerCommandResult(&reply, methodKey, result, failed);
  addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
  addVariable(&reply, "UpdateParent", "true");
  return reply;
}

// The cached pages of slot, or null.
const monitor::EnclosurePages* slotPages(const std::vector<monitor::EnclosurePages>& pages, long slot) {
  for (const monitor::EnclosurePages& p : pages) {
    if (p.slot == slot && !p.config.empty() && !p.status.empty()) return &p;
  }
  return nullptr;
}

// Offset of the alarm element to edit inside the status page, or -1.
long alarmElementOffset(const monitor::EnclosurePages& pages, long enclosure) {
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(pages.config);
  std::vector<monitor::SesElement> elements;
  if (!monitor::sesStatusElements(types, pages.status, &elements)) return -1;
  const monitor::SesElement* first = nullptr;
  for (const monitor::SesElement& e : elements) {
    if (e.type != kSesAudibleAlarm || e.index < 0) continue;
    if (first == nullptr) first = &e;
    if (e.index == enclosure) return e.bytes - pages.status.data();
  }
  return first != nullptr ? first->bytes - pages.status.data() : -1;
}

// The control page to send: the status page with only the alarm element selected and muted.
// Empty when the cached page is shorter than its own length says.
std::vector<uint8_t> muteControlPage(const monitor::EnclosurePages& pages, long alarmOffset) {
  if (pages.status.size() < 4) return {};
  const size_t length = (static_cast<size_t>(pages.status[2]) << 8 | pages.status[3]) + 4;
  if (length > pages.status.size() || alarmOffset + 4 > static_cast<long>(length)) return {};
  std::vector<uint8_t> page(pages.status.begin(), pages.status.begin() + static_cast<long>(length));
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(pages.config);
  std::vector<monitor::SesElement> elements;
  if (monitor::sesStatusElements(types, page, &elements)) {
    for (const monitor::SesElement& e : elements)
      page[static_cast<size_t>(e.bytes - page.data())] &= ~kSelectBit;
  }
  uint8_t* alarm = page.data() + alarmOffset;
  consolePrint("alarm Element BEFORE =%02x %02x %02x %02x\n", alarm[0], alarm[1], alarm[2], alarm[3]);
  alarm[3] = static_cast<uint8_t>((alarm[3] & ~0xBF) | 0x40);
  alarm[0] = kSelectBit;
  consolePrint("alarm Element AFTER  =%02x %02x %02x %02x\n", alarm[0], alarm[1], alarm[2], alarm[3]);
  return page;
}

// Where the controller reaches the enclosure's SES processor.
std::vector<EnclosureAddress> sesAddresses(const PairTarget& pair, const monitor::EnclosurePages& pages) {
  std::vector<EnclosureAddress> addresses;
  ControllerInformation info{};
  if (pages.config.size() >= kEnclosureIdOffset + 8 &&
      readControllerInformation(pair, &info) == kResultGood) {
    for (const EnclosureEntry& entry : info.enclosures) {
      if (entry.valid != kOn || std::memcmp(entry.wwn, pages.config.data() + kEnclosureIdOffset, 8) != 0)
        continue;
      addresses.assign(entry.addresses, entry.addresses + 4);
      return addresses;
    }
  }
  const uint8_t id = pages.address & 0x7F;
  addresses.push_back(pages.address >> 7 == 0 ? EnclosureAddress{id, 0xFF} : EnclosureAddress{0xFF, id});
  return addresses;
}

int sendSesPage(const PairTarget& pair, uint8_t address, const std::vector<uint8_t>& page,
                ControllerCommand* record) {
  std::vector<uint8_t> data(kCommandSignature, kCommandSignature + kSignatureLength);
  data.insert(data.end(), page.begin(), page.end());
  buildCommand(record, kWriteBuffer, kModeCommand, kOpSendSesPage, address, kSesSendByte4, kSesSendByte5);
  record->block[6] = 0;
  record->block[7] = static_cast<uint8_t>(page.size() >> 8);
  record->block[8] = static_cast<uint8_t>(page.size());
  record->block[9] = 0;
  const int result =
      transferCommandFor(pair.device, pair.state, record, data.data(), static_cast<uint32_t>(data.size()));
  noteCommandResult(result, pair.device);
  return result;
}

// Sends the page on each drive loop in turn until one address of that loop takes it. Returns the
// last send's result (254 when no address was tried).
int sendToEnclosure(const PairTarget& pair, const std::vector<EnclosureAddress>& addresses,
                    const std::vector<uint8_t>& page, ControllerCommand* failed) {
  int result = kResultBadArguments;
  for (int loop = 0; loop < 2; ++loop) {
    for (const EnclosureAddress& address : addresses) {
      const uint8_t id = loop == 0 ? address.loop1Id : address.loop2Id;
      if (id == 0xFF) continue;
      result = sendSesPage(pair, sesAddress(loop, id), page, failed);
      consolePrint("sesAlarmMute: iReturnStatus=%08x           +++\n", static_cast<unsigned>(result));
      if (result == kResultGood) break;
    }
  }
  return result;
}

}  // namespace

VariableTable locateEnclosureMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long enclosure = requestNumber(request, "EnclosureNumber", -1);
  const long seconds = requestNumber(request, "TimeInSeconds", -1);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && enclosure >= 0 && enclosure < kMaxEnclosures && seconds >= 0) {
    result = sendOperation(pair, kOpIdentify, kIdentifyEnclosure, static_cast<uint8_t>(enclosure),
                           static_cast<uint8_t>(seconds > 255 ? 255 : seconds), nullptr, 0, &failed);
  }
  return commandPopupReply(request, "LocateEnclosure", result, failed, false);
}

VariableTable setAlarmStateMethod(VariableTable request) {
  struct Option {
    const char* word;
    uint8_t op;
    const char* key;
  };
  static const Option kOptions[] = {{"Mute", kOpAlarmMute, "AlarmMute"},
                                    {"Disable", kOpAlarmDisable, "AlarmDisable"},
                                    {"Enable", kOpAlarmEnable, "AlarmEnable"}};
  const char* option = getVariable(request, "option");
  const Option* chosen = nullptr;
  for (const Option& o : kOptions) {
    if (option != nullptr && strcasecmp(option, o.word) == 0) chosen = &o;
  }
  ControllerCommand failed{};
  if (chosen == nullptr) {
    // Nothing is sent for an unknown option; the pop-up says so instead of staying empty.
    return alarmReply(request, "SetAlarmState", kResultBadArguments, failed);
  }
  const PairTarget pair = pairOfRequest(request);
  const int result =
      pair.found() ? sendOperation(pair, chosen->op, 0, 0, 0, nullptr, 0, &failed) : kResultBadArguments;
  return alarmReply(request, chosen->key, result, failed);
}

VariableTable muteAlarmMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long enclosure = requestNumber(request, "EnclosureNumber", 255);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && enclosure >= 0 && enclosure < kEnclosureSlots) {
    const std::vector<monitor::EnclosurePages> cached = monitor::enclosureSnapshot(pair.state);
    const monitor::EnclosurePages* pages = slotPages(cached, enclosure);
    const long offset = pages != nullptr ? alarmElementOffset(*pages, enclosure) : -1;
    const std::vector<uint8_t> page = offset >= 0 ? muteControlPage(*pages, offset) : std::vector<uint8_t>{};
    if (!page.empty()) result = sendToEnclosure(pair, sesAddresses(pair, *pages), page, &failed);
  }
  return alarmReply(request, "AlarmMute", result, failed);
}

}  // namespace brivo
