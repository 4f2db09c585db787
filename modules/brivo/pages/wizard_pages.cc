// The disk configuration wizard: DiskConfigWizard proposes arrays, hot spares and logical drives
// for the pair's unused drives (and logical drives in the free space of its arrays, read with the
// second form of region information, READ BUFFER 0x20 bytes 3-4 = 1/0xF0); the administrator
// adjusts the proposal and DiskConfigWizardSubmit builds it (layout_plan.h).
//
// Proposal: the unused good drives are grouped by capacity, block size and interface; a group of
// four or more drives becomes one array (RAID 5, at most 16 members each) and keeps its last drive
// as a global spare, three drives RAID 5, two RAID 1, a lone drive a global spare. Each proposed
// array gets one logical drive over all its space, on every host port, at the next free host LUN.
//
// Page keys: "ModDeviceName"; "WizardArrayLoop" (Drives: the WWNs joined by commas, DriveCount,
// DriveGb, Name, Level, LdName, LdLun; nested "LevelLoop" with Code, Text, Selected: the RAID
// levels the drive count allows); "WizardSpareLoop" (Wwn, Slot, DriveGb); "WizardRegionLoop"
// (Array, SizeGb, Lun: free space on existing arrays); "NothingToConfigure" when all three are
// empty; "TotalUnusedDrives".
//
// Submit keys, rows from 0 under each count: "ArrayCount", "Array%dCreate", "Array%dDrives",
// "Array%dLevel" (code as on the create-array page: 5, 16 for RAID 10, 80 for RAID 50),
// "Array%dName", "Array%dInitialize", "Array%dLdGb" (0 none, "all" or a number), "Array%dLdName",
// "Array%dLdLun" (empty: none); "SpareCount", "Spare%dCreate", "Spare%dWwn"; "RegionCount",
// "Region%dCreate", "Region%dArray", "Region%dGb", "Region%dName", "Region%dLun". Anything
// malformed refuses the whole request with result 251 before a command is sent.
//
// Thread safety: request threads under the writer side of the admission gate.
#include <algorithm>
#include <map>
#include <memory>
#include <string>
#include <tuple>
#include <vector>

#include "modules/brivo/controller_traits.h"
#include "modules/brivo/pages/layout_pages.h"
#include "modules/brivo/pages/lun_rules.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/pages/rank_block.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kWizardTemplate[] = "../../html/Brivo/wizard/disk_wizard.htm";
constexpr char kSubmitKey[] = "DiskConfigWizardSubmit";
constexpr uint8_t kLevels[] = {kRaid0, kRaid1, kRaid3, kRaid5, kRaid6, kRaid10, kRaid50};
constexpr int kMaxRows = 256;

uint64_t driveGb(const DriveListEntry& d) {
  const uint64_t size = d.blockSize != 0 ? d.blockSize : 512;
  return d.blocks * size >> 30;
}

struct Proposal {
  std::vector<std::vector<int>> arrays;  // drive-list indexes
  std::vector<int> spares;
};

Proposal propose(const DriveList& drives) {
  std::map<std::tuple<uint64_t, uint16_t, uint8_t>, std::vector<int>> groups;
  for (int i = 0; i < drives.count && i < kMaxDrives; ++i) {
    const DriveListEntry& d = drives.entries[i];
    if (d.status == kDriveGood && d.usage == kUsageFree)
      groups[{driveGb(d), d.blockSize, d.interfaceType}].push_back(i);
  }
  Proposal proposal;
  for (auto& [key, members] : groups) {
    if (members.size() == 1 || members.size() >= 4) {
      proposal.spares.push_back(members.back());
      members.pop_back();
    }
    for (size_t start = 0; start < members.size(); start += kMaxMembers) {
      const size_t end = std::min(members.size(), start + kMaxMembers);
      proposal.arrays.emplace_back(members.begin() + static_cast<long>(start),
                                   members.begin() + static_cast<long>(end));
    }
  }
  return proposal;
}

uint8_t proposedLevel(size_t count) { return count >= 3 ? kRaid5 : count == 2 ? kRaid1 : kRaid0; }

