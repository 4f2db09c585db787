// The values of `config set`; see cli_config_set.h.
//
// Thread safety: as cli_config_set.h.
#include "modules/brivo/cli/cli_config_set.h"

#include <strings.h>

#include <cctype>
#include <cstring>

#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

struct FlagSetting {
  ModifierId modifier;
  uint8_t bufferId;
  const char* label;
};
constexpr FlagSetting kFlagSettings[] = {
    {kModDiffNodeName, kOpAlternateNodeName, "Different Node Names"},
    {kModAutoSpare, kOpAutoSpare, "Auto Spare"},
    {kModAutoRebuild, kOpAutoRebuild, "Auto Rebuild"},
    {kModSingleCtlr, kOpSingleControllerMode, "Single Controller Mode"},
    {kModBgVerify, kOpBackgroundVerify, "Background Verify"},
    {kModAutoDriveFw, kOpAutoDriveFirmware, "Auto Drive Firmware"},
    {kModEnclosureSup, kOpEnclosureSupport, "Enclosure Support"},
};

SettingOperation operation(uint8_t bufferId, uint8_t p3, std::string what) {
  SettingOperation op;
  op.bufferId = bufferId;
  op.p3 = p3;
  op.what = std::move(what);
  return op;
}

bool numberIn(CliContext& ctx, const char* text, long low, long high, const char* label, long* out) {
  if (!parseNumber(text, out)) {
    writeText(ctx, "Error: Parsing %s. Not a number.\n", label);
    return false;
  }
  if (*out < low || *out > high) {
    writeText(ctx, "Error: Parsing %s. Out of range.\n", label);
    return false;
  }
  return true;
}

bool nameOperation(CliContext& ctx, const char* text, std::vector<SettingOperation>* out) {
  NameBlock64 block{};
  if (std::strlen(text) >= sizeof(block.name)) {
    writeText(ctx, "Error: Parsing Configuration Name. Too long.\n");
    return false;
  }
  std::memcpy(block.name, text, std::strlen(text));
  SettingOperation op = operation(kOpConfigName, 0, "Name");
  const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
  op.block.assign(bytes, bytes + sizeof(block));
  out->push_back(std::move(op));
  return true;
}

bool controllerLunOperation(CliContext& ctx, const char* text, std::vector<SettingOperation>* out) {
  long lun = 0;
  if (strcasecmp(text, "disable") == 0) {
    lun = kLunDisable;
  } else if (strcasecmp(text, "enable") == 0) {
    lun = kLunEnable;
  } else if (!numberIn(ctx, text, 0, kMaxHostLuns - 1, "Controller LUN", &lun)) {
    return false;
  }
  SettingOperation op = operation(kOpControllerLun, static_cast<uint8_t>(lun >> 8), "Controller LUN");
  op.p4 = static_cast<uint8_t>(lun & 0xFF);
  out->push_back(std::move(op));
  return true;
}

// "c0p1:value" (either letter case): the port index 0-3 (C0P0, C0P1, C1P0, C1P1) and the value.
bool portOf(const std::string& word, int* port, std::string* value) {
  if (word.size() < 6 || std::tolower(static_cast<unsigned char>(word[0])) != 'c' ||
      std::tolower(static_cast<unsigned char>(word[2])) != 'p' || word[4] != ':') {
    return false;
  }
  if ((word[1] != '0' && word[1] != '1') || (word[3] != '0' && word[3] != '1')) return false;
  *port = (word[1] - '0') * 2 + (word[3] - '0');
  *value = word.substr(5);
  return true;
}

// Applies one host-port modifier's words to the pending settings of the four ports.
bool hostPortValues(CliContext& ctx, ModifierId id, HostPortSetting ports[4], bool touched[4]) {
  const char* label = id == kModHostPortId     ? "Host Port ID"
                      : id == kModHostPortRate ? "Host Port Rate"
                      : id == kModHostPortPack ? "Host Port Packing"
                                               : "Host Port Connection";
  for (const std::string& word : modifierValues(ctx, id)) {
    int port = 0;
    std::string value;
    if (!portOf(word, &port, &value)) {
      writeText(ctx, "Error: Parsing %s. Unknown port; use c0p0, c0p1, c1p0 or c1p1.\n", label);
      return false;
    }
    const char* text = value.c_str();
    long number = 0;
    if (id == kModHostPortId) {
      if (strcasecmp(text, "soft") == 0) {
        ports[port].hardId = 0xFF;
      } else if (numberIn(ctx, text, 0, 127, label, &number)) {
        ports[port].hardId = static_cast<uint8_t>(number);
      } else {
        return false;
      }
    } else if (id == kModHostPortPack) {
      bool on = false;
      if (!parseOnOff(text, &on)) {
        writeText(ctx, "Error: Parsing %s. Use true or false.\n", label);
        return false;
      }
      ports[port].packing = on ? kOn : kOff;
    } else if (id == kModHostPortRate) {
      if (strcasecmp(text, "auto") == 0) {
        ports[port].dataRate = 0;
      } else if (parseNumber(text, &number) && (number == 1 || number == 2 || number == 4)) {
        ports[port].dataRate = static_cast<uint8_t>(number);
      } else {
        writeText(ctx, "Error: Parsing %s. Out of range.\n", label);
        return false;
      }
    } else {
      static const char* const kConnections[3] = {"auto", "ptp", "loop"};
      int found = -1;
      for (int k = 0; k < 3; ++k) {
        if (strcasecmp(text, kConnections[k]) == 0) found = k;
      }
      if (found < 0) {
        writeText(ctx, "Error: Parsing %s. Out of range.\n", label);
        return false;
      }
      ports[port].connection = static_cast<uint8_t>(found);
    }
    touched[port] = true;
  }
  return true;
}

