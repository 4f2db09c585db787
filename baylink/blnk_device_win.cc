// The host's devices on Windows, through the common SCSI layer's SCSI port back end: a physical
// drive "\\.\PhysicalDriveN" takes commands on its own handle (its class driver fills in the
// address); an adapter's device "\\.\SCSIn:b:t" takes them on the adapter "\\.\SCSIn:" with the
// bus, target and LUN of its device list line.
#include <cctype>
#include <string_view>
#include <vector>

#include "baylink/blnk_device.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_win_list.h"
#include "common/scsi/scsi_transport.h"

namespace {

constexpr std::string_view kDrivePrefix = "\\\\.\\PhysicalDrive";
constexpr std::string_view kAdapterPrefix = "\\\\.\\SCSI";

// Decimal digits from at, at most 4 of them; the position after them in *end. -1 for none.
int digitsAt(std::string_view text, size_t at, size_t* end) {
  int value = 0;
  size_t p = at;
  while (p < text.size() && p - at < 4 && std::isdigit(static_cast<unsigned char>(text[p])) != 0)
    value = value * 10 + (text[p++] - '0');
  *end = p;
  return p == at ? -1 : value;
}

// "\\.\PhysicalDriveN" exactly.
bool isDriveName(std::string_view name) {
  if (name.substr(0, kDrivePrefix.size()) != kDrivePrefix) return false;
  size_t end = 0;
  return digitsAt(name, kDrivePrefix.size(), &end) >= 0 && end == name.size();
}

// "\\.\SCSIn:b:t" exactly; *adapter receives "\\.\SCSIn:".
bool isAdapterDeviceName(std::string_view name, std::string* adapter) {
  if (name.substr(0, kAdapterPrefix.size()) != kAdapterPrefix) return false;
  size_t end = 0;
  if (digitsAt(name, kAdapterPrefix.size(), &end) < 0 || end >= name.size() || name[end] != ':') return false;
  *adapter = std::string(name.substr(0, end + 1));
  for (int field = 0; field < 2; ++field) {
    size_t next = 0;
    if (digitsAt(name, end + 1, &next) < 0) return false;
    end = next;
    if (field == 0 && (end >= name.size() || name[end] != ':')) return false;
  }
  return end == name.size();
}

// The first line of the device list that names the device.
std::string listedLine(const std::string& name) {
  std::vector<std::string> lines;
  if (!blnkReadDeviceList(&lines)) return std::string();
  for (const std::string& line : lines) {
    if (blnkFirstToken(line) == name) return line;
  }
  return std::string();
}

// The layer opens a handle per command; this checks once that the name opens at all.
bool opens(const std::string& path) {
  uint32_t pages = 0;
  return scsiSystem().maxPhysicalPages(path, &pages) != ScsiLimitStatus::kNotOpened;
}

}  // namespace

std::unique_ptr<BlnkDevice> blnkOpenHostDevice(const std::string& name, const std::string& listLine) {
  std::string adapter;
  if (isDriveName(name)) {
    if (!opens(name)) return nullptr;
    return blnkMakeTransportDevice(name, 0, 0, 0);
  }
  if (!isAdapterDeviceName(name, &adapter)) return nullptr;
  const std::string line = listLine.empty() ? listedLine(name) : listLine;
  blnkwin::ListAddress address;
  if (blnkFirstToken(line) != name || !blnkwin::parseListAddress(line, &address) || !opens(adapter))
    return nullptr;
  return blnkMakeTransportDevice(adapter, static_cast<uint8_t>(address.bus),
                                 static_cast<uint8_t>(address.target), static_cast<uint8_t>(address.lun));
}
