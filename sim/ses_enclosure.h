// A simulated SES enclosure: RECEIVE DIAGNOSTIC RESULTS for pages 0x00 (supported pages), 0x01
// (configuration), 0x02 (enclosure status), 0x04 (string in) and the vendor CLI pages 0x84/0x85;
// SEND DIAGNOSTIC for page 0x02 (enclosure control), 0x04 (string out) and the CLI pages.
//
// Elements, in this order on pages 1 and 2: device slots (type 0x01), power supplies (0x02),
// cooling fans (0x03), temperature sensors (0x04), the audible alarm (0x06, when configured) and
// the enclosure itself (0x0E). Page 1's enclosure descriptor is 64 bytes long, so that page byte
// 73 (vendor-specific) holds the slot count; page 2 byte 14 + 4 x i is the flag byte of slot i
// (identify 0x02, report 0x01 for the slot configured as the SES processor's own).
//
// The same enclosure can be seen directly by the host (a path in the configuration) or only
// through a controller pair, whose model reaches it with diagnosticPage/applyDiagnosticPage.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <chrono>
#include <span>
#include <string>
#include <vector>

#include "sim/sim_target.h"

namespace sim {

struct SesConfig {
  std::string name;
  SimIdentity identity;  // peripheral type 0x0D, enclosure services
  int slots = 12;
  int fans = 2;
  int powerSupplies = 2;
  int temperatureSensors = 3;
  bool alarm = true;
  int selfSlot = -1;  // slot reported with the report bit, -1 for none
  // Enclosure services controllers (ESIs): 0 none (no ESI elements), 1 or 2 installed. With ESIs
  // the page 1/2 element list ends with two ESI elements (type 0x07), the second "not installed"
  // when only one is, and page 4 writes are firmware download chunks (offset in bytes 4-7).
  int esis = 0;
  // How long an ESI takes to restart with a downloaded image: the next command that is not a
  // download chunk, at least this long after the last chunk, finds it restarted and (with two
  // ESIs) the report bit moved to the other ESI.
  int esiRestartMs = 2000;
};

inline constexpr int kTemperatureWarning = 50;  // degrees Celsius
inline constexpr int kTemperatureFailure = 60;
inline constexpr int kDefaultTemperature = 30;

class SesEnclosure : public SimTarget {
 public:
  explicit SesEnclosure(SesConfig config);

  const char* kind() const override { return "enclosure"; }
  SimIdentity identity(int) const override { return config_.identity; }
  const SesConfig& config() const { return config_; }

  // A page as RECEIVE DIAGNOSTIC RESULTS returns it (whole). False for an unknown page.
  bool diagnosticPage(uint8_t page, std::vector<uint8_t>* data) const;
  // A page as SEND DIAGNOSTIC delivers it.
  SimReply applyDiagnosticPage(std::span<const uint8_t> page);

  // Fault injection and state (ctl). Indexes count from 0; false when out of range.
  bool setFanFailed(int index, bool failed);
  bool setPowerSupplyFailed(int index, bool failed);
  bool setTemperature(int index, int celsius);
  bool setSlotFlag(int index, const std::string& flag, bool on);  // "locate", "fault"
  bool setSlotDeviceFailed(int index, bool failed);
  void setLocate(bool on) { locate_ = on; }
  bool setAlarm(const std::string& state);  // "normal", "muted", "remind"
  void setStringData(std::vector<uint8_t> data) { stringData_ = std::move(data); }
  // Firmware download state: which ESI reports, each ESI's loads, image size and hash, and every
  // chunk received as offset+length.
  std::string firmwareStatus() const;

  // ctl lines that rebuild the non-default state.
  void saveState(std::vector<std::string>* lines) const;
  std::string describe() const;

 protected:
  bool handle(const SimCommand& command, SimReply* reply) override;

 private:
  struct Slot {
    bool locate = false;
    bool fault = false;
    bool deviceFailed = false;
  };
  struct Fan {
    bool failed = false;
    bool identify = false;
    uint8_t speedCode = 3;
  };
  struct PowerSupply {
    bool failed = false;
    bool identify = false;
  };
  struct Alarm {
    bool muted = false;
    bool remind = false;
  };

  std::vector<uint8_t> configurationPage() const;
  std::vector<uint8_t> statusPage() const;
  std::vector<uint8_t> cliPage(uint8_t page) const;
  void appendElements(std::vector<uint8_t>* page) const;
  uint8_t summaryFlags() const;
  SimReply applyControlPage(std::span<const uint8_t> page);
  void applyControl(uint8_t type, int index, const uint8_t* element);

  SesConfig config_;
  uint32_t generation_ = 1;
  std::vector<Slot> slots_;
  std::vector<Fan> fans_;
  std::vector<PowerSupply> powerSupplies_;
  std::vector<int> temperatures_;
  Alarm alarm_;
  bool locate_ = false;
  bool failureRequested_ = false;
  std::vector<uint8_t> stringData_;
  std::string cliReply_[2];  // pages 0x84 and 0x85

  struct Esi {
    int loads = 0;
    std::vector<uint8_t> image;
  };
  SimReply downloadChunk(std::span<const uint8_t> page);
  // Restarts the reporting ESI with a finished download (see esiRestartMs).
  void settleDownload();
  Esi esis_[2];
  int reportingEsi_ = 0;
  bool downloadPending_ = false;
  std::vector<uint8_t> download_;
  std::vector<std::pair<uint32_t, uint32_t>> chunks_;  // offset, length
  std::chrono::steady_clock::time_point lastChunk_;
};

}  // namespace sim
