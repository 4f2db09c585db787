// PingPage: the monitor page's refresh poll. The browser sends what it last displayed (each
// pair's event numbers and enclosure change count under the names the monitor page gave it, and
// the arrays whose progress bars it shows); the reply says whether the page must be reloaded
// and carries the current progress percents so the bars move without a reload.
//
// Our own reply key: "PercentLoop%dModDeviceName" (the pair of the progress row).
//
// Thread safety: a request thread holding the admission gate as a reader.
#include <cstdint>
#include <cstring>
#include <iterator>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/pages/array_progress.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/snapshot_areas.h"
#include "modules/brivo/pages/solution_list.h"

namespace brivo {

namespace {

constexpr char kPingTemplate[] = "../../html/Brivo/main/mainping.htm";
constexpr char kGuiDevicePrefix[] = "GuiDevice_";
constexpr char kPercentPrefix[] = "Percent_";
constexpr int32_t kFailuresShownAsLost = 2;

// The controller information (and job progress) of one pair, read once per ping.
struct ProgressSource {
  int result = kResultNoAnswer;
  std::unique_ptr<ControllerInformation> info;
  std::unique_ptr<JobProgress> jobs;
};

ProgressSource readProgress(const PairTarget& pair) {
  ProgressSource source;
  source.info.reset(new (std::nothrow) ControllerInformation());
  if (!source.info || !pair.found()) return source;
  source.result = readControllerInformation(pair, source.info.get());
  if (source.result != kResultGood || source.info->jobBufferAvailable != kOn) return source;
  source.jobs.reset(new (std::nothrow) JobProgress());
  if (source.jobs && readJobProgress(pair, source.jobs.get()) != kResultGood) source.jobs.reset();
  return source;
}

bool differs(const char* sent, long long current) {
  return sent == nullptr || std::to_string(current) != sent;
}

void removeAll(VariableTable* table, const std::string& key) {
  while (getVariable(*table, key.c_str()) != nullptr) removeVariable(table, key.c_str());
}

// Steps 1 and 2: compares what the browser showed with the pairs as they are now.
bool pairsChanged(VariableTable* sent, const std::vector<SolutionEntry>& solutions) {
  bool update = false;
  for (const SolutionEntry& s : solutions) {
    const std::string keyA = kGuiDevicePrefix + s.name + "A";
    const std::string keyB = kGuiDevicePrefix + s.name + "B";
    const char* a = getVariable(*sent, keyA.c_str());
    const char* b = getVariable(*sent, keyB.c_str());
    if (a == nullptr && b == nullptr) update = true;
    if (differs(a, s.eventNumberA()) || differs(b, s.eventNumberB())) update = true;
    if (s.failures() > kFailuresShownAsLost) update = true;
    const std::string enclosureKey = "GuiDeviceEnclosure_" + s.name;
    if (differs(getVariable(*sent, enclosureKey.c_str()), s.enclosureChanges())) update = true;
    removeAll(sent, keyA);
    removeAll(sent, keyB);
  }
  // A pair the browser shows that no longer exists.
  for (const VariableEntry* e = *sent; e != nullptr; e = e->next) {
    if (std::strncmp(e->key, kGuiDevicePrefix, sizeof(kGuiDevicePrefix) - 1) == 0) update = true;
  }
  return update;
}

// Step 3: one row per progress bar the browser shows; a bar whose job ended asks for a reload.
bool progressRows(VariableTable request, VariableTable* reply) {
  std::map<std::string, ProgressSource> sources;
  bool update = false;
  int row = 0;
  for (const VariableEntry* e = request; e != nullptr; e = e->next) {
    if (std::strncmp(e->key, kPercentPrefix, sizeof(kPercentPrefix) - 1) != 0) continue;
    const std::string name = e->key + sizeof(kPercentPrefix) - 1;
    auto found = sources.find(name);
    if (found == sources.end()) found = sources.emplace(name, readProgress(findPair(name.c_str()))).first;
    const ProgressSource& source = found->second;
    char* end = nullptr;
    const long array = std::strtol(e->value, &end, 10);
    const bool valid = end != e->value && *end == '\0' && array >= 0 && array < kMaxArrays;
    const int percent = valid && source.result == kResultGood
                            ? arrayProgressPercent(*source.info, source.jobs.get(), static_cast<int>(array))
                            : -1;
    if (percent < 0) {
      update = true;
      continue;
    }
    addRowNumber(reply, "PercentLoop", row, "ArrayNum", array);
    addRowNumber(reply, "PercentLoop", row, "ArrayPercent", percent);
    addRowText(reply, "PercentLoop", row, "ModDeviceName", name);
    ++row;
  }
  setCount(reply, "PercentLoop", row);
  return update;
}

// Step 4: snapbacks running on the pair shown in full.
void snapbackRows(const SolutionEntry* shown, VariableTable* reply) {
  int row = 0;
  if (shown != nullptr && shown->monitoredHere() && shown->pair.found()) {
    PairSnapshots snapshots;
    ControllerCommand ignored;
    if (readPairSnapshots(shown->pair, &snapshots, &ignored) != kResultGood) snapshots.areas.clear();
    for (const SnapshotArea& area : snapshots.areas) {
      if ((area.flags & kSnapSnapback) == 0) continue;
      const int lun = area.sourceHostLun != kLunNone ? area.sourceHostLun : area.sourceDrive;
      consolePrint("**PingPage - Returning SnapBack Percent For LUN %d - Percent %d\n", lun,
                   area.snapbackPercent);
      addRowNumber(reply, "SnapBackPercentLoop", row, "LUNNum", lun);
      addRowNumber(reply, "SnapBackPercentLoop", row, "LUNPercent", area.snapbackPercent);
      ++row;
    }
  }
  setCount(reply, "SnapBackPercentLoop", row);
}

}  // namespace

VariableTable pingPageMethod(VariableTable request) {
  TableOwner reply;
  const char* number = getVariable(request, "SolutionNumber");
  const std::string solutionNumber = number != nullptr ? number : "1";
  addText(reply.address(), "SolutionNumber", solutionNumber);
  TableOwner sent(copyVariableTable(request));
  const std::vector<SolutionEntry> solutions = listSolutions();
  bool update = pairsChanged(sent.address(), solutions);
  update = progressRows(request, reply.address()) || update;
  const long shown = requestNumber(request, "SolutionNumber", 1);
  snapbackRows(shown >= 1 && shown <= static_cast<long>(solutions.size()) ? &solutions[shown - 1] : nullptr,
               reply.address());
  // Read and cleared at every ping, whether or not the page reloads for another reason.
  if (takeConfigurationChanged()) update = true;
  if (update) addText(reply.address(), "UpdatePage", "true");
  addText(reply.address(), kHtmlPathKey, kPingTemplate);
  return reply.release();
}

}  // namespace brivo
