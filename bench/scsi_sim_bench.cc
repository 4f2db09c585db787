// Commands per second through the simulator back end of the SCSI layer: a raidsim daemon (the
// built program, started as a child process with the brivo controller model) answering the READ
// BUFFER commands the RAID module's monitor sends: controller information (1792 bytes), a whole
// event log (98320 bytes) and the configuration block (940032 bytes); and TEST UNIT READY for the
// bare round trip.
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/scsi/scsi_sim.h"
#include "common/scsi/sim_socket.h"
#include "modules/brivo/protocol.h"

namespace fs = std::filesystem;

namespace {

std::string gSocket;

fs::path raidsimPath() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return fs::path(build) / "bin/raidsim";
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin/raidsim";
}

void runCommand(benchmark::State& state, std::vector<uint8_t> cdb, uint32_t length) {
  SimScsiTransport transport({gSocket});
  std::string device = simDeviceName(gSocket, 0, 0, 0, 0);
  std::vector<uint8_t> data(length);
  uint8_t sense[32];
  ScsiCommand command;
  command.device = device;
  command.cdb = cdb.data();
  command.cdbLength = static_cast<uint8_t>(cdb.size());
  command.direction = length != 0 ? ScsiDirection::kIn : ScsiDirection::kNone;
  command.data = length != 0 ? data.data() : nullptr;
  command.dataLength = length;
  command.timeoutMs = 120000;
  command.sense = sense;
  command.senseCapacity = sizeof(sense);
  for (auto _ : state) {
    ScsiResult result = transport.execute(command);
    uint32_t first = 0;
    if (length >= 4) std::memcpy(&first, data.data(), sizeof(first));
    if (result.outcome != ScsiOutcome::kGood || result.transferred != length ||
        (length >= 4 && (first == 0 || first > length))) {
      state.SkipWithError("command failed or the buffer is not the controller's");
      break;
    }
    benchmark::DoNotOptimize(data.data());
  }
  state.SetItemsProcessed(state.iterations());
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}

void BM_TestUnitReady(benchmark::State& state) { runCommand(state, {0x00, 0, 0, 0, 0, 0}, 0); }
std::vector<uint8_t> readBuffer(uint8_t id, uint32_t length) {
  return {0x3C,
          brivo::kModeData,
          id,
          0,
          0,
          0,
          static_cast<uint8_t>(length >> 16),
          static_cast<uint8_t>(length >> 8),
          static_cast<uint8_t>(length),
          0};
}
void BM_ReadBufferControllerInfo(benchmark::State& state) {
  runCommand(state, readBuffer(brivo::kOpReadControllerInfo, brivo::kControllerInfoLength),
             brivo::kControllerInfoLength);
}
void BM_ReadBufferEventLog(benchmark::State& state) {
  runCommand(state, readBuffer(brivo::kOpReadEventLogA, brivo::kEventLogLength), brivo::kEventLogLength);
}
void BM_ReadBufferConfiguration(benchmark::State& state) {
  runCommand(state, readBuffer(brivo::kOpReadConfiguration, brivo::kConfigurationLength),
             brivo::kConfigurationLength);
}

// The daemon works in another process: wall-clock time is what counts.
BENCHMARK(BM_TestUnitReady)->UseRealTime();
BENCHMARK(BM_ReadBufferControllerInfo)->UseRealTime();
BENCHMARK(BM_ReadBufferEventLog)->UseRealTime();
BENCHMARK(BM_ReadBufferConfiguration)->UseRealTime();

}  // namespace

int main(int argc, char** argv) {
  fs::path dir = fs::temp_directory_path() / ("kestrova-bench-" + std::to_string(::getpid()));
  fs::create_directories(dir);
  gSocket = (dir / "sim.sock").string();
  std::string config = (dir / "bench.conf").string();
  std::ofstream(config)
      << "[host 0]\nmax_transfer_kb = 1024\n[pair bench]\nmodel = brivo\ndrives = 12\npath = A 0:0:0:0\n";
  std::string program = raidsimPath().string();
  pid_t daemon = ::fork();
  if (daemon == 0) {
    ::execl(program.c_str(), program.c_str(), "--socket", gSocket.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool up = false;
  for (int i = 0; i < 100 && !up; ++i) {
    int error = 0;
    up = connectSimSocket(gSocket, &error).valid();
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int rc = 1;
  if (up) {
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    rc = 0;
  } else {
    std::fprintf(stderr, "scsi_sim_bench: %s did not start\n", program.c_str());
  }
  ::kill(daemon, SIGTERM);
  ::waitpid(daemon, nullptr, 0);
  fs::remove_all(dir);
  return rc;
}
