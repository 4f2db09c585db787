// The data-altering logical-drive methods: CreateNewHostLun, ExpandHostLun, ChangeHostLunParams
// and DeleteHostLun. Each brackets its operations between a configuration start (0x80) and save
// (0x82), notes the outcome for the pair's failure counting, waits until the controller takes
// commands again and answers with a command result.
//
// Capacity goes over the free regions the form sent ("RegionNumber%d"/"RegionSpace%d", rows from
// 0): each region consumed earlier in the request shifts the later region indexes down by one,
// because the controller counts free regions only. Before anything is sent the rows must hold the
// capacity asked for, and a creation must still make the drive number the page showed; otherwise
// the controller would be asked for a smaller drive than the user chose, or the growth and host
// LUN would land on another drive.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <algorithm>
#include <cstring>
#include <functional>
#include <memory>
#include <string>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/lun_rules.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

// Rows of region keys are looked for up to this index (the row counter is 16-bit).
constexpr long kRegionRowLimit = 0xFFFF;

struct RegionRow {
  long index = 0;
  long space = 0;
};

// The rows of the request that carry a region, in row order.
std::vector<RegionRow> requestRegions(VariableTable request) {
  std::vector<RegionRow> rows;
  for (long i = 0; i < kRegionRowLimit; ++i) {
    const std::string row = std::to_string(i);
    const long index = requestNumber(request, ("RegionNumber" + row).c_str(), -1);
    if (index < 0) continue;
    rows.push_back({index, std::max(0L, requestNumber(request, ("RegionSpace" + row).c_str(), 0))});
  }
  return rows;
}

bool regionsHold(const std::vector<RegionRow>& rows, long capacity) {
  long long total = 0;
  for (const RegionRow& row : rows) total += row.space;
  return total >= capacity;
}

// Spreads capacity over the rows; send(regionIndex, sizeGb, first) sends one region's command.
// Stops at the first failure and returns it (0 when every command succeeded).
int spreadCapacity(const std::vector<RegionRow>& rows, long capacity, uint16_t drive,
                   const std::function<int(uint16_t, uint16_t, bool)>& send) {
  long remaining = capacity;
  int used = 0;
  for (const RegionRow& row : rows) {
    if (remaining <= 0) break;
    const long region = row.index - used;
    const long size = std::min(row.space, remaining);
    consolePrint("For lun %d, using free region %ld, %ld GB\n", drive, region, size);
    const int result = send(static_cast<uint16_t>(region), static_cast<uint16_t>(size), used == 0);
    if (result != kResultGood) return result;
    ++used;
    remaining -= size;
  }
  return kResultGood;
}

void copyName(char* field, size_t width, const char* name) {
  std::memset(field, 0, width);
  if (name != nullptr) std::memcpy(field, name, strnlen(name, width));
}

int growDrive(const PairTarget& pair, uint16_t drive, uint16_t region, uint16_t size,
              ControllerCommand* failed) {
  GrowLogicalDriveBlock grow{};
  grow.sizeGb = size;
  grow.region = region;
  return sendOperation(pair, kOpGrowLogicalDrive, static_cast<uint8_t>(drive >> 8),
                       static_cast<uint8_t>(drive), 0, &grow, sizeof(grow), failed);
}

int setHostLun(const PairTarget& pair, uint16_t drive, uint16_t lun, ControllerCommand* failed) {
  SetHostLunBlock block{};
  block.logicalDrive = drive;
  block.hostLun = lun;
  return sendOperation(pair, kOpSetHostLun, 0, 0, 0, &block, sizeof(block), failed);
}

// What a creation needs besides the request's numbers.
struct CreationPlan {
  uint8_t availability = 0;
  int lun = kNoHostLun;
  bool internal = false;
  bool internalWithoutLun = false;
  bool stale = false;  // the page's drive number is no longer the next one
  int readResult = kResultGood;
};

CreationPlan planCreation(const PairTarget& pair, VariableTable request, uint16_t drive,
                          ControllerCommand* failed) {
  CreationPlan plan;
  plan.internal = requestFlag(request, "CreateInternalLd");
  plan.lun = static_cast<int>(requestNumber(request, "MappedLunNumber", kNoHostLun));
  if (!pair.found()) return plan;
  plan.availability =
      plan.internal ? kAvailabilityInternal : newDriveAvailability(traitsOf(*pair.state), request);
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  if (config == nullptr) {
    plan.readResult = kResultBadArguments;
    return plan;
  }
  plan.readResult = readConfiguration(pair, config.get(), failed);
  if (plan.readResult != kResultGood) return plan;
  plan.stale = drive != kNoDriveNumber && nextDriveNumber(*config) != drive;
  if (plan.internal) {
    ControllerInformation info{};
    plan.readResult = readControllerInformation(pair, &info, failed);
    if (plan.readResult != kResultGood) return plan;
    plan.lun = freeHostLunForInternalDrive(*config, info);
    plan.internalWithoutLun = plan.lun == kNoHostLun;
  }
  return plan;
}

