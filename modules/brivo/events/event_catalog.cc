// The decoder's table of event codes; see event_catalog.h. Reason layouts: protocol_events.h and
// protocol_event_codes.h.
#include "modules/brivo/events/event_catalog.h"

#include <initializer_list>

#include "modules/brivo/protocol.h"
#include "modules/brivo/protocol_event_codes.h"

namespace brivo::events {

namespace {

// The rows below are written in a short form: row(0x06).args({W(0), W(3), B(2)}) reads "code
// 0x06's text takes the word at reason byte 0, the word at byte 3 and the byte at byte 2". Each
// letter names how one value is taken from the reason bytes, starting at the offset it is given
// (the Arg kinds of event_catalog.h): B byte, P1 byte plus one, W 16-bit word, D 32-bit word
// (both little-endian), Wwn 8-byte WWN, Lvl firmware level, Rev 4-character revision, Ctl
// controller letter, Tm event time, Arr array designation, Id WWN or serial number, kSubText the
// text of the sub key. .sub(pattern, at, known) builds the sub key from the reason byte at `at`
// and lists the values the firmware defines; .twoLevel, .dword, .only, .severityBySub, .fallback
// and .custom refine it (Row below). docs/architecture.md has the same key as a table.
constexpr ArgRule B(uint8_t at) { return {Arg::kByte, at}; }
constexpr ArgRule P1(uint8_t at) { return {Arg::kBytePlusOne, at}; }
constexpr ArgRule W(uint8_t at) { return {Arg::kWord, at}; }
constexpr ArgRule D(uint8_t at) { return {Arg::kDword, at}; }
constexpr ArgRule Wwn(uint8_t at) { return {Arg::kWwn, at}; }
constexpr ArgRule Lvl(uint8_t at) { return {Arg::kLevel, at}; }
constexpr ArgRule Rev(uint8_t at) { return {Arg::kRevision, at}; }
constexpr ArgRule Ctl(uint8_t at) { return {Arg::kController, at}; }
constexpr ArgRule Tm(uint8_t at) { return {Arg::kTime, at}; }
constexpr ArgRule Arr(uint8_t at) { return {Arg::kArrayName, at}; }
constexpr ArgRule Id(uint8_t at) { return {Arg::kIdentity, at}; }
constexpr ArgRule kSubText = {Arg::kSub, 0};

constexpr uint8_t familyBit(Family family) { return static_cast<uint8_t>(1u << static_cast<int>(family)); }

// Fluent filler of one table row.
class Row {
 public:
  explicit Row(CodeRule* rule) : rule_(rule) { rule_->inUse = true; }
  Row& args(std::initializer_list<ArgRule> list) {
    rule_->args.assign(list);
    return *this;
  }
  Row& sub(const char* pattern, uint8_t at, std::initializer_list<uint32_t> known) {
    rule_->subKey = pattern;
    rule_->subAt = at;
    rule_->known.assign(known);
    return *this;
  }
  Row& twoLevel(const char* pattern, uint8_t at2) {
    rule_->subKey2 = pattern;
    rule_->subAt2 = at2;
    return *this;
  }
  Row& dword() {
    rule_->subDword = true;
    return *this;
  }
  Row& only(Family family) {
    rule_->subFamilies = familyBit(family);
    return *this;
  }
  Row& severityBySub() {
    rule_->subSeverity = true;
    return *this;
  }
  Row& fallback(const char* text) {
    rule_->subFallback = text;
    return *this;
  }
  Row& custom() {
    rule_->custom = true;
    return *this;
  }

