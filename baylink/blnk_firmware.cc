// Enclosure firmware upgrade: the image in 468-byte chunks inside page 4, written through the
// reporting ESI, then (on a two-ESI enclosure) through the other one after the fail-over, then a
// watch for the fail-back.
#include "baylink/blnk_firmware.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_internal.h"
#include "baylink/blnk_scsi.h"

namespace {

constexpr size_t kChunk = 468;
constexpr int kRetryLimit = 10;
constexpr int kFirstEsiOffset = 120;
constexpr int kSecondEsiOffset = 124;
constexpr unsigned char kNotInstalled = 5;

enum Esi { kFirst = 0, kSecond = 1, kUndetermined = 2 };

BlnkUpgradeTiming& timing() {
  static BlnkUpgradeTiming value;
  return value;
}

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

struct Upgrade {
  File image;
  bool singleEsi = false;
  Esi firstReporter = kUndetermined;
  bool failBack = true;
  int retries = 0;  // shared by every chunk of the whole upgrade
};

const unsigned char* esiDescriptor(const std::vector<unsigned char>& status, Esi esi) {
  return &status[esi == kFirst ? kFirstEsiOffset : kSecondEsiOffset];
}

bool installed(const unsigned char* d) { return d[0] != kNotInstalled; }
bool reports(const unsigned char* d) { return (d[2] & 0x01) != 0; }

void settleEsis(Upgrade* u) {
  std::vector<unsigned char> page(BLNK_PAGE_BYTES);
  iReadSESFromDrive(0x01, page.data(), BLNK_PAGE_BYTES);
  iReadSESFromDrive(0x02, page.data(), BLNK_PAGE_BYTES);
  const unsigned char* first = esiDescriptor(page, kFirst);
  const unsigned char* second = esiDescriptor(page, kSecond);
  if (!installed(first) || !installed(second)) {
    u->singleEsi = true;
  } else if (reports(first)) {
    u->firstReporter = kFirst;
  } else if (reports(second)) {
    u->firstReporter = kSecond;
  } else {
    blnkTrace("\n\nCould not determine number of cards - Assuming one!\n\n");
    u->singleEsi = true;
    u->failBack = false;
  }
}

// Sends one chunk, retrying from the shared count. 0, or the result of the last failed send.
int sendChunk(Upgrade* u, const unsigned char* data, size_t length, uint32_t offset) {
  std::vector<unsigned char> page(length + 8, 0);
  page[0] = 0x04;
  page[2] = static_cast<unsigned char>((length + 4) >> 8);
  page[3] = static_cast<unsigned char>(length + 4);
  for (int i = 0; i < 4; ++i) page[4 + i] = static_cast<unsigned char>(offset >> (24 - 8 * i));
  std::memcpy(&page[8], data, length);
  int rc = iWriteSESToDrive(page.data(), static_cast<int>(page.size()));
  while (rc != 0 && u->retries < kRetryLimit) {
    ++u->retries;
    blnkTrace("iWriteSESToDrive Failed (%i) in Update FW, Retrying : %i", rc, u->retries);
    rc = iWriteSESToDrive(page.data(), static_cast<int>(page.size()));
  }
  return rc;
}

int flashPass(Upgrade* u, const char* which) {
  blnkTrace("\nFlashing %s ESI with new firmware", which);
  std::rewind(u->image.get());
  unsigned char chunk[kChunk];
  uint32_t offset = 0;
  for (;;) {
    size_t length = std::fread(chunk, 1, kChunk, u->image.get());
    if (length == 0) return 0;
    int rc = sendChunk(u, chunk, length, offset);
    if (rc != 0) return rc;
    CMD_Sleep_mSecs(timing().chunkDelayMs);
    offset += static_cast<uint32_t>(length);
  }
}

// Waits, then polls page 2 until esi is installed and reports. Not seeing it is not an error.
void watchFor(Esi esi) {
  CMD_Sleep_mSecs(timing().settleMs);
  std::vector<unsigned char> status(BLNK_PAGE_BYTES);
  for (int poll = 0; poll < timing().maxPolls; ++poll) {
    if (iReadSESFromDrive(0x02, status.data(), BLNK_PAGE_BYTES) == 0 && status[0] == 0x02 &&
        esi != kUndetermined && installed(esiDescriptor(status, esi)) &&
        reports(esiDescriptor(status, esi))) {
      return;
    }
    CMD_Sleep_mSecs(timing().pollMs);
  }
  blnkTrace("ESI change not seen after %d polls - going on", timing().maxPolls);
}

int runUpgrade(Upgrade* u) {
  settleEsis(u);
  int rc = flashPass(u, "first");
  if (rc != 0) return rc;
  if (!u->singleEsi) {
    std::printf("\nFailing over ESI");
    std::fflush(stdout);
    watchFor(u->firstReporter == kFirst ? kSecond : kFirst);
    rc = flashPass(u, "second");
    if (rc != 0) return rc;
  }
  if (u->failBack) {
    blnkTrace("\nFailing back ESI");
    watchFor(u->firstReporter);
  }
  blnkTrace("\nESI firmware upgrade to Enclosure completed\n");
  return 0;
}

}  // namespace

void blnkSetUpgradeTimingForTesting(const BlnkUpgradeTiming& value) { timing() = value; }

extern "C" int upgradeESIFirmware(const char* device, const char* firmwarePath) {
  blnkTrace("Entering iUpgradeESIFirmware - fw file = %s", firmwarePath != nullptr ? firmwarePath : "(null)");
  int rc = 1;
  if (firmwarePath != nullptr && OpenDevForCommunication(device, 1) == 0) {
    BlnkDeviceCloser closer;
    Upgrade upgrade;
    upgrade.image.reset(std::fopen(firmwarePath, "rbe"));
    if (upgrade.image) rc = runUpgrade(&upgrade);
  }
  blnkTrace("Exiting iUpgradeESIFirmware - return code = %i", rc);
  return rc;
}
