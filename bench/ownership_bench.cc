// Who monitors the pair, and how soon: three servers with the RAID module, each in its own network
// namespace on one bridge (tests/network_lab.h), and one simulated controller pair that all of
// them see. Measured, without and with a network key:
// - converge_s: from the start of the three servers until exactly one monitors the pair and the
//   other two let it;
// - failover_s: from killing that server until one of the other two monitors it and the third
//   lets it;
// - double_owner_looks: looks (every 250 ms, from the first agreement to the end) at which two
//   live servers both said they monitor the pair; it must stay 0.
//
// Needs root (namespaces); reports an error otherwise. One iteration each: a run takes about a
// minute. KESTROVA_BUILD_DIR and KESTROVA_SOURCE_DIR must name a build with the server, raidsim,
// the RAID module and the test module, and its sources (bench/run.sh sets both).
#include <benchmark/benchmark.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "tests/network_lab.h"

namespace {

using namespace netlab;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr char kPair[] = "Brivo20000004CF8A1B2C";
constexpr char kKey[] = "the key of the measured site";

// The index of the one server (of live) that monitors the pair while the others let it, or -1;
// *doubled tells whether two of them said they monitor it.
int pairOwner(const std::vector<NetServer*>& live, bool* doubled) {
  int owner = -1;
  int mine = 0;
  std::vector<std::pair<int32_t, std::string>> claims;
  for (size_t i = 0; i < live.size(); ++i) {
    const auto units = live[i]->units();
    const auto unit = units.find(kPair);
    claims.push_back(unit != units.end() ? unit->second : std::make_pair(int32_t{0}, std::string()));
    if (claims.back().first == kMine) {
      ++mine;
      owner = static_cast<int>(i);
    }
  }
  *doubled = mine > 1;
  if (mine != 1) return -1;
  for (size_t i = 0; i < live.size(); ++i) {
    if (static_cast<int>(i) != owner &&
        (claims[i].first != kNotMine || claims[i].second != live[owner]->address()))
      return -1;
  }
  return owner;
}

// Looks until an owner is agreed or limit passes; counts double owners seen meanwhile.
int waitForOwner(const std::vector<NetServer*>& live, std::chrono::seconds limit, int* doubles) {
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    bool doubled = false;
    const int owner = pairOwner(live, &doubled);
    if (doubled) ++*doubles;
    if (owner >= 0) return owner;
    std::this_thread::sleep_for(250ms);
  }
  return -1;
}

void watchFor(const std::vector<NetServer*>& live, std::chrono::seconds span, int* doubles) {
  const auto end = Clock::now() + span;
  while (Clock::now() < end) {
    bool doubled = false;
    pairOwner(live, &doubled);
    if (doubled) ++*doubles;
    std::this_thread::sleep_for(250ms);
  }
}

void BM_Ownership(benchmark::State& state) {
  const bool withKey = state.range(0) != 0;
  for (auto _ : state) {
    NetworkLab lab;
    std::string why;
    if (std::getenv("KESTROVA_BUILD_DIR") == nullptr || !lab.createBridge(&why)) {
      state.SkipWithError(("no network laboratory here: " + why).c_str());
      return;
    }
    unsetenv("KESTROVA_NET_ADDRESSES");
    Simulator simulator;
    if (!simulator.waitListening()) {
      state.SkipWithError("raidsim did not start");
      return;
    }
    std::vector<std::unique_ptr<NetServer>> servers;
    for (int n = 1; n <= 3; ++n) {
      if (!lab.addServer(n, {n * 10 + 1}, &why)) {
        state.SkipWithError(why.c_str());
        return;
      }
      servers.push_back(
          std::make_unique<NetServer>(lab.serverNamespace(n), simulator.socket(), n * 10 + 1, false, true));
      if (withKey && servers.back()->netkey({"set"}, std::string(kKey) + "\n") != 0) {
        state.SkipWithError("server -netkey set failed");
        return;
      }
    }
    std::vector<NetServer*> all;
    for (auto& s : servers) all.push_back(s.get());

    const auto started = Clock::now();
    for (NetServer* s : all) s->start();
    int doubles = 0;
    const int owner = waitForOwner(all, 60s, &doubles);
    const double converge = std::chrono::duration<double>(Clock::now() - started).count();
    if (owner < 0) {
      state.SkipWithError("the servers did not agree on an owner within 60 s");
      return;
    }
    doubles = 0;  // before the first agreement two owners are the protocol at work
    watchFor(all, 10s, &doubles);

    const auto killed = Clock::now();
    all[owner]->kill();
    std::vector<NetServer*> survivors;
    for (NetServer* s : all) {
      if (s != all[owner]) survivors.push_back(s);
    }
    const int next = waitForOwner(survivors, 60s, &doubles);
    const double failover = std::chrono::duration<double>(Clock::now() - killed).count();
    if (next < 0) {
      state.SkipWithError("no server took the pair over within 60 s");
      return;
    }
    watchFor(survivors, 10s, &doubles);
    for (NetServer* s : survivors) s->stop();
    for (NetServer* s : survivors) s->finish();

    state.counters["converge_s"] = converge;
    state.counters["failover_s"] = failover;
    state.counters["double_owner_looks"] = doubles;
  }
}
BENCHMARK(BM_Ownership)
    ->ArgName("key")
    ->Arg(0)
    ->Arg(1)
    ->Iterations(1)
    ->Unit(benchmark::kSecond)
    ->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
