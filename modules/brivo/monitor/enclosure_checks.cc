// Enclosure checks over the cached SES pages; see solution_checks.h.
//
// Per enclosure: the fans (cooling elements), the temperature elements (overall and individual),
// and every other element type but device slots, cooling and temperature; an enclosure without a
// status page is a Warning. Device slots are left to the drive checks.
#include <algorithm>
#include <string>
#include <vector>

#include "modules/brivo/module_status.h"
#include "modules/brivo/monitor/ses_pages.h"
#include "modules/brivo/monitor/solution_checks.h"

namespace brivo::monitor::checks {

namespace {

constexpr uint8_t kOverTemperatureWarning = 0x04, kUnderTemperatureWarning = 0x01;
constexpr uint8_t kOverTemperatureFailure = 0x08, kUnderTemperatureFailure = 0x02;

std::string wwnOf(const EnclosurePages& pages) {
  if (pages.config.size() < 20) return "";
  std::string text;
  for (int i = 12; i < 20; ++i) text += printed("%02X", pages.config[i]);
  return text;
}

CheckResult slotFinding(CheckKind kind, uint32_t status, const EnclosurePages& pages, std::string detail) {
  CheckResult result;
  result.kind = kind;
  result.status = status;
  result.index = pages.slot;
  result.label = wwnOf(pages);
  result.detail = std::move(detail);
  return result;
}

void fanCheck(const std::vector<SesElement>& elements, const EnclosurePages& pages, SolutionReport* report) {
  int fans = 0;
  int fansOk = 0;
  for (const SesElement& e : elements) {
    if (e.type != kSesCooling || e.index < 0) continue;
    ++fans;
    if ((e.bytes[0] & 0x0F) == kSesStatusOk) ++fansOk;
  }
  if (fans == 0 || fansOk == fans) return;  // an enclosure without fans has nothing to judge
  CheckResult r =
      fansOk == 0
          ? slotFinding(CheckKind::kEnclosureFans, kStatusError, pages,
                        "mon: SetStatusOnEnclosureInfo: Setting to Error, fans = 0\n")
          : slotFinding(
                CheckKind::kEnclosureFans, kStatusWarning, pages,
                printed("mon: SetStatusOnEnclosureInfo: Setting to Warning, numFansOk,iNumFans=%d,%d\n",
                        fansOk, fans));
  r.value = fansOk;
  r.limit = fans;
  addFinding(report, std::move(r));
}

// 2 for a failure bit, 1 for a warning bit, 0 for neither; 254 when the enclosure has no
// temperature element (nothing to judge, so no opinion rather than Unknown).
uint32_t temperatureStatus(const std::vector<SesElement>& elements) {
  uint32_t worst = kStatusNoOpinion;
  for (const SesElement& e : elements) {
    if (e.type != kSesTemperature) continue;
    uint32_t status = kStatusOk;
    if ((e.bytes[3] & (kOverTemperatureFailure | kUnderTemperatureFailure)) != 0) {
      status = kStatusError;
    } else if ((e.bytes[3] & (kOverTemperatureWarning | kUnderTemperatureWarning)) != 0) {
      status = kStatusWarning;
    }
    if (worst == kStatusNoOpinion || status > worst) worst = status;
  }
  return worst;
}

void otherElementChecks(const std::vector<SesElement>& elements, const EnclosurePages& pages,
                        SolutionReport* report) {
  for (const SesElement& e : elements) {
    if (e.type == kSesDeviceSlot || e.type == kSesCooling || e.type == kSesTemperature) continue;
    const uint8_t code = e.bytes[0] & 0x0F;
    uint32_t status = kStatusOk;
    if (code == kSesStatusCritical || code == kSesStatusUnrecoverable) {
      status = kStatusError;
    } else if (code == kSesStatusNonCritical) {
      status = kStatusWarning;
    } else {
      continue;
    }
    CheckResult r =
        slotFinding(CheckKind::kEnclosureElement, status, pages,
                    printed("mon: SetStatusOnEnclosureInfo: element type 0x%02X index %d status %d\n", e.type,
                            e.index, code));
    r.value = e.type;
    r.limit = e.index;
    std::copy(e.bytes, e.bytes + 4, r.element);
    addFinding(report, std::move(r));
  }
}

}  // namespace

void enclosureChecks(const PairSnapshot& pair, SolutionReport* report) {
  for (const EnclosurePages& pages : pair.enclosures) {
    std::vector<SesElement> elements;
    const std::vector<SesElementType> types = sesElementTypes(pages.config);
    if (pages.status.empty() || !sesStatusElements(types, pages.status, &elements)) {
      addFinding(report,
                 slotFinding(CheckKind::kEnclosureNoStatus, kStatusWarning, pages,
                             printed("mon: SetStatusOnEnclosureInfo: Setting to Warning, enclosure %d "
                                     "has no status page\n",
                                     pages.slot)));
      continue;
    }
    fanCheck(elements, pages, report);
    const uint32_t temperature = temperatureStatus(elements);
    if (temperature != kStatusOk && temperature != kStatusNoOpinion) {
      addFinding(report, slotFinding(CheckKind::kEnclosureTemperature, temperature, pages,
                                     printed("mon: SetStatusOnEnclosureInfo: Setting to %s, temperature\n",
                                             temperature == kStatusError ? "Error" : "Warning")));
    }
    otherElementChecks(elements, pages, report);
  }
}

}  // namespace brivo::monitor::checks
