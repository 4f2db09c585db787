// Drive texts of the drive displays; see cli_drive_text.h.
//
// Thread safety: pure functions.
#include "modules/brivo/cli/cli_drive_text.h"

#include <cstdio>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/pair_access.h"

namespace brivo::cli {

std::string driveCapacityText(const DriveListEntry& drive) {
  char text[96];
  std::snprintf(text, sizeof(text), " (%llu blocks of %u bytes)",
                static_cast<unsigned long long>(drive.blocks), drive.blockSize != 0 ? drive.blockSize : 512u);
  return sizeText(driveCapacityGb(drive)) + text;
}

std::string driveUsageDetail(const DriveListEntry& drive) {
  char text[64];
  switch (drive.usage) {
    case kUsageMember:
      std::snprintf(text, sizeof(text), "Member %d of array %d", drive.member, drive.array);
      return text;
    case kUsageGlobalSpare:
      std::snprintf(text, sizeof(text), "Global spare (spare %d)", drive.hotSpareNumber);
      return text;
    case kUsageDedicatedSpare:
      std::snprintf(text, sizeof(text), "Dedicated spare of array %d (spare %d)", drive.array,
                    drive.hotSpareNumber);
      return text;
    default:
      return driveUsageText(drive);
  }
}

std::string driveUsageShort(const DriveListEntry& drive) {
  char text[16];
  switch (drive.usage) {
    case kUsageFree:
      return "Free";
    case kUsageMember:
      std::snprintf(text, sizeof(text), "Array %d", drive.array);
      return text;
    case kUsageGlobalSpare:
      return "Spare";
    case kUsageDedicatedSpare:
      std::snprintf(text, sizeof(text), "Spare A%d", drive.array);
      return text;
    default:
      return "Unknown";
  }
}

std::string driveSummaryLine(int index, const DriveListEntry& drive) {
  char line[128];
  const std::string enclosure = drive.enclosure == 0xFE ? "-" : std::to_string(drive.enclosure);
  std::snprintf(line, sizeof(line), "%3d %4s %4d %5s %-10s %-12s %-16.16s %-4.4s %.12s", index,
                enclosure.c_str(), drive.slot, compactSize(driveCapacityGb(drive)).c_str(),
                driveStatusText(drive.status), driveUsageShort(drive).c_str(),
                fieldText(drive.product, sizeof(drive.product)).c_str(),
                fieldText(drive.revision, sizeof(drive.revision)).c_str(),
                fieldText(drive.serial, sizeof(drive.serial)).c_str());
  std::string text = line;
  while (!text.empty() && text.back() == ' ') text.pop_back();
  return text;
}

}  // namespace brivo::cli
