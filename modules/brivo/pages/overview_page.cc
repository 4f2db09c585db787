// The overview (GetOverview), the module's start page: every controller pair at once with its
// status and why, the arrays that need attention with their job's progress, capacity used and
// free, the batteries, the hottest sensor and the running jobs, each pair leading to its monitor
// page. Above them, the module's global status and the pairs that made it what it is.
//
// A pair monitored here is read in full (as the monitor page reads it, failures counted) and
// judged by the same checks; a pair that lost its connection (more than two failed commands) is
// not read again; a pair monitored by another server or by none is listed by name and WWN.
//
// Keys: "GlobalStatusText", "GlobalStatusClass", "GlobalCauseLoop%d{Number,Name,Wwn,StatusText,
// StatusClass,Reason}" (the pairs whose status is not OK, worst first), "PairLoop" rows with
// Number, ModDeviceName, Name, Wwn, StatusText, StatusClass, Monitored, MonitoredBy,
// Unclaimed, CannotCommunicate, Read (the full reads succeeded), the lists ProblemLoop{Text,Class,
// Severity}, AttentionLoop{Number,Name,Status,Class,Job,Percent}, JobLoop{Number,Name,Job,
// Percent}, BatteryLoop{Controller,Percent,StatusText,Class}, and ArrayCount, CapacityGb, UsedGb,
// FreeGb, UnusedDrives, UnusedDrivesGb, HottestLabel, HottestCelsius, HottestClass; and the
// "PingDevicesLoop" rows of the monitor page, so the page reloads itself as that one does.
//
// GetPairNames, for the event log page (through the JSON API) and scripts: "PairLoop%d{
// ModDeviceName,Name,Wwn}" of every pair, one configuration header read each, not counted.
//
// Thread safety: a request thread holding the admission gate as a reader.
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modules/brivo/controller_traits.h"
#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/array_progress.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/monitor_page.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/solution_list.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

constexpr char kOverviewTemplate[] = "../../html/Brivo/main/overview.htm";
constexpr char kPairLoop[] = "PairLoop";
constexpr int32_t kFailuresShownAsLost = 2;
constexpr int kTemperatureOffset = 20;  // SES temperatures are kept 20 degrees up

struct Hottest {
  std::string label;
  int celsius = -1000;
  const char* cls = "ok";
};

void consider(Hottest* hottest, const std::string& label, int celsius, const char* cls) {
  if (celsius <= hottest->celsius) return;
  hottest->label = label;
  hottest->celsius = celsius;
  hottest->cls = cls;
}

// The controllers' sensors and every enclosure's temperature sensors.
Hottest hottestSensor(const FullViewBuffers& b, const SolutionEntry& s) {
  Hottest hottest;
  const ControllerTraits traits = traitsOf(*s.pair.state);
  const uint8_t states[2] = {b.info->stateA, b.info->stateB};
  for (int c = 0; c < 2; ++c) {
    if (states[c] != kOn) continue;
    const monitor::ControllerHealth health =
        monitor::controllerHealth(b.info->controllers[c], traits.type, monitor::batteryPercentWarning());
    for (const monitor::SensorReading& t : health.temperatures) {
      consider(&hottest, std::string("Controller ") + controllerLetter(c) + ": " + t.label, t.value,
               statusClass(t.status));
    }
  }
  for (const monitor::EnclosurePages& pages : monitor::enclosureSnapshot(s.pair.state)) {
    std::vector<monitor::SesElement> elements;
    if (!monitor::sesStatusElements(monitor::sesElementTypes(pages.config), pages.status, &elements)) continue;
    for (const monitor::SesElement& e : elements) {
      if (e.type != monitor::kSesTemperature || e.index < 0 || e.bytes[2] == 0) continue;
      const uint8_t code = e.bytes[0] & 0x0F;
      const char* cls = code == monitor::kSesStatusCritical || code == monitor::kSesStatusUnrecoverable ? "fail"
                        : code == monitor::kSesStatusNonCritical                                        ? "warn"
                                                                                                          : "ok";
      consider(&hottest,
               enclosureLabel(pages.slot) + ": " +
                   events::enclosureElementName(moduleEventTexts(), e.type, e.index),
               e.bytes[2] - kTemperatureOffset, cls);
    }
  }
  return hottest;
}

