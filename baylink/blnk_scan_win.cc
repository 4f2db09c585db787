// The Windows scan and the host's own drives, through the common SCSI layer's SCSI port back
// end: first every physical drive the system names, then the devices on each adapter's buses
// that no class driver claims and that were not already listed as a drive (the ITL list).
#include <windows.h>
// after windows.h
#include <winioctl.h>

#include <cctype>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_device_list.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_scsi.h"
#include "baylink/blnk_win_list.h"
#include "common/scsi/scsi_transport.h"

namespace {

constexpr char kDrivePrefix[] = "\\\\.\\PHYSICALDRIVE";  // as the system lists it
constexpr char kAdapterPrefix[] = "\\\\.\\SCSI";
constexpr int kInquiryBytes = 255;

// The number after prefix when the rest of name is only digits; -1 otherwise.
int trailingNumber(const std::string& name, const char* prefix, char end) {
  const size_t length = std::strlen(prefix);
  if (name.compare(0, length, prefix) != 0) return -1;
  int value = 0;
  size_t p = length;
  while (p < name.size() && p - length < 4 && std::isdigit(static_cast<unsigned char>(name[p])) != 0)
    value = value * 10 + (name[p++] - '0');
  if (p == length) return -1;
  if (end != '\0' && (p >= name.size() || name[p++] != end)) return -1;
  return p == name.size() ? value : -1;
}

// The physical drives the system names, by number, in its order.
std::vector<int> physicalDrives(ScsiTransport& scsi) {
  std::vector<int> drives;
  for (const ScsiDeviceName& entry : scsi.listDeviceNames()) {
    const int number = trailingNumber(entry.name, kDrivePrefix, '\0');
    if (number >= 0) drives.push_back(number);
  }
  return drives;
}

std::string driveName(int number) { return "\\\\.\\PhysicalDrive" + std::to_string(number); }

// An INQUIRY text field without its padding.
std::string inquiryText(const unsigned char* inquiry, int offset, int width) {
  std::string text(reinterpret_cast<const char*>(inquiry) + offset, static_cast<size_t>(width));
  while (!text.empty() && (text.back() == ' ' || text.back() == '\0')) text.pop_back();
  return text;
}

// Drive number -> the letters of the volumes on it ("C:D:").
std::map<int, std::string> driveLetters() {
  std::map<int, std::string> letters;
  const DWORD mask = GetLogicalDrives();
  for (int i = 0; i < 26; ++i) {
    if ((mask & (1u << i)) == 0) continue;
    const char letter = static_cast<char>('A' + i);
    const std::string root = std::string(1, letter) + ":\\";
    const UINT type = GetDriveTypeA(root.c_str());
    if (type != DRIVE_FIXED && type != DRIVE_REMOVABLE) continue;
    const std::string volume = "\\\\.\\" + std::string(1, letter) + ":";
    HANDLE handle = CreateFileA(volume.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) continue;
    STORAGE_DEVICE_NUMBER number{};
    DWORD got = 0;
    if (DeviceIoControl(handle, IOCTL_STORAGE_GET_DEVICE_NUMBER, nullptr, 0, &number, sizeof number, &got,
                        nullptr) != FALSE &&
        number.DeviceType == FILE_DEVICE_DISK) {
      letters[static_cast<int>(number.DeviceNumber)] += std::string(1, letter) + ":";
    }
    CloseHandle(handle);
  }
  return letters;
}

// "MBR", "GPT", "RAW", or "Unknown" when the layout cannot be read.
std::string partitionStyle(const std::string& drive) {
  HANDLE handle = CreateFileA(drive.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                              OPEN_EXISTING, 0, nullptr);
  if (handle == INVALID_HANDLE_VALUE) return "Unknown";
  std::vector<unsigned char> buffer(sizeof(DRIVE_LAYOUT_INFORMATION_EX) +
                                    128 * sizeof(PARTITION_INFORMATION_EX));
  DWORD got = 0;
  const BOOL ok = DeviceIoControl(handle, IOCTL_DISK_GET_DRIVE_LAYOUT_EX, nullptr, 0, buffer.data(),
                                  static_cast<DWORD>(buffer.size()), &got, nullptr);
  CloseHandle(handle);
  if (ok == FALSE || got < sizeof(DWORD)) return "Unknown";
  DWORD style = 0;
  std::memcpy(&style, buffer.data(), sizeof style);  // PartitionStyle comes first
  switch (style) {
    case PARTITION_STYLE_MBR:
      return "MBR";
    case PARTITION_STYLE_GPT:
      return "GPT";
    case PARTITION_STYLE_RAW:
      return "RAW";
    default:
      return "Unknown";
  }
}

}  // namespace

