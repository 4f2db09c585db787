// The storage solutions of the monitor page; see solution_list.h.
#include "modules/brivo/pages/solution_list.h"

#include <cstring>

#include "modules/brivo/device_state.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/monitor/enclosure_watch.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

int32_t SolutionEntry::modStatus() const {
  if (firstItem == nullptr) return UNCLAIMED;
  return __atomic_load_n(&firstItem->modStatus, __ATOMIC_RELAXED);
}

int32_t SolutionEntry::failures() const { return pair.found() ? loadField(pair.state->failureCount) : 0; }

int32_t SolutionEntry::eventNumberA() const {
  if (!monitoredHere() || !pair.found()) return kEventNumberNotMonitored;
  return loadField(pair.state->lastAEventIndex);
}

int32_t SolutionEntry::eventNumberB() const {
  if (!monitoredHere() || !pair.found()) return kEventNumberNotMonitored;
  return loadField(pair.state->lastBEventIndex);
}

uint32_t SolutionEntry::enclosureChanges() const {
  return pair.found() ? monitor::enclosureChangeCount(pair.state) : 0;
}

std::vector<SolutionEntry> listSolutions(DeviceRecord* list) {
  std::vector<SolutionEntry> solutions;
  if (list == nullptr) list = moduleState().deviceList.load();
  for (DeviceRecord* device = list; device != nullptr; device = device->next) {
    ModDeviceItem* item = findBrivoItem(device);
    if (item == nullptr || isUnreadItem(item)) continue;
    bool listed = false;
    for (const SolutionEntry& known : solutions) listed = listed || known.name == item->name;
    if (listed) continue;
    if (static_cast<int>(solutions.size()) >= kMaxSolutions) break;
    SolutionEntry entry;
    entry.name = item->name;
    entry.firstDevice = device;
    entry.firstItem = item;
    solutions.push_back(std::move(entry));
  }
  // Path choice may exchange states between paths of one name: done once the walk is over.
  for (SolutionEntry& entry : solutions) {
    PairTarget& pair = entry.pair;
    pair.name = entry.name;
    pair.device = findControllerPairIn(list, entry.name.c_str(), &pair.item);
    pair.state = pair.item != nullptr ? stateOf(pair.item) : nullptr;
    if (pair.state == nullptr) pair.device = nullptr;
  }
  return solutions;
}

std::string solutionName(int number) {
  if (number < 1) return "";
  std::vector<SolutionEntry> solutions = listSolutions();
  if (number > static_cast<int>(solutions.size())) return "";
  return solutions[number - 1].name;
}

}  // namespace brivo
