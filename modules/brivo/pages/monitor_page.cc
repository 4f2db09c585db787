// The monitor page; see monitor_page.h.
#include "modules/brivo/pages/monitor_page.h"

#include <cstdio>
#include <memory>
#include <new>
#include <span>
#include <vector>

#include "modules/brivo/capabilities.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/solution_list.h"

namespace brivo {

namespace {

constexpr char kSolutionLoop[] = "SolutionLoop";
constexpr char kPingLoop[] = "PingDevicesLoop";
constexpr int32_t kFailuresShownAsLost = 2;  // more than this: the cannot-communicate page

enum class FullView { kBuilt, kFailed, kNoMemory };

std::string dottedAddress(uint32_t address) {
  char text[20];
  std::snprintf(text, sizeof(text), "%u.%u.%u.%u", address >> 24, (address >> 16) & 0xFF,
                (address >> 8) & 0xFF, address & 0xFF);
  return text;
}

// The WWN a pair's name carries ("Brivo" + 16 digits), for pairs whose header cannot be read.
std::string wwnOfName(const std::string& name) {
  return name.size() > kBrivoNamePrefixLength ? name.substr(kBrivoNamePrefixLength) : "";
}

void addIdentity(VariableTable* reply, int row, const std::string& name, const std::string& wwn) {
  addRowText(reply, kSolutionLoop, row, "SolutionName", name);
  addRowText(reply, kSolutionLoop, row, "SolutionWwn", wwn);
}

// Name and WWN from the configuration header; a pair that does not answer keeps its WWN from its
// ModDeviceName and has no name. Pairs lost to three failures are not asked again here.
void addHeaderIdentity(VariableTable* reply, int row, const SolutionEntry& s, Counting counting) {
  ConfigurationHeader header{};
  if (s.pair.found() && s.failures() <= kFailuresShownAsLost &&
      readConfigHeader(s.pair, &header, nullptr, counting) == kResultGood) {
    addIdentity(reply, row, fieldText(header.name, sizeof(header.name)), wwnText(header.configurationWwn));
    return;
  }
  addIdentity(reply, row, "", wwnOfName(s.name));
}

void addStatusKeys(VariableTable* reply, int row, const SolutionEntry& s, bool selected) {
  const int32_t status = s.modStatus();
  addRowFlag(reply, kSolutionLoop, row, "AllowedToMonitor", status == MINE);
  addRowFlag(reply, kSolutionLoop, row, "IsUnclaimed", status == UNCLAIMED);
  const uint32_t solution = s.pair.found() ? loadField(s.pair.state->lastSolutionStatus) : kStatusOk;
  const bool mine = status == MINE;
  addRowText(
      reply, kSolutionLoop, row, "StatusIcon",
      mine ? statusTextByte("SolutionStatusImg", solution) : statusText("SolutionStatusImgNotMonitoring"));
  addRowText(reply, kSolutionLoop, row, "StatusText",
             mine ? statusTextByte("SolutionStatus", solution) : statusText("SolutionStatusNotMonitoring"));
  addRowText(reply, kSolutionLoop, row, "StatusClass", mine ? statusClass(solution) : "unknown");
  addRowNumber(reply, kSolutionLoop, row, "Number", row + 1);
  addRowText(reply, kSolutionLoop, row, "ModDeviceName", s.name);
  addRowFlag(reply, kSolutionLoop, row, "Selected", selected);
  if (s.pair.found()) addCapabilityKeys(reply, rowKey(kSolutionLoop, row, "").c_str(), *s.pair.state);
}

void addFailureKeys(VariableTable* reply, int result, const ControllerCommand& failed) {
  const SenseCodes codes = senseCodes(failed);
  char sense[16];
  std::snprintf(sense, sizeof(sense), "%.2X/%.2X/%.2X", codes.key, codes.asc, codes.ascq);
  addNumber(reply, "LastFailureCode", result);
  addText(reply, "LastFailureSenseData", sense);
}

FullView addSelectedFullView(VariableTable* reply, int row, const SolutionEntry& s, Counting counting) {
  auto buffers = std::unique_ptr<FullViewBuffers>(new (std::nothrow) FullViewBuffers());
  if (!buffers) return FullView::kNoMemory;
  ControllerCommand failed;
  const int result = readFullView(s.pair, buffers.get(), &failed, counting);
  if (result == kResultNoMemory) return FullView::kNoMemory;
  if (result != kResultGood) {
    addFailureKeys(reply, result, failed);
    addHeaderIdentity(reply, row, s, Counting::kDoNotCount);
    return FullView::kFailed;
  }
  const ConfigurationHeader& header = buffers->config->header;
  const std::string name = fieldText(header.name, sizeof(header.name));
  const std::string wwn = wwnText(header.configurationWwn);
  addIdentity(reply, row, name, wwn);
  addText(reply, "SelectedSolutionName", name);
  addText(reply, "SelectedSolutionWwn", wwn);
  const std::vector<monitor::EnclosurePages> enclosures = monitor::enclosureSnapshot(s.pair.state);
  const monitor::SolutionReport report = monitor::evaluateSolution(solutionSnapshot(s, *buffers, enclosures));
  FullViewInput in;
  in.name = s.name;
  in.traits = traitsOf(*s.pair.state);
  in.batteryPercentWarning = monitor::batteryPercentWarning();
  in.buffers = buffers.get();
  in.report = &report;
  addFullView(reply, in);
  return FullView::kBuilt;
}

// The selected solution: in full when it may be shown so, else what can be said about it.
FullView addSelected(VariableTable* reply, int row, const SolutionEntry& s, bool everySolution) {
  addText(reply, kModDeviceNameKey, s.name);
  const bool mine = s.monitoredHere();
  if (mine || everySolution) {
    if (s.failures() > kFailuresShownAsLost) {
      modulePrint(kDebugModuleLife, "BrivoGetMonitorPage: We are displaying the cannot communicate page\n");
      addFlag(reply, "CannotCommunicate", true);
      addNumber(reply, "FailureCount", s.failures());
      addIdentity(reply, row, "", wwnOfName(s.name));
      return FullView::kFailed;
    }
    modulePrint(kDebugModuleLife, "BrivoGetMonitorPage: We are displaying the full main page\n");
    return addSelectedFullView(reply, row, s, mine ? Counting::kCount : Counting::kDoNotCount);
  }
  addFlag(reply, "NotMonitoredHere", true);
  addFlag(reply, "SelectedIsUnclaimed", s.modStatus() == UNCLAIMED);
  if (s.modStatus() == NOT_MINE && s.firstItem != nullptr) {
    const std::string host = dottedAddress(s.firstItem->ownerAddress);
    addText(reply, "MonitoringHostIp", host);
    modulePrint(kDebugModuleLife, "BrivoGetMonitorPage: Displaying that it is being monitored by %s\n",
                host.c_str());
  }
  addHeaderIdentity(reply, row, s, Counting::kDoNotCount);
  return FullView::kFailed;
}

void addSelectedStatus(VariableTable* reply, const SolutionEntry& s) {
  if (!s.monitoredHere()) {
    addText(reply, "SolutionStatusText", statusText("SolutionStatusNotMonitoring"));
    addText(reply, "SolutionStatusClass", "unknown");
    return;
  }
  const uint32_t status = s.pair.found() ? loadField(s.pair.state->lastSolutionStatus) : kStatusOk;
  addText(reply, "SolutionStatusText", statusTextByte("SolutionStatus", status));
  addText(reply, "SolutionStatusClass", statusClass(status));
}

// The number of the solution the request names by "ModDeviceName" (pages link back to the
// monitor so), else 1.
long solutionNamed(VariableTable request, const std::vector<SolutionEntry>& solutions) {
  const char* name = getVariable(request, kModDeviceNameKey);
  for (size_t i = 0; name != nullptr && i < solutions.size(); ++i) {
    if (solutions[i].name == name) return static_cast<long>(i) + 1;
  }
  return 1;
}

VariableTable waitingReply() {
  VariableTable reply = nullptr;
  addText(&reply, kHtmlPathKey, kWaitingTemplate);
  return reply;
}

}  // namespace

void addSolutionPingKeys(VariableTable* reply, int row, const SolutionEntry& s) {
  addRowText(reply, kPingLoop, row, "GuiDeviceA", "GuiDevice_" + s.name + "A");
  addRowText(reply, kPingLoop, row, "GuiDeviceB", "GuiDevice_" + s.name + "B");
  addRowNumber(reply, kPingLoop, row, "EventNumA", s.eventNumberA());
  addRowNumber(reply, kPingLoop, row, "EventNumB", s.eventNumberB());
  addRowText(reply, kPingLoop, row, "GuiDeviceEnclosure", "GuiDeviceEnclosure_" + s.name);
  addRowNumber(reply, kPingLoop, row, "LastEnclosureEvent", s.enclosureChanges());
}

monitor::PairSnapshot solutionSnapshot(const SolutionEntry& s, const FullViewBuffers& b,
                                 const std::vector<monitor::EnclosurePages>& enclosures) {
  monitor::PairSnapshot pair;
  pair.name = s.name;
  pair.traits = traitsOf(*s.pair.state);
  pair.batteryPercentWarning = monitor::batteryPercentWarning();
  pair.info = b.info.get();
  pair.header = &b.config->header;
  pair.arrays = b.config->arrays;
  pair.drives = b.drives.get();
  pair.enclosures = enclosures;
  pair.enclosureSupport = monitor::enclosureSupportOn(s.pair.state);
  pair.snapshotsSupported = b.snapshotGeneration != 0;
  if (b.areasV2 != nullptr) pair.snapshotAreas = std::span<const SnapshotArea>(b.areasV2->areas);
  if (b.areasV1 != nullptr) pair.snapshotAreas = std::span<const SnapshotArea>(b.areasV1->areas);
  pair.snapshotsRead = b.areasV2 != nullptr || b.areasV1 != nullptr;
  return pair;
}

VariableTable buildMonitorReply(VariableTable request, bool everySolution) {
  ModuleState& module = moduleState();
  updateGlobalStatus();
  if (!module.devicesAccepted.load()) return waitingReply();
  const std::vector<SolutionEntry> solutions = listSolutions();
  const int count = static_cast<int>(solutions.size());
  const long requested = requestNumber(request, "StorageSolution", solutionNamed(request, solutions));
  // A number past the end shows the last solution (one lower than asked may not exist either).
  const bool notAvailable = requested > count && requested > 1;
  const int selected = requested < 1 ? 1 : (notAvailable ? count : static_cast<int>(requested));
  TableOwner reply;
  VariableTable* r = reply.address();
  FullView view = FullView::kFailed;
  for (int i = 0; i < count; ++i) {
    const SolutionEntry& s = solutions[i];
    modulePrint(kDebugModuleLife, "BrivoGetMonitorPage: Looking at %s (%X) - status = %d\n", s.name.c_str(),
                static_cast<unsigned>(s.firstDevice->handle), s.modStatus());
    addSolutionPingKeys(r, i, s);
    if (i + 1 == selected) {
      view = addSelected(r, i, s, everySolution);
      if (view == FullView::kNoMemory) return errorPanelReply(kInsufficientMemory);
      addSelectedStatus(r, s);
    } else {
      modulePrint(kDebugModuleLife, "BrivoGetMonitorPage: We are on a solution that is not selected\n");
      addHeaderIdentity(r, i, s, s.monitoredHere() ? Counting::kCount : Counting::kDoNotCount);
    }
    addStatusKeys(r, i, s, i + 1 == selected);
  }
  if (notAvailable) {
    addText(r, "SolutionSelectedNotAvail", "1");
    addNumber(r, "SolutionSelectedNotAvail0SolutionNumber", requested);
  }
  addNumber(r, "CurrentSolution", count > 0 ? selected : 0);
  setCount(r, kSolutionLoop, count);
  setCount(r, kPingLoop, count);
  const char* path = view == FullView::kBuilt ? kMainPageTemplate : kMainFailTemplate;
  addText(r, kHtmlPathKey, count == 0 ? kNoSolutionTemplate : path);
  return reply.release();
}

VariableTable getMonitorMethod(VariableTable request) { return buildMonitorReply(request, false); }

VariableTable getMainPageMethod(VariableTable) {
  VariableTable reply = nullptr;
  addText(&reply, kHtmlPathKey, kMainFrameTemplate);
  return reply;
}

}  // namespace brivo