void addArrayRows(VariableTable* reply, const DriveList& drives, const Proposal& proposal, int* lun,
                  const std::vector<int>& freeLuns) {
  constexpr char kList[] = "WizardArrayLoop";
  for (size_t i = 0; i < proposal.arrays.size(); ++i) {
    const int row = static_cast<int>(i);
    const std::vector<int>& members = proposal.arrays[i];
    std::string wwns;
    for (int index : members) wwns += (wwns.empty() ? "" : ",") + wwnText(drives.entries[index].wwn);
    const uint8_t level = proposedLevel(members.size());
    addRowText(reply, kList, row, "Drives", wwns);
    addRowNumber(reply, kList, row, "DriveCount", static_cast<long long>(members.size()));
    addRowNumber(reply, kList, row, "DriveGb",
                 static_cast<long long>(driveGb(drives.entries[members.front()])));
    addRowText(reply, kList, row, "Name", "array-" + std::to_string(i));
    addRowNumber(reply, kList, row, "Level", level);
    addRowText(reply, kList, row, "LdName", "volume-" + std::to_string(i));
    addRowText(reply, kList, row, "LdLun",
               *lun < static_cast<int>(freeLuns.size()) ? std::to_string(freeLuns[*lun]) : "");
    ++*lun;
    int option = 0;
    const std::string nested = rowKey(kList, row, "LevelLoop");
    for (uint8_t code : kLevels) {
      if (!raidLevelFits(code, static_cast<int>(members.size()))) continue;
      addRowNumber(reply, nested.c_str(), option, "Code", code);
      addRowText(reply, nested.c_str(), option, "Text", raidLevelText(code));
      addRowFlag(reply, nested.c_str(), option, "Selected", code == level);
      ++option;
    }
    setCount(reply, nested.c_str(), option);
  }
  setCount(reply, kList, static_cast<int>(proposal.arrays.size()));
}

std::vector<int> freeLunsOf(const ConfigurationBlock& config) {
  std::vector<bool> used(kMaxHostLuns, false);
  for (const LogicalDriveRecord& d : config.logicalDrives) {
    if (d.valid == kOn && d.hostLun < kMaxHostLuns) used[d.hostLun] = true;
  }
  std::vector<int> free;
  for (int lun = 0; lun < kMaxHostLuns; ++lun) {
    if (!used[lun]) free.push_back(lun);
  }
  return free;
}

// ---- Submit ----

std::string key(const char* list, int row, const char* field) { return list + std::to_string(row) + field; }

bool rowCount(VariableTable request, const char* name, long* count) {
  return requestField(request, name, 0, kMaxRows, count) != FieldState::kBad;
}

// The size of a logical drive: "all" (0: the whole region), a number, or empty/0 (none: -1).
bool ldSize(const char* text, long* gb) {
  const std::string value = text != nullptr ? text : "";
  if (value == "all") {
    *gb = 0;
    return true;
  }
  if (value.empty() || value == "0") {
    *gb = -1;
    return true;
  }
  if (value.size() > 5 || value.find_first_not_of("0123456789") != std::string::npos) return false;
  *gb = std::stol(value);
  return *gb > 0 && *gb <= 0xFFFF;
}

bool ldLun(const char* text, int* lun) {
  const std::string value = text != nullptr ? text : "";
  if (value.empty()) {
    *lun = -1;
    return true;
  }
  if (value.size() > 3 || value.find_first_not_of("0123456789") != std::string::npos) return false;
  *lun = std::stoi(value);
  return *lun < kMaxHostLuns;
}

bool shortName(const char* text, std::string* name) {
  *name = text != nullptr ? text : "";
  return name->size() <= 32;
}

class SubmitReader {
 public:
  SubmitReader(VariableTable request, uint8_t availability)
      : request_(request), availability_(availability) {}

