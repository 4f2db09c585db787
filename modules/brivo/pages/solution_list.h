// The storage solutions the monitor page lists: one per distinct ModDeviceName met while walking
// the server's device list (names compared exactly, at most 40), numbered from 1 in that order.
// Each entry names the first device met with the name (its item carries the claim status and the
// owner's address) and the path that requests use (pair_paths.h; its state holds the event
// bookmarks and the failure count).
//
// Thread safety: any request thread. The device list does not change while requests are served
// (a rescan restarts the server); states are reached through the atomic accessors.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "common/device_list.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

// Most solutions the monitor page lists.
inline constexpr int kMaxSolutions = 40;
// Event number of a pair this server does not monitor: pings never differ on it.
inline constexpr int32_t kEventNumberNotMonitored = 2147483647;

struct SolutionEntry {
  std::string name;  // ModDeviceName
  DeviceRecord* firstDevice = nullptr;
  ModDeviceItem* firstItem = nullptr;  // claim status and owner address
  PairTarget pair;                     // the chosen path (found() false when no path has a state)

  int32_t modStatus() const;
  bool monitoredHere() const { return modStatus() == MINE; }
  // The chosen path's failure count (0 without a path).
  int32_t failures() const;
  // Last handled A-side and B-side event index, or kEventNumberNotMonitored when another server
  // (or nobody) monitors the pair.
  int32_t eventNumberA() const;
  int32_t eventNumberB() const;
  // Changes of the pair's SES enclosures seen by the monitor.
  uint32_t enclosureChanges() const;
};

// The solutions of list (null: the list last handed to acceptDeviceList), in order.
std::vector<SolutionEntry> listSolutions(DeviceRecord* list = nullptr);

// ModDeviceName of solution number (from 1) of the current list; empty when there is none.
std::string solutionName(int number);

}  // namespace brivo
