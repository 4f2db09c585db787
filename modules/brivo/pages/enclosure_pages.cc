// Enclosure and alarm methods: LocateEnclosure (blinks an enclosure's locator through the
// controller), SetAlarmState (mutes, enables or disables the controllers' own alarm) and MuteAlarm
// (mutes an SES enclosure's audible alarm by sending its status page back as a control page
// through the controller, 0xF2). All answer with the pop-up and a command result. Beside them, on
// the same road as MuteAlarm: RemindAlarm (puts the alarm in its remind state: silent, with a
// reminder tone now and then) and IdentifySlot (turns a slot's locator on or off, "SlotNumber"
// and "Identify" = "on"/"off"), both from the enclosure page.
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
constexpr uint8_t kAlarmRemindRequest = 0x10;
constexpr uint8_t kSlotIdentifyRequest = 0x02;

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

// Offset inside the status page of element `wanted` (from 0) of the given type, or -1. With
// orFirst, a type with fewer elements gives its first one.
long elementOffset(const monitor::EnclosurePages& pages, uint8_t type, long wanted, bool orFirst) {
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(pages.config);
  std::vector<monitor::SesElement> elements;
  if (!monitor::sesStatusElements(types, pages.status, &elements)) return -1;
  const monitor::SesElement* first = nullptr;
  for (const monitor::SesElement& e : elements) {
    if (e.type != type || e.index < 0) continue;
    if (first == nullptr) first = &e;
    if (e.index == wanted) return e.bytes - pages.status.data();
  }
  return first != nullptr && orFirst ? first->bytes - pages.status.data() : -1;
}

// Offset of the alarm element to edit inside the status page, or -1.
long alarmElementOffset(const monitor::EnclosurePages& pages, long enclosure) {
  return elementOffset(pages, kSesAudibleAlarm, enclosure, true);
}

// The control page to send: the status page with every element's SELECT bit cleared, then the
// element at offset edited by edit (which selects it). Empty when the cached page is shorter
// than its own length says.
template <typename Edit>
std::vector<uint8_t> controlPage(const monitor::EnclosurePages& pages, long offset, Edit edit) {
  if (pages.status.size() < 4 || offset < 0) return {};
  const size_t length = (static_cast<size_t>(pages.status[2]) << 8 | pages.status[3]) + 4;
  if (length > pages.status.size() || offset + 4 > static_cast<long>(length)) return {};
  std::vector<uint8_t> page(pages.status.begin(), pages.status.begin() + static_cast<long>(length));
  const std::vector<monitor::SesElementType> types = monitor::sesElementTypes(pages.config);
  std::vector<monitor::SesElement> elements;
  if (monitor::sesStatusElements(types, page, &elements)) {
    for (const monitor::SesElement& e : elements)
      page[static_cast<size_t>(e.bytes - page.data())] &= ~kSelectBit;
  }
  edit(page.data() + offset);
  return page;
}

std::vector<uint8_t> muteControlPage(const monitor::EnclosurePages& pages, long alarmOffset) {
  return controlPage(pages, alarmOffset, [](uint8_t* alarm) {
    consolePrint("alarm Element BEFORE =%02x %02x %02x %02x\n", alarm[0], alarm[1], alarm[2], alarm[3]);
    alarm[3] = static_cast<uint8_t>((alarm[3] & ~0xBF) | 0x40);
    alarm[0] = kSelectBit;
    consolePrint("alarm Element AFTER  =%02x %02x %02x %02x\n", alarm[0], alarm[1], alarm[2], alarm[3]);
  });
}

// Remind: not muted, the remind request set (SES audible alarm control, byte 3 bit 4).
std::vector<uint8_t> remindControlPage(const monitor::EnclosurePages& pages, long alarmOffset) {
  return controlPage(pages, alarmOffset, [](uint8_t* alarm) {
    alarm[0] = kSelectBit;
    alarm[1] = 0;
    alarm[2] = 0;
    alarm[3] = kAlarmRemindRequest;
  });
}

// A device slot's locator (SES device slot control, byte 2 bit 1 RQST IDENT); nothing else of the
// slot is requested.
std::vector<uint8_t> slotControlPage(const monitor::EnclosurePages& pages, long slotOffset, bool identify) {
  return controlPage(pages, slotOffset, [identify](uint8_t* slot) {
    slot[0] = kSelectBit;
    slot[1] = 0;
    slot[2] = identify ? kSlotIdentifyRequest : 0;
    slot[3] = 0;
  });
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


// Sends the control page that build makes from the cached pages of the request's enclosure.
// Returns the last send's result (254 when nothing was sent).
template <typename Build>
int sendEnclosureControl(VariableTable request, const PairTarget& pair, Build build, ControllerCommand* failed) {
  const long enclosure = requestNumber(request, "EnclosureNumber", 255);
  if (!pair.found() || enclosure < 0 || enclosure >= kEnclosureSlots) return kResultBadArguments;
  const std::vector<monitor::EnclosurePages> cached = monitor::enclosureSnapshot(pair.state);
  const monitor::EnclosurePages* pages = slotPages(cached, enclosure);
  if (pages == nullptr) return kResultBadArguments;
  const std::vector<uint8_t> page = build(*pages, enclosure);
  if (page.empty()) return kResultBadArguments;
  return sendToEnclosure(pair, sesAddresses(pair, *pages), page, failed);
}

// MuteAlarm and RemindAlarm: the enclosure's alarm element edited by edit (a control page
// builder for the alarm's offset), answered under methodKey.
VariableTable alarmControlMethod(VariableTable request, const char* methodKey,
                                 std::vector<uint8_t> (*edit)(const monitor::EnclosurePages&, long)) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  const int result = sendEnclosureControl(
      request, pair,
      [edit](const monitor::EnclosurePages& pages, long enclosure) {
        const long offset = alarmElementOffset(pages, enclosure);
        return offset >= 0 ? edit(pages, offset) : std::vector<uint8_t>{};
      },
      &failed);
  return alarmReply(request, methodKey, result, failed);
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
  return alarmControlMethod(request, "AlarmMute", muteControlPage);
}

VariableTable remindAlarmMethod(VariableTable request) {
  return alarmControlMethod(request, "AlarmRemind", remindControlPage);
}

VariableTable identifySlotMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long slot = requestNumber(request, "SlotNumber", -1);
  const char* identify = getVariable(request, "Identify");
  const bool on = identify != nullptr && strcasecmp(identify, "on") == 0;
  const bool off = identify != nullptr && strcasecmp(identify, "off") == 0;
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (slot >= 0 && (on || off)) {
    result = sendEnclosureControl(
        request, pair,
        [slot, on](const monitor::EnclosurePages& pages, long) {
          const long offset = elementOffset(pages, monitor::kSesDeviceSlot, slot, false);
          return offset >= 0 ? slotControlPage(pages, offset, on) : std::vector<uint8_t>{};
        },
        &failed);
  }
  return alarmReply(request, on ? "IdentifySlotOn" : "IdentifySlotOff", result, failed);
}

}  // namespace brivo
