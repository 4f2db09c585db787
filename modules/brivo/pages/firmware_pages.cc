// Firmware and diagnostics from the browser: FlashController (controller firmware), FlashDiskIo
// (disk I/O module firmware), UploadDriveFirmware (drive firmware) and GetDiagnosticsDump. The
// images arrive as uploads through the front end ("UploadedFile"), get the checks `controller
// upgrade` and `drive upgrade` make (firmware_image.h) and go out with WRITE BUFFER mode 5 (mode 7
// in pieces when the image is larger than one transfer). A controller keeps its old image until a
// whole new one has arrived, so a failed or interrupted upload changes nothing.
//
// UploadDriveFirmware: "DriveSelection" = "one" (with "DriveWWN"), "all", "inactive", "oldrev" or
// "inactold" (qcli's -di, -all, -inactive, -oldrev, -inactold); only good drives of the model the
// image names are loaded.
//
// Replies: the pop-up with the command result under the method's key. A file that is not an image
// (or names no drive model, or matches no drive) sends nothing: result 251 with the reason in
// "MessageDetails" (texts "FirmwareNotAnImage", "FirmwareNoModel", "FirmwareOtherModel",
// "FirmwareNoDrives" of CommandStrings.db). Success adds "FirmwareLevel" (the image's level as
// "major.minor build") and, for drives, "DrivesLoaded".
//
// GetDiagnosticsDump: the dump as "ExportText" = "../../temp/BrivoDiagnostics.txt" (a text file
// the browser saves); when it cannot be read or written, the pop-up with the command result.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "modules/brivo/diagnostics_dump.h"
#include "modules/brivo/firmware_image.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_files.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kDiagnosticsFile[] = "temp/BrivoDiagnostics.txt";
constexpr char kDiagnosticsExport[] = "../../temp/BrivoDiagnostics.txt";
// Result of a dump the server could not write (the controller did its part).
constexpr int kResultFileNotWritten = 252;

std::string levelText(uint32_t level) {
  char text[32];
  std::snprintf(text, sizeof(text), "%X.%02X build %04X", level >> 24, (level >> 16) & 0xFF, level & 0xFFFF);
  return text;
}

// The pop-up of a refused file: result 251 with the reason's text as details.
VariableTable refusedFile(VariableTable request, const char* methodKey, const char* reasonKey) {
  ControllerCommand none{};
  VariableTable reply = commandPopupReply(request, methodKey, kResultBadValue, none);
  const std::string reason = ModuleFiles::text(StringTable::kCommand, reasonKey);
  replaceVariable(&reply, "MessageDetails", reason.c_str());
  return reply;
}

// The uploaded image, checked; false (nothing to send) when it is missing or not an image.
bool uploadedImage(VariableTable request, std::vector<uint8_t>* image, FirmwareImageHeader* header) {
  return readWholeFile(getVariable(request, "UploadedFile"), kMaxFirmwareImage, image) == FileRead::kOk &&
         checkFirmwareImage(*image, header);
}

VariableTable flashModule(VariableTable request, const char* methodKey, uint8_t bufferId) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  if (!pair.found()) return commandPopupReply(request, methodKey, kResultBadArguments, failed);
  std::vector<uint8_t> image;
  FirmwareImageHeader header{};
  if (!uploadedImage(request, &image, &header)) return refusedFile(request, methodKey, "FirmwareNotAnImage");
  const int result = writeDataBuffer(pair, kModeFirmware, bufferId, image.data(),
                                     static_cast<uint32_t>(image.size()), &failed);
  VariableTable reply = commandPopupReply(request, methodKey, result, failed);
  if (result == kResultGood) addText(&reply, "FirmwareLevel", levelText(header.level));
  return reply;
}

bool driveChoice(const char* text, DriveChoice* choice) {
  static const struct {
    const char* word;
    DriveChoice choice;
  } kWords[] = {{"one", DriveChoice::kOne},
                {"all", DriveChoice::kAll},
                {"inactive", DriveChoice::kInactive},
                {"oldrev", DriveChoice::kOldRevision},
                {"inactold", DriveChoice::kInactiveOld}};
  for (const auto& word : kWords) {
    if (text != nullptr && std::string(text) == word.word) {
      *choice = word.choice;
      return true;
    }
  }
  return false;
}

// The drive-list index of the request's "DriveWWN", or -1.
int namedDrive(VariableTable request, const DriveList& drives) {
  uint8_t wwn[8];
  if (!parseWwn(getVariable(request, "DriveWWN"), wwn)) return -1;
  for (int i = 0; i < drives.count && i < kMaxDrives; ++i) {
    if (std::equal(wwn, wwn + 8, drives.entries[i].wwn)) return i;
  }
  return -1;
}

}  // namespace

VariableTable flashControllerMethod(VariableTable request) {
  return flashModule(request, "FlashController", kFirmwareController);
}

VariableTable flashDiskIoMethod(VariableTable request) {
  return flashModule(request, "FlashDiskIo", kFirmwareDiskIo);
}

VariableTable uploadDriveFirmwareMethod(VariableTable request) {
  constexpr char kKey[] = "UploadDriveFirmware";
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  DriveChoice choice = DriveChoice::kAll;
  if (!pair.found()) return commandPopupReply(request, kKey, kResultBadArguments, failed);
  if (!driveChoice(getVariable(request, "DriveSelection"), &choice))
    return commandPopupReply(request, kKey, kResultBadValue, failed);
  std::vector<uint8_t> image;
  FirmwareImageHeader header{};
  if (!uploadedImage(request, &image, &header)) return refusedFile(request, kKey, "FirmwareNotAnImage");
  DriveList drives{};
  int result = readDriveList(pair, &drives, &failed);
  if (result != kResultGood) return commandPopupReply(request, kKey, result, failed);
  const int named = choice == DriveChoice::kOne ? namedDrive(request, drives) : 0;
  if (named < 0) return commandPopupReply(request, kKey, kResultBadValue, failed);
  std::vector<int> targets;
  switch (chooseFirmwareDrives(drives, header, image, choice, named, &targets)) {
    case DriveChoiceError::kNone:
      break;
    case DriveChoiceError::kNoModel:
      return refusedFile(request, kKey, "FirmwareNoModel");
    case DriveChoiceError::kNamedOtherModel:
      return refusedFile(request, kKey, "FirmwareOtherModel");
    case DriveChoiceError::kNamedUnusable:
    case DriveChoiceError::kNoMatch:
      return refusedFile(request, kKey, "FirmwareNoDrives");
  }
  result = loadDriveFirmware(pair, drives, targets, image, &failed);
  VariableTable reply = commandPopupReply(request, kKey, result, failed);
  if (result == kResultGood) {
    addText(&reply, "FirmwareLevel", levelText(header.level));
    addNumber(&reply, "DrivesLoaded", static_cast<long long>(targets.size()));
  }
  return reply;
}

VariableTable getDiagnosticsDumpMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    std::string text;
    result = readDiagnosticsDump(pair, &text, &failed);
    if (result == kResultGood) {
      ReplacingFile out(kDiagnosticsFile, false);
      if (!out.write(text.data(), text.size()) || !out.commit()) result = kResultFileNotWritten;
    }
  }
  if (result != kResultGood) {
    // An older dump must not be handed out as this pair's.
    std::error_code ignored;
    std::filesystem::remove(kDiagnosticsFile, ignored);
    return commandPopupReply(request, "GetDiagnosticsDump", result, failed, false);
  }
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportText", kDiagnosticsExport);
  return reply;
}

}  // namespace brivo
