// The device list file and the host's device names; see blnk_device_list.h. The file's own
// reading and writing and the host's native devices are the platform halves
// (blnk_device_list_posix.cc, blnk_device_list_win.cc).
#include "baylink/blnk_device_list.h"

#include <cstdlib>

#include "baylink/blnk_debug.h"
#include "common/scsi/scsi_sim.h"
#include "common/scsi/scsi_transport.h"

namespace {

void addSimulatorDevices(std::vector<std::string>* names) {
  for (const std::string& socket : scsiSimulators()) {
    simwire::ListReply reply;
    std::string error;
    if (!simList(socket, &reply, &error)) {
      blnkTrace("%s", error.c_str());
      continue;
    }
    for (const simwire::ListDevice& d : reply.devices)
      names->push_back(simDeviceName(socket, d.host, d.bus, d.target, d.lun));
  }
}

}  // namespace

std::string blnkDeviceListPath() {
  const char* env = std::getenv("BAYLINK_DEVICE_LIST");
  return env != nullptr && *env != '\0' ? env : blnkDefaultDeviceListPath();
}

std::string blnkFirstToken(const std::string& line) {
  size_t start = line.find_first_not_of(" \t\r");
  if (start == std::string::npos) return "";
  size_t end = line.find_first_of(" \t\r", start);
  return line.substr(start, end == std::string::npos ? std::string::npos : end - start);
}

std::string blnkJoinListLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line.substr(0, kBlnkListLineMax) + "\n";
  return text;
}

std::vector<std::string> blnkListHostDevices() {
  std::vector<std::string> names = blnkListNativeDevices();
  addSimulatorDevices(&names);
  return names;
}
