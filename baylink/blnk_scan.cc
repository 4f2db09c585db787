// The device scan (getSESDevices): builds the device list file, then opens every listed device
// and describes it in one "^"-separated line, with the enclosure index and slot of SES devices.
#include "baylink/blnk_scan.h"

#include <cctype>
#include <cstdio>
#include <cstring>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_megaraid.h"
#include "baylink/blnk_scsi.h"

namespace {

constexpr int kPageAttempts = 4;
constexpr size_t kMaxEnclosures = 40;
constexpr int kSlotCountOffset = 73;
constexpr int kSlotFlagsOffset = 14;

struct Identity {
  std::string serial = "12345678912";
  std::string part = "UNK";
  std::string firmware = "UNK";
  std::string size = "0";
  std::string vendor = "UNK";
};

// The scan's memory of the enclosures found so far and of the last slot determined.
struct ScanState {
  std::vector<std::vector<unsigned char>> enclosures;
  int lastSlot = -1;
};

bool readPage(unsigned char page, std::vector<unsigned char>* buffer) {
  for (int attempt = 0; attempt < kPageAttempts; ++attempt) {
    if (iReadSESFromDrive(page, buffer->data(), BLNK_PAGE_BYTES) == 0) return true;
  }
  std::fill(buffer->begin(), buffer->end(), 0);
  return false;
}

Identity readIdentity() {
  Identity id;
  unsigned char inquiry[255];
  if (ScsiInquiry(inquiry) != 0) return id;
  id.vendor = blnkInquiryField(inquiry, 8, 8);
  id.part = blnkInquiryField(inquiry, 16, 16);
  id.firmware = blnkInquiryField(inquiry, 32, 4);
  id.serial = blnkInquiryField(inquiry, 36, 12);
  unsigned long long capacity = 0;
  SCSIReadCap(&capacity);
  id.size = std::to_string(capacity);
  return id;
}

int enclosureIndex(ScanState* scan, const unsigned char* wwn) {
  std::vector<unsigned char> key(wwn, wwn + 8);
  for (size_t i = 0; i < scan->enclosures.size(); ++i) {
    if (scan->enclosures[i] == key) return static_cast<int>(i);
  }
  if (scan->enclosures.size() < kMaxEnclosures) scan->enclosures.push_back(key);
  return static_cast<int>(scan->enclosures.size()) - 1;
}

// Describes the open device; returns its table line.
std::string describeDevice(const std::string& name, ScanState* scan) {
  std::vector<unsigned char> configuration(BLNK_PAGE_BYTES);
  readPage(0x01, &configuration);
  Identity id = readIdentity();
  int enc = 0;
  bool ses = false;
  if (configuration[0] == 0x01) {
    enc = enclosureIndex(scan, &configuration[12]);
    int slots = configuration[kSlotCountOffset];
    int slot = -1;
    std::vector<unsigned char> status(BLNK_PAGE_BYTES);
    if (readPage(0x02, &status) && status[0] == 0x02) {
      for (int i = 0; i < slots && slot < 0; ++i) {
        if (status[kSlotFlagsOffset + 4 * i] != 0) slot = i;
      }
      ses = true;
    } else {
      blnkTrace("\nRead page 0x01, but 0x02 failed!\n");
    }
    scan->lastSlot = slot;
  } else {
    enc = scan->enclosures.empty() ? 0 : static_cast<int>(scan->enclosures.size()) - 1;
  }
  char slotText[16] = "TM";
  if (scan->lastSlot >= 0) std::snprintf(slotText, sizeof(slotText), "%02i", scan->lastSlot);
  char line[BLNK_DEVICE_LINE_BYTES];
  std::snprintf(line, sizeof(line),
                "%s^Serial:%s^Part:%s^Enc:%i^Slot:%s^SES:%s^FWVer:%s^size:%s^vendor:%s^SCSIID:%s",
                name.c_str(), id.serial.c_str(), id.part.c_str(), enc, slotText, ses ? "Y" : "N",
                id.firmware.c_str(), id.size.c_str(), id.vendor.c_str(), "0");
  return line;
}

}  // namespace

std::string blnkInquiryField(const unsigned char* inquiry, int offset, int width) {
  std::string field;
  for (int i = offset; i < offset + width; ++i)
    field += std::isalnum(inquiry[i]) != 0 ? static_cast<char>(inquiry[i]) : '_';
  return field;
}

extern "C" char* getSESDevices(void) {
  static char table[BLNK_DEVICE_LINES][BLNK_DEVICE_LINE_BYTES];
  std::memset(table, 0, sizeof(table));
  iDebugMode = 1;
  ResetDebug();
  SCSI_CloseDevice();
  blnkTrace("Entering getSESDevices");

  std::vector<std::string> lines = blnkListHostDevices();
  blnkAppendMegaRaidDrives(&lines);
  blnkWriteDeviceList(lines);

  ScanState scan;
  int count = 0;
  for (const std::string& line : lines) {
    if (count >= BLNK_DEVICE_LINES - 1) break;  // the last entry stays empty to end the table
    std::string name = blnkFirstToken(line);
    if (name.empty() || blnkOpenListedDevice(line) == 0) continue;
    BlnkDeviceCloser closer;
    std::string text = describeDevice(name, &scan);
    std::snprintf(table[count++], BLNK_DEVICE_LINE_BYTES, "%s", text.c_str());
  }
  blnkTrace("Exiting getSESDevices - %d devices", count);
  return &table[0][0];
}
