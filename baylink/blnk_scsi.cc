// The open-device slot, the command function with its retry rule and result codes, the device
// lookup through the device list, and the standard commands.
#include "baylink/blnk_scsi.h"

#include <cstring>
#include <memory>
#include <set>
#include <tuple>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_device.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_sg_category.h"
#include "baylink/blnk_storelib.h"

namespace {

constexpr int kAttempts = 2;
constexpr int kSenseNotReady = 2;
constexpr int kSenseUnitAttention = 6;

struct Slot {
  std::unique_ptr<BlnkDevice> device;
  std::string megaRaid = kBlnkMegaRaidClosed;
};

Slot& slot() {
  static Slot* instance = new Slot();
  return *instance;
}

void traceCdb(const uint8_t* cdb, int length, int bufferLength) {
  if (iDebugMode == 0) return;
  std::string text = " SCSI_ExecuteCommandSG - CDB:";
  char entry[8];
  for (int i = 0; i < length; ++i) {
    std::snprintf(entry, sizeof(entry), " %02X ", cdb[i]);
    text += entry;
  }
  ShowDebug(text.c_str());
  blnkTrace(" SCSI_ExecuteCommandSG - BuffLen=%d ", bufferLength);
  // Level 2 adds the command header itself as a hexadecimal dump.
  if (iDebugMode == 2) ASCIIHexDebugDumpToPrintF(cdb, length);
}

// Result of one attempt: 0 success, the sense key, or -1 when nothing (or no sense) came back.
int attemptResult(const BlnkRawOutcome& outcome, int category) {
  if (!outcome.issued) return -1;
  if (category == kBlnkCatClean || category == kBlnkCatRecovered) return 0;
  int key = blnkSenseKey(outcome.sense, outcome.senseLength);
  // A failed request without sense (time-out, lost connection) is a failure, never success.
  return key != 0 ? key : -1;
}

// The set of WeHaveFoundITLAlready.
std::set<std::tuple<int, int, int>>& foundItl() {
  static std::set<std::tuple<int, int, int>>* seen = new std::set<std::tuple<int, int, int>>();
  return *seen;
}

int openDevice(const std::string& device, const std::string& listLine) {
  Slot& s = slot();
  if (device.rfind(kBlnkMegaRaidPrefix, 0) == 0) {
    s.device.reset();
    s.megaRaid = device;
    return 1;
  }
  s.megaRaid = kBlnkMegaRaidClosed;
  s.device = device.rfind("sim:", 0) == 0 ? blnkOpenSimDevice(device) : blnkOpenHostDevice(device, listLine);
  return s.device ? 1 : 0;
}

}  // namespace

int blnkOpenListedDevice(const std::string& line) {
  const std::string name = blnkFirstToken(line);
  return name.empty() ? 0 : openDevice(name, line);
}

void blnkForgetFoundItl() { foundItl().clear(); }

const std::string& blnkOpenMegaRaidName() { return slot().megaRaid; }

BlnkDeviceCloser::~BlnkDeviceCloser() { SCSI_CloseDevice(); }

extern "C" int SCSI_OpenDevice(const char* name) { return name != nullptr ? openDevice(name, "") : 0; }

extern "C" void SCSI_CloseDevice(void) {
  Slot& s = slot();
  s.device.reset();
  s.megaRaid = kBlnkMegaRaidClosed;
}

