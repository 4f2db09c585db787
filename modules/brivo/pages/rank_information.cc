// The array information page (GetRankInformation): one array's settings, members, logical
// drives and running job, with the actions the page may offer and the free drives an expansion
// could take. Request: "ModDeviceName", "RankNumber".
//
// Keys: "ModDeviceName", "RankNumber", "Name", "RaidLevel", "RaidLevelCode", "DriveCount",
// "ChunkSizeKb", "CapacityGb", "MemberCapacityGb", "FreeGb", "Created", "Status", "StatusClass",
// "Redundant", "Initialized", "ParityDrives", the cache settings "WriteBackEnabled",
// "CacheMirror", "CacheUPS", "CacheBattery", "CacheFaultTolerant2", "CacheCacheFlush",
// "CacheFlush", "ReadAhead"/"ReadAheadKb", "WriteBack"/"WriteBackMb", "UnusedPercent"; the job
// "Job", "JobKind", "JobPercent", "ShowProgress", "JobPaused"; the actions "CanInitialize",
// "CanStartParityCheck", "CanCancelParityCheck", "CanCancelInitialization", "CanPauseInit",
// "CanResumeInit", "CanCancelRebuild", "CanDelete", "CanExpand", "CanChange";
// "MemberLoop%d{Member,Wwn,Status,Class,Enclosure,Slot,Serial,CapacityGb}",
// "LogicalDriveLoop%d{Number,Name,SizeGb,State,Class}", the change form's choices
// "ReadAheadOptionLoop%d{Value,Text,Selected}" and "WriteBackOptionLoop%d{Value,Text,Selected}"
// ("selected" for the current size), and the free drives (rank_rows.h).
//
// Thread safety: a request thread holding the admission gate as a reader.
#include <algorithm>
#include <ctime>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/pages/array_progress.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/full_view_reads.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/rank_block.h"
#include "modules/brivo/pages/rank_rows.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

constexpr char kRankTemplate[] = "../../html/Brivo/array/rank_info.htm";
constexpr char kMethodKey[] = "GetRankInformation";

std::string timeOf(uint32_t seconds) {
  if (seconds == 0) return "";
  const time_t when = seconds;
  struct tm local {};
  char text[32] = "";
  if (localtime_r(&when, &local) != nullptr) std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M", &local);
  return text;
}

void addSettings(VariableTable* r, const ArrayRecord& a) {
  addText(r, "Name", fieldText(a.name, sizeof(a.name)));
  addText(r, "RaidLevel", raidLevelText(a.raidLevel));
  addNumber(r, "RaidLevelCode", a.raidLevel);
  addNumber(r, "DriveCount", a.driveCount);
  addNumber(r, "ChunkSizeKb", a.chunkSizeKb);
  addNumber(r, "CapacityGb", a.capacityGb);
  addNumber(r, "MemberCapacityGb", a.memberCapacityGb);
  addNumber(r, "FreeGb", a.freeGb);
  addText(r, "Created", timeOf(a.createdTime));
  addText(r, "Status", statusTextByte("ArrayStatus", a.faultStatus));
  addText(r, "StatusClass", arrayStatusClass(a));
  addFlag(r, "Redundant", isRedundantLevel(a.raidLevel));
  addFlag(r, "Initialized", a.initialized == kOn);
  addNumber(r, "ParityDrives", a.parityDrives);
  addFlag(r, "WriteBackEnabled", (a.cacheFlags & kCacheWriteBack) != 0);
  addFlag(r, "CacheMirror", (a.cacheFlags & kCacheMirror) != 0);
  addFlag(r, "CacheUPS", (a.cacheFlags & kCacheUps) != 0);
  addFlag(r, "CacheBattery", (a.cacheFlags & kCacheBattery) != 0);
  addFlag(r, "CacheFaultTolerant2", (a.cacheFlags & kCacheFaultTolerant2) != 0);
  addFlag(r, "CacheCacheFlush", (a.cacheFlags & kCacheFlushEnabled) != 0);
  addNumber(r, "CacheFlush", a.cacheFlush);
  addText(r, "ReadAhead", readAheadText(a.readAheadKb));
  addNumber(r, "ReadAheadKb", a.readAheadKb);
  addText(r, "WriteBack", writeBackText(a.writeBackMb));
  addNumber(r, "WriteBackMb", a.writeBackMb);
  addNumber(r, "UnusedPercent", a.unusedPercent);
}

