// The "ProblemLoop" rows of the monitor page: what the solution checks found, as sentences from
// StatusStrings.db ("Problem" followed by the check's kind name). Each kind fills its text with
// its own arguments, in the order listed with the text in the file; see full_view.h.
#include <algorithm>
#include <vector>

#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/full_view.h"
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

std::string problemText(const CheckResult& r) {
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
      return formatStoredText(format, {r.label});
    case CheckKind::kDrive:
      return formatStoredText(format, {r.label});
    case CheckKind::kEnclosureFans:
      return formatStoredText(format, {r.label, r.value, r.limit});
    case CheckKind::kEnclosureTemperature:
    case CheckKind::kEnclosureNoStatus:
      return formatStoredText(format, {r.label});
    case CheckKind::kEnclosureElement:
      return formatStoredText(format, {r.label, r.value});
    case CheckKind::kSnapshot:
      return formatStoredText(format, {r.index});
    default:
      return formatStoredText(format, {});
  }
}

}  // namespace

void addProblemRows(VariableTable* reply, const monitor::SolutionReport& report) {
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
    addRowText(reply, "ProblemLoop", row, "Text", problemText(*r));
    addRowText(reply, "ProblemLoop", row, "Class", statusClass(r->status));
    addRowText(reply, "ProblemLoop", row, "Severity", statusTextByte("SolutionStatus", r->status));
    ++row;
  }
  setCount(reply, "ProblemLoop", row);
}

}  // namespace brivo