 private:
  CodeRule* rule_;
};

void fillDevices(auto row) {
  row(0x01)
      .args({kSubText, B(1), B(2), B(3), B(4), B(5), B(6), B(7), B(8), B(9), B(10), B(11), B(12), B(13)})
      .sub("BrivoEvent_01_%.2X", 0, {1, 2, 3, 4, 5})
      .severityBySub();
  row(0x02).args({D(0)});
  row(0x03).args({B(0), B(1), B(2)});
  row(0x04).args({B(0)});
  row(0x06).args({W(0), W(3), B(2)});
  row(0x07).args({W(0)});
  row(0x08).args({W(0), D(2)});
  row(0x09).args({kSubText, W(0), W(3)}).sub("BrivoEvent_09_%.2X", 2, {1, 2, 3});
  row(0x0A).args({Arr(0), B(1), Wwn(2)});
  row(0x0B).args({Arr(0)});
  for (uint8_t code : {0x0C, 0x0D, 0x0E}) row(code).args({B(0), B(1), Wwn(2)});
  row(0x0F)
      .args({kSubText, B(0), B(1), Wwn(6)})
      .sub("BrivoEvent_0Fsas_%.8X", 2, {1, 2, 4, 8, 0x10})
      .dword()
      .only(Family::kSas);
  for (uint8_t code : {0x10, 0x12, 0x14, 0x17, 0x33, 0x54, 0x55, 0x63, 0x64, 0x65}) row(code).args({B(0)});
  row(0x11).args({B(0), B(1), B(2), B(3)});
  row(0x13)
      .args({kSubText, B(1), B(2), Wwn(3)})
      .sub("BrivoEvent_13sas_%.2X", 0, {1, 2, 3, 4, 5})
      .only(Family::kSas)
      .severityBySub();
  row(0x18).args({kSubText, B(0)}).sub("BrivoEvent_18_%.2X", 1, {0, 1});
  row(0x19)
      .args({kSubText, W(1), W(4), W(6)})
      .sub("BrivoEvent_19_volt_%.2X", 0, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11});
  for (uint8_t code : {0x1A, 0x1B})
    row(code).args({kSubText, B(1), B(2)}).sub("BrivoEvent_Temp_%.2X", 0, {0, 1, 2});
  row(0x1C).args({{Arg::kThisOther, 0}, kSubText}).sub("BrivoEvent_1C_%.2X", 1, {1, 2, 3, 4}).severityBySub();
  row(0x21).args({B(0), B(1), Wwn(3), kSubText}).sub("BrivoEvent_21_%.2X", 2, {1, 2, 3});
  row(0x22).args({B(0), B(1), Wwn(6), D(2)});
  row(0x27).args({B(0), B(1), Id(4)});
  for (uint8_t code : {0x23, 0x28, 0x29, 0x2A, 0x2B, 0x71, 0x76, 0x7B}) row(code).args({B(0), B(1), Wwn(2)});
  row(0x2C).args({B(0), B(1), B(2), Wwn(3)});
  for (uint8_t code : {0x2D, 0x7A}) row(code).args({B(0), B(1), Wwn(6), Rev(2)});
  for (uint8_t code : {0x30, 0x31}) row(code).args({B(0), B(1), B(2), Wwn(3)});
  row(0x32).args({B(0), B(1), kSubText, Wwn(3)}).sub("BrivoEvent_32_%.2X", 2, {1, 2, 3});
  for (uint8_t code : {0x34, 0x35, 0x36}) row(code).args({B(0), D(1)});
  for (uint8_t code : {0x39, 0x3B}) row(code).args({B(0), B(1), Wwn(3), B(2)});
  row(0x3A).args({P1(0)});
  row(0x3C).args({B(0), B(1)});
  row(0x3D).args({B(0), D(1)});
  row(0x3E).args({kSubText}).sub("BrivoEvent_3E_Loop_%d", 0, {0, 1});
  for (uint8_t code : {0x50, 0x51, 0x52, 0x70}) row(code).args({W(0)});
  for (uint8_t code : {0x53, 0x72, 0x73}) row(code).args({W(0), W(2)});
  row(0x56).args({B(0), W(1)});
  row(0x57).args({B(0), Wwn(1)});
  row(0x61).args({B(0), Wwn(3), B(1)});
  row(0x62).args({B(0), B(1)});
  row(0x66).args({B(1), B(0), Wwn(3)});
  row(0x67).args({B(0), Wwn(3), B(2), B(1)});
  row(0x74).args({kSubText, P1(2), B(3), Wwn(4)}).custom();
  row(0x79).args({Id(2), B(1), B(0)});
}

void fillControllers(auto row) {
  row(0x15).args({P1(1), Ctl(0), B(2)});
  for (uint8_t code : {0x16, 0x2E, 0x38}) row(code).args({P1(1), Ctl(0)});
  row(0x24).args({kSubText}).custom();
  row(0x25).args({P1(1), Ctl(0), W(2)});
  row(0x26).args({Wwn(2), P1(1), Ctl(0)});
  row(0x2F).args({W(2), P1(1), Ctl(0)});
  row(0x37).args({P1(1), Ctl(0), B(2)});
  for (uint8_t code :
       {0x3F, 0x59, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F, 0x75, 0x78, 0x7C, 0x7E, 0x7F, 0x86, 0x8C, 0x8D, 0x8F, 0x90})
    row(code).args({Ctl(0)});
  for (uint8_t code : {0x40, 0x41, 0x5A}) row(code).args({Ctl(0), D(1)});
  row(0x42)
      .args({kSubText, B(1)})
      .sub("BrivoEvent_42_%.2X", 0, {1, 2, 3, 4, 5, 6})
      .severityBySub()
      .fallback("Missing battery event message");
  row(0x43).args({kSubText, B(1)}).sub("BrivoEvent_ParityType_%.2X", 0, {1, 2, 3}).severityBySub();
  row(0x44).args({kSubText, B(1), W(2)}).sub("BrivoEvent_ParityType_%.2X", 0, {1, 2, 3}).severityBySub();
  row(0x45).args({kSubText, B(1)}).sub("BrivoEvent_ParityType_%.2X", 0, {1, 2, 3}).severityBySub();
  row(0x58).args({kSubText, Ctl(1)}).sub("BrivoEvent_58_%.2X", 0, {1, 2});
  row(0x60).args({Lvl(0), Lvl(4)});
  for (uint8_t code : {0x68, 0x69}) row(code).args({P1(0), Wwn(1)});
  row(0x6A).args({P1(0), Wwn(1), Rev(9)});
  for (uint8_t code : {0x6B, 0x6C, 0x6D, 0x6E}) row(code).custom();
  row(0x6F).args({Ctl(1), kSubText}).sub("BrivoEvent_Disabled_Cache_Reason_%.2X", 0, {1, 2});
  row(0x7D).args({Ctl(0), Lvl(1)});
  row(0x80).args({P1(0)});
  row(0x81).args({kSubText, B(1), B(2), B(3), B(4)}).sub("BrivoEvent_81_%.2X", 0, {1, 2, 3, 4, 5, 6});
  row(0x82).args({kSubText, Ctl(1), Tm(2)}).sub("BrivoEvent_82_%.2X", 0, {1, 2, 3, 4});
  row(0x84).args({kSubText, B(1), Lvl(2)}).sub("BrivoEvent_84_%.2X", 0, {1, 2, 3});
  row(0x85).args({Wwn(0), W(8)});
  row(0x87).args({kSubText, W(1), B(3)}).sub("BrivoEvent_87_%.2X", 0, {1, 2, 3, 4, 5, 6}).severityBySub();
  row(0x88).args({kSubText, W(1)}).sub("BrivoEvent_88_%.2X", 0, {1, 2}).severityBySub();
  row(0x89)
      .args({kSubText, {Arg::kRebuildMode, 1}})
      .sub("BrivoEvent_89_%.2X", 0, {1})
      .twoLevel("BrivoEvent_89_%.2X.%.2X", 1);
  row(0x8A).args({kSubText}).sub("BrivoEvent_8A_%.2X", 0, {1, 2, 3});
  row(0x8B)
      .args({kSubText, {Arg::kFirmwarePart, 1}, Lvl(2)})
      .sub("BrivoEvent_8B_%.2X", 0, {1, 2})
      .twoLevel("BrivoEvent_8B_%.2X.%.2X", 1)
      .severityBySub();
  row(0x8E).args({});
  row(0x91).args({kSubText, B(1), B(2), B(3)}).sub("BrivoEvent_91_%.2X", 0, {1, 2});
  row(0x92).args({kSubText, {Arg::kMemorySize, 0}}).sub("BrivoEvent_92_%.2X", 0, {0, 1, 2, 3});
}

std::array<CodeRule, 256> buildTable() {
  std::array<CodeRule, 256> table;
  auto row = [&table](uint8_t code) { return Row(&table[code]); };
  fillDevices(row);
  fillControllers(row);
  return table;
}

// Known values of the custom codes per family, and of the device change's two bytes.
constexpr uint8_t kLoopValues[] = {kLoopAcquiredId, kLoopReinitByHost, kLoopReinitByController, kLoopNoSignal,
                                   kLoopInitFailed};
constexpr uint8_t kBusValues[] = {kBusResetByHost, kBusRenegotiated};
constexpr uint8_t kSasHostValues[] = {kSasLinkUp, kSasLinkDown, kSasPortReset};
constexpr uint32_t kDriveInterfaceStates[] = {kDriveIfLinksUp, kDriveIfLinkDown, kDriveIfLinkUp,
                                              kDriveIfExpanderReset, kDriveIfCabling};

using Reason = std::array<uint8_t, 14>;

void addSesExamples(uint8_t code, std::vector<Reason>* out) {
  for (uint8_t status = 0; status < 16; ++status) {
    Reason r{};
    r[1] = status;
    r[5] = status % 2 == 0 ? 254 : 3;  // with and without an enclosure number
    out->push_back(r);
  }
  std::vector<uint8_t> byte14;
  if (code == kEvSesAlarm) byte14 = {0x0E, 0x10, 0x40, 0x01, 0x04, 0x00};
  if (code == kEvSesCooling) byte14 = {0, 1, 2, 3, 4, 5, 6, 7};
  if (code == kEvSesTemperature) byte14 = {0x00, 0x01, 0x02, 0x04, 0x08, 0x0C};
  for (uint8_t value : byte14) {
    Reason r{};
    r[1] = 1;
    r[3] = 45;
    r[4] = value;
    out->push_back(r);
  }
}

}  // namespace

