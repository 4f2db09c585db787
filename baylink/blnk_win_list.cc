// The Windows device list lines and drive entries; see blnk_win_list.h.
#include "baylink/blnk_win_list.h"

#include <cctype>
#include <cinttypes>
#include <cstdio>

#include "baylink/blnk_internal.h"
#include "baylink/blnk_scan.h"

namespace blnkwin {

namespace {

// DecodeDevType's name without its padding, so that it stays one token of the line.
std::string typeName(const unsigned char* inquiry) {
  std::string name = DecodeDevType(inquiry[0] & 0x1F);
  while (!name.empty() && name.back() == ' ') name.pop_back();
  return name;
}

// The number after key (e.g. "id=") as a separate field of the line; -1 when absent or invalid.
int fieldNumber(std::string_view line, std::string_view key) {
  for (size_t at = line.find(key); at != std::string_view::npos; at = line.find(key, at + 1)) {
    if (at != 0 && line[at - 1] != ' ') continue;  // "lun=" inside "xlun=" is not the field
    size_t p = at + key.size();
    int value = 0;
    int digits = 0;
    while (p < line.size() && std::isdigit(static_cast<unsigned char>(line[p])) != 0 && digits < 4) {
      value = value * 10 + (line[p++] - '0');
      ++digits;
    }
    if (digits == 0 || digits > 3 || value > 255) return -1;
    if (p < line.size() && line[p] != ' ') return -1;
    return value;
  }
  return -1;
}

}  // namespace

std::string listToken(std::string_view text, size_t width) {
  std::string token;
  for (char c : text) {
    if (width != 0 && token.size() >= width) break;
    token += std::isalnum(static_cast<unsigned char>(c)) != 0 ? c : '_';
  }
  if (width != 0) token.resize(width, '_');
  return token.empty() ? "_" : token;
}

std::string physicalDriveLine(int drive, int bus, int target, int lun, const unsigned char* inquiry,
                              uint64_t sizeBytes, std::string_view serial) {
  if (inquiry == nullptr) return std::string();
  char line[512];
  std::snprintf(line, sizeof line, "\\\\.\\PhysicalDrive%d path=%d id=%d lun=%d type=%s %s %s %" PRIu64 " %s %s",
                drive, bus, target, lun, typeName(inquiry).c_str(), blnkInquiryField(inquiry, 8, 8).c_str(),
                blnkInquiryField(inquiry, 16, 16).c_str(), sizeBytes, listToken(serial, 12).c_str(),
                blnkInquiryField(inquiry, 32, 4).c_str());
  return line;
}

std::string adapterDeviceLine(int adapter, int bus, int target, int lun, const unsigned char* inquiry) {
  if (inquiry == nullptr) return std::string();
  char line[512];
  std::snprintf(line, sizeof line, "\\\\.\\SCSI%d:%d:%d path=%d id=%d lun=%d type=%s %s %s 0 ____ ____________",
                adapter, bus, target, bus, target, lun, typeName(inquiry).c_str(),
                blnkInquiryField(inquiry, 8, 8).c_str(), blnkInquiryField(inquiry, 16, 16).c_str());
  return line;
}

bool parseListAddress(std::string_view line, ListAddress* address) {
  const int bus = fieldNumber(line, "path=");
  const int target = fieldNumber(line, "id=");
  const int lun = fieldNumber(line, "lun=");
  if (bus < 0 || target < 0 || lun < 0) return false;
  *address = ListAddress{bus, target, lun};
  return true;
}

std::string sysDriveEntry(const SysDrive& drive) {
  char size[32];
  std::snprintf(size, sizeof size, "%" PRId64, drive.sizeBytes);
  // Handle and name are the library's own texts ("\\.\PhysicalDrive3", "C:D:"); the rest comes
  // from the drive.
  return "Handle " + drive.handle + "^Name " + drive.name + "^Vendor " +
         listToken(drive.vendor) + "^Product " + listToken(drive.product) + "^Size " + size + "^Serial " +
         listToken(drive.serial) + "^FW " + listToken(drive.firmware) + "^Format " + listToken(drive.format) + "#";
}

}  // namespace blnkwin