// The choices of the change form's cache selects, the array's current value selected (a current
// size the controller has no code for is offered as it is; ChangeRankParameters keeps it).
void addSizeOptions(VariableTable* r, const char* list, const std::vector<uint16_t>& sizes, uint16_t current,
                    std::string (*text)(uint16_t)) {
  std::vector<uint16_t> shown = sizes;
  if (std::find(shown.begin(), shown.end(), current) == shown.end()) shown.insert(shown.begin(), current);
  int row = 0;
  for (uint16_t size : shown) {
    addRowNumber(r, list, row, "Value", size);
    addRowText(r, list, row, "Text", text(size));
    addRowText(r, list, row, "Selected", size == current ? "selected" : "");
    ++row;
  }
  setCount(r, list, row);
}

void addCacheChoices(VariableTable* r, const ArrayRecord& a) {
  addSizeOptions(r, "ReadAheadOptionLoop", {0, kReadAheadDisabled, 256, 512, 1024, 2048}, a.readAheadKb,
                 readAheadText);
  addSizeOptions(r, "WriteBackOptionLoop", {0, 1, 2, 4, 8, 16, 32, 64, 128, 256, kWriteBackMaximum},
                 a.writeBackMb, writeBackText);
}

void addJobAndActions(VariableTable* r, const ArrayRecord& a, int n, const ControllerInformation& info,
                      const JobProgress* jobs, int logicalDrives, int freeDrives) {
  const int percent = arrayProgressPercent(info, jobs, n);
  const bool paused = arrayJobPaused(jobs, n);
  const uint8_t job = a.jobKind;
  const bool idle = job == kJobNone;
  const bool redundant = isRedundantLevel(a.raidLevel);
  addText(r, "Job", statusTextByte("ArrayJob", job));
  addNumber(r, "JobKind", job);
  addText(r, "JobPercent", percent >= 0 ? std::to_string(percent) : "");
  addFlag(r, "ShowProgress", percent >= 0);
  addFlag(r, "JobPaused", paused);
  const bool pauseAllowed = info.jobBufferAvailable == kOn;
  addFlag(r, "CanInitialize", redundant && idle);
  addFlag(r, "CanStartParityCheck", redundant && idle && a.initialized == kOn);
  addFlag(r, "CanCancelParityCheck", job == kJobParity);
  addFlag(r, "CanCancelInitialization", job == kJobInit);
  addFlag(r, "CanPauseInit", job == kJobInit && pauseAllowed && !paused);
  addFlag(r, "CanResumeInit", job == kJobInit && pauseAllowed && paused);
  addFlag(r, "CanCancelRebuild", job == kJobRebuild);
  addFlag(r, "CanDelete", logicalDrives == 0);
  addFlag(r, "CanExpand", idle && a.driveCount < kMaxMembers && freeDrives > 0);
  addFlag(r, "CanChange", true);
}

void addMembers(VariableTable* r, const ArrayRecord& a, const DriveList& drives) {
  const int count = a.driveCount < kMaxMembers ? a.driveCount : kMaxMembers;
  for (int m = 0; m < count; ++m) {
    const uint8_t status = a.memberStatus[m];
    addRowNumber(r, "MemberLoop", m, "Member", m);
    addRowText(r, "MemberLoop", m, "Wwn", wwnText(a.memberWwn[m]));
    addRowText(r, "MemberLoop", m, "Status", statusTextByte("MemberStatus", status));
    addRowText(r, "MemberLoop", m, "Class",
               status == kMemberGood ? "ok" : (status == kMemberRebuilding ? "warn" : "fail"));
    const DriveListEntry* e = driveWithWwn(drives, a.memberWwn[m]);
    addRowFlag(r, "MemberLoop", m, "Present", e != nullptr);
    if (e == nullptr) continue;
    addRowText(r, "MemberLoop", m, "Enclosure",
               e->enclosure == 0xFE ? std::string() : std::to_string(e->enclosure));
    addDriveIdentity(r, "MemberLoop", m, static_cast<int>(e - drives.entries), *e);
    addRowText(r, "MemberLoop", m, "Serial", fieldText(e->serial, sizeof(e->serial)));
    addRowNumber(r, "MemberLoop", m, "CapacityGb", static_cast<long long>(driveCapacityGb(*e)));
  }
  setCount(r, "MemberLoop", count);
}

