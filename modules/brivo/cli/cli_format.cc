// Display texts of the interpreter; see cli_format.h.
//
// Thread safety: pure functions.
#include "modules/brivo/cli/cli_format.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace brivo::cli {

std::string sizeText(uint64_t gb) {
  char text[64];
  if (gb < 1024) {
    std::snprintf(text, sizeof(text), "%llu GB", static_cast<unsigned long long>(gb));
  } else {
    std::snprintf(text, sizeof(text), "%llu GB (%.2f TB)", static_cast<unsigned long long>(gb),
                  static_cast<double>(gb) / 1024.0);
  }
  return text;
}

std::string compactSize(uint64_t gb) {
  // Truncated rather than rounded, so that a value never grows a digit past the column.
  char text[32];
  if (gb < 1024) {
    std::snprintf(text, sizeof(text), "%lluG", static_cast<unsigned long long>(gb));
    return text;
  }
  static constexpr char kUnits[] = "TPEZYR";
  for (int k = 0; k < 6; ++k) {
    const uint64_t divisor = 1ULL << (10 * (k + 1));  // at most 2^60: the remainder x 10 still fits
    const unsigned long long whole = gb / divisor;
    if (whole < 100) {
      const unsigned long long tenth = (gb % divisor) * 10 / divisor;
      std::snprintf(text, sizeof(text), "%llu.%llu%c", whole, tenth, kUnits[k]);
      return text;
    }
    if (whole < 10000) {
      std::snprintf(text, sizeof(text), "%llu%c", whole, kUnits[k]);
      return text;
    }
  }
  return "huge";  // not reached: 2^64 GB is 16 R
}

uint64_t driveCapacityGb(const DriveListEntry& drive) {
  const uint64_t blockSize = drive.blockSize != 0 ? drive.blockSize : 512;
  return drive.blocks * blockSize / (1ULL << 30);
}

std::string raidLevelText(uint8_t level) {
  char text[24];
  switch (level) {
    case kRaid0:
    case kRaid1:
    case kRaid3:
    case kRaid5:
    case kRaid6:
      std::snprintf(text, sizeof(text), "RAID %d", level);
      break;
    case kRaid10:
      return "RAID 10";
    case kRaid50:
      return "RAID 50";
    default:
      std::snprintf(text, sizeof(text), "level 0x%02X", level);
  }
  return text;
}

bool raidLevelFromNumber(long number, uint8_t* level) {
  switch (number) {
    case 0:
    case 1:
    case 3:
    case 5:
    case 6:
      *level = static_cast<uint8_t>(number);
      return true;
    case 10:
      *level = kRaid10;
      return true;
    case 50:
      *level = kRaid50;
      return true;
    default:
      return false;
  }
}

const char* arrayStatusText(uint8_t faultStatus) {
  switch (faultStatus) {
    case kFaultDegraded:
      return "Degraded";
    case kFaultRebuilding:
      return "Rebuilding";
    case kFaultInvalid:
      return "Failed";
    case kFaultTolerant:
      return "Fault tolerant";
    case kFaultUninitialized:
      return "Not initialized";
    case kFaultNone:
      return "Online (no redundancy)";
    default:
      return "Unknown";
  }
}

const char* arrayStatusShort(uint8_t faultStatus) {
  switch (faultStatus) {
    case kFaultDegraded:
      return "Degraded";
    case kFaultRebuilding:
      return "Rebuild";
    case kFaultInvalid:
      return "Failed";
    case kFaultTolerant:
      return "Optimal";
    case kFaultUninitialized:
      return "Uninit";
    case kFaultNone:
      return "Online";
    default:
      return "Unknown";
  }
}

const char* memberStatusText(uint8_t memberStatus) {
  switch (memberStatus) {
    case kMemberGood:
      return "Good";
    case kMemberFailed:
      return "Failed";
    case kMemberRebuilding:
      return "Rebuilding";
    case kMemberMissing:
      return "Missing";
    default:
      return "Unknown";
  }
}

const char* driveStatusText(uint8_t driveStatus) {
  switch (driveStatus) {
    case kDriveGood:
      return "Good";
    case kDriveFailed:
      return "Failed";
    case kDriveBypassed:
      return "Bypassed";
    case kDriveRebuilding:
      return "Rebuilding";
    default:
      return "Unknown";
  }
}

std::string driveUsageText(const DriveListEntry& drive) {
  char text[48];
  switch (drive.usage) {
    case kUsageFree:
      return "Free";
    case kUsageMember:
      std::snprintf(text, sizeof(text), "Member of array %d", drive.array);
      return text;
    case kUsageGlobalSpare:
      return "Global spare";
    case kUsageDedicatedSpare:
      std::snprintf(text, sizeof(text), "Dedicated spare of array %d", drive.array);
      return text;
    default:
      return "Unknown";
  }
}

const char* logicalStateText(uint8_t state) {
  switch (state) {
    case kDriveOnline:
      return "Online";
    case kDriveDegraded:
      return "Degraded";
    case kDriveOffline:
      return "Offline";
    case kDriveInitializing:
      return "Initializing";
    default:
      return "Unknown";
  }
}

const char* jobKindText(uint8_t kind) {
  switch (kind) {
    case kJobNone:
      return "None";
    case kJobInit:
      return "Initialization";
    case kJobRebuild:
      return "Rebuild";
    case kJobParity:
      return "Parity Check";
    case kJobExpansion:
      return "Expansion";
    default:
      return "Unknown";
  }
}

int jobId(uint8_t kind, int array) {
  if (kind < kJobInit || kind > kJobExpansion) return -1;
  return kind * 100 + array;
}

const char* parityModeText(uint8_t mode) {
  switch (mode) {
    case kParityVerify:
      return "Verify";
    case kParityRewrite:
      return "Rewrite";
    case kParityVerifyRewrite:
      return "Verify and Rewrite";
    default:
      return "Unknown";
  }
}

std::string portsText(uint8_t availability) {
  if ((availability & kAvailabilityInternal) != 0) return "internal";
  static const char* const kNames[4] = {"C0P0", "C0P1", "C1P0", "C1P1"};
  std::string text;
  for (int bit = 0; bit < 4; ++bit) {
    if ((availability & (1 << bit)) == 0) continue;
    if (!text.empty()) text += ' ';
    text += kNames[bit];
  }
  return text.empty() ? "none" : text;
}

std::string readAheadText(uint16_t kb) {
  if (kb == 0) return "auto";
  if (kb == kReadAheadDisabled) return "disabled";
  return std::to_string(kb) + " KB";
}

std::string writeBackText(uint16_t mb) {
  if (mb == 0) return "disabled";
  if (mb == kWriteBackMaximum) return "max";
  return std::to_string(mb) + " MB";
}

std::string timeText(uint32_t seconds) {
  if (seconds == 0) return "-";
  const time_t when = static_cast<time_t>(seconds);
  struct tm local {};
  if (localtime_r(&when, &local) == nullptr) return "-";
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S", &local);
  return text;
}

std::string progressBar(int percent, int cells) {
  percent = std::clamp(percent, 0, 100);
  cells = std::max(cells, 1);
  const int filled = percent * cells / 100;
  std::string bar = "[";
  bar.append(static_cast<size_t>(filled), '#');
  bar.append(static_cast<size_t>(cells - filled), '.');
  char tail[16];
  std::snprintf(tail, sizeof(tail), "] %3d%%", percent);
  return bar + tail;
}

const char* onOff(bool on) { return on ? "on" : "off"; }

}  // namespace brivo::cli