void addBatteries(VariableTable* r, const std::string& row, const ControllerInformation& info) {
  const std::string list = row + "BatteryLoop";
  const uint8_t states[2] = {info.stateA, info.stateB};
  int n = 0;
  for (int c = 0; c < 2; ++c) {
    if (states[c] != kOn) continue;
    const ControllerRecord& record = info.controllers[c];
    const uint32_t status = monitor::batteryStatus(record, monitor::batteryPercentWarning());
    addRowText(r, list.c_str(), n, "Controller", controllerLetter(c));
    addRowNumber(r, list.c_str(), n, "Percent", record.batteryCharge);
    addRowText(r, list.c_str(), n, "StatusText", statusTextByte("BatteryStatus", record.batteryState));
    addRowText(r, list.c_str(), n, "Class", statusClass(status));
    ++n;
  }
  setCount(r, list.c_str(), n);
}

// Arrays needing attention, jobs, capacity.
void addArrays(VariableTable* r, const std::string& row, const FullViewBuffers& b) {
  const std::string attention = row + "AttentionLoop";
  const std::string jobs = row + "JobLoop";
  const ConfigurationBlock& config = *b.config;
  int arrays = 0, needing = 0, running = 0;
  long long capacity = 0, free = 0;
  const int count = config.header.arrayCount < kMaxArrays ? config.header.arrayCount : kMaxArrays;
  for (int n = 0; n < count; ++n) {
    const ArrayRecord& a = config.arrays[n];
    if (a.valid != kOn) continue;
    ++arrays;
    capacity += a.capacityGb;
    free += a.freeGb;
    const int percent = arrayProgressPercent(*b.info, b.jobs.get(), n);
    const std::string name = fieldText(a.name, sizeof(a.name));
    const std::string percentText = percent >= 0 ? std::to_string(percent) : "";
    if (std::string(arrayStatusClass(a)) != "ok") {
      addRowNumber(r, attention.c_str(), needing, "Number", n);
      addRowText(r, attention.c_str(), needing, "Name", name);
      addRowText(r, attention.c_str(), needing, "Status", statusTextByte("ArrayStatus", a.faultStatus));
      addRowText(r, attention.c_str(), needing, "Class", arrayStatusClass(a));
      addRowText(r, attention.c_str(), needing, "Job", a.jobKind != kJobNone ? statusTextByte("ArrayJob", a.jobKind) : "");
      addRowText(r, attention.c_str(), needing, "Percent", percentText);
      addRowFlag(r, attention.c_str(), needing, "HasPercent", percent >= 0);
      ++needing;
    }
    if (a.jobKind != kJobNone || percent >= 0) {
      addRowNumber(r, jobs.c_str(), running, "Number", n);
      addRowText(r, jobs.c_str(), running, "Name", name);
      addRowText(r, jobs.c_str(), running, "Job", statusTextByte("ArrayJob", a.jobKind));
      addRowText(r, jobs.c_str(), running, "Percent", percentText);
      addRowFlag(r, jobs.c_str(), running, "HasPercent", percent >= 0);
      ++running;
    }
  }
  setCount(r, attention.c_str(), needing);
  setCount(r, jobs.c_str(), running);
  addText(r, (row + "ArrayCount").c_str(), std::to_string(arrays));
  addText(r, (row + "CapacityGb").c_str(), std::to_string(capacity));
  addText(r, (row + "UsedGb").c_str(), std::to_string(capacity - free));
  addText(r, (row + "FreeGb").c_str(), std::to_string(free));
  int unused = 0;
  long long unusedGb = 0;
  const int drives = b.drives->count < kMaxDrives ? b.drives->count : kMaxDrives;
  for (int i = 0; i < drives; ++i) {
    const DriveListEntry& e = b.drives->entries[i];
    if (e.usage != kUsageFree || e.status != kDriveGood) continue;
    ++unused;
    unusedGb += static_cast<long long>(driveCapacityGb(e));
  }
  addText(r, (row + "UnusedDrives").c_str(), std::to_string(unused));
  addText(r, (row + "UnusedDrivesGb").c_str(), std::to_string(unusedGb));
}

