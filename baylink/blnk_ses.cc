// SES page access, the enclosure command-line pages, vital product data and raw read and write
// buffers. Each call opens its device through the device list, works and closes it.
#include <cstring>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_scsi.h"

namespace {

constexpr int kMaxUserCdb = 12;

bool cliPage(unsigned char page) { return page == 0x84 || page == 0x85; }

void dumpCdbAndSense(const unsigned char* cdb, int cdbLength, const unsigned char* sense) {
  ShowDebug("CDB:");
  ASCIIHexDebugDumpToPrintF(cdb, cdbLength);
  ShowDebug("Sense:");
  ASCIIHexDebugDumpToPrintF(sense, 16);
}

}  // namespace

extern "C" unsigned char* getSESPage(const char* device, unsigned char page) {
  static unsigned char buffer[BLNK_PAGE_BYTES];
  blnkTrace("Entering getSESPage");
  std::memset(buffer, 0, sizeof(buffer));
  int rc = 1;
  if (OpenDevForCommunication(device, 0) == 0) {
    BlnkDeviceCloser closer;
    rc = iReadSESFromDrive(page, buffer, BLNK_PAGE_BYTES);
    if (rc != 0) std::memset(buffer, 0, sizeof(buffer));
  }
  blnkTrace("Exiting getSESPage - RC = %i", rc);
  return buffer;
}

extern "C" int setSESPage(const char* device, unsigned char* page) {
  blnkTrace("Entering setSESPage");
  // A length field beyond the largest page would make us read past the caller's buffer.
  int rc = page == nullptr || BytesToU16(page + 2) + 4 > BLNK_PAGE_BYTES ? -1 : 1;
  if (rc == 1 && OpenDevForCommunication(device, 0) == 0) {
    BlnkDeviceCloser closer;
    std::vector<unsigned char> configuration(BLNK_PAGE_BYTES);
    iReadSESFromDrive(0x01, configuration.data(), BLNK_PAGE_BYTES);
    // String out (page 4) carries no generation code.
    if (page[0] != 0x04) std::memcpy(page + 4, &configuration[4], 4);
    int length = BytesToU16(page + 2) + 4;
    blnkTrace("setSESPage length %i", length);
    blnkTraceDump(page, length);
    rc = iWriteSESToDrive(page, length);
  }
  blnkTrace("Exiting setSESPage - RC = %i", rc);
  return rc;
}

extern "C" int sendCLICommand(const char* device, unsigned char page, const char* command) {
  blnkTrace("Entering sendCLICommand");
  if (!cliPage(page)) {
    blnkTrace("Exiting sendCLICommand - RC = %i", 0);
    return 0;
  }
  int rc = command == nullptr ? -1 : 1;
  size_t length = command != nullptr ? std::strlen(command) : 0;
  if (length + 16 > BLNK_PAGE_BYTES) rc = -1;  // the page's length field and the transfer cap it
  if (rc == 1 && OpenDevForCommunication(device, 1) == 0) {
    BlnkDeviceCloser closer;
    std::vector<unsigned char> configuration(BLNK_PAGE_BYTES);
    iReadSESFromDrive(0x01, configuration.data(), BLNK_PAGE_BYTES);
    std::vector<unsigned char> cli(length + 16, 0);
    cli[0] = page;
    cli[2] = static_cast<unsigned char>((length + 12) >> 8);
    cli[3] = static_cast<unsigned char>(length + 12);
    std::memcpy(&cli[4], &configuration[4], 4);
    std::memcpy(&cli[12], command, length);
    rc = iWriteSESToDrive(cli.data(), static_cast<int>(cli.size()));
  }
  blnkTrace("Exiting sendCLICommand - RC = %i", rc);
  return rc;
}

extern "C" unsigned char* getCLIResponse(const char* device, unsigned char page) {
  static unsigned char buffer[BLNK_PAGE_BYTES];
  blnkTrace("Entering getCLIResponse");
  int rc = 0;
  if (cliPage(page)) {
    rc = 1;
    if (OpenDevForCommunication(device, 1) == 0) {
      BlnkDeviceCloser closer;
      std::memset(buffer, 0, sizeof(buffer));
      rc = iReadSESFromDrive(page, buffer, BLNK_PAGE_BYTES);
    }
    if (rc != 0) buffer[0] = 0;
  }
  blnkTrace("Exiting getCLIResponse - RC = %i", rc);
  return buffer;
}

extern "C" unsigned char* getScsiVPDSense(const char* device, unsigned char page) {
  static unsigned char buffer[BLNK_VPD_BYTES];
  blnkTrace("Entering getScsiVPDSense");
  std::memset(buffer, 0, sizeof(buffer));
  int rc = 1;
  if (OpenDevForCommunication(device, 0) == 0) {
    BlnkDeviceCloser closer;
    unsigned char sense[16] = {};
    rc = ScsiVPDSense(page, buffer, BLNK_VPD_BYTES, sense);
    if (rc != 0) std::memset(buffer, 0, sizeof(buffer));
    blnkTraceDump(buffer, BLNK_VPD_BYTES);
    blnkTraceDump(sense, 16);
  }
  blnkTrace("Exiting getScsiVPDSense - RC = %i", rc);
  return buffer;
}

extern "C" unsigned char* ReadBuffer(const char* device, unsigned char* cdb, int cdbLength) {
  static unsigned char buffer[BLNK_PAGE_BYTES];
  ShowDebug("Entering ReadBuffer");
  std::memset(buffer, 0, sizeof(buffer));
  int rc = 1;
  if (cdb == nullptr || cdbLength < 1 || cdbLength > kMaxUserCdb) {
    rc = -1;
  } else if (OpenDevForCommunication(device, 0) == 0) {
    BlnkDeviceCloser closer;
    unsigned char command[kMaxUserCdb] = {};
    std::memcpy(command, cdb, static_cast<size_t>(cdbLength));
    unsigned char sense[16] = {};
    rc = SCSI_ExecuteCommand(1, command, cdbLength, buffer, BLNK_PAGE_BYTES, sense);
    dumpCdbAndSense(command, kMaxUserCdb, sense);
    ShowDebug("Data:");
    ASCIIHexDebugDumpToPrintF(buffer, BLNK_PAGE_BYTES);
  }
  std::string exit = "Exiting ReadBuffer - RC = " + std::to_string(rc);
  ShowDebug(exit.c_str());
  return buffer;
}

extern "C" int WriteBuffer(const char* device, unsigned char* cdb, int cdbLength, unsigned char* data,
                           int dataLength) {
  ShowDebug("Entering WriteBuffer");
  int rc = 1;
  if (cdb == nullptr || cdbLength < 1 || cdbLength > kMaxUserCdb || dataLength < 0 ||
      (data == nullptr && dataLength > 0)) {
    rc = -1;
  } else if (OpenDevForCommunication(device, 0) == 0) {
    BlnkDeviceCloser closer;
    unsigned char command[kMaxUserCdb] = {};
    std::memcpy(command, cdb, static_cast<size_t>(cdbLength));
    unsigned char sense[16] = {};
    ShowDebug("Data:");
    ASCIIHexDebugDumpToPrintF(data, dataLength);
    rc = SCSI_ExecuteCommand(dataLength > 0 ? 2 : 3, command, cdbLength, data, dataLength, sense);
    dumpCdbAndSense(command, kMaxUserCdb, sense);
  }
  std::string exit = "Exiting WriteBuffer - RC = " + std::to_string(rc);
  ShowDebug(exit.c_str());
  return rc;
}