int createDrive(const PairTarget& pair, VariableTable request, uint16_t drive, const CreationPlan& plan,
                long capacity, const std::vector<RegionRow>& rows, ControllerCommand* failed) {
  CreateLogicalDriveBlock create{};
  create.availability = plan.availability;
  const long blockSize = requestNumber(request, "BlockSizeBytes", 512);
  create.blockSizeCode = static_cast<uint16_t>(blockSize == 512 ? 0 : blockSize);
  copyName(create.name, sizeof(create.name), getVariable(request, "HostLunName"));
  int result = startConfigChange(pair, failed);
  if (result != kResultGood) return result;
  result = spreadCapacity(rows, capacity, drive, [&](uint16_t region, uint16_t size, bool first) {
    if (!first) {
      consolePrint("Expanding lun...\n");
      const int grown = growDrive(pair, drive, region, size, failed);
      consolePrint("Expanding lun Done.\n");
      return grown;
    }
    create.sizeGb = size;
    create.region = region;
    consolePrint("Creating base lun...\n");
    const int created = sendOperation(pair, kOpCreateLogicalDrive, 0, 0, 0, &create, sizeof(create), failed);
    consolePrint("Creating base lun Done\n");
    return created;
  });
  if (result != kResultGood) return result;
  if (!plan.internalWithoutLun) {
    result = setHostLun(pair, drive, static_cast<uint16_t>(plan.lun), failed);
    if (result != kResultGood) return result;
  }
  consolePrint("Saving again...\n");
  result = saveConfigChange(pair, failed);
  if (result == kResultGood) markConfigurationChanged();
  return result;
}

// The changes a ChangeHostLunParams request asks for. A name or host LUN the form did not send is
// left alone (also when the drive's information cannot be read and everything else is sent).
struct LunChange {
  uint8_t availability = 0;
  char name[32] = {};
  uint16_t lun = kLunNone;
  bool changeAvailability = false;
  bool changeName = false;
  bool changeLun = false;
  bool any() const { return changeAvailability || changeName || changeLun; }
};

LunChange plannedChange(const PairTarget& pair, VariableTable request, uint16_t drive) {
  LunChange change;
  change.availability = changedDriveAvailability(request);
  const char* name = getVariable(request, "HostLunName");
  copyName(change.name, sizeof(change.name), name);
  const long lun = requestNumber(request, "MappedLunNumber", -1);
  const bool lunGiven = lun >= 0 && lun <= 0xFFFF;
  change.lun = static_cast<uint16_t>(lunGiven ? lun : kLunNone);
  LogicalDriveRecord record{};
  if (readLogicalDriveRecord(pair, drive, &record) != kResultGood) {
    change.changeAvailability = true;
    change.changeName = name != nullptr;
    change.changeLun = lunGiven;
    return change;
  }
  // An internal drive (a snapshot area) has no host ports: its availability byte stays.
  change.changeAvailability =
      (record.availability & kAvailabilityInternal) == 0 && change.availability != record.availability;
  change.changeName = name != nullptr && std::memcmp(change.name, record.name, sizeof(change.name)) != 0;
  change.changeLun = lunGiven && change.lun != record.hostLun;
  consolePrint("changeAvail = %d changeName = %d\n", change.changeAvailability ? 1 : 0,
               change.changeName ? 1 : 0);
  return change;
}

// Sends every wanted change inside one bracket, each whatever became of the one before, and
// saves only when all of them were taken: a refused one is reported, not hidden behind a later
// success. Returns the first failure or the save's result.
int applyChange(const PairTarget& pair, uint16_t drive, const LunChange& change, ControllerCommand* failed) {
  int result = startConfigChange(pair, failed);
  if (result != kResultGood) return result;
  const uint8_t high = static_cast<uint8_t>(drive >> 8), low = static_cast<uint8_t>(drive);
  int first = kResultGood;
  ControllerCommand command{};
  auto keep = [&](int sent) {
    if (sent != kResultGood && first == kResultGood) {
      first = sent;
      *failed = command;
    }
  };
  if (change.changeAvailability)
    keep(sendOperation(pair, kOpChangeAvailability, high, low, change.availability, nullptr, 0, &command));
  if (change.changeName)
    keep(
        sendOperation(pair, kOpRenameLogicalDrive, high, low, 0, change.name, sizeof(change.name), &command));
  if (change.changeLun) keep(setHostLun(pair, drive, change.lun, &command));
  if (first != kResultGood) return first;
  result = saveConfigChange(pair, failed);
  if (result == kResultGood) markConfigurationChanged();
  return result;
}