std::vector<std::string> blnkListNativeDevices() {
  blnkForgetFoundItl();
  ScsiTransport& scsi = scsiSystem();
  // Listing the adapters first also lets the layer tell the adapter of a drive's address.
  const std::vector<ScsiAdapter> adapters = scsi.listAdapters();
  std::vector<std::string> lines;
  for (int number : physicalDrives(scsi)) {
    const std::string name = driveName(number);
    ScsiAddress address;
    const bool addressed = scsi.deviceAddress(name, &address);
    if (SCSI_OpenDevice(name.c_str()) == 0) continue;
    BlnkDeviceCloser closer;
    unsigned char inquiry[kInquiryBytes];
    if (ScsiInquiry(inquiry) != 0) {
      blnkTrace("%s opens but does not answer INQUIRY - left out", name.c_str());
      continue;
    }
    unsigned long long size = 0;
    SCSIReadCap(&size);
    if (!addressed) address = ScsiAddress{};
    lines.push_back(
        blnkwin::physicalDriveLine(number, address.path, address.target, address.lun, inquiry, size,
                                   std::string_view(reinterpret_cast<const char*>(inquiry) + 36, 12)));
    // Without its address the drive cannot be told from an adapter's device: both are listed.
    if (addressed) WeHaveFoundITLAlready(address.path, address.target, address.lun, inquiry[0] & 0x1F);
  }
  for (const ScsiAdapter& adapter : adapters) {
    const int number = trailingNumber(adapter.name, kAdapterPrefix, ':');
    if (number < 0) continue;  // a simulator's adapter: its devices are listed by their own names
    scsi.rescanBus(adapter.port);
    std::vector<ScsiBusEntry> entries;
    if (!scsi.readBusTable(adapter.port, &entries)) {
      blnkTrace("%s: no inquiry data", adapter.name.c_str());
      continue;
    }
    for (const ScsiBusEntry& entry : entries) {
      if (entry.claimed) continue;
      if (WeHaveFoundITLAlready(entry.pathId, entry.targetId, entry.lun, entry.inquiry[0] & 0x1F) != 0)
        continue;
      lines.push_back(
          blnkwin::adapterDeviceLine(number, entry.pathId, entry.targetId, entry.lun, entry.inquiry.data()));
    }
  }
  return lines;
}

extern "C" char* getSysDrives(void) {
  static char buffer[BLNK_SYSTEM_DRIVES * BLNK_SYSTEM_DRIVE_BYTES];
  const std::map<int, std::string> letters = driveLetters();
  std::string text;
  for (int number : physicalDrives(scsiSystem())) {
    blnkwin::SysDrive drive;
    drive.handle = driveName(number);
    if (SCSI_OpenDevice(drive.handle.c_str()) == 0) continue;
    BlnkDeviceCloser closer;
    unsigned char inquiry[kInquiryBytes];
    if (ScsiInquiry(inquiry) == 0) {
      drive.vendor = inquiryText(inquiry, 8, 8);
      drive.product = inquiryText(inquiry, 16, 16);
      drive.firmware = inquiryText(inquiry, 32, 4);
      drive.serial = inquiryText(inquiry, 36, 12);
    }
    unsigned long long size = 0;
    SCSIReadCap(&size);
    drive.sizeBytes = static_cast<int64_t>(size);
    const auto found = letters.find(number);
    drive.name = found != letters.end() ? found->second : std::string();
    drive.format = partitionStyle(drive.handle);
    const std::string entry = blnkwin::sysDriveEntry(drive);
    // Whole entries only: the text always ends with a complete "#".
    if (text.size() + entry.size() >= sizeof buffer) break;
    text += entry;
  }
  std::memcpy(buffer, text.c_str(), text.size() + 1);
  return buffer;
}
