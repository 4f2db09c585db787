// One cycle of the Brivo module's monitor over 40 simulated controller pairs (each seen through
// two paths, with twelve drives and an SES enclosure), through a raidsim daemon started as a
// child process. Measures wall time and process CPU time per cycle; the counters give the CPU
// share of one core at the real ten-second period ("core_share_10s", target below 0.10) and the
// daemon's own CPU per cycle. Two cases: the steady cycle (event logs and enclosures read,
// nothing new) and a cycle that ends with the global status update (every pair's solution status).
#include <benchmark/benchmark.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>

#include "common/device_list.h"
#include "common/module_abi.h"
#include "common/scsi/device_scan.h"
#include "common/scsi/scsi_sim.h"
#include "common/scsi/scsi_transport.h"
#include "modules/brivo/device_acceptance.h"
#include "modules/brivo/module_hooks.h"
#include "modules/brivo/module_lifecycle.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/monitor/monitor.h"

namespace fs = std::filesystem;

namespace {

constexpr int kPairs = 40;
constexpr double kPeriodSeconds = 10.0;

pid_t gDaemon = -1;
DeviceRecord* gList = nullptr;

fs::path buildDir() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return build;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

std::string pairsConfig() {
  std::ostringstream config;
  for (int host = 0; host < kPairs / 8; ++host) config << "[host " << host << "]\nmax_transfer_kb = 1024\n";
  for (int n = 0; n < kPairs; ++n) {
    char wwn[17];
    std::snprintf(wwn, sizeof wwn, "20000004CF%06X", n);
    config << "[pair p" << n << "]\nmodel = brivo\nwwn = " << wwn << "\ndrives = 12\nenclosure = e" << n
           << "\n"
           << "path = A " << n / 8 << ":0:" << (n % 8) * 2 << ":0\n"
           << "path = B " << n / 8 << ":0:" << (n % 8) * 2 + 1 << ":0\n"
           << "[enclosure e" << n << "]\nwwn = 500A0B80" << wwn + 8 << "\nslots = 12\n";
  }
  return config.str();
}

// CPU seconds (user + system) of a process from /proc.
double processCpuSeconds(pid_t pid) {
  std::ifstream in("/proc/" + std::to_string(pid) + "/stat");
  std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  const size_t end = text.rfind(')');
  if (end == std::string::npos) return 0;
  std::istringstream fields(text.substr(end + 2));
  std::string skip;
  for (int i = 0; i < 11; ++i) fields >> skip;  // state ... cmajflt
  unsigned long long user = 0, system = 0;
  fields >> user >> system;
  return static_cast<double>(user + system) / static_cast<double>(sysconf(_SC_CLK_TCK));
}

double selfCpuSeconds() {
  timespec t{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
  return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
}

int quietRaise(const char*, const char*, uint32_t, uint32_t, uint32_t, uint8_t) { return 0; }
int quietDispatch(const EventRecord*) { return 0; }
int quietPrint(uint32_t, const char*, ...) { return 0; }

void runCycles(benchmark::State& state, bool withUpdate) {
  double selfCpu = 0, simCpu = 0;
  int polled = 0;
  for (auto _ : state) {
    if (withUpdate) brivo::moduleState().statusUpdateRequested.store(true);
    const double self0 = selfCpuSeconds(), sim0 = processCpuSeconds(gDaemon);
    const brivo::monitor::CycleOutcome outcome = brivo::monitor::runMonitorCycle();
    selfCpu += selfCpuSeconds() - self0;
    simCpu += processCpuSeconds(gDaemon) - sim0;
    polled = outcome.pairsPolled;
  }
  if (polled != kPairs) state.SkipWithError("not every pair was polled");
  const double cycles = static_cast<double>(state.iterations());
  state.counters["pairs"] = polled;
  state.counters["core_share_10s"] = selfCpu / cycles / kPeriodSeconds;
  state.counters["sim_cpu_ms"] = simCpu / cycles * 1000;
}

void BM_MonitorCycle40Pairs(benchmark::State& state) { runCycles(state, false); }
void BM_MonitorCycle40PairsWithStatusUpdate(benchmark::State& state) { runCycles(state, true); }

BENCHMARK(BM_MonitorCycle40Pairs)->UseRealTime()->MeasureProcessCPUTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MonitorCycle40PairsWithStatusUpdate)
    ->UseRealTime()
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond);

// Loads the module's files in folder, takes the simulated devices and claims every pair.
bool setUpModule(const fs::path& folder, const std::string& socket) {
  static ModuleServices services{};
  services.dispatchEvent = quietDispatch;
  services.raiseEvent = quietRaise;
  services.debugPrint = quietPrint;
  fs::copy(buildDir() / "mods/Brivo", folder / "mods/Brivo", fs::copy_options::recursive);
  fs::current_path(folder);
  setScsiSimulators({socket});
  if (scanScsiDevices(scsiSystem(), false, &gList) == 0) return false;
  if (brivo::startModule(&services) != 0) return false;
  brivo::moduleHooks().startMonitor = nullptr;  // the benchmark runs the cycles itself
  brivo::setAcceptSettleTimeForTesting(0);
  std::fflush(stdout);
  const int saved = dup(STDOUT_FILENO);  // the module's operator messages are not the benchmark's
  std::freopen("/dev/null", "w", stdout);
  brivo::acceptDevices(gList);
  for (DeviceRecord* d = gList; d != nullptr; d = d->next) {
    for (ModDeviceItem* u = d->units; u != nullptr; u = u->next) u->modStatus = MINE;
  }
  brivo::monitor::runMonitorCycle();  // first sight of every pair
  std::fflush(stdout);
  dup2(saved, STDOUT_FILENO);
  close(saved);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const fs::path dir = fs::temp_directory_path() / ("kestrova-monbench-" + std::to_string(::getpid()));
  fs::create_directories(dir / "mods");
  const std::string socket = (dir / "sim.sock").string();
  const std::string config = (dir / "pairs.conf").string();
  std::ofstream(config) << pairsConfig();
  const std::string program = (buildDir() / "bin/raidsim").string();
  gDaemon = ::fork();
  if (gDaemon == 0) {
    std::freopen("/dev/null", "w", stdout);
    ::execl(program.c_str(), program.c_str(), "--socket", socket.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  bool up = false;
  for (int i = 0; i < 100 && !up; ++i) {
    std::string reply;
    up = simControl(socket, "list", &reply, 1000) == 0;
    if (!up) std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  int rc = 1;
  if (up && setUpModule(dir, socket)) {
    benchmark::Initialize(&argc, argv);
    // The module's operator messages go to standard output; the figures go to standard error.
    std::fflush(stdout);
    std::freopen("/dev/null", "w", stdout);
    benchmark::ConsoleReporter reporter;
    reporter.SetOutputStream(&std::cerr);
    reporter.SetErrorStream(&std::cerr);
    benchmark::RunSpecifiedBenchmarks(&reporter);
    benchmark::Shutdown();
    rc = 0;
  } else {
    std::fprintf(stderr, "brivo_monitor_bench: the simulated pairs could not be set up\n");
  }
  std::freopen("/dev/null", "w", stdout);
  brivo::setShutdownTimingForTesting(0, 10);
  brivo::shutdownModule();
  destroyDeviceList(gList);
  ::kill(gDaemon, SIGTERM);
  ::waitpid(gDaemon, nullptr, 0);
  fs::remove_all(dir);
  return rc;
}
