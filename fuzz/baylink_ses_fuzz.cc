// Fuzz target: the enclosure library's use of what devices answer. Baylink reads INQUIRY data,
// READ CAPACITY, SES pages 1 and 2 (enclosure identifier, slot count, slot flags, ESI status),
// the vendor CLI pages, VPD pages and sense data, from any device on the host; a faulty or
// hostile enclosure chooses all of those bytes. Here the fuzzer is every device: the library's
// SCSI layer is routed to a transport that answers each command from the input (outcome, status,
// sense and data bytes), while the device names come from a small simulated world served
// in-process, as the library's own tests do.
//
// Per input: the scan (getSESDevices), then page, CLI, VPD reads and an enclosure firmware
// upgrade (with its ESI decisions) on the first device.
//
// Checks: every line of the device table is terminated within its entry and the table ends with
// an empty entry; no command reports more data than its buffer holds.
//
// Thread safety: one input at a time; the library's state is process-wide.
#include <stdlib.h>

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_firmware.h"
#include "baylink/blnk_host.h"
#include "baylink/blnk_internal.h"
#include "common/scsi/scsi_transport.h"
#include "fuzz/fuzz_support.h"
#include "sim/sim_config.h"
#include "sim/sim_server.h"
#include "sim/sim_world.h"

namespace {

namespace fs = std::filesystem;

const char kWorld[] = R"(
[disk boot]
serial = ZC1A2B3C
path = 0:0:2:0
[enclosure bayA]
wwn = 500A0B8000112233
self_slot = 3
path = 0:0:8:0
[enclosure bayA2]
wwn = 500A0B8000112233
path = 0:0:9:0
[disk last]
path = 0:0:12:0
)";

// The answers of the current input, taken command by command.
fuzz::Input* gAnswers = nullptr;

class AnsweringTransport : public ScsiTransport {
 public:
  std::vector<ScsiAdapter> listAdapters() override { return {}; }
  bool readBusTable(int, std::vector<ScsiBusEntry>*) override { return false; }
  std::vector<ScsiDeviceName> listDeviceNames() override { return {}; }
  bool deviceAddress(std::string_view, ScsiAddress*) override { return false; }
  ScsiLimitStatus maxPhysicalPages(std::string_view, uint32_t*) override { return ScsiLimitStatus::kFailed; }

  ScsiResult execute(const ScsiCommand& command) override {
    ScsiResult result;
    const ScsiResult invalid = validateScsiCommand(command);
    if (invalid.outcome != ScsiOutcome::kGood) return invalid;
    if (gAnswers == nullptr || gAnswers->empty()) return result;  // the device went away
    const uint8_t kind = gAnswers->byte();
    switch (kind % 8) {
      case 0:
        result.outcome = ScsiOutcome::kNoAnswer;
        return result;
      case 1:
        result.outcome = ScsiOutcome::kTimeout;
        return result;
      case 2:
        result.outcome = ScsiOutcome::kCheckCondition;
        result.status = 2;
        break;
      case 3:
        result.outcome = ScsiOutcome::kStatus;
        result.status = gAnswers->byte();
        break;
      default:
        result.outcome = ScsiOutcome::kGood;
        break;
    }
    if (result.outcome == ScsiOutcome::kCheckCondition && command.sense != nullptr) {
      const std::string_view sense = gAnswers->bytes(gAnswers->byte() % (command.senseCapacity + 1));
      std::memcpy(command.sense, sense.data(), sense.size());
      result.senseLength = static_cast<uint8_t>(sense.size());
    }
    if (command.direction == ScsiDirection::kIn && command.data != nullptr) {
      // A short answer is common (the page's own length); the rest of the buffer keeps what the
      // caller put there.
      const std::string_view bytes = gAnswers->bytes(gAnswers->u16() % (command.dataLength + 1));
      std::memcpy(command.data, bytes.data(), bytes.size());
      result.transferred = static_cast<uint32_t>(bytes.size());
    } else if (command.direction == ScsiDirection::kOut) {
      result.transferred = command.dataLength;
    }
    return result;
  }
};

std::unique_ptr<sim::SimWorld> gWorld;
std::unique_ptr<sim::SimServer> gServer;
std::string gFirmware;

void checkTable(const char* table) {
  bool ended = false;
  for (int i = 0; i < BLNK_DEVICE_LINES; ++i) {
    const char* entry = table + i * BLNK_DEVICE_LINE_BYTES;
    FUZZ_CHECK(memchr(entry, '\0', BLNK_DEVICE_LINE_BYTES) != nullptr);
    if (entry[0] == '\0') ended = true;
  }
  FUZZ_CHECK(ended);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  const fs::path scratch = fuzz::enterScratchFolder("baylink_ses");
  fs::create_directories(scratch / "root");
  blnkSetHostForTesting((scratch / "root").string(), nullptr);
  const std::string socket = (scratch / "sim.sock").string();
  setenv("BAYLINK_DEVICE_LIST", (scratch / "blnkscan").c_str(), 1);
  setenv("KESTROVA_SCSI_SIM", socket.c_str(), 1);
  setenv("BAYLINK_STORELIB", (scratch / "no-storelib.so").c_str(), 1);
  sim::SimConfig config;
  std::string error;
  if (!sim::parseSimConfig(kWorld, &config, &error)) {
    std::fprintf(stderr, "baylink_ses_fuzz: %s\n", error.c_str());
    std::abort();
  }
  gWorld = std::make_unique<sim::SimWorld>(std::move(config));
  gServer = std::make_unique<sim::SimServer>(*gWorld, socket);
  if (!gServer->start(&error)) {
    std::fprintf(stderr, "baylink_ses_fuzz: %s\n", error.c_str());
    std::abort();
  }
  setScsiSystemForTesting(std::make_unique<AnsweringTransport>());
  gFirmware = (scratch / "image.bin").string();
  fuzz::writeFile(gFirmware, std::string(1000, '\x5a'));
  BlnkUpgradeTiming fast;
  fast.settleMs = 0;
  fast.pollMs = 0;
  fast.maxPolls = 2;
  fast.chunkDelayMs = 0;
  blnkSetUpgradeTimingForTesting(fast);
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  gAnswers = &input;
  const char* table = getSESDevices();
  checkTable(table);
  const std::string first(table);
  const std::string device = first.substr(0, first.find('^'));
  if (!device.empty()) {
    (void)getSESPage(device.c_str(), 0x02);
    (void)getCLIResponse(device.c_str(), 0x84);
    (void)getScsiVPDSense(device.c_str(), 0x80);
    (void)upgradeESIFirmware(device.c_str(), gFirmware.c_str());
  }
  gAnswers = nullptr;
  SCSI_CloseDevice();
  return 0;
}
