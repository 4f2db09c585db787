// Firmware image checks and the drive firmware load; see firmware_image.h.
#include "modules/brivo/firmware_image.h"

#include <cstdio>
#include <cstring>
#include <fstream>

namespace brivo {

namespace {

// A blank- or NUL-padded identification field without its padding.
std::string trimmed(const char* field, size_t width) { return fieldText(field, width); }

std::string revisionOf(const FirmwareImageHeader& header) {
  char revision[8];
  std::snprintf(revision, sizeof(revision), "%04X", header.level & 0xFFFF);
  return revision;
}

int selectDrive(const PairTarget& pair, const DriveListEntry& d, bool select, ControllerCommand* record) {
  DriveFirmwareSelectBlock block{};
  std::memcpy(block.wwn, d.wwn, sizeof(block.wwn));
  block.select = select ? 1 : 0;
  return sendOperation(pair, kOpSelectDriveFirmware, 0, 0, 0, &block, sizeof(block), record);
}

}  // namespace

FileRead readWholeFile(const char* path, size_t limit, std::vector<uint8_t>* out) {
  out->clear();
  if (path == nullptr || *path == '\0') return FileRead::kMissing;
  std::ifstream in(path, std::ios::binary);
  if (!in) return FileRead::kMissing;
  // One byte past the limit tells that the file is too long without reading it all.
  out->resize(limit + 1);
  in.read(reinterpret_cast<char*>(out->data()), static_cast<std::streamsize>(out->size()));
  if (in.bad()) {
    out->clear();
    return FileRead::kMissing;
  }
  out->resize(static_cast<size_t>(in.gcount()));
  return out->size() > limit ? FileRead::kTooLong : FileRead::kOk;
}

bool checkFirmwareImage(const std::vector<uint8_t>& image, FirmwareImageHeader* header) {
  if (image.size() < sizeof(FirmwareImageHeader) || image.size() > kMaxFirmwareImage) return false;
  std::memcpy(header, image.data(), sizeof(*header));
  return std::memcmp(header->magic, kFirmwareMagic, sizeof(header->magic)) == 0 &&
         header->length == image.size() && header->part <= kFirmwareApplication;
}

bool driveImageModel(const std::vector<uint8_t>& image, DriveFirmwareModel* model) {
  if (image.size() < sizeof(FirmwareImageHeader) + sizeof(DriveFirmwareModel)) return false;
  std::memcpy(model, image.data() + sizeof(FirmwareImageHeader), sizeof(*model));
  return !trimmed(model->product, sizeof(model->product)).empty();
}

bool driveOfModel(const DriveListEntry& d, const DriveFirmwareModel& model) {
  const std::string vendor = trimmed(model.vendor, sizeof(model.vendor));
  return trimmed(d.product, sizeof(d.product)) == trimmed(model.product, sizeof(model.product)) &&
         (vendor.empty() || trimmed(d.vendor, sizeof(d.vendor)) == vendor);
}

DriveChoiceError chooseFirmwareDrives(const DriveList& drives, const FirmwareImageHeader& header,
                                      const std::vector<uint8_t>& image, DriveChoice choice, int named,
                                      std::vector<int>* out) {
  out->clear();
  DriveFirmwareModel model{};
  if (!driveImageModel(image, &model)) return DriveChoiceError::kNoModel;
  const int count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  if (choice == DriveChoice::kOne) {
    const DriveListEntry& d = drives.entries[named];
    if (d.status != kDriveGood) return DriveChoiceError::kNamedUnusable;
    if (!driveOfModel(d, model)) return DriveChoiceError::kNamedOtherModel;
    out->push_back(named);
    return DriveChoiceError::kNone;
  }
  const bool inactive = choice == DriveChoice::kInactive || choice == DriveChoice::kInactiveOld;
  const bool old = choice == DriveChoice::kOldRevision || choice == DriveChoice::kInactiveOld;
  const std::string revision = revisionOf(header);
  for (int i = 0; i < count; ++i) {
    const DriveListEntry& d = drives.entries[i];
    if (d.status != kDriveGood || !driveOfModel(d, model)) continue;
    if (inactive && d.usage == kUsageMember) continue;
    if (old && trimmed(d.revision, sizeof(d.revision)) == revision) continue;
    out->push_back(i);
  }
  return out->empty() ? DriveChoiceError::kNoMatch : DriveChoiceError::kNone;
}

int loadDriveFirmware(const PairTarget& pair, const DriveList& drives, const std::vector<int>& targets,
                      const std::vector<uint8_t>& image, ControllerCommand* failed) {
  size_t selected = 0;
  int result = kResultGood;
  while (selected < targets.size() && result == kResultGood) {
    result = selectDrive(pair, drives.entries[targets[selected]], true, failed);
    if (result == kResultGood) ++selected;
  }
  if (result == kResultGood) {
    result = writeDataBuffer(pair, kModeFirmware, kFirmwareDrive, image.data(),
                             static_cast<uint32_t>(image.size()), failed);
  }
  if (result != kResultGood) {
    for (size_t i = 0; i < selected; ++i) {
      ControllerCommand ignored;
      (void)selectDrive(pair, drives.entries[targets[i]], false, &ignored);
    }
  }
  return result;
}

}  // namespace brivo
