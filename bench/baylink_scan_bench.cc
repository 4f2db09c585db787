// The enclosure library's device scan (getSESDevices) over 64 simulated devices: 16 SES
// enclosures (8 with two expanders sharing one identifier) and 48 plain disks, served by an
// in-process raidsim on a Unix socket. Each scan rebuilds the device list file, opens every
// device, reads pages 1 and 2 (up to four attempts each), INQUIRY and READ CAPACITY, and writes
// its debug lines. Also: one page read (getSESPage) for the per-operation cost.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "common/scsi/scsi_sim.h"
#include "sim/sim_server.h"

namespace fs = std::filesystem;

namespace {

std::string configText() {
  std::string text;
  for (int e = 0; e < 16; ++e) {
    char section[160];
    std::snprintf(section, sizeof(section),
                  "[enclosure bay%d]\nwwn = %llX\nself_slot = %d\npath = 0:0:%d:0\n", e,
                  0x500A0B8000110000ULL + static_cast<unsigned long long>(e / 2), e % 12, 8 + e);
    text += section;
  }
  for (int d = 0; d < 48; ++d)
    text += "[disk d" + std::to_string(d) + "]\npath = 0:" + std::to_string(1 + d / 16) + ":" +
            std::to_string(d % 16) + ":0\n";
  return text;
}

// The simulated world and the library's settings for the whole run.
class World {
 public:
  World() {
    std::string pattern = (fs::temp_directory_path() / "blnk-bench-XXXXXX").string();
    dir_ = mkdtemp(pattern.data()) != nullptr ? pattern : "";
    fs::current_path(dir_);
    fs::create_directories(dir_ / "root");
    blnkSetHostForTesting((dir_ / "root").string(), nullptr);
    socket_ = (dir_ / "sim.sock").string();
    setenv("BAYLINK_DEVICE_LIST", (dir_ / "blnkscan").c_str(), 1);
    setenv("KESTROVA_SCSI_SIM", socket_.c_str(), 1);
    setenv("BAYLINK_STORELIB", (dir_ / "no-storelib.so").c_str(), 1);
    sim::SimConfig config;
    std::string error;
    if (!sim::parseSimConfig(configText(), &config, &error)) std::fprintf(stderr, "%s\n", error.c_str());
    world_ = std::make_unique<sim::SimWorld>(std::move(config));
    server_ = std::make_unique<sim::SimServer>(*world_, socket_);
    if (!server_->start(&error)) std::fprintf(stderr, "%s\n", error.c_str());
  }
  ~World() {
    server_->stop();
    closeSimConnections();
    fs::current_path(fs::temp_directory_path());
    fs::remove_all(dir_);
  }
  std::string device(int target) const { return simDeviceName(socket_, 0, 0, target, 0); }

 private:
  fs::path dir_;
  std::string socket_;
  std::unique_ptr<sim::SimWorld> world_;
  std::unique_ptr<sim::SimServer> server_;
};

World& world() {
  static World instance;  // stopped and removed at exit
  return instance;
}

void BM_ScanSimulated64(benchmark::State& state) {
  world();
  int devices = 0;
  for (auto _ : state) {
    char* table = getSESDevices();
    devices = 0;
    while (devices < BLNK_DEVICE_LINES && table[devices * BLNK_DEVICE_LINE_BYTES] != '\0') ++devices;
    if (devices != 64) {
      state.SkipWithError("the scan did not find the 64 devices");
      break;
    }
  }
  state.counters["devices"] = devices;
  state.counters["devices_per_s"] =
      benchmark::Counter(static_cast<double>(devices) * state.iterations(), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_ScanSimulated64)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_GetSESPage(benchmark::State& state) {
  world();
  getSESDevices();
  std::string enclosure = world().device(8);
  for (auto _ : state) {
    unsigned char* page = getSESPage(enclosure.c_str(), 0x02);
    if (page[0] != 0x02) {
      state.SkipWithError("page 2 not read");
      break;
    }
  }
}
BENCHMARK(BM_GetSESPage)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