// Whether a present controller reports that its host ports can pack frames.
bool packingSupported(const CliContext& ctx) {
  if (ctx.info == nullptr) return false;
  for (int c = 0; c < 2; ++c) {
    if (controllerOnline(*ctx.info, c) && (ctx.info->controllers[c].features & kFeatureHostPortPacking) != 0)
      return true;
  }
  return false;
}

bool hostPortOperations(CliContext& ctx, std::vector<SettingOperation>* out) {
  const bool packing = packingSupported(ctx);
  if (hasModifier(ctx, kModHostPortPack) && !packing) {
    writeText(ctx, "Error: Host port packing cannot be set on this controller.\n");
    return false;
  }
  HostPortSetting ports[4];
  bool touched[4] = {};
  for (int p = 0; p < 4; ++p) ports[p] = ctx.config->header.hostPorts[p];
  for (ModifierId id : {kModHostPortId, kModHostPortRate, kModHostPortConn, kModHostPortPack}) {
    if (!hostPortValues(ctx, id, ports, touched)) return false;
  }
  static const char* const kNames[4] = {"C0P0", "C0P1", "C1P0", "C1P1"};
  for (int p = 0; p < 4; ++p) {
    if (!touched[p]) continue;
    // A port's packing is sent only to controllers that know it, and then always as it stands.
    const uint8_t pack = packing && ports[p].packing == kOn ? kHostPortPackBit : 0;
    SettingOperation op =
        operation(kOpHostPortSettings,
                  static_cast<uint8_t>(ports[p].dataRate << 4 | (ports[p].connection & 0x07) | pack),
                  std::string("Host Port ") + kNames[p]);
    op.p4 = static_cast<uint8_t>(1 << p);
    op.p5 = ports[p].hardId;
    out->push_back(std::move(op));
  }
  return true;
}

}  // namespace

bool parseOnOff(const char* text, bool* on) {
  static const char* const kOn[] = {"on", "enable", "enabled", "true", "yes", "1"};
  static const char* const kOff[] = {"off", "disable", "disabled", "false", "no", "0"};
  if (text == nullptr) return false;
  for (const char* word : kOn) {
    if (strcasecmp(text, word) == 0) {
      *on = true;
      return true;
    }
  }
  for (const char* word : kOff) {
    if (strcasecmp(text, word) == 0) {
      *on = false;
      return true;
    }
  }
  return false;
}

bool settingOperations(CliContext& ctx, std::vector<SettingOperation>* out) {
  out->clear();
  if (const char* name = modifierValue(ctx, kModName); name != nullptr && !nameOperation(ctx, name, out))
    return false;
  long number = 0;
  if (const char* text = modifierValue(ctx, kModControllerWwn); text != nullptr) {
    if (!numberIn(ctx, text, 0, 3, "Controller WWN index", &number)) return false;
    out->push_back(operation(kOpControllerWwnIndex, static_cast<uint8_t>(number), "Controller WWN Index"));
  }
  for (const FlagSetting& flag : kFlagSettings) {
    const char* text = modifierValue(ctx, flag.modifier);
    if (text == nullptr) continue;
    bool on = false;
    if (!parseOnOff(text, &on)) {
      writeText(ctx, "Error: Parsing %s. Use enabled or disabled.\n", flag.label);
      return false;
    }
    out->push_back(operation(flag.bufferId, on ? kOn : kOff, flag.label));
  }
  if (const char* text = modifierValue(ctx, kModControllerLun);
      text != nullptr && !controllerLunOperation(ctx, text, out))
    return false;
  if (const char* text = modifierValue(ctx, kModInitPriority); text != nullptr) {
    if (!numberIn(ctx, text, 10, 90, "Initialization Priority", &number)) return false;
    out->push_back(operation(kOpInitPriority, static_cast<uint8_t>(number), "Initialization Priority"));
  }
  if (const char* text = modifierValue(ctx, kModRebuildPriority); text != nullptr) {
    if (!numberIn(ctx, text, 10, 90, "Rebuild Priority", &number)) return false;
    out->push_back(operation(kOpRebuildPriority, static_cast<uint8_t>(number), "Rebuild Priority"));
  }
  return hostPortOperations(ctx, out);
}

}  // namespace brivo::cli
