// Display texts shared by the pages; see page_texts.h.
#include "modules/brivo/pages/page_texts.h"

#include <cstdio>

#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

const char* statusClass(uint32_t status) {
  switch (status) {
    case kStatusOk:
      return "ok";
    case kStatusWarning:
      return "warn";
    case kStatusError:
      return "fail";
    default:
      return "unknown";
  }
}

std::string raidLevelText(uint8_t level) {
  char fallback[16];
  std::snprintf(fallback, sizeof(fallback), "RAID %X", level);
  return statusTextByte("RaidLevel", level, fallback);
}

bool isRedundantLevel(uint8_t level) { return level != kRaid0; }

const char* arrayStatusClass(const ArrayRecord& array) {
  switch (array.faultStatus) {
    case kFaultTolerant:
    case kFaultNone:
      return "ok";
    case kFaultInvalid:
      return "fail";
    case kFaultDegraded:
    case kFaultRebuilding:
    case kFaultUninitialized:
      return array.raidLevel != kRaid0 ? "warn" : "ok";
    default:
      return "unknown";
  }
}

const char* logicalDriveStateClass(uint8_t state) {
  switch (state) {
    case kDriveOnline:
      return "ok";
    case kDriveDegraded:
    case kDriveInitializing:
      return "warn";
    case kDriveOffline:
      return "fail";
    default:
      return "unknown";
  }
}

const char* driveStatusClass(uint8_t status, bool predicted) {
  if (status == kDriveGood) return predicted ? "warn" : "ok";
  return status == kDriveRebuilding ? "warn" : "fail";
}

uint64_t driveCapacityGb(const DriveListEntry& entry) {
  const uint64_t blockSize = entry.blockSize != 0 ? entry.blockSize : 512;
  return entry.blocks / ((uint64_t{1} << 30) / blockSize);
}

std::string readAheadText(uint16_t kb) {
  if (kb == 0) return statusText("ReadAheadAuto", "Auto");
  if (kb == kReadAheadDisabled) return statusText("ReadAheadDisabled", "Disabled");
  return std::to_string(kb) + " KB";
}

std::string writeBackText(uint16_t mb) {
  if (mb == 0) return statusText("WriteBackDisabled", "Disabled");
  if (mb == kWriteBackMaximum) return statusText("WriteBackMaximum", "Maximum");
  return std::to_string(mb) + " MB";
}

std::string hexByte(unsigned value) {
  char text[4];
  std::snprintf(text, sizeof(text), "%.2X", value & 0xFFu);
  return text;
}

const char* controllerLetter(int controller) { return controller == 0 ? "A" : "B"; }

std::string hostLoopStatusText(uint8_t state, uint8_t controllerType, uint8_t loopId) {
  char key[40];
  std::snprintf(key, sizeof(key), "HostLoopStatus%.2X.%.2X", state, controllerType);
  std::string format = statusText(key, kMissing);
  if (format == kMissing) format = statusTextByte("HostLoopStatus", state);
  const std::string id = loopId == 255 ? std::string("N/A") : std::to_string(loopId);
  return formatStoredText(format, {id});
}

}  // namespace brivo