void addLogicalDrives(VariableTable* r, const ConfigurationBlock& config, int n) {
  int row = 0;
  for (const LogicalDriveRecord& d : config.logicalDrives) {
    if (d.valid != kOn || (d.availability & kAvailabilityInternal) != 0) continue;
    bool on = false;
    const int segments = d.segmentCount < kMaxSegments ? d.segmentCount : kMaxSegments;
    for (int s = 0; s < segments; ++s) on = on || d.segments[s].array == n;
    if (!on) continue;
    addRowNumber(r, "LogicalDriveLoop", row, "Number", d.number);
    addRowText(r, "LogicalDriveLoop", row, "Name", fieldText(d.name, sizeof(d.name)));
    addRowNumber(r, "LogicalDriveLoop", row, "SizeGb", d.sizeGb);
    addRowText(r, "LogicalDriveLoop", row, "State", statusTextByte("LogicalDriveStatus", d.state));
    addRowText(r, "LogicalDriveLoop", row, "Class", logicalDriveStateClass(d.state));
    ++row;
  }
  setCount(r, "LogicalDriveLoop", row);
}

// Controller information and, when offered, the job buffer, for the progress keys.
int readProgress(const PairTarget& pair, ControllerInformation* info, std::unique_ptr<JobProgress>* jobs,
                 ControllerCommand* failed) {
  int result = readControllerInformation(pair, info, failed);
  if (result != kResultGood || info->jobBufferAvailable != kOn) return result;
  jobs->reset(new (std::nothrow) JobProgress());
  if (!*jobs) return kResultNoMemory;
  result = readJobProgress(pair, jobs->get(), failed);
  if (result != kResultGood) jobs->reset();
  return kResultGood;  // without the job buffer the progress records of the information serve
}

VariableTable arrayMissingReply(long number) {
  const std::string format = ModuleFiles::text(StringTable::kCommand, "ArrayNotFound");
  return errorPanelReply(formatStoredText(format, {static_cast<long long>(number)}).c_str());
}

}  // namespace

VariableTable getRankInformationMethod(VariableTable request) {
  int n = 0;
  const PairTarget pair = pairOfRequest(request);
  if (!requestArrayNumber(request, &n)) {
    ControllerCommand none;
    return commandPopupReply(request, kMethodKey, kResultBadValue, none, false);
  }
  ArrayPageBuffers buffers;
  ControllerCommand failed;
  auto info = std::unique_ptr<ControllerInformation>(new (std::nothrow) ControllerInformation());
  std::unique_ptr<JobProgress> jobs;
  int result = pair.found() ? readArrayPageBuffers(pair, &buffers, &failed) : kResultBadArguments;
  if (result == kResultGood) result = info ? readProgress(pair, info.get(), &jobs, &failed) : kResultNoMemory;
  if (result == kResultNoMemory) return errorPanelReply(kInsufficientMemory);
  if (result != kResultGood) return commandPopupReply(request, kMethodKey, result, failed, false);
  const ArrayRecord& a = buffers.config->arrays[n];
  if (a.valid != kOn) return arrayMissingReply(n);
  TableOwner reply;
  VariableTable* r = reply.address();
  echoDeviceName(r, request);
  addNumber(r, "RankNumber", n);
  addSettings(r, a);
  addCacheChoices(r, a);
  addMembers(r, a, *buffers.drives);
  addLogicalDrives(r, *buffers.config, n);
  const int free = addFreeDriveRows(r, request, *buffers.drives);
  addJobAndActions(r, a, n, *info, jobs.get(), logicalDrivesOnArray(*buffers.config, n), free);
  addText(r, kHtmlPathKey, kRankTemplate);
  return reply.release();
}

}  // namespace brivo