const char* familySuffix(Family family) {
  switch (family) {
    case Family::kSata:
      return "s";
    case Family::kScsiHost:
      return "sc";
    case Family::kSas:
      return "sas";
    case Family::kSasHost:
      return "hsas";
    default:
      return "";
  }
}

const CodeRule& codeRule(uint8_t code) {
  static const std::array<CodeRule, 256> table = buildTable();
  return table[code];
}

Family keyFamily(uint8_t code, uint8_t driveInterface, uint8_t hostInterface) {
  uint8_t flags = eventFlags(code);
  if (driveInterface == kInterfaceSata && (flags & kFlagSata) != 0) return Family::kSata;
  if (hostInterface == kHostInterfaceScsi && (flags & kFlagScsiHost) != 0) return Family::kScsiHost;
  if (driveInterface == kInterfaceSas && (flags & kFlagSas) != 0) return Family::kSas;
  if (hostInterface == kHostInterfaceSas && (flags & kFlagSasHost) != 0) return Family::kSasHost;
  return Family::kPlain;
}

std::vector<std::array<uint8_t, 14>> exampleReasons(uint8_t code, uint8_t driveInterface,
                                                    uint8_t hostInterface) {
  const CodeRule& rule = codeRule(code);
  std::vector<Reason> out;
  if (!rule.inUse) return out;
  Family family = keyFamily(code, driveInterface, hostInterface);
  auto one = [&out](uint8_t at, uint8_t value) {
    Reason r{};
    r[at] = value;
    out.push_back(r);
  };
  if (code >= kEvSesPowerSupply && code <= kEvSesAlarm) {
    addSesExamples(code, &out);
  } else if (code == kEvHostLoop) {
    if (family == Family::kScsiHost) {
      for (uint8_t v : kBusValues) one(0, v);
    } else if (family == Family::kSasHost) {
      for (uint8_t v : kSasHostValues) one(0, v);
    } else {
      for (uint8_t v : kLoopValues) one(0, v);
    }
  } else if (code == kEvDeviceChange) {
    for (uint8_t device : {kDeviceDrive, kDeviceEnclosure, kDeviceController}) {
      for (uint8_t change : {kDeviceAdded, kDeviceRemoved, kDeviceMoved}) {
        Reason r{};
        r[0] = device;
        r[1] = change;
        out.push_back(r);
      }
    }
  } else if (code == kEvController && driveInterface == kInterfaceSas) {
    for (uint32_t v : rule.known) one(0, static_cast<uint8_t>(v));
    for (uint32_t state : kDriveInterfaceStates) {
      Reason r{};
      r[0] = kCtlDriveInterface;
      r[4] = static_cast<uint8_t>(state);  // big-endian: the low byte is r4
      out.push_back(r);
    }
  } else if (rule.subKey != nullptr && (rule.subFamilies & familyBit(family)) != 0) {
    for (uint32_t v : rule.known) {
      Reason r{};
      for (int k = 0; k < (rule.subDword ? 4 : 1); ++k)
        r[rule.subAt + k] = static_cast<uint8_t>(v >> (8 * k));
      out.push_back(r);
    }
  } else {
    out.push_back(Reason{});
  }
  return out;
}

}  // namespace brivo::events
