// MegaRAID drive listing through storelib; see blnk_megaraid.h.
#include "baylink/blnk_megaraid.h"

#include <cctype>
#include <cstdio>
#include <cstring>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_scan.h"
#include "baylink/blnk_scsi.h"
#include "baylink/blnk_storelib.h"

namespace {

struct Controller {
  uint32_t id = 0;
  uint8_t type = 0;
};

uint32_t request(uint8_t commandClass, uint8_t command, uint32_t controller, std::vector<uint8_t>* buffer) {
  storelib::LibCommand packet;
  packet.commandClass = commandClass;
  packet.command = command;
  packet.controllerId = controller;
  packet.dataSize = static_cast<uint32_t>(buffer->size());
  packet.data = buffer->data();
  bool loaded = false;
  return blnkStorelibCall(&packet, &loaded);
}

// Controllers, or false when the list could not be read.
bool controllerList(std::vector<Controller>* controllers) {
  std::vector<uint8_t> buffer(storelib::kControllerListBytes, 0);
  uint32_t rc = request(storelib::kClassLibrary, storelib::kCommandControllerList, 0, &buffer);
  if (rc != storelib::kOk) {
    blnkTrace("GetCtrlList: ProcessLibCommandCall failed; rval = 0x%X\n", rc);
    return false;
  }
  if (buffer[2] == 1) blnkTrace("storelib is running in simulation mode");
  size_t count = std::min<size_t>(BytesToU16LM(buffer.data()), storelib::kMaxControllers);
  for (size_t i = 0; i < count; ++i) {
    uint32_t entry = BytesToU32LM(&buffer[storelib::kControllerEntriesOffset + 4 * i]);
    controllers->push_back(Controller{entry & 0xFFFFFF, static_cast<uint8_t>(entry >> 24)});
  }
  return true;
}

bool driveList(uint32_t controller, std::vector<storelib::DriveEntry>* drives) {
  std::vector<uint8_t> buffer(storelib::kDriveListBytes, 0);
  uint32_t rc = request(storelib::kClassController, storelib::kCommandPhysicalDriveList, controller, &buffer);
  if (rc == storelib::kInvalidController) {
    blnkTrace("Invalid controller\n");
    return false;
  }
  if (rc != storelib::kOk) {
    blnkTrace("GetPDList : ProcessLibCommandCall failed; ret = 0x%X\n", rc);
    return false;
  }
  size_t count = std::min<size_t>(BytesToU32LM(&buffer[4]), storelib::kMaxDrives);
  drives->resize(count);
  if (count > 0)
    std::memcpy(drives->data(), &buffer[storelib::kDriveEntriesOffset], count * sizeof(storelib::DriveEntry));
  return true;
}

std::string megaRaidName(uint32_t device, uint32_t controller) {
  return "\\\\MR" + std::to_string(device) + "-" + std::to_string(controller);
}

// Controllers with their drive lists; false when storelib is unusable.
bool listAll(std::vector<std::pair<Controller, std::vector<storelib::DriveEntry>>>* all) {
  std::vector<Controller> controllers;
  if (initMegaRaidCard() != 0 || !controllerList(&controllers)) return false;
  for (const Controller& c : controllers) {
    std::vector<storelib::DriveEntry> drives;
    if (driveList(c.id, &drives)) all->emplace_back(c, std::move(drives));
  }
  return true;
}

// One system-drive entry for the open MegaRAID drive; false when it does not answer INQUIRY.
bool describeSystemDrive(const std::string& name, char* entry) {
  unsigned char inquiry[255];
  if (ScsiInquiry(inquiry) != 0) return false;
  unsigned long long capacity = 0;
  SCSIReadCap(&capacity);
  std::string revision;
  for (int i = 32; i < 36; ++i) revision += inquiry[i] == ' ' ? '_' : static_cast<char>(inquiry[i]);
  std::snprintf(entry, BLNK_SYSTEM_DRIVE_BYTES, "Handle %s^Vendor %s^Product %s^Size %lld^Serial %s^FW %s#",
                name.c_str(), blnkInquiryField(inquiry, 8, 8).c_str(),
                blnkInquiryField(inquiry, 16, 16).c_str(), static_cast<long long>(capacity),
                blnkInquiryField(inquiry, 36, 12).c_str(), revision.c_str());
  return true;
}

}  // namespace

extern "C" int initMegaRaidCard(void) {
  std::vector<uint8_t> buffer(storelib::kInitBytes, 0);
  uint32_t rc = request(storelib::kClassLibrary, storelib::kCommandInit, 0, &buffer);
  if (rc != storelib::kOk) {
    std::printf("FAILED TO LOAD MEGARAID LIB\n");
    ShowDebug("\nFAILED TO LOAD MEGARAID LIB\n Assuming not in use!\n\n");
    return static_cast<int>(rc);
  }
  blnkTrace("initMegaRaidCard Ok, continuing!\n");
  return 0;
}

void blnkAppendMegaRaidDrives(std::vector<std::string>* lines) {
  std::vector<std::pair<Controller, std::vector<storelib::DriveEntry>>> all;
  if (!listAll(&all)) return;
  for (const auto& [controller, drives] : all) {
    for (const storelib::DriveEntry& d : drives) {
      if (d.scsiType != 0 && d.scsiType != 13) {
        blnkTrace("MegaRAID device %d type %d not listed", d.deviceId, d.scsiType);
        continue;
      }
      lines->push_back(megaRaidName(d.deviceId, controller.id) + " _ _ _ _ _ _ _ _ _ _ _");
    }
  }
}

extern "C" void getMegaRaidDriveListing(const char* listFile) {
  std::vector<std::string> lines;
  blnkAppendMegaRaidDrives(&lines);
  if (listFile != nullptr && !lines.empty() && !blnkAppendDeviceList(listFile, lines))
    blnkTrace("Cannot append the MegaRAID drives to %s", listFile);
}

extern "C" char* getMegaRaidSystemDriveListing(void) {
  static char table[BLNK_SYSTEM_DRIVES][BLNK_SYSTEM_DRIVE_BYTES];
  std::memset(table, 0, sizeof(table));
  blnkTrace("Entering getMegaRaidSystemDriveListing");
  std::vector<std::pair<Controller, std::vector<storelib::DriveEntry>>> all;
  if (!listAll(&all) || all.empty()) {
    blnkTrace("Got 0 controllers - Exiting");
    return &table[0][0];
  }
  int found = 0;
  for (const auto& [controller, drives] : all) {
    for (const storelib::DriveEntry& d : drives) {
      if (d.scsiType != 0) continue;
      if (d.enclosureDeviceId != 0xFF && d.enclosureDeviceId < 0xFFFF) {
        blnkTrace("Found Drive, but listed as in an enclosure\n");
        continue;
      }
      blnkTrace("Found a drive not listed as in an enclosure!\n");
      std::string name = megaRaidName(d.deviceId, controller.id);
      if (OpenDevForCommunication(name.c_str(), 0) != 0) continue;
      BlnkDeviceCloser closer;
      if (found < BLNK_SYSTEM_DRIVES && describeSystemDrive(name, table[found]))
        ++found;
      else if (found >= BLNK_SYSTEM_DRIVES)
        blnkTrace("System drive %s not stored: the table is full", name.c_str());
    }
  }
  blnkTrace("Exiting getMegaRaidSystemDriveListing - %d drives", found);
  return &table[0][0];
}
