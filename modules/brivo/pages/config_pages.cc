// The configuration block methods: DownloadConfiguration (the block as a file for the browser),
// RestoreConfiguration (an uploaded block back into the controllers), ClearConfiguration (erases
// arrays, logical drives, spares and mapping) and ArchiveConfiguration (this module's own: keeps
// a copy of the block on the server, or hands one back as a download; config_archive.h).
//
// The block travels unchanged: a downloaded or archived file is exactly the 940032 bytes the
// controller returned, and a restore sends the uploaded bytes as they are.
//
// ArchiveConfiguration: with "ArchiveName" (a file the controller parameters page lists) the reply
// is "ExportBinary" = "../../mods/Brivo/Archives/<name>"; without it the pair's block is read and
// archived, and the pop-up reports the command result of "ArchiveConfiguration" with
// "ArchiveName" = the file written and "UpdateParent" on success (result 252 when the server
// could not write the file).
//
// Thread safety: request threads under the admission gate in their method's mode. Downloads and
// archives run as readers side by side; their files are replaced whole (page_files.h).
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>

#include "modules/brivo/command_result.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/config_archive.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_files.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kDownloadFile[] = "temp/Brivo.ConfigurationBlock";
constexpr char kDownloadExport[] = "../../temp/Brivo.ConfigurationBlock";
// Result of an archive the server could not write (the controller did its part).
constexpr int kResultFileNotWritten = 252;

// The uploaded block, or null (with the reason printed) when the file cannot be read or is not
// exactly one block long.
std::unique_ptr<ConfigurationBlock> readUploadedBlock(const char* path) {
  FILE* file = path != nullptr ? std::fopen(path, "rb") : nullptr;
  if (file == nullptr) {
    consolePrint("[ ERROR ] The uploaded configuration file could not be opened.\n");
    return nullptr;
  }
  std::unique_ptr<ConfigurationBlock> block = newConfigurationBlock();
  size_t got = 0;
  char extra = 0;
  if (block != nullptr) {
    got = std::fread(block.get(), 1, sizeof(ConfigurationBlock), file);
    if (got == sizeof(ConfigurationBlock) && std::fread(&extra, 1, 1, file) == 1) ++got;
  }
  std::fclose(file);
  if (block == nullptr || got != sizeof(ConfigurationBlock)) {
    consolePrint("[ ERROR ] The uploaded configuration file length is wrong.\n");
    return nullptr;
  }
  return block;
}

VariableTable archiveDownload(VariableTable request, const PairTarget& pair, const char* name) {
  if (!pair.found() || !isArchiveOf(pair.item->name, name)) {
    ControllerCommand none{};
    return commandPopupReply(request, "ArchiveConfiguration", kResultBadArguments, none, false);
  }
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportBinary", ("../../" + std::string(kConfigArchiveFolder) + "/" + name).c_str());
  return reply;
}

}  // namespace

VariableTable downloadConfigurationMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  bool written = false;
  if (pair.found()) {
    std::unique_ptr<ConfigurationBlock> block = newConfigurationBlock();
    if (block != nullptr && readConfiguration(pair, block.get()) == kResultGood) {
      ReplacingFile out(kDownloadFile, true);
      written = out.write(block.get(), sizeof(ConfigurationBlock)) && out.commit();
    }
  }
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportBinary", kDownloadExport);
  if (!written) {
    // An older download must not be handed out as this pair's configuration.
    std::error_code ignored;
    std::filesystem::remove(kDownloadFile, ignored);
    addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
    addControllerCommandResult(&reply, "DownloadConfiguration", kResultBadArguments, nullptr);
  }
  return reply;
}

VariableTable restoreConfigurationMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  if (!pair.found()) consolePrint("[ ERROR ] Controller handle = 0\n");
  std::unique_ptr<ConfigurationBlock> block = readUploadedBlock(getVariable(request, "UploadedFile"));
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && block != nullptr) {
    result = writeDataBuffer(pair, kModeData, kOpRestoreConfiguration, block.get(),
                             sizeof(ConfigurationBlock), &failed);
  }
  return commandPopupReply(request, "RestoreConfiguration", result, failed);
}

VariableTable clearConfigurationMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    ConfigurationHeader header{};
    result = readConfigHeader(pair, &header, &failed);
    const long shown = requestNumber(request, "ConfigurationTime", 0);
    if (result == kResultGood && static_cast<long>(header.configurationTime) != shown) {
      result = kResultStale;
    } else if (result == kResultGood) {
      result = inConfigChange(
          pair, &failed, [&] { return sendOperation(pair, kOpConfigClear, 0, 0, 0, nullptr, 0, &failed); });
    }
    if (result != kResultStale) waitUntilReady(pair);
  }
  VariableTable reply = commandPopupReply(request, "ClearConfiguration", result, failed, false);
  addVariable(&reply, "CloseParent", "true");
  return reply;
}

VariableTable archiveConfigurationMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const char* name = getVariable(request, "ArchiveName");
  if (name != nullptr) return archiveDownload(request, pair, name);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  std::string written;
  if (pair.found()) {
    std::unique_ptr<ConfigurationBlock> block = newConfigurationBlock();
    if (block != nullptr) result = readConfiguration(pair, block.get(), &failed);
    if (result == kResultGood && !writeArchive(pair.item->name, *block, &written))
      result = kResultFileNotWritten;
  }
  VariableTable reply = commandPopupReply(request, "ArchiveConfiguration", result, failed);
  if (!written.empty()) addVariable(&reply, "ArchiveName", written.c_str());
  return reply;
}

}  // namespace brivo
