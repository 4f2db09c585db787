// Owner of the server's device list and the glue between the server's settings and the scan.
#include "server/device_list_owner.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "common/scsi/device_scan.h"
#include "common/scsi/scsi_sim.h"
#include "common/scsi/scsi_transport.h"
#include "server/server_state.h"

namespace {

DeviceRecord* gDeviceList = nullptr;

// The scan's record blocks are diagnosis for the operator, so they go to the console.
void printToConsole(void*, const char* text) {
  std::fputs(text, stdout);
  std::fflush(stdout);
}

// Every "ScsiSimulator" line of db/server.ini names one simulator socket (the table holds
// duplicates of a key, newest first, so walk it rather than look the key up once).
std::vector<std::string> configuredSimulators() {
  std::vector<std::string> sockets;
  for (VariableEntry* e = serverSettings().server; e != nullptr; e = e->next) {
    if (std::strcmp(e->key, "ScsiSimulator") == 0 && e->value[0] != '\0') {
      for (std::string& s : splitSimulatorList(e->value)) sockets.insert(sockets.begin(), s);
    }
  }
  return sockets;
}

}  // namespace

DeviceRecord* serverDeviceList() { return gDeviceList; }

void scanServerDevices(bool rescanBuses) {
  setScsiSimulators(configuredSimulators());
  ScanOutput output;
  output.print = printToConsole;
  // A fresh list each pass: the list was freed at the end of the previous one.
  scanScsiDevices(scsiSystem(), rescanBuses, &gDeviceList, &output);
}

void freeServerDeviceList() {
  DeviceRecord* list = gDeviceList;
  gDeviceList = nullptr;
  destroyDeviceList(list);
  // Pooled simulator connections would otherwise outlive a restart as open descriptors.
  closeSimConnections();
}
