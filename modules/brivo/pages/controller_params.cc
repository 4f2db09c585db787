// The controller parameters page (GetControllerParams) and its save (ChangeControllerParams): the
// settings kept in the configuration header, each changed by its own operation inside one
// configuration bracket, plus the configuration panel (download, archive, restore, clear).
//
// Page keys: "ModDeviceName", "ConfigurationName", "ConfigurationTime" (decimal, quoted back by
// saves and by ClearConfiguration), "ConfigurationTimeText", "ConfigurationWwn", "ChangeCount",
// "ArrayCount", "LogicalDriveCount", "HotSpareCount", the flags "AutoRebuild", "AutoSpare",
// "BackgroundVerify", "EnclosureSupport", "AutoDriveFirmware", "DifferentNodeNames",
// "SingleControllerMode" (shown only), the numbers "RebuildPriority", "InitPriority",
// "ControllerLun" (the current or last one) with "ControllerLunEnabled", and the list
// "ArchiveLoop" of the server's archives (config_archive.h). A failed header read adds
// "ReadFailed", "LastFailureCode", "LastFailureSenseData" and the command result of
// "GetControllerParams".
//
// Save keys: the same names; a key the form does not send leaves its setting alone, so the form
// sends every flag (its check box first, then a hidden "false"). A priority outside 10-90, a LUN
// outside 0-511 or a stale "ConfigurationTime" sends nothing (results 254 and 253).
//
// Thread safety: request threads under the admission gate in their method's mode.
#include <cstdio>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/pages/config_archive.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kParamsTemplate[] = "../../html/Brivo/controller/controller_params.htm";

struct FlagSetting {
  const char* key;
  uint8_t ConfigurationHeader::*field;
  uint8_t op;
};

const FlagSetting kFlags[] = {
    {"AutoRebuild", &ConfigurationHeader::autoRebuild, kOpAutoRebuild},
    {"AutoSpare", &ConfigurationHeader::autoSpare, kOpAutoSpare},
    {"BackgroundVerify", &ConfigurationHeader::backgroundVerify, kOpBackgroundVerify},
    {"EnclosureSupport", &ConfigurationHeader::enclosureSupport, kOpEnclosureSupport},
    {"AutoDriveFirmware", &ConfigurationHeader::autoDriveFirmware, kOpAutoDriveFirmware},
    {"DifferentNodeNames", &ConfigurationHeader::differentNodeNames, kOpAlternateNodeName},
};

// One operation of a save: buffer ID, CDB bytes 3-5 and an optional block.
struct SettingOp {
  uint8_t id = 0;
  uint8_t p3 = 0, p4 = 0, p5 = 0;
  std::vector<uint8_t> block;
};

void addReadFailure(VariableTable* reply, int result, const ControllerCommand& failed) {
  const SenseCodes codes = senseCodes(failed);
  char sense[16];
  std::snprintf(sense, sizeof(sense), "%.2X/%.2X/%.2X", codes.key, codes.asc, codes.ascq);
  addFlag(reply, "ReadFailed", true);
  addNumber(reply, "LastFailureCode", result);
  addText(reply, "LastFailureSenseData", sense);
  addControllerCommandResult(reply, "GetControllerParams", result, failed);
}

void addHeaderKeys(VariableTable* reply, const ConfigurationHeader& h) {
  addText(reply, "ConfigurationName", fieldText(h.name, sizeof(h.name)));
  addNumber(reply, "ConfigurationTime", h.configurationTime);
  addText(reply, "ConfigurationTimeText", localTimeText(h.configurationTime));
  addText(reply, "ConfigurationWwn", wwnText(h.configurationWwn));
  addNumber(reply, "ChangeCount", h.changeCount);
  addNumber(reply, "ArrayCount", h.arrayCount);
  addNumber(reply, "LogicalDriveCount", h.logicalDriveCount);
  addNumber(reply, "HotSpareCount", h.hotSpareCount);
  for (const FlagSetting& flag : kFlags) addFlag(reply, flag.key, h.*flag.field == kOn);
  addFlag(reply, "SingleControllerMode", h.singleControllerMode == kOn);
  addNumber(reply, "RebuildPriority", h.rebuildPriority);
  addNumber(reply, "InitPriority", h.initPriority);
  const bool lunEnabled = h.controllerLun < kMaxHostLuns;
  addFlag(reply, "ControllerLunEnabled", lunEnabled);
  addNumber(reply, "ControllerLun", lunEnabled ? h.controllerLun : h.lastControllerLun);
}

