// Reading a pair's buffers for its solution status; see solution_status.h. The judgement is
// evaluateSolution (solution_checks.cc).
#include "modules/brivo/monitor/solution_status.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <memory>
#include <new>
#include <string>

#include "common/thread_annotations.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/solution_checks.h"
#include "modules/brivo/pair_paths.h"

namespace brivo::monitor {

namespace {

constexpr int32_t kFailuresForError = 3;

// The part of the configuration block the checks read: the header and the array records. The
// logical drives, spares and mapping that follow are left on the controller.
struct ConfigurationPrefix {
  ConfigurationHeader header;
  ArrayRecord arrays[kMaxArrays];
};
static_assert(sizeof(ConfigurationPrefix) == offsetof(ConfigurationBlock, logicalDrives));

// Everything one evaluation reads, on the heap (the buffers are too large for a stack).
struct PairBuffers {
  ControllerInformation info;
  ConfigurationPrefix config;
  DriveList drives;
  SnapshotAreasV2 areas;  // large enough for either generation
};

// READ BUFFER noted for failure counting; a failure is listed in the report.
bool readNoted(DeviceRecord* device, const BrivoDeviceState* state, uint8_t mode, uint8_t bufferId, void* out,
               uint32_t length, SolutionReport* report) {
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, mode, bufferId);
  const int result = transferCommandFor(device, state, &command, out, length);
  noteCommandResult(result, device);
  if (result == kResultGood) return true;
  CheckResult failed;
  failed.kind = CheckKind::kReadFailed;
  failed.status = kStatusNoOpinion;
  failed.index = bufferId;
  failed.value = result;
  failed.detail =
      checks::printed("mon: GetSolutionStatus: READ BUFFER 0x%02X failed (%d)\n", bufferId, result);
  checks::addFinding(report, std::move(failed));
  return false;
}

// Reads the snapshot areas of the pair's snapshot generation into the snapshot's span.
void readSnapshots(DeviceRecord* device, const BrivoDeviceState* state, uint8_t generation,
                   PairBuffers* buffers, PairSnapshot* pair, SolutionReport* report) {
  pair->snapshotsSupported = generation != 0;
  if (generation == 0) return;
  if (generation == 1) {
    auto* v1 = reinterpret_cast<SnapshotAreasV1*>(&buffers->areas);
    pair->snapshotsRead =
        readNoted(device, state, kModeCommand, kOpReadSnapshotAreasV1, v1, sizeof(*v1), report);
    pair->snapshotAreas = std::span<const SnapshotArea>(v1->areas, std::size(v1->areas));
  } else {
    SnapshotAreasV2& v2 = buffers->areas;
    pair->snapshotsRead =
        readNoted(device, state, kModeCommand, kOpReadSnapshotAreasV2, &v2, sizeof(v2), report);
    pair->snapshotAreas = std::span<const SnapshotArea>(v2.areas, std::size(v2.areas));
  }
}

void printDecisions(const SolutionReport& report) {
  if (report.usedHostPorts) consolePrint("Using host port status in determining configuration!\n");
  for (const CheckResult& check : report.checks)
    modulePrint(kDebugStatusDecisions, "%s", check.detail.c_str());
}

// Reads and judges the pair behind device (a monitored pair with fewer than three failures).
SolutionReport readAndEvaluate(DeviceRecord* device, ModDeviceItem* item, BrivoDeviceState* state) {
  std::unique_ptr<PairBuffers> buffers(new (std::nothrow) PairBuffers());
  if (buffers == nullptr) {
    const uint32_t global = moduleState().globalStatus.load();
    modulePrint(kDebugStatusDecisions,
                "mon: GetSolutionStatus %s: Could not allocate memory (returning same 0x%X\n", item->name,
                global);
    SolutionReport report;
    report.status = global;
    report.monitored = true;
    return report;
  }
  SolutionReport reads;
  PairSnapshot pair;
  pair.name = item->name;
  pair.traits = traitsOf(*state);
  pair.batteryPercentWarning = batteryPercentWarning();
  if (readNoted(device, state, kModeData, kOpReadControllerInfo, &buffers->info, kControllerInfoLength,
                &reads) &&
      readNoted(device, state, kModeData, kOpReadConfiguration, &buffers->config, sizeof(ConfigurationPrefix),
                &reads)) {
    pair.info = &buffers->info;
    pair.header = &buffers->config.header;
    pair.arrays = buffers->config.arrays;
  }
  if (readNoted(device, state, kModeData, kOpReadDriveList, &buffers->drives, sizeof(DriveList), &reads)) {
    pair.drives = &buffers->drives;
  }
  const std::vector<EnclosurePages> enclosures = enclosureSnapshot(state);
  pair.enclosures = enclosures;
  pair.enclosureSupport =
      pair.header != nullptr ? pair.header->enclosureSupport == kOn : enclosureSupportOn(state);
  if (pair.header != nullptr && (pair.header->enclosureSupport == kOn) != enclosureSupportOn(state)) {
    storeField(state->enclosureRefresh, 1);  // the setting changed: the watch looks again
  }
  if (pair.info != nullptr) {
    const ControllerRecord& record = pair.info->controllers[pair.info->stateA == kOn ? 0 : 1];
    readSnapshots(device, state, record.snapshotGeneration, buffers.get(), &pair, &reads);
  }
  SolutionReport report = evaluateSolution(pair);
  report.checks.insert(report.checks.begin(), reads.checks.begin(), reads.checks.end());
  return report;
}

// The last report of every pair, by upper-case name.
Mutex g_reportsMutex;
std::map<std::string, SolutionReport> g_reports GUARDED_BY(g_reportsMutex);

std::string reportKey(const char* name) {
  std::string key = name != nullptr ? name : "";
  for (char& c : key) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return key;
}

SolutionReport remembered(const char* name, SolutionReport report) {
  MutexLock lock(g_reportsMutex);
  g_reports[reportKey(name)] = report;
  return report;
}

}  // namespace

