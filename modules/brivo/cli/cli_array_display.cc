// `array display`: the total line, then a -sum table or one block per array (members with their
// disk IDs, state in words, sizes with units, the running job); -exp adds the cache settings, the
// members one per line and the logical drives carved from the array.
//
// Thread safety: one command at a time (cli_context.h).
#include <algorithm>
#include <cstdio>
#include <cstring>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

std::string jobText(const JobView* job) {
  if (job == nullptr) return "none";
  std::string text = std::string(jobKindText(job->kind)) + " " + progressBar(job->percent, 20);
  text += " (job " + std::to_string(job->id()) + (job->paused ? ", paused)" : ")");
  return text;
}

std::string memberText(CliContext& ctx, const ArrayRecord& a, int m) {
  const DriveListEntry* drive = driveWithWwn(*ctx.drives, a.memberWwn[m]);
  char text[160];
  if (drive == nullptr) {
    std::snprintf(text, sizeof(text), "Disk -   %-10s not present, WWN %s",
                  memberStatusText(a.memberStatus[m]), wwnText(a.memberWwn[m]).c_str());
  } else {
    std::snprintf(text, sizeof(text), "Disk %-3d %-10s %s, WWN %s", driveIndex(*ctx.drives, drive),
                  memberStatusText(a.memberStatus[m]), sizeText(driveCapacityGb(*drive)).c_str(),
                  wwnText(a.memberWwn[m]).c_str());
  }
  return text;
}

std::string memberIds(CliContext& ctx, const ArrayRecord& a) {
  std::string text;
  for (int m = 0; m < std::min<int>(a.driveCount, kMaxMembers); ++m) {
    const DriveListEntry* drive = driveWithWwn(*ctx.drives, a.memberWwn[m]);
    if (!text.empty()) text += ' ';
    text += drive != nullptr ? std::to_string(driveIndex(*ctx.drives, drive)) : "-";
    if (a.memberStatus[m] != kMemberGood)
      text += std::string("(") + memberStatusText(a.memberStatus[m]) + ")";
  }
  return text;
}

std::vector<int> logicalDrivesOn(const ConfigurationBlock& config, int array) {
  std::vector<int> drives;
  for (int d = 0; d < kMaxLogicalDrives; ++d) {
    const LogicalDriveRecord& ld = config.logicalDrives[d];
    bool here = false;
    for (int s = 0; ld.valid == kOn && s < std::min<int>(ld.segmentCount, kMaxSegments); ++s) {
      here = here || ld.segments[s].array == array;
    }
    if (here) drives.push_back(d);
  }
  return drives;
}

void writeExpanded(CliContext& ctx, const ArrayRecord& a, int array) {
  writeField(ctx, "Member Capacity", sizeText(a.memberCapacityGb) + " each");
  writeField(ctx, "Backoff Percent", std::to_string(a.unusedPercent) + " %");
  writeField(ctx, "Initialized", a.initialized == kOn ? "yes" : "no");
  writeField(ctx, "Read Ahead Cache*", readAheadText(a.readAheadKb));
  writeField(ctx, "Write Back Cache*", writeBackText(a.writeBackMb));
  writeField(ctx, "Cache Mirror*", onOff((a.cacheFlags & kCacheMirror) != 0));
  writeField(ctx, "Cache UPS*", onOff((a.cacheFlags & kCacheUps) != 0));
  writeField(ctx, "Cache Battery*", onOff((a.cacheFlags & kCacheBattery) != 0));
  writeField(ctx, "Created", timeText(a.createdTime));
  for (int m = 0; m < std::min<int>(a.driveCount, kMaxMembers); ++m) {
    writeField(ctx, ("Member " + std::to_string(m)).c_str(), memberText(ctx, a, m));
  }
  for (int d : logicalDrivesOn(*ctx.config, array)) {
    const LogicalDriveRecord& ld = ctx.config->logicalDrives[d];
    uint32_t here = 0;
    for (int s = 0; s < std::min<int>(ld.segmentCount, kMaxSegments); ++s) {
      if (ld.segments[s].array == array) here += ld.segments[s].sizeGb;
    }
    char text[96];
    std::snprintf(text, sizeof(text), "\"%s\", %s here", fieldText(ld.name, sizeof(ld.name)).c_str(),
                  sizeText(here).c_str());
    writeField(ctx, ("Logical Drive " + std::to_string(d)).c_str(), text);
  }
}

void writeBlock(CliContext& ctx, int array, const std::vector<JobView>& jobs, bool expanded) {
  const ArrayRecord& a = ctx.config->arrays[array];
  writeRuler(ctx, '-', ("Array " + std::to_string(array)).c_str());
  writeField(ctx, "Name*", fieldText(a.name, sizeof(a.name)));
  writeField(ctx, "RAID Level", raidLevelText(a.raidLevel));
  if (a.raidLevel == kRaid50) writeField(ctx, "Sub-arrays", std::to_string(a.parityDrives));
  writeField(ctx, "Status", arrayStatusText(a.faultStatus));
  writeField(ctx, "Capacity", sizeText(a.capacityGb));
  writeField(ctx, "Free Capacity", sizeText(a.freeGb));
  writeField(ctx, "Stripe Size", std::to_string(a.chunkSizeKb) + " KB");
  writeField(ctx, "Member Disks", std::to_string(a.driveCount) + " (IDs " + memberIds(ctx, a) + ")");
  writeField(ctx, "Logical Drives", idListText(logicalDrivesOn(*ctx.config, array)));
  writeField(ctx, "Job", jobText(jobOfArray(jobs, array)));
  if (expanded) writeExpanded(ctx, a, array);
}

void writeSummary(CliContext& ctx, const std::vector<int>& arrays, const std::vector<JobView>& jobs) {
  writeText(ctx, " # Name                             RAID      Size Status   Job \n");
  writeText(ctx, "-- -------------------------------- -------- ----- -------- ----\n");
  for (int array : arrays) {
    const ArrayRecord& a = ctx.config->arrays[array];
    const JobView* job = jobOfArray(jobs, array);
    const std::string jobColumn = job != nullptr ? std::to_string(job->id()) : "-";
    writeText(ctx, "%2d %-32.32s %-8s %5s %-8s %-4s\n", array, fieldText(a.name, sizeof(a.name)).c_str(),
              raidLevelText(a.raidLevel).c_str(), compactSize(a.capacityGb).c_str(),
              arrayStatusShort(a.faultStatus), jobColumn.c_str());
  }
}

}  // namespace

int arrayDisplay(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  std::vector<int> arrays;
  if (const char* word = modifierValue(ctx, kModArrayId)) {
    int array = 0;
    if (!findArray(ctx, word, &array)) return 1;
    arrays.push_back(array);
  } else {
    for (int n = 0; n < kMaxArrays; ++n) {
      if (ctx.config->arrays[n].valid == kOn) arrays.push_back(n);
    }
  }
  const std::vector<JobView> jobs = arrays.empty() ? std::vector<JobView>{} : runningJobs(ctx);
  writeText(ctx, "--- Array Total=%d ---\n", static_cast<int>(arrays.size()));
  if (hasModifier(ctx, kModSummary)) {
    writeSummary(ctx, arrays, jobs);
    return 0;
  }
  const bool expanded = hasModifier(ctx, kModExpanded);
  for (int array : arrays) writeBlock(ctx, array, jobs, expanded);
  return 0;
}

}  // namespace brivo::cli