  // False with *bad naming the first unusable key.
  bool read(LayoutPlan* plan, std::string* bad) {
    long arrays = 0, spares = 0, regions = 0;
    if (!rowCount(request_, "ArrayCount", &arrays) || !rowCount(request_, "SpareCount", &spares) ||
        !rowCount(request_, "RegionCount", &regions)) {
      *bad = "count";
      return false;
    }
    for (int i = 0; i < arrays; ++i) {
      if (requestFlag(request_, key("Array", i, "Create").c_str()) && !readArray(i, plan, bad)) return false;
    }
    for (int i = 0; i < spares; ++i) {
      if (!requestFlag(request_, key("Spare", i, "Create").c_str())) continue;
      PlannedSpare spare;
      if (!parseWwn(getVariable(request_, key("Spare", i, "Wwn").c_str()), spare.wwn)) {
        *bad = key("Spare", i, "Wwn");
        return false;
      }
      plan->spares.push_back(spare);
    }
    for (int i = 0; i < regions; ++i) {
      if (requestFlag(request_, key("Region", i, "Create").c_str()) && !readRegion(i, plan, bad))
        return false;
    }
    return true;
  }

 private:
  bool readArray(int i, LayoutPlan* plan, std::string* bad) {
    VariableTable fields = nullptr;
    std::string name;
    long level = 0, gb = 0;
    int lun = -1;
    const char* drives = getVariable(request_, key("Array", i, "Drives").c_str());
    std::vector<std::string> wwns;
    for (size_t start = 0; drives != nullptr;) {
      const std::string all(drives);
      const size_t comma = all.find(',', start);
      wwns.push_back(all.substr(start, comma == std::string::npos ? std::string::npos : comma - start));
      if (comma == std::string::npos || wwns.size() > kMaxMembers) break;
      start = comma + 1;
    }
    *bad = key("Array", i, "");
    if (drives == nullptr || wwns.size() > kMaxMembers ||
        requestField(request_, key("Array", i, "Level").c_str(), 0, 0x50, &level) != FieldState::kValue ||
        !shortName(getVariable(request_, key("Array", i, "Name").c_str()), &name) ||
        !ldSize(getVariable(request_, key("Array", i, "LdGb").c_str()), &gb) ||
        !ldLun(getVariable(request_, key("Array", i, "LdLun").c_str()), &lun))
      return false;
    // The creation block is built the way the create-array page's request builds it.
    addVariable(&fields, "RaidLevel", std::to_string(level).c_str());
    addVariable(&fields, "ArrayName", name.c_str());
    addVariable(&fields, "Initialize",
                requestFlag(request_, key("Array", i, "Initialize").c_str()) ? "1" : "0");
    if (level == kRaid50) addVariable(&fields, "NumberOfParityDrives", "2");
    for (size_t m = 0; m < wwns.size(); ++m)
      addVariable(&fields, ("Drive" + std::to_string(m)).c_str(), wwns[m].c_str());
    PlannedArray array;
    std::string badKey;
    const bool built = buildCreateArrayBlock(fields, &array.block, &badKey);
    freeVariableTable(&fields);
    if (!built || array.block.driveCount != wwns.size()) return false;
    plan->arrays.push_back(array);
    if (gb >= 0) {
      PlannedDrive drive;
      drive.segments.push_back({static_cast<int>(plan->arrays.size()) - 1, -1, static_cast<uint32_t>(gb)});
      if (!shortName(getVariable(request_, key("Array", i, "LdName").c_str()), &drive.name)) return false;
      drive.hostLun = lun;
      drive.availability = availability_;
      plan->drives.push_back(drive);
    }
    return true;
  }

  bool readRegion(int i, LayoutPlan* plan, std::string* bad) {
    long array = 0, gb = 0;
    PlannedDrive drive;
    *bad = key("Region", i, "");
    if (requestField(request_, key("Region", i, "Array").c_str(), 0, kMaxArrays - 1, &array) !=
            FieldState::kValue ||
        !ldSize(getVariable(request_, key("Region", i, "Gb").c_str()), &gb) || gb < 0 ||
        !shortName(getVariable(request_, key("Region", i, "Name").c_str()), &drive.name) ||
        !ldLun(getVariable(request_, key("Region", i, "Lun").c_str()), &drive.hostLun))
      return false;
    drive.segments.push_back({0, static_cast<int>(array), static_cast<uint32_t>(gb)});
    drive.availability = availability_;
    plan->drives.push_back(drive);
    return true;
  }

