// The controller and drive-loop keys of the monitor page's full view; see full_view.h.
#include <cstdio>

#include "modules/brivo/module_status.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_texts.h"

namespace brivo {

namespace {

bool hasArrays(const ConfigurationBlock& config) {
  const int count = config.header.arrayCount < kMaxArrays ? config.header.arrayCount : kMaxArrays;
  for (int n = 0; n < count; ++n) {
    if (config.arrays[n].valid == kOn) return true;
  }
  return false;
}

int hostLogicalDrives(const ConfigurationBlock& config) {
  int count = 0;
  for (const LogicalDriveRecord& drive : config.logicalDrives) {
    if (drive.valid == kOn && (drive.availability & kAvailabilityInternal) == 0) ++count;
  }
  return count;
}

// A drive seen on one loop but not the other while the pair has two.
bool driveMismatch(const DriveList& drives, const ControllerTraits& traits) {
  if (traits.driveLoops < 2) return false;
  const int count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    const bool on1 = drives.entries[i].loop1Id != kNotOnLoop;
    const bool on2 = drives.entries[i].loop2Id != kNotOnLoop;
    if (on1 != on2) return true;
  }
  return false;
}

bool loopUp(uint8_t state, const DriveList& drives, int loop) {
  if (state == kOff) return false;
  const int count = drives.count < kMaxDrives ? drives.count : kMaxDrives;
  for (int i = 0; i < count; ++i) {
    const uint8_t id = loop == 1 ? drives.entries[i].loop1Id : drives.entries[i].loop2Id;
    if (id == kNotOnLoop) return false;
  }
  return true;
}

void addLoopKeys(VariableTable* reply, const FullViewInput& in) {
  const ControllerInformation& info = *in.buffers->info;
  const ControllerRecord* first = firstValidController(info);
  const uint8_t states[2] = {first != nullptr ? first->driveLoop1State : kOff,
                             first != nullptr ? first->driveLoop2State : kOff};
  for (int loop = 1; loop <= 2; ++loop) {
    const uint8_t state = states[loop - 1];
    char key[16];
    std::snprintf(key, sizeof(key), "Loop%dImg", loop);
    addText(reply, key, statusTextByte("LoopStatusImg", state));
    std::snprintf(key, sizeof(key), "Loop%dStatus", loop);
    addText(reply, key, statusTextByte("DriveLoopStatus", state));
    std::snprintf(key, sizeof(key), "Loop%dUp", loop);
    addFlag(reply, key, loopUp(state, *in.buffers->drives, loop));
  }
  addFlag(reply, "DualDriveLoops", in.traits.driveLoops >= 2);
}

}  // namespace

void addControllerSummary(VariableTable* reply, const FullViewInput& in) {
  const ControllerInformation& info = *in.buffers->info;
  const bool dualMode = in.buffers->config->header.singleControllerMode == kOff;
  const uint8_t states[2] = {info.stateA, info.stateB};
  int shown = 0;
  uint32_t combined = kStatusOk;
  for (int c = 0; c < 2; ++c) {
    const bool present = states[c] == kOn;
    const bool show = present || dualMode;
    uint32_t health = kStatusOk;
    if (present) {
      health =
          monitor::controllerHealth(info.controllers[c], in.traits.type, in.batteryPercentWarning).status;
    } else if (dualMode) {
      health = kStatusError;
    }
    if (show) {
      ++shown;
      combined = combineStatus(combined, health);
    }
    const std::string letter = controllerLetter(c);
    addFlag(reply, ("Controller" + letter).c_str(), show);
    addText(reply, ("Controller" + letter + "Status").c_str(), statusTextByte("ControllerStatus", states[c]));
    addText(reply, ("Controller" + letter + "Class").c_str(), statusClass(health));
  }
  char key[32];
  std::snprintf(key, sizeof(key), "Controllers%dImg", shown);
  addText(reply, "ControllersImg", statusTextByte(key, combined));
  addText(reply, "ControllersClass", statusClass(combined));
  addFlag(reply, "ArrayInitPauseAllowed", info.jobBufferAvailable == kOn);
  addLoopKeys(reply, in);
}

void addFullView(VariableTable* reply, const FullViewInput& in) {
  const ConfigurationBlock& config = *in.buffers->config;
  const int drives = hostLogicalDrives(config);
  addFlag(reply, "ArraysAvailable", hasArrays(config));
  addFlag(reply, "LdsAvailable", drives > 0);
  addNumber(reply, "NumOfLD", drives);
  addFlag(reply, "DriveMismatchInColumn", driveMismatch(*in.buffers->drives, in.traits));
  addControllerSummary(reply, in);
  addArrayRows(reply, in);
  addLogicalDriveRows(reply, in);
  addHostPortRows(reply, in);
  addDriveRows(reply, in);
  addEnclosureRows(reply, in);
  if (in.report != nullptr) addProblemRows(reply, *in.report, {in.buffers->info.get(), in.buffers->drives.get()});
}

}  // namespace brivo