bool lastSolutionReport(const char* name, SolutionReport* out) {
  MutexLock lock(g_reportsMutex);
  const auto found = g_reports.find(reportKey(name));
  if (found == g_reports.end()) return false;
  *out = found->second;
  return true;
}

int batteryPercentWarning() {
  const std::string text = moduleState().files.value(PropertyTable::kSettings, kBatteryPercentWarningKey);
  char* end = nullptr;
  const long value = std::strtol(text.c_str(), &end, 10);
  // 0 is a threshold like any other (no charge is below it: never warn); only a missing or
  // unreadable value takes the default.
  if (end == text.c_str() || value < 0 || value > 100) return kDefaultBatteryPercentWarning;
  return static_cast<int>(value);
}

SolutionReport solutionReport(DeviceRecord* device) {
  SolutionReport report;
  ModDeviceItem* item = findBrivoItem(device);
  BrivoDeviceState* state = stateOf(item);
  if (state == nullptr) {
    modulePrint(kDebugStatusDecisions, "mon: GetSolutionStatus: DONT HAVE PMODEVICE\n");
    return report;
  }
  const int32_t modStatus = std::atomic_ref<int32_t>(item->modStatus).load();
  if (modStatus != MINE) {
    modulePrint(kDebugStatusDecisions, "mon: GetSolutionStatus %s: NOT MINE (0x%X)\n", item->name,
                static_cast<unsigned>(modStatus));
    CheckResult r;
    r.kind = CheckKind::kNotMonitored;
    r.value = modStatus;
    report.checks.push_back(std::move(r));
    return remembered(item->name, std::move(report));
  }
  report.monitored = true;
  report.failures = loadField(state->failureCount);
  if (report.failures >= kFailuresForError) {
    modulePrint(kDebugStatusDecisions, "mon: GetSolutionStatus %s: failures >= 3 (%d)\n", item->name,
                report.failures);
    CheckResult r;
    r.kind = CheckKind::kCommunication;
    r.status = kStatusError;
    r.value = report.failures;
    r.limit = kFailuresForError;
    checks::addFinding(&report, std::move(r));
    return remembered(item->name, std::move(report));
  }
  report = readAndEvaluate(device, item, state);
  report.failures = loadField(state->failureCount);
  printDecisions(report);
  return remembered(item->name, std::move(report));
}

}  // namespace brivo::monitor