// Snapshots of a drive go before the drive: the module's own method, its answer unused.
void disableSnapshots(VariableTable request, int drive) {
  VariableTable odaRequest = nullptr;
  echoDeviceName(&odaRequest, request);
  addNumber(&odaRequest, "LogicalDriveIndex", drive);
  VariableTable odaReply = deleteOdaMethod(odaRequest);
  freeVariableTable(&odaReply);
  freeVariableTable(&odaRequest);
}

}  // namespace

VariableTable createNewHostLunMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long capacity = requestNumber(request, "Capacity", 0);
  const uint16_t drive = static_cast<uint16_t>(requestNumber(request, "NextHostLunNumber", kNoDriveNumber));
  ControllerCommand failed{};
  const bool usable = pair.found() && capacity > 0 && drive != kNoDriveNumber;
  const CreationPlan plan = usable ? planCreation(pair, request, drive, &failed) : CreationPlan{};
  consolePrint("**** LUN CREATION **** \n");
  const std::vector<RegionRow> rows = requestRegions(request);
  int result = kResultBadArguments;
  bool sent = false;
  if (usable && plan.readResult != kResultGood) {
    result = plan.readResult;
  } else if (usable && plan.stale) {
    result = kResultStale;
  } else if (usable && (plan.lun != kNoHostLun || plan.internalWithoutLun) && regionsHold(rows, capacity)) {
    result = createDrive(pair, request, drive, plan, capacity, rows, &failed);
    sent = true;
  }
  if (sent) waitUntilReady(pair);
  VariableTable reply = getCreateNewHostLunInformationMethod(request);
  addControllerCommandResult(&reply, "CreateHostLun", result, failed);
  return reply;
}

VariableTable expandHostLunMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long capacity = requestNumber(request, "Capacity", 0);
  const uint16_t drive = static_cast<uint16_t>(requestNumber(request, "HostLunNumber", kNoDriveNumber));
  const std::vector<RegionRow> rows = requestRegions(request);
  ControllerCommand failed{};
  consolePrint(" \n****                **** \n**** LUN EXPANSION **** \n");
  int result = kResultBadArguments;
  if (pair.found() && capacity > 0 && drive != kNoDriveNumber && regionsHold(rows, capacity)) {
    result = startConfigChange(pair, &failed);
    if (result == kResultGood) {
      result = spreadCapacity(rows, capacity, drive, [&](uint16_t region, uint16_t size, bool) {
        return growDrive(pair, drive, region, size, &failed);
      });
    }
    if (result == kResultGood) {
      consolePrint("Saving again...\n");
      result = saveConfigChange(pair, &failed);
      if (result == kResultGood) markConfigurationChanged();
      consolePrint("Saving again Done.\n");
    }
    waitUntilReady(pair);
  }
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  if (result == kResultGood) addVariable(&reply, "CloseParent", "true");
  addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
  addControllerCommandResult(&reply, "ExpandHostLun", result, failed);
  return reply;
}

VariableTable changeHostLunParamsMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long drive = requestNumber(request, "HostLunNumber", -1);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && drive >= 0 && drive < kMaxLogicalDrives) {
    const LunChange change = plannedChange(pair, request, static_cast<uint16_t>(drive));
    result = kResultGood;
    if (change.any()) {
      result = applyChange(pair, static_cast<uint16_t>(drive), change, &failed);
      waitUntilReady(pair);
    }
  }
  VariableTable reply = getHostLunInformationMethod(request);
  addControllerCommandResult(&reply, "ChangeHostLun", result, failed);
  return reply;
}

VariableTable deleteHostLunMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  const long drive = requestNumber(request, "HostLunNumber", -1);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found() && drive >= 0 && drive < kMaxLogicalDrives) {
    const long reference = requestNumber(request, "LunRefNum", -1);
    if (reference >= 0) {
      LogicalDriveRecord record{};
      if (readLogicalDriveRecord(pair, static_cast<int>(drive), &record) == kResultGood &&
          record.referenceNumber != reference) {
        return commandPopupReply(request, "DeleteHostLun", kResultStale, failed, false);
      }
    }
    disableSnapshots(request, static_cast<int>(drive));
    waitUntilReady(pair);
    result = inConfigChange(pair, &failed, [&] {
      return sendOperation(pair, kOpDeleteLogicalDrive, static_cast<uint8_t>(drive >> 8),
                           static_cast<uint8_t>(drive), 0, nullptr, 0, &failed);
    });
    waitUntilReady(pair);
  }
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  if (result == kResultGood) addVariable(&reply, "CloseParent", "true");
  addVariable(&reply, kHtmlPathKey, kMessagePopupPanel);
  addControllerCommandResult(&reply, "DeleteHostLun", result, failed);
  return reply;
}

}  // namespace brivo
