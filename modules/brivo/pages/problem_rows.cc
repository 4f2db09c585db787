// The "ProblemLoop" rows of the monitor page: what the solution checks found, as sentences from
// StatusStrings.db ("Problem" followed by the check's kind name). Each kind fills its text with
// its own arguments, in the order listed with the text in the file; see full_view.h. Drives and
// enclosures are named as the event log names them (identity.h), elements in the log's words.
#include <algorithm>
#include <vector>

#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/full_view.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_texts.h"
#include "modules/brivo/stored_format.h"

namespace brivo {

namespace {

using monitor::CheckKind;
using monitor::CheckResult;

// Error first, then Unknown, then Warning.
int severityRank(uint32_t status) {
  switch (status) {
    case kStatusError:
      return 0;
    case kStatusUnknown:
      return 1;
    default:
      return 2;
  }
}

// The log's name of the enclosure whose WWN (16 hexadecimal digits) a finding carries; the WWN
// alone when the controller information does not list it.
std::string enclosureOfFinding(const CheckResult& r, const ProblemContext& context) {
  if (context.info != nullptr) {
    for (const EnclosureEntry& e : context.info->enclosures) {
      if (e.valid == kOn && wwnText(e.wwn) == r.label) return enclosureLogName(e.number, e.wwn);
    }
  }
  uint8_t wwn[8] = {};
  return parseWwn(r.label.c_str(), wwn) ? enclosureLogName(events::kNoEnclosureNumber, wwn) : r.label;
}

// "Drive ID 3 in slot 3 of enclosure 1" for the finding's drive entry (its serial when the list
// is not at hand).
std::string driveOfFinding(const CheckResult& r, const ProblemContext& context) {
  if (context.drives == nullptr || r.index < 0 || r.index >= context.drives->count || r.index >= kMaxDrives)
    return r.label;
  const DriveListEntry& e = context.drives->entries[r.index];
  if (e.enclosure == 0xFE) {
    return formatStoredText(statusText("DriveNameNoEnclosure", "drive ID %d (serial %s)"), {e.driveId, r.label});
  }
  return formatStoredText(statusText("DriveName", "drive ID %d in slot %d of %s (serial %s)"),
                          {e.driveId, e.slot, enclosureLabel(e.enclosure), r.label});
}

std::string elementOfFinding(const CheckResult& r) {
  bool complete = true;
  return events::enclosureElementText(moduleEventTexts(), static_cast<uint8_t>(r.value), r.limit, r.element,
                                      &complete);
}

}  // namespace

std::string problemText(const CheckResult& r, const ProblemContext& context) {
  const std::string key = std::string("Problem") + monitor::checkKindName(r.kind);
  const std::string format = statusText(key.c_str(), kMissing);
  if (format == kMissing) return r.detail;
  const char* letter = r.controller >= 0 ? controllerLetter(r.controller) : "";
  switch (r.kind) {
    case CheckKind::kCommunication:
      return formatStoredText(format, {r.value});
    case CheckKind::kHostPort:
      return formatStoredText(format, {r.index});
    case CheckKind::kBattery:
      return formatStoredText(format, {letter, r.value, r.limit});
    case CheckKind::kVoltage:
      return formatStoredText(format, {letter, r.label, r.value, r.low, r.limit});
    case CheckKind::kTemperature:
      return formatStoredText(format, {letter, r.label, r.value, r.limit});
    case CheckKind::kControllerFailed:
    case CheckKind::kSingleController:
      return formatStoredText(format, {letter});
    case CheckKind::kDriveLoop:
      return formatStoredText(format, {letter, r.index});
    case CheckKind::kArray:
      return formatStoredText(format,
                              {r.index, statusTextByte("ArrayStatus", static_cast<unsigned>(r.value))});
    case CheckKind::kDriveLoopPresence:
    case CheckKind::kDrive:
      return formatStoredText(format, {driveOfFinding(r, context)});
    case CheckKind::kEnclosureFans:
      return formatStoredText(format, {enclosureOfFinding(r, context), r.value, r.limit});
    case CheckKind::kEnclosureTemperature:
    case CheckKind::kEnclosureNoStatus:
      return formatStoredText(format, {enclosureOfFinding(r, context)});
    case CheckKind::kEnclosureElement:
      return formatStoredText(format, {enclosureOfFinding(r, context), elementOfFinding(r)});
    case CheckKind::kSnapshot:
      return formatStoredText(format, {r.index});
    default:
      return formatStoredText(format, {});
  }
}

void addProblemRows(VariableTable* reply, const monitor::SolutionReport& report, const ProblemContext& context) {
  std::vector<const CheckResult*> shown;
  for (const CheckResult& r : report.checks) {
    if (r.status == kStatusOk || r.status == kStatusNoOpinion) continue;
    shown.push_back(&r);
  }
  std::stable_sort(shown.begin(), shown.end(), [](const CheckResult* a, const CheckResult* b) {
    return severityRank(a->status) < severityRank(b->status);
  });
  int row = 0;
  for (const CheckResult* r : shown) {
    addRowText(reply, "ProblemLoop", row, "Text", problemText(*r, context));
    addRowText(reply, "ProblemLoop", row, "Class", statusClass(r->status));
    addRowText(reply, "ProblemLoop", row, "Severity", statusTextByte("SolutionStatus", r->status));
    ++row;
  }
  setCount(reply, "ProblemLoop", row);
}

}  // namespace brivo
