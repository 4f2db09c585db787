// Benchmarks of a server under a flood of forged check-ins: 20,000 check-ins, each from another
// address under another identity, go through the listeners' own path (budget, checks, check-in
// record) of a running network whose sends are discarded; then the server bar (GetNetworkInfo,
// rendered with its template as the front end serves it) is built. Reported: check-ins handled
// per second, the bar's time, and as counters the servers it lists and the rendered page's size.
//
// Runs in its own temporary working folder; the template comes from the source tree
// (KESTROVA_SOURCE_DIR, which bench/run.sh sets).
#include <benchmark/benchmark.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "frontend/path_guard.h"
#include "frontend/reply_answer.h"
#include "server/net/network_communicator.h"
#include "server/net/network_packet.h"
#include "server/net/packet_sender.h"
#include "server/request/settings_pages.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kForgedCheckIns = 20000;

class DiscardingTransport : public PacketTransport {
 public:
  void sendUnicast(const std::string&, uint16_t, uint32_t, const std::vector<uint8_t>&) override {}
  void sendMulticast(const std::string&, uint16_t, uint32_t, const std::vector<uint8_t>&) override {}
};

LocalAddressCandidates oneAddress() { return {{0x0A630001}, {0x0A630001}, false}; }

// A running network in a scratch folder; stopped and removed at the end of the process.
class FloodedServer {
 public:
  FloodedServer() {
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-flood-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) std::abort();
    folder_ = pattern;
    std::filesystem::create_directories(folder_ / "db");
    std::filesystem::current_path(folder_);
    initThreadManager();
    serverControl().serverRunning.store(1);
    addVariable(&serverSettings().ip, "IP0", "239.255.77.1");
    setPacketTransport(&transport_);
    setLocalAddressSource(oneAddress);
    initializeKestrovaNetwork();
  }
  ~FloodedServer() {
    stopKestrovaNetwork();
    serverControl().serverRunning.store(0);
    closeThreadManager();
    setPacketTransport(nullptr);
    std::error_code ignored;
    std::filesystem::current_path("/", ignored);
    std::filesystem::remove_all(folder_, ignored);
  }

  // kForgedCheckIns forged check-ins, numbered from first on.
  void flood(uint32_t first) {
    CheckInData data;
    data.hostName = std::string(63, 'h');
    const std::vector<uint8_t> checkIn = encodeCheckInData(data);
    std::vector<uint8_t> datagram;
    for (uint32_t i = first; i < first + kForgedCheckIns; ++i) {
      const uint32_t source = 0x0B000000 + i;
      const std::string identity = "FORGED" + std::to_string(i) + "--" + std::to_string(source);
      buildNetworkPacket(kCheckInRequest, kCheckInDataSize, 1, source, checkIn.data(), identity, 1700000000,
                         &datagram);
      handleReceivedDatagram(datagram.data(), datagram.size(), source);
    }
  }

 private:
  std::filesystem::path folder_;
  DiscardingTransport transport_;
};

FloodedServer* gServer = nullptr;  // made and ended by main, around the benchmarks

FloodedServer& server() { return *gServer; }

void BM_ForgedCheckInFlood(benchmark::State& state) {
  uint32_t first = 0;
  for (auto _ : state) {
    server().flood(first);
    first += kForgedCheckIns;
  }
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * kForgedCheckIns);
  state.counters["servers"] = static_cast<double>(listedServerCount());
}
BENCHMARK(BM_ForgedCheckInFlood)->Iterations(3)->Unit(benchmark::kMillisecond);

void BM_ServerBarAfterFlood(benchmark::State& state) {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (source == nullptr) {
    state.SkipWithError("KESTROVA_SOURCE_DIR names no source tree");
    return;
  }
  server().flood(1000000);
  const PathGuard guard((std::filesystem::path(source)));
  size_t bytes = 0;
  for (auto _ : state) {
    VariableTable reply = GetNetworkInfo(nullptr);
    const FrontResponse page = answerReply(guard, reply, AnswerKind::kPage);
    freeVariableTable(&reply);
    if (page.status != 200) {
      state.SkipWithError(("the server bar did not render: " + page.body.substr(0, 200)).c_str());
      return;
    }
    bytes = page.body.size();
    benchmark::DoNotOptimize(bytes);
  }
  state.counters["servers"] = static_cast<double>(listedServerCount());
  state.counters["page_kb"] = static_cast<double>(bytes) / 1024;
}
BENCHMARK(BM_ServerBarAfterFlood)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  {
    FloodedServer flooded;
    gServer = &flooded;
    benchmark::RunSpecifiedBenchmarks();
    gServer = nullptr;
  }
  benchmark::Shutdown();
  return 0;
}
