// The interpreter's config object: `config display` (the configuration's identity, what it holds
// and its settings, changeable ones marked with an asterisk), `config set` (the settings, in one
// configuration change), `config delete` (clear, 0x81, in a configuration change), `config save`
// (the whole 940032-byte block as a binary file for the client) and `config restore` (a saved
// block written back with WRITE BUFFER mode 2, buffer 0x83).
//
// The block travels unchanged: a saved file is exactly the bytes the controller returned, and a
// restore sends exactly the bytes of the file; the controller checks what it is given.
//
// Thread safety: as cli_handlers.h.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_config_set.h"
#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_selectors.h"

namespace brivo::cli {

namespace {

constexpr char kConfigurationFile[] = "Brivo.ConfigurationBlock";

std::string flagText(uint8_t value) {
  if (value == kOn || value == 1) return "on";
  if (value == kOff || value == 0) return "off";
  char text[16];
  std::snprintf(text, sizeof(text), "0x%02X", value);
  return text;
}

std::string controllerLunText(uint16_t lun) { return lun == kLunDisable ? "disabled" : std::to_string(lun); }

std::string hostPortText(const HostPortSetting& port) {
  std::string text = port.hardId == 0xFF ? "ID soft" : "ID " + std::to_string(port.hardId);
  text += port.dataRate == 0 ? ", rate auto" : ", rate " + std::to_string(port.dataRate) + " Gb/s";
  static const char* const kConnections[3] = {"auto", "point-to-point", "loop"};
  text += ", connection ";
  text += port.connection < 3 ? kConnections[port.connection] : "unknown";
  if (port.packing == kOn) text += ", packing";
  return text;
}

void writeContents(CliContext& ctx, const ConfigurationBlock& cfg) {
  int arrays = 0, drives = 0, spares = 0;
  for (const ArrayRecord& a : cfg.arrays) arrays += a.valid == kOn ? 1 : 0;
  for (const LogicalDriveRecord& d : cfg.logicalDrives) drives += d.valid == kOn ? 1 : 0;
  for (const SpareRecord& s : cfg.spares) spares += s.valid == kOn ? 1 : 0;
  writeField(ctx, "Arrays", std::to_string(arrays));
  writeField(ctx, "Logical Drives", std::to_string(drives));
  writeField(ctx, "Hot Spares", std::to_string(spares));
  writeField(ctx, "Mappings", std::to_string(cfg.mapping.count));
}

void writeSettings(CliContext& ctx, const ConfigurationHeader& h) {
  writeField(ctx, "Controller WWN Index*", std::to_string(h.controllerWwnIndex));
  writeField(ctx, "Different Node Names*", flagText(h.differentNodeNames));
  writeField(ctx, "Controller LUN*", controllerLunText(h.controllerLun));
  writeField(ctx, "Auto Spare*", flagText(h.autoSpare));
  writeField(ctx, "Auto Rebuild*", flagText(h.autoRebuild));
  writeField(ctx, "Single Controller Mode*", flagText(h.singleControllerMode));
  writeField(ctx, "Background Verify*", flagText(h.backgroundVerify));
  writeField(ctx, "Auto Drive Firmware*", flagText(h.autoDriveFirmware));
  writeField(ctx, "Enclosure Support*", flagText(h.enclosureSupport));
  writeField(ctx, "Initialization Priority*", std::to_string(h.initPriority) + " %");
  writeField(ctx, "Rebuild Priority*", std::to_string(h.rebuildPriority) + " %");
  static const char* const kPorts[4] = {"Host Port C0P0*", "Host Port C0P1*", "Host Port C1P0*",
                                        "Host Port C1P1*"};
  for (int p = 0; p < 4; ++p) writeField(ctx, kPorts[p], hostPortText(h.hostPorts[p]));
}

}  // namespace

int configDisplay(CliContext& ctx) {
  const ConfigurationBlock& cfg = *ctx.config;
  const ConfigurationHeader& h = cfg.header;
  writeField(ctx, "Name*", fieldText(h.name, sizeof(h.name)));
  writeField(ctx, "Configuration WWN", wwnText(h.configurationWwn));
  writeField(ctx, "Last Change", timeText(h.configurationTime));
  writeField(ctx, "Changes Saved", std::to_string(h.changeCount));
  writeContents(ctx, cfg);
  writeSettings(ctx, h);
  return 0;
}

int configSet(CliContext& ctx) {
  std::vector<SettingOperation> operations;
  if (!settingOperations(ctx, &operations)) return 1;
  if (operations.empty()) {
    writeText(ctx, "Error: No setting given. Nothing was changed.\n");
    return 1;
  }
  ControllerCommand record;
  const int result = inConfigChange(ctx.pair, &record, [&] {
    for (const SettingOperation& op : operations) {
      const int sent = sendOperation(ctx.pair, op.bufferId, op.p3, op.p4, op.p5,
                                     op.block.empty() ? nullptr : op.block.data(),
                                     static_cast<uint32_t>(op.block.size()), &record);
      if (sent != kResultGood) return sent;
    }
    return kResultGood;
  });
  if (result != kResultGood) {
    writeCommandFailure(ctx, "set configuration", result, record);
    return 1;
  }
  waitUntilReady(ctx.pair);
  for (const SettingOperation& op : operations) writeText(ctx, "%s is changed.\n", op.what.c_str());
  return 0;
}

int configDelete(CliContext& ctx) {
  ControllerCommand record;
  const int result = inConfigChange(ctx.pair, &record, [&] {
    return sendOperation(ctx.pair, kOpConfigClear, 0, 0, 0, nullptr, 0, &record);
  });
  if (result != kResultGood) {
    writeCommandFailure(ctx, "delete configuration", result, record);
    return 1;
  }
  waitUntilReady(ctx.pair);
  writeText(ctx, "Configuration is deleted.\n");
  return 0;
}

int configSave(CliContext& ctx) {
  // The block read for this command is the one the controller returned just now.
  if (!writeTempFile(kConfigurationFile, ctx.config.get(), sizeof(ConfigurationBlock))) {
    writeText(ctx, "Error: Cannot write the configuration file on the server.\n");
    return 1;
  }
  addVariable(ctx.reply, "ExportBinary", exportPath(kConfigurationFile).c_str());
  writeText(ctx, "Configuration is saved.\n");
  return 0;
}

int configRestore(CliContext& ctx) {
  std::vector<uint8_t> file;
  if (!readSentFile(ctx, kConfigurationLength, &file)) return 1;
  if (file.size() != kConfigurationLength) {
    writeText(ctx, "Error: The configuration file length is wrong. A saved configuration has %u bytes.\n",
              kConfigurationLength);
    return 1;
  }
  ControllerCommand record;
  const int result = writeDataBuffer(ctx.pair, kModeData, kOpRestoreConfiguration, file.data(),
                                     kConfigurationLength, &record);
  if (result != kResultGood) {
    writeCommandFailure(ctx, "restore configuration", result, record);
    return 1;
  }
  markConfigurationChanged();
  writeText(ctx, "Configuration is restored.\n");
  return 0;
}

}  // namespace brivo::cli
