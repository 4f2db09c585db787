// Outcome categories and texts; see blnk_sg_category.h.
#include "baylink/blnk_sg_category.h"

namespace {

constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kCommandTerminated = 0x22;
constexpr int kRecovered = 1;
constexpr int kUnitAttention = 6;

bool descriptorFormat(const uint8_t* sense) { return (sense[0] & 0x7F) >= 0x72; }

}  // namespace

int blnkSenseKey(const uint8_t* sense, int length) {
  if (sense == nullptr || length < 3) return 0;
  return (descriptorFormat(sense) ? sense[1] : sense[2]) & 0x0F;
}

int blnkSenseAsc(const uint8_t* sense, int length) {
  if (sense == nullptr || length < 3) return 0;
  if (descriptorFormat(sense)) return sense[2];
  return length > 12 ? sense[12] : 0;
}

int blnkSenseAscq(const uint8_t* sense, int length) {
  if (sense == nullptr || length < 4) return 0;
  if (descriptorFormat(sense)) return sense[3];
  return length > 13 ? sense[13] : 0;
}

int blnkCategorize(const BlnkRawOutcome& o) {
  uint8_t status = o.status & 0x7E;
  if (status == 0 && o.hostStatus == 0 && o.driverStatus == 0) return kBlnkCatClean;
  if (status == kCheckCondition || status == kCommandTerminated ||
      (o.driverStatus & 0x0F) == kBlnkDriverSense) {
    if (o.senseLength > 2) {
      int key = blnkSenseKey(o.sense, o.senseLength);
      int asc = blnkSenseAsc(o.sense, o.senseLength);
      if (key == kRecovered) return kBlnkCatRecovered;
      if (key == kUnitAttention && asc == 0x28) return kBlnkCatMediaChanged;
      if (key == kUnitAttention && asc == 0x29) return kBlnkCatReset;
    }
    return kBlnkCatSense;
  }
  if (o.hostStatus == kBlnkHostNoConnect || o.hostStatus == kBlnkHostBusBusy ||
      o.hostStatus == kBlnkHostTimeOut)
    return kBlnkCatTimeout;
  if ((o.driverStatus & 0x0F) == kBlnkDriverTimeout) return kBlnkCatTimeout;
  return kBlnkCatOther;
}

const char* blnkCategoryName(int category) {
  switch (category) {
    case kBlnkCatClean:
    case kBlnkCatRecovered:
      return "(OK)";
    case kBlnkCatMediaChanged:
      return "MediaChanged";
    case kBlnkCatReset:
      return "Reset";
    case kBlnkCatTimeout:
      return "NotReady";
    case kBlnkCatSense:
      return "Sense";
    default:
      return "OtherError";
  }
}

const char* blnkSenseKeyText(int key) {
  static const char* const kTexts[16] = {"No Error",
                                         "Recovered error",
                                         "Drive not ready",
                                         "Drive media failed",
                                         "Controller/drive hardware failed",
                                         "Illegal request",
                                         "Target device has been reset",
                                         "Drive is write protected",
                                         "Blank block i.e. was not written",
                                         "Code is vendor unique",
                                         "Copy command aborted",
                                         "Command aborted",
                                         "Equal",
                                         "Volume overflow",
                                         "Microcompare",
                                         "Reserved"};
  return kTexts[key & 0x0F];
}