bool addPriorityOp(VariableTable request, const char* key, uint8_t current, uint8_t id,
                   std::vector<SettingOp>* ops) {
  const long value = requestNumber(request, key, -1);
  if (getVariable(request, key) == nullptr) return true;
  if (value < 10 || value > 90) return false;
  if (value != current) ops->push_back({id, static_cast<uint8_t>(value), 0, 0, {}});
  return true;
}

bool addLunOps(VariableTable request, const ConfigurationHeader& h, std::vector<SettingOp>* ops) {
  if (getVariable(request, "ControllerLunEnabled") == nullptr) return true;
  const bool enabled = requestFlag(request, "ControllerLunEnabled");
  const long lun = requestNumber(request, "ControllerLun", -1);
  if (!enabled) {
    if (h.controllerLun != kLunDisable) ops->push_back({kOpControllerLun, 0xFF, 0xFF, 0, {}});
    return true;
  }
  if (getVariable(request, "ControllerLun") == nullptr) {
    if (h.controllerLun == kLunDisable) ops->push_back({kOpControllerLun, 0xFF, 0xFE, 0, {}});
    return true;
  }
  if (lun < 0 || lun >= kMaxHostLuns) return false;
  if (lun != h.controllerLun)
    ops->push_back({kOpControllerLun, static_cast<uint8_t>(lun >> 8), static_cast<uint8_t>(lun), 0, {}});
  return true;
}

// The operations a save asks for; false when a value is out of range (nothing may be sent).
bool plannedOps(VariableTable request, const ConfigurationHeader& h, std::vector<SettingOp>* ops) {
  const char* name = getVariable(request, "ConfigurationName");
  if (name != nullptr) {
    NameBlock64 block{};
    std::memcpy(block.name, name, strnlen(name, sizeof(block.name)));
    if (std::memcmp(block.name, h.name, sizeof(block.name)) != 0) {
      const auto* bytes = reinterpret_cast<const uint8_t*>(&block);
      ops->push_back({kOpConfigName, 0, 0, 0, std::vector<uint8_t>(bytes, bytes + sizeof(block))});
    }
  }
  for (const FlagSetting& flag : kFlags) {
    if (getVariable(request, flag.key) == nullptr) continue;
    const bool on = requestFlag(request, flag.key);
    if (on != (h.*flag.field == kOn)) ops->push_back({flag.op, on ? kOn : kOff, 0, 0, {}});
  }
  return addPriorityOp(request, "RebuildPriority", h.rebuildPriority, kOpRebuildPriority, ops) &&
         addPriorityOp(request, "InitPriority", h.initPriority, kOpInitPriority, ops) &&
         addLunOps(request, h, ops);
}

}  // namespace

VariableTable getControllerParamsMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  ConfigurationHeader header{};
  ControllerCommand failed{};
  const int result = pair.found() ? readConfigHeader(pair, &header, &failed) : kResultBadArguments;
  if (result == kResultGood) {
    addHeaderKeys(&reply, header);
  } else {
    addReadFailure(&reply, result, failed);
  }
  if (pair.found()) addArchiveRows(&reply, pair.item->name);
  addVariable(&reply, kHtmlPathKey, kParamsTemplate);
  return reply;
}

VariableTable changeControllerParamsMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    ConfigurationHeader header{};
    result = readConfigHeader(pair, &header, &failed);
    const long shown = requestNumber(request, "ConfigurationTime", -1);
    std::vector<SettingOp> ops;
    if (result != kResultGood) {
      // The failed read is the result.
    } else if (shown >= 0 && shown != static_cast<long>(header.configurationTime)) {
      result = kResultStale;
    } else if (!plannedOps(request, header, &ops)) {
      result = kResultBadArguments;
    } else if (!ops.empty()) {
      result = inConfigChange(pair, &failed, [&] {
        for (const SettingOp& op : ops) {
          const int sent =
              sendOperation(pair, op.id, op.p3, op.p4, op.p5, op.block.empty() ? nullptr : op.block.data(),
                            static_cast<uint32_t>(op.block.size()), &failed);
          if (sent != kResultGood) return sent;
        }
        return kResultGood;
      });
      waitUntilReady(pair);
    }
  }
  VariableTable reply = getControllerParamsMethod(request);
  addControllerCommandResult(&reply, "ChangeControllerParams", result, failed);
  return reply;
}

}  // namespace brivo