extern "C" int SCSI_ExecuteCommand(int direction, unsigned char* cdb, int cdbLength, unsigned char* buffer,
                                   int bufferLength, unsigned char* sense) {
  if (direction == 1 && buffer != nullptr && bufferLength > 0)
    std::memset(buffer, 0, static_cast<size_t>(bufferLength));
  if (cdb == nullptr || cdbLength < 1 || cdbLength > 16 || bufferLength < 0) return -1;
  Slot& s = slot();
  if (s.megaRaid != kBlnkMegaRaidClosed)
    return blnkMegaRaidExecute(s.megaRaid, direction, cdb, cdbLength, buffer, bufferLength, sense);
  if (!s.device) return -1;
  traceCdb(cdb, cdbLength, bufferLength);
  int result = -1;
  for (int attempt = 0; attempt < kAttempts; ++attempt) {
    BlnkRawOutcome outcome = s.device->issue(direction, cdb, cdbLength, buffer, bufferLength);
    if (sense != nullptr) std::memcpy(sense, outcome.sense, kBlnkCallerSense);
    int category = outcome.issued ? blnkCategorize(outcome) : kBlnkCatOther;
    int key = blnkSenseKey(outcome.sense, outcome.senseLength);
    result = attemptResult(outcome, category);
    blnkTrace(" SCSI_ExecuteCommandSG - %s: SenseKey=%d (%s) ASC=0x%02X ASCQ=0x%02X %s",
              outcome.issued ? "done" : "not issued", key, blnkSenseKeyText(key),
              blnkSenseAsc(outcome.sense, outcome.senseLength),
              blnkSenseAscq(outcome.sense, outcome.senseLength), blnkCategoryName(category));
    if (iDebugMode == 2 && outcome.senseLength > 0)
      ASCIIHexDebugDumpToPrintF(outcome.sense, outcome.senseLength);
    bool retry = !outcome.issued || (result != 0 && (key == kSenseNotReady || key == kSenseUnitAttention));
    if (!retry) break;
  }
  return result;
}

extern "C" int iReadSESFromDrive(unsigned char page, unsigned char* buffer, int length) {
  unsigned char cdb[6] = {
      0x1C, 0x01, page, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length), 0};
  unsigned char sense[kBlnkCallerSense];
  return SCSI_ExecuteCommand(1, cdb, 6, buffer, length, sense);
}

extern "C" int iWriteSESToDrive(unsigned char* page, int length) {
  unsigned char cdb[6] = {
      0x1D, 0x10, 0, static_cast<unsigned char>(length >> 8), static_cast<unsigned char>(length), 0};
  unsigned char sense[kBlnkCallerSense];
  return SCSI_ExecuteCommand(2, cdb, 6, page, length, sense);
}

extern "C" int OpenDevForCommunication(const char* name, int sesOnly) {
  std::vector<std::string> lines;
  if (name == nullptr || !blnkReadDeviceList(&lines)) return 1;
  std::vector<unsigned char> page(BLNK_PAGE_BYTES);
  for (const std::string& line : lines) {
    // The whole name must match: simulator names share long prefixes.
    if (blnkFirstToken(line) != name) continue;
    // The line, not only the name: on Windows it holds the address of an adapter's device, and
    // one adapter name can list several LUNs.
    if (blnkOpenListedDevice(line) == 0) continue;
    if (sesOnly == 0) return 0;
    iReadSESFromDrive(0x01, page.data(), BLNK_PAGE_BYTES);
    if (page[0] == 0x01) return 0;
    SCSI_CloseDevice();
  }
  return 1;
}

extern "C" int ScsiInquiry(unsigned char* buffer) {
  unsigned char cdb[6] = {0x12, 0, 0, 0, 255, 0};
  unsigned char sense[kBlnkCallerSense];
  return SCSI_ExecuteCommand(1, cdb, 6, buffer, 255, sense);
}

extern "C" int ScsiVPDSense(int page, unsigned char* buffer, int length, unsigned char* sense) {
  unsigned char cdb[6] = {0x12, 0x01, static_cast<unsigned char>(page), 0, static_cast<unsigned char>(length),
                          0};
  return SCSI_ExecuteCommand(1, cdb, 6, buffer, length, sense);
}

extern "C" int SCSIReadCap(unsigned long long* result) {
  unsigned char cdb[10] = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  unsigned char data[8];
  unsigned char sense[kBlnkCallerSense];
  int rc = SCSI_ExecuteCommand(1, cdb, 10, data, 8, sense);
  if (rc == 0 && result != nullptr)
    *result = (static_cast<unsigned long long>(BytesToU32(data)) + 1) * BytesToU32(data + 4);
  return rc;
}

extern "C" int WeHaveFoundITLAlready(int bus, int target, int lun, int type) {
  std::set<std::tuple<int, int, int>>* seen = &foundItl();
  constexpr size_t kMaxTriples = 1000;
  switch (type) {
    case 2:
    case 4:
    case 5:
    case 7:
    case 8:
    case 9:
    case 10:
    case 11:
    case 14:
      return 1;
    default:
      break;
  }
  if (seen->count({bus, target, lun}) != 0) return 1;
  if (seen->size() < kMaxTriples) seen->insert({bus, target, lun});
  return 0;
}