struct PairSummary {
  uint32_t status = kStatusOk;
  std::string name, wwn, reason;
};

// Reads the pair in full and adds its rows; returns the first problem's sentence.
std::string addFullPair(VariableTable* r, const std::string& row, const SolutionEntry& s, PairSummary* summary) {
  auto buffers = std::unique_ptr<FullViewBuffers>(new (std::nothrow) FullViewBuffers());
  if (!buffers || readFullView(s.pair, buffers.get()) != kResultGood) return {};
  addFlag(r, (row + "Read").c_str(), true);
  summary->name = fieldText(buffers->config->header.name, sizeof(buffers->config->header.name));
  summary->wwn = wwnText(buffers->config->header.configurationWwn);
  const std::vector<monitor::EnclosurePages> enclosures = monitor::enclosureSnapshot(s.pair.state);
  const monitor::SolutionReport report = monitor::evaluateSolution(solutionSnapshot(s, *buffers, enclosures));
  TableOwner problems;
  VariableTable rows = nullptr;
  addProblemRows(problems.address(), report, {buffers->info.get(), buffers->drives.get()});
  rows = problems.get();
  // The problem rows under this pair's row.
  const long count = requestNumber(rows, "ProblemLoop", 0);
  for (long i = 0; i < count; ++i) {
    for (const char* field : {"Text", "Class", "Severity"}) {
      const char* value = getVariable(rows, rowKey("ProblemLoop", static_cast<int>(i), field).c_str());
      addRowText(r, (row + "ProblemLoop").c_str(), static_cast<int>(i), field, value != nullptr ? value : "");
    }
  }
  setCount(r, (row + "ProblemLoop").c_str(), static_cast<int>(count));
  const char* first = getVariable(rows, "ProblemLoop0Text");
  std::string reason = first != nullptr ? first : "";
  addBatteries(r, row, *buffers->info);
  addArrays(r, row, *buffers);
  const Hottest hottest = hottestSensor(*buffers, s);
  if (hottest.celsius > -1000) {
    addText(r, (row + "HottestLabel").c_str(), hottest.label);
    addText(r, (row + "HottestCelsius").c_str(), std::to_string(hottest.celsius));
    addText(r, (row + "HottestClass").c_str(), hottest.cls);
  }
  return reason;
}

PairSummary addPair(VariableTable* r, int index, const SolutionEntry& s) {
  const std::string row = rowKey(kPairLoop, index, "");
  PairSummary summary;
  summary.wwn = s.name.size() > kBrivoNamePrefixLength ? s.name.substr(kBrivoNamePrefixLength) : "";
  const bool mine = s.monitoredHere();
  summary.status = mine && s.pair.found() ? loadField(s.pair.state->lastSolutionStatus) : kStatusOk;
  addRowNumber(r, kPairLoop, index, "Number", index + 1);
  addRowText(r, kPairLoop, index, "ModDeviceName", s.name);
  addRowFlag(r, kPairLoop, index, "Monitored", mine);
  addRowFlag(r, kPairLoop, index, "Unclaimed", s.modStatus() == UNCLAIMED);
  if (s.modStatus() == NOT_MINE && s.firstItem != nullptr) {
    const uint32_t a = s.firstItem->ownerAddress;
    addRowText(r, kPairLoop, index, "MonitoredBy",
               std::to_string(a >> 24) + "." + std::to_string((a >> 16) & 0xFF) + "." +
                   std::to_string((a >> 8) & 0xFF) + "." + std::to_string(a & 0xFF));
  }
  const bool lost = mine && s.failures() > kFailuresShownAsLost;
  addRowFlag(r, kPairLoop, index, "CannotCommunicate", lost);
  if (lost) {
    summary.reason = formatStoredText(statusText("ProblemCommunication"), {s.failures()});
  } else if (mine && s.pair.found()) {
    summary.reason = addFullPair(r, row, s, &summary);
  } else if (s.pair.found()) {
    ConfigurationHeader header{};
    if (readConfigHeader(s.pair, &header, nullptr, Counting::kDoNotCount) == kResultGood) {
      summary.name = fieldText(header.name, sizeof(header.name));
      summary.wwn = wwnText(header.configurationWwn);
    }
  }
  addRowText(r, kPairLoop, index, "Name", summary.name);
  addRowText(r, kPairLoop, index, "Wwn", summary.wwn);
  addRowText(r, kPairLoop, index, "StatusText",
             mine ? statusTextByte("SolutionStatus", summary.status) : statusText("SolutionStatusNotMonitoring"));
  addRowText(r, kPairLoop, index, "StatusClass", mine ? statusClass(summary.status) : "unknown");
  return summary;
}

