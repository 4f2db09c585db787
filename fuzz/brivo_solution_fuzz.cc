// Fuzz target: how the Brivo module judges and shows what a controller pair reports: the solution
// status over the controller information, the configuration header with the array records, the
// drive list, the SES pages the monitor caches per enclosure (configuration, status and string
// pages read through the controller) and the snapshot areas; the SES page walks and change checks
// on their own; and the drive and array views of the pages and the command interpreter over the
// same configuration block and drive list. Every byte is the controller's.
//
// Input: a flags byte, the controller type and battery threshold bytes, then 16-bit-length pieces:
// controller information, configuration head (header and array records), logical drive records,
// drive list; an enclosure count byte with three pieces per enclosure (pages 1, 2 and 4); a
// snapshot area count byte and the areas. A short piece leaves the rest of its buffer zero.
//
// Checks: every status is one the module knows; element walks stay inside their page; the drive
// views never reach past the drive list's 126 entries.
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "modules/brivo/cli/cli_drive_text.h"
#include "modules/brivo/cli/cli_storage.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/monitor/solution_status.h"
#include "modules/brivo/pages/rank_rows.h"
#include "modules/brivo/protocol.h"

namespace {

using brivo::monitor::EnclosurePages;

constexpr size_t kConfigHead = offsetof(brivo::ConfigurationBlock, logicalDrives);
constexpr size_t kLogicalPiece = 8 * sizeof(brivo::LogicalDriveRecord);
constexpr size_t kMaxPage = 4096;

std::unique_ptr<brivo::ConfigurationBlock> gConfig;

void fill(void* target, size_t capacity, std::string_view piece) {
  std::memset(target, 0, capacity);
  std::memcpy(target, piece.data(), std::min(capacity, piece.size()));
}

std::vector<uint8_t> page(fuzz::Input* input) {
  const std::string_view bytes = input->bytes(input->u16() % (kMaxPage + 1));
  return std::vector<uint8_t>(bytes.begin(), bytes.end());
}

bool knownStatus(uint32_t status) {
  return status == brivo::kStatusOk || status == brivo::kStatusWarning || status == brivo::kStatusError ||
         status == brivo::kStatusUnknown;
}

void checkSesPages(const std::vector<EnclosurePages>& enclosures) {
  for (const EnclosurePages& e : enclosures) {
    FUZZ_CHECK(brivo::monitor::sesPageLength(e.config) <= e.config.size());
    const auto types = brivo::monitor::sesElementTypes(e.config);
    std::vector<brivo::monitor::SesElement> elements;
    if (brivo::monitor::sesStatusElements(types, e.status, &elements)) {
      for (const auto& element : elements) {
        FUZZ_CHECK(element.bytes >= e.status.data() &&
                   element.bytes + 4 <= e.status.data() + e.status.size());
      }
    } else {
      FUZZ_CHECK(elements.empty());
    }
    FUZZ_CHECK(!brivo::monitor::sesStatusChanged(types, e.status, e.status) || elements.empty());
    (void)brivo::monitor::sesStringPageChanged(e.strings, enclosures.front().strings);
    (void)brivo::monitor::sesStatusChanged(types, e.status, enclosures.front().status);
  }
}

void checkDriveViews(const brivo::DriveList& drives) {
  for (long i = 0; i < 256; ++i) {
    const brivo::DriveListEntry* entry = brivo::cli::driveAt(drives, i);
    if (entry == nullptr) continue;
    FUZZ_CHECK(entry >= drives.entries && entry < drives.entries + brivo::kMaxDrives);
    FUZZ_CHECK(brivo::cli::driveIndex(drives, entry) == i);
    (void)brivo::cli::driveSummaryLine(static_cast<int>(i), *entry);
    (void)brivo::cli::driveCapacityText(*entry);
    (void)brivo::cli::driveUsageDetail(*entry);
    FUZZ_CHECK(brivo::cli::driveUsageShort(*entry).size() <= 12);
    FUZZ_CHECK(brivo::driveWithWwn(drives, entry->wwn) != nullptr);
  }
  TableOwner reply;
  TableOwner request;
  addVariable(request.address(), "Drive0", "0000000000000000");
  const int free = brivo::addFreeDriveRows(reply.address(), request.get(), drives);
  FUZZ_CHECK(free >= 0 && free <= brivo::kMaxDrives);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  gConfig.reset(new brivo::ConfigurationBlock());
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const uint8_t flags = input.byte();
  const uint8_t type = input.byte();
  const int batteryWarning = input.byte();

  auto info = std::make_unique<brivo::ControllerInformation>();
  fill(info.get(), sizeof *info, input.bytes(input.u16() % (sizeof *info + 1)));
  fill(gConfig.get(), kConfigHead, input.bytes(input.u16() % (kConfigHead + 1)));
  fill(gConfig->logicalDrives, kLogicalPiece, input.bytes(input.u16() % (kLogicalPiece + 1)));
  auto drives = std::make_unique<brivo::DriveList>();
  fill(drives.get(), sizeof *drives, input.bytes(input.u16() % (sizeof *drives + 1)));
  std::vector<EnclosurePages> enclosures(1 + input.byte() % 4);
  for (size_t i = 0; i < enclosures.size(); ++i) {
    enclosures[i].slot = static_cast<int>(i);
    enclosures[i].config = page(&input);
    enclosures[i].status = page(&input);
    enclosures[i].strings = page(&input);
  }
  std::vector<brivo::SnapshotArea> areas(input.byte() % 8);
  for (auto& area : areas) fill(&area, sizeof area, input.bytes(sizeof area));

  const brivo::ControllerRecord& record = info->controllers[0];
  brivo::monitor::PairSnapshot pair;
  pair.name = "Brivo0123456789ABCDEF";
  pair.traits = brivo::traitsFromRecord(record.family, record.olderFamilyType2,
                                        reinterpret_cast<const uint8_t*>(&record.driveInterface));
  pair.traits.type = type;
  pair.batteryPercentWarning = batteryWarning;
  pair.info = (flags & 1) != 0 ? info.get() : nullptr;
  pair.header = (flags & 2) != 0 ? &gConfig->header : nullptr;
  pair.arrays = (flags & 2) != 0 ? gConfig->arrays : nullptr;
  pair.drives = (flags & 4) != 0 ? drives.get() : nullptr;
  pair.enclosures = enclosures;
  pair.enclosureSupport = (flags & 8) != 0;
  pair.snapshotsSupported = (flags & 16) != 0;
  pair.snapshotsRead = (flags & 32) != 0;
  pair.snapshotAreas = areas;
  const brivo::monitor::SolutionReport report = brivo::monitor::evaluateSolution(pair);
  FUZZ_CHECK(knownStatus(report.status));
  for (const auto& check : report.checks) {
    FUZZ_CHECK(check.status == 254 || knownStatus(check.status));
    FUZZ_CHECK(brivo::monitor::checkKindName(check.kind) != nullptr);
  }
  for (int side = 0; side < 2; ++side) {
    const auto health = brivo::monitor::controllerHealth(info->controllers[side], type, batteryWarning);
    FUZZ_CHECK(knownStatus(health.status));
  }

  checkSesPages(enclosures);
  checkDriveViews(*drives);
  FUZZ_CHECK(brivo::cli::countArrays(*gConfig) <= brivo::kMaxArrays);
  FUZZ_CHECK(brivo::arraysInUse(*gConfig) <= brivo::kMaxArrays);
  for (int array = 0; array < brivo::kMaxArrays; ++array) (void)brivo::logicalDrivesOnArray(*gConfig, array);
  (void)brivo::cli::countLogicalDrives(*gConfig);
  return 0;
}
