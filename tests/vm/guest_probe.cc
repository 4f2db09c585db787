// Inside the test guest: the enclosure library (libbaylink.so, the shipped shared library) through
// the kernel's SCSI generic driver, and the RAID module's own reading of SES pages, printed as
// lines the host compares with sg3-utils' decoding of the same devices.
//
//   guest_probe scan                      every getSESDevices line: "device LINE"
//   guest_probe pages DEVICE              "page DEVICE CODE HEX" for pages 1 and 2, then one
//                                         "element DEVICE TYPE INDEX STATUS" per element as the
//                                         RAID module decodes them, and "vpd80 DEVICE TEXT"
//   guest_probe firmware DEVICE FILE      upgradeESIFirmware: "firmware DEVICE rc=N seconds=S"
//
// Exit status 0 when every call did its part, 1 otherwise, 2 on bad usage.
#include <chrono>
#include <cstdio>
#include <cstring>
#include <span>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "modules/brivo/monitor/ses_pages.h"

namespace {

std::string hex(const unsigned char* bytes, size_t length) {
  static const char digits[] = "0123456789abcdef";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += digits[bytes[i] >> 4];
    text += digits[bytes[i] & 15];
  }
  return text;
}

int scan() {
  char* table = getSESDevices();
  int lines = 0;
  for (int i = 0; i < BLNK_DEVICE_LINES && table[i * BLNK_DEVICE_LINE_BYTES] != '\0'; ++i, ++lines)
    std::printf("device %s\n", table + i * BLNK_DEVICE_LINE_BYTES);
  return lines > 0 ? 0 : 1;
}

int pages(const char* device) {
  std::vector<unsigned char> config(BLNK_PAGE_BYTES);
  std::memcpy(config.data(), getSESPage(device, 1), config.size());
  std::vector<unsigned char> status(BLNK_PAGE_BYTES);
  std::memcpy(status.data(), getSESPage(device, 2), status.size());
  size_t configLength = brivo::monitor::sesPageLength(config);
  size_t statusLength = brivo::monitor::sesPageLength(status);
  std::printf("page %s 1 %s\n", device, hex(config.data(), configLength).c_str());
  std::printf("page %s 2 %s\n", device, hex(status.data(), statusLength).c_str());
  std::vector<brivo::monitor::SesElementType> types =
      brivo::monitor::sesElementTypes(std::span<const uint8_t>(config.data(), configLength));
  std::vector<brivo::monitor::SesElement> elements;
  if (types.empty() || config[0] != 1 || status[0] != 2 ||
      !brivo::monitor::sesStatusElements(types, std::span<const uint8_t>(status.data(), statusLength), &elements)) {
    std::printf("error %s the RAID module cannot walk the pages\n", device);
    return 1;
  }
  for (const brivo::monitor::SesElement& e : elements)
    std::printf("element %s 0x%02x %d %d\n", device, e.type, e.index, e.bytes[0] & 0x0F);
  const unsigned char* vpd = getScsiVPDSense(device, 0x80);
  size_t length = vpd[1] == 0x80 ? std::min<size_t>(vpd[3], BLNK_VPD_BYTES - 4) : 0;
  std::printf("vpd80 %s %.*s\n", device, static_cast<int>(length), reinterpret_cast<const char*>(vpd + 4));
  return 0;
}

int firmware(const char* device, const char* file) {
  auto start = std::chrono::steady_clock::now();
  int rc = upgradeESIFirmware(device, file);
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("firmware %s rc=%d seconds=%.1f\n", device, rc, seconds);
  return rc == 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  std::string what = argc > 1 ? argv[1] : "";
  int rc = 2;
  if (what == "scan" && argc == 2) {
    rc = scan();
  } else if (what == "pages" && argc == 3) {
    rc = pages(argv[2]);
  } else if (what == "firmware" && argc == 4) {
    rc = firmware(argv[2], argv[3]);
  } else {
    std::fputs("usage: guest_probe scan | pages DEVICE | firmware DEVICE FILE\n", stderr);
  }
  std::fflush(stdout);
  return rc;
}
