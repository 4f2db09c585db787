// Finders, parsers, blinking and jobs shared by the storage handlers; see cli_storage.h.
//
// Thread safety: the caller's context only.
#include "modules/brivo/cli/cli_storage.h"

#include <strings.h>

#include <algorithm>
#include <cstring>

#include "modules/brivo/cli/cli_format.h"

namespace brivo::cli {

bool requirePair(CliContext& ctx) {
  if (ctx.hasPair()) return true;
  const char* type = globalOption(ctx, kOptCtlrType);
  const char* wwn = globalOption(ctx, kOptCtlrWwn);
  writeText(ctx, "Error: Cannot get controller device for type %s and WWN %s.\n", type != nullptr ? type : "",
            wwn != nullptr ? wwn : "");
  return false;
}

int countArrays(const ConfigurationBlock& config) {
  int count = 0;
  for (const ArrayRecord& a : config.arrays) count += a.valid == kOn ? 1 : 0;
  return count;
}

int countLogicalDrives(const ConfigurationBlock& config) {
  int count = 0;
  for (const LogicalDriveRecord& d : config.logicalDrives) count += d.valid == kOn ? 1 : 0;
  return count;
}

bool findArray(CliContext& ctx, const char* word, int* array) {
  if (countArrays(*ctx.config) == 0) {
    writeText(ctx, "Error: No arrays exist.\n");
    return false;
  }
  long number = 0;
  if (parseNumber(word, &number)) {
    if (number >= kMaxArrays || ctx.config->arrays[number].valid != kOn) {
      writeText(ctx, "Error: Array index out of range.\n");
      return false;
    }
    *array = static_cast<int>(number);
    return true;
  }
  if (word != nullptr && *word != '\0') {
    for (int n = 0; n < kMaxArrays; ++n) {
      const ArrayRecord& a = ctx.config->arrays[n];
      if (a.valid == kOn && fieldText(a.name, sizeof(a.name)) == word) {
        *array = n;
        return true;
      }
    }
  }
  writeText(ctx, "Error: Parsing array index.\n");
  return false;
}

bool findLogicalDrive(CliContext& ctx, const char* word, int* drive) {
  if (countLogicalDrives(*ctx.config) == 0) {
    writeText(ctx, "Error: No Logical Drives exist.\n");
    return false;
  }
  long number = 0;
  if (!parseNumber(word, &number)) {
    writeText(ctx, "Error: Parsing Logical index. Not a number.\n");
    return false;
  }
  if (number >= kMaxLogicalDrives) {
    writeText(ctx, "Error: Parsing Logical index. Out of range.\n");
    return false;
  }
  if (ctx.config->logicalDrives[number].valid != kOn) {
    writeText(ctx, "Error: Logical Drive index out of range.\n");
    return false;
  }
  *drive = static_cast<int>(number);
  return true;
}

bool findLogicalDrives(CliContext& ctx, const std::vector<std::string>& words, std::vector<int>* drives) {
  drives->clear();
  for (const std::string& word : words) {
    if (strcasecmp(word.c_str(), "all") == 0) {
      if (countLogicalDrives(*ctx.config) == 0) {
        writeText(ctx, "Error: No Logical Drives exist.\n");
        return false;
      }
      for (int d = 0; d < kMaxLogicalDrives; ++d) {
        if (ctx.config->logicalDrives[d].valid == kOn) drives->push_back(d);
      }
      continue;
    }
    int drive = 0;
    if (!findLogicalDrive(ctx, word.c_str(), &drive)) return false;
    drives->push_back(drive);
  }
  return true;
}

std::string idListText(const std::vector<int>& ids) {
  std::string text;
  for (int id : ids) text += (text.empty() ? "" : " ") + std::to_string(id);
  return text.empty() ? "none" : text;
}

std::vector<std::string> wordsOf(const char* word) { return {word != nullptr ? word : ""}; }

const DriveListEntry* driveAt(const DriveList& drives, long index) {
  const long count = std::min<int>(drives.count, kMaxDrives);
  return index >= 0 && index < count ? &drives.entries[index] : nullptr;
}

int driveIndex(const DriveList& drives, const DriveListEntry* drive) {
  return static_cast<int>(drive - drives.entries);
}

bool findDrives(CliContext& ctx, const std::vector<std::string>& words, bool needFree,
                std::vector<const DriveListEntry*>* drives) {
  drives->clear();
  for (const std::string& word : words) {
    long id = 0;
    if (!parseNumber(word.c_str(), &id)) {
      writeText(ctx, "Error: Parsing disk ID value. Not a number.\n");
      return false;
    }
    const DriveListEntry* drive = driveAt(*ctx.drives, id);
    if (drive == nullptr) {
      writeText(ctx, "Error: Disk index out of range.\n");
      return false;
    }
    bool repeated = false;
    for (const DriveListEntry* seen : *drives) repeated = repeated || seen == drive;
    if (needFree && (repeated || drive->usage != kUsageFree || drive->status != kDriveGood)) {
      writeText(ctx, "Error: Disk not available for use. Disk %ld.\n", id);
      return false;
    }
    drives->push_back(drive);
  }
  return true;
}

bool parseName(CliContext& ctx, const char* what, const char* word, size_t maxLength, std::string* name) {
  const std::string text = word != nullptr ? word : "";
  if (text.size() > maxLength) {
    writeText(ctx, "Error: Parsing %s Name. Too long.\n", what);
    return false;
  }
  *name = text;
  return true;
}

bool parseBlinkSeconds(CliContext& ctx, const char* word, int* seconds) {
  long value = 0;
  if (!parseNumber(word, &value)) {
    writeText(ctx, "Error: Parsing ident time. Not a number.\n");
    return false;
  }
  if (value < 1 || value > 255) {
    writeText(ctx, "Error: Parsing ident time. Out of range.\n");
    return false;
  }
  *seconds = static_cast<int>(value);
  return true;
}

bool parsePorts(CliContext& ctx, const std::vector<std::string>& words, uint8_t* ports) {
  static const char* const kNames[4] = {"c0p0", "c0p1", "c1p0", "c1p1"};
  uint8_t bits = 0;
  for (const std::string& word : words) {
    if (strcasecmp(word.c_str(), "all") == 0) {
      bits = 0x0F;
      continue;
    }
    if (strcasecmp(word.c_str(), "none") == 0) continue;
    int found = -1;
    for (int bit = 0; bit < 4; ++bit) {
      if (strcasecmp(word.c_str(), kNames[bit]) == 0) found = bit;
    }
    if (found < 0) {
      writeText(ctx, "Error: Parsing port value. Unknown port %s.\n", word.c_str());
      return false;
    }
    bits = static_cast<uint8_t>(bits | (1 << found));
  }
  *ports = bits;
  return true;
}

int blinkDrive(const PairTarget& pair, const DriveListEntry& drive, int seconds, ControllerCommand* record) {
  const uint8_t loop = drive.loop1Id == kNotOnLoop && drive.loop2Id != kNotOnLoop ? 1 : 0;
  return sendOperation(pair, kOpIdentify, loop, drive.driveId, static_cast<uint8_t>(seconds), nullptr, 0,
                       record);
}

int blinkArrayMembers(CliContext& ctx, int array, int seconds, ControllerCommand* record,
                      std::vector<int>* blinked) {
  const ArrayRecord& a = ctx.config->arrays[array];
  const int members = std::min<int>(a.driveCount, kMaxMembers);
  for (int m = 0; m < members; ++m) {
    const DriveListEntry* drive = driveWithWwn(*ctx.drives, a.memberWwn[m]);
    if (drive == nullptr) continue;
    const int index = driveIndex(*ctx.drives, drive);
    if (std::find(blinked->begin(), blinked->end(), index) != blinked->end()) continue;
    const int result = blinkDrive(ctx.pair, *drive, seconds, record);
    if (result != kResultGood) return result;
    blinked->push_back(index);
  }
  return kResultGood;
}

int JobView::id() const { return jobId(kind, array); }

namespace {

void addJob(std::vector<JobView>* jobs, uint8_t kind, int array, int percent, bool paused) {
  if (kind < kJobInit || kind > kJobExpansion || array < 0 || array >= kMaxArrays) return;
  for (const JobView& job : *jobs) {
    if (job.array == array) return;  // one job per array
  }
  JobView job;
  job.kind = kind;
  job.array = array;
  job.percent = std::min(percent, 100);
  job.paused = paused;
  jobs->push_back(job);
}

}  // namespace

std::vector<JobView> runningJobs(CliContext& ctx) {
  std::vector<JobView> jobs;
  if (!ctx.hasPair()) return jobs;
  JobProgress progress{};
  if (ctx.info->jobBufferAvailable == kOn && readJobProgress(ctx.pair, &progress) == kResultGood) {
    for (int n = 0; n < kMaxArrays; ++n) {
      const JobRecord& r = progress.arrays[n];
      if (r.valid == kOn) addJob(&jobs, r.kind, n, r.percent, (r.flags & 1) != 0);
    }
    return jobs;
  }
  const ControllerInformation& info = *ctx.info;
  if (info.initValid == kOn) addJob(&jobs, kJobInit, info.initArray, info.initPercent, false);
  if (info.rebuildValid == kOn) addJob(&jobs, kJobRebuild, info.rebuildArray, info.rebuildPercent, false);
  if (info.parityValid == kOn) addJob(&jobs, kJobParity, info.parityArray, info.parityPercent, false);
  if (info.expansionValid == kOn) {
    addJob(&jobs, kJobExpansion, info.expansionArray, info.expansionPercent, false);
  }
  // The progress records name the first job of each kind only; the arrays name the others.
  for (int n = 0; n < kMaxArrays; ++n) {
    const ArrayRecord& a = ctx.config->arrays[n];
    if (a.valid == kOn && a.jobKind != kJobNone) addJob(&jobs, a.jobKind, n, 0, false);
  }
  return jobs;
}

const JobView* jobOfArray(const std::vector<JobView>& jobs, int array) {
  for (const JobView& job : jobs) {
    if (job.array == array) return &job;
  }
  return nullptr;
}

bool runOperation(CliContext& ctx, const std::string& operation, uint8_t bufferId, uint8_t p3, uint8_t p4,
                  uint8_t p5, const void* block, uint32_t blockLength) {
  ControllerCommand failed{};
  const int result = sendOperation(ctx.pair, bufferId, p3, p4, p5, block, blockLength, &failed);
  if (result == kResultGood) return true;
  writeCommandFailure(ctx, operation, result, failed);
  return false;
}

}  // namespace brivo::cli