// Error first, then Unknown, then Warning (as the problem lists).
int causeRank(uint32_t status) { return status == kStatusError ? 0 : status == kStatusUnknown ? 1 : 2; }

void addCauses(VariableTable* r, const std::vector<PairSummary>& pairs) {
  int row = 0;
  for (int rank = 0; rank < 3; ++rank) {
    for (size_t i = 0; i < pairs.size(); ++i) {
      const PairSummary& p = pairs[i];
      if (p.status == kStatusOk || p.status == kStatusNoOpinion || causeRank(p.status) != rank) continue;
      addRowNumber(r, "GlobalCauseLoop", row, "Number", static_cast<long long>(i) + 1);
      addRowText(r, "GlobalCauseLoop", row, "Name", p.name);
      addRowText(r, "GlobalCauseLoop", row, "Wwn", p.wwn);
      addRowText(r, "GlobalCauseLoop", row, "StatusText", statusTextByte("SolutionStatus", p.status));
      addRowText(r, "GlobalCauseLoop", row, "StatusClass", statusClass(p.status));
      addRowText(r, "GlobalCauseLoop", row, "Reason", p.reason);
      ++row;
    }
  }
  setCount(r, "GlobalCauseLoop", row);
}

}  // namespace

VariableTable getOverviewMethod(VariableTable) {
  ModuleState& module = moduleState();
  updateGlobalStatus();
  if (!module.devicesAccepted.load()) {
    VariableTable reply = nullptr;
    addText(&reply, kHtmlPathKey, kWaitingTemplate);
    return reply;
  }
  TableOwner reply;
  VariableTable* r = reply.address();
  const std::vector<SolutionEntry> solutions = listSolutions();
  std::vector<PairSummary> summaries;
  for (size_t i = 0; i < solutions.size(); ++i) {
    summaries.push_back(addPair(r, static_cast<int>(i), solutions[i]));
    addSolutionPingKeys(r, static_cast<int>(i), solutions[i]);
  }
  setCount(r, kPairLoop, static_cast<int>(solutions.size()));
  setCount(r, "PingDevicesLoop", static_cast<int>(solutions.size()));
  const uint32_t global = module.globalStatus.load();
  addText(r, "GlobalStatusText", statusTextByte("SolutionStatus", global));
  addText(r, "GlobalStatusClass", statusClass(global));
  addCauses(r, summaries);
  addText(r, kHtmlPathKey, solutions.empty() ? kNoSolutionTemplate : kOverviewTemplate);
  return reply.release();
}

VariableTable getPairNamesMethod(VariableTable) {
  TableOwner reply;
  VariableTable* r = reply.address();
  int row = 0;
  for (const SolutionEntry& s : listSolutions()) {
    const PairIdentity identity = pairIdentity(s.name.c_str());
    addRowText(r, "PairLoop", row, "ModDeviceName", s.name);
    addRowText(r, "PairLoop", row, "Name", identity.name);
    addRowText(r, "PairLoop", row, "Wwn", identity.wwn);
    ++row;
  }
  setCount(r, "PairLoop", row);
  return reply.release();
}

}  // namespace brivo