  VariableTable request_;
  uint8_t availability_;
};

// Every host port the pair offers a new drive on.
uint8_t allPorts(const PairTarget& pair) {
  VariableTable ports = nullptr;
  for (const char* port : {"PortC0P0", "PortC0P1", "PortC1P0", "PortC1P1"}) addVariable(&ports, port, "true");
  const uint8_t availability = newDriveAvailability(traitsOf(*pair.state), ports);
  freeVariableTable(&ports);
  return availability;
}

}  // namespace

VariableTable diskConfigWizardMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  auto drives = std::make_unique<DriveList>();
  auto regions = std::make_unique<RegionInformation>();
  std::unique_ptr<ConfigurationBlock> config = newConfigurationBlock();
  if (pair.found() && config != nullptr) {
    result = readDriveList(pair, drives.get(), &failed);
    if (result == kResultGood) result = readConfiguration(pair, config.get(), &failed);
    if (result == kResultGood) result = readFreeRegions(pair, regions.get(), &failed);
  }
  if (result != kResultGood) {
    freeVariableTable(&reply);
    reply = commandPopupReply(request, "DiskConfigWizard", result, failed, false);
    return reply;
  }
  const Proposal proposal = propose(*drives);
  const std::vector<int> luns = freeLunsOf(*config);
  int lun = 0;
  addArrayRows(&reply, *drives, proposal, &lun, luns);
  for (size_t i = 0; i < proposal.spares.size(); ++i) {
    const DriveListEntry& d = drives->entries[proposal.spares[i]];
    addRowText(&reply, "WizardSpareLoop", static_cast<int>(i), "Wwn", wwnText(d.wwn));
    addDriveIdentity(&reply, "WizardSpareLoop", static_cast<int>(i), proposal.spares[i], d);
    addRowNumber(&reply, "WizardSpareLoop", static_cast<int>(i), "DriveGb",
                 static_cast<long long>(driveGb(d)));
  }
  setCount(&reply, "WizardSpareLoop", static_cast<int>(proposal.spares.size()));
  int row = 0;
  for (int i = 0; i < regions->count && i < kMaxRegions && row < kMaxRows; ++i) {
    const RegionEntry& e = regions->entries[i];
    if (e.kind != kRegionFree || e.sizeGb == 0) continue;
    addRowNumber(&reply, "WizardRegionLoop", row, "Array", e.array);
    addRowNumber(&reply, "WizardRegionLoop", row, "SizeGb", e.sizeGb);
    addRowText(&reply, "WizardRegionLoop", row, "Lun",
               lun < static_cast<int>(luns.size()) ? std::to_string(luns[lun]) : "");
    ++lun;
    ++row;
  }
  setCount(&reply, "WizardRegionLoop", row);
  int unused = 0;
  for (int i = 0; i < drives->count && i < kMaxDrives; ++i)
    unused += drives->entries[i].status == kDriveGood && drives->entries[i].usage == kUsageFree ? 1 : 0;
  addNumber(&reply, "TotalUnusedDrives", unused);
  addFlag(&reply, "NothingToConfigure", proposal.arrays.empty() && proposal.spares.empty() && row == 0);
  addText(&reply, kHtmlPathKey, kWizardTemplate);
  return reply;
}

VariableTable diskConfigWizardSubmitMethod(VariableTable request) {
  printRequest(request);
  const PairTarget pair = pairOfRequest(request);
  if (!pair.found()) return commandPopupReply(request, kSubmitKey, kResultBadArguments, ControllerCommand{});
  LayoutPlan plan;
  std::string bad;
  if (!SubmitReader(request, allPorts(pair)).read(&plan, &bad))
    return refusedLayout(request, kSubmitKey, "LayoutMalformed", bad);
  return buildLayout(request, kSubmitKey, pair, plan);
}

}  // namespace brivo
