// Benchmarks of the request path through shared memory: the round trip of a SessionPing from the
// front end's library to a running server and back, woken by the semaphores and by pure polling
// (p50 and p99 in microseconds), and the throughput of ten front ends at once.
//
// The server is the built program (KESTROVA_BUILD_DIR/bin/server, else bin/server beside this
// benchmark's folder) started with -debug in a temporary instance folder under its own
// shared-memory prefix; it is stopped with SIGINT at the end.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_source_tree.h"
#include "common/cgi_client.h"
#include "common/variable_table.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kFrontEnds = 10;

fs::path serverProgram() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return fs::path(build) / "bin/server";
  return fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin/server";
}

// The server child process in its instance folder.
class BenchServer {
 public:
  bool start() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-cgibench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    folder_ = pattern;
    const fs::path db = benchSourceTree() / "data/db";
    std::error_code ignored;
    if (fs::is_directory(db)) fs::copy(db, folder_ / "db", fs::copy_options::recursive, ignored);
    const std::string prefix = "kestrova-cgibench-" + std::to_string(getpid()) + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix.c_str(), 1);
    const std::string program = serverProgram().string();
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      dup2(null, STDERR_FILENO);
      if (chdir(folder_.c_str()) != 0) _exit(127);
      execl(program.c_str(), program.c_str(), "-debug", static_cast<char*>(nullptr));
      _exit(127);
    }
    return pid_ > 0 && waitUntilServing();
  }
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGINT);
      waitpid(pid_, nullptr, 0);
      pid_ = -1;
    }
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }

 private:
  bool waitUntilServing() {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      VariableTable reply = nullptr;
      CgiClientOptions options;
      options.replyTimeoutMs = 2000;
      TableOwner request = pingRequest();
      const int result = cgiRoundTrip(request.get(), &reply, options);
      freeVariableTable(&reply);
      if (result == kCgiOk) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }

 public:
  static TableOwner pingRequest() {
    VariableTable request = nullptr;
    addVariable(&request, "module", "server");
    addVariable(&request, "method", "SessionPing");
    addVariable(&request, "RemoteAddress", "127.0.0.1");
    addVariable(&request, "RemoteUser", "admin");
    return TableOwner(request);
  }

 private:
  pid_t pid_ = -1;
  fs::path folder_;
};

BenchServer gServer;

// One round trip; its time in microseconds, or -1 when it failed.
double timedRoundTrip(VariableTable request, const CgiClientOptions& options) {
  const auto start = Clock::now();
  VariableTable reply = nullptr;
  const int result = cgiRoundTrip(request, &reply, options);
  const double micros = std::chrono::duration<double, std::micro>(Clock::now() - start).count();
  freeVariableTable(&reply);
  return result == kCgiOk ? micros : -1;
}

void reportPercentiles(benchmark::State& state, std::vector<double>& samples, int failures) {
  std::sort(samples.begin(), samples.end());
  if (!samples.empty()) {
    state.counters["p50_us"] = samples[samples.size() / 2];
    state.counters["p99_us"] = samples[std::min(samples.size() - 1, samples.size() * 99 / 100)];
  }
  state.counters["failures"] = failures;
}

void BM_RoundTrip(benchmark::State& state) {
  CgiClientOptions options;
  options.pollOnly = state.range(0) != 0;
  TableOwner request = BenchServer::pingRequest();
  std::vector<double> samples;
  int failures = 0;
  for (auto _ : state) {
    const double micros = timedRoundTrip(request.get(), options);
    if (micros < 0) {
      ++failures;
    } else {
      samples.push_back(micros);
    }
  }
  reportPercentiles(state, samples, failures);
  state.SetLabel(options.pollOnly ? "polling" : "wake-up");
}
BENCHMARK(BM_RoundTrip)->Arg(0)->Iterations(5000)->UseRealTime()->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_RoundTrip)->Arg(1)->Iterations(40)->UseRealTime()->Unit(benchmark::kMillisecond);

// kFrontEnds threads, each doing round trips back to back for a fixed count.
void BM_ConcurrentFrontEnds(benchmark::State& state) {
  const int perThread = static_cast<int>(state.range(0));
  CgiClientOptions options;
  std::vector<std::vector<double>> samples(kFrontEnds);
  std::atomic<int> failures{0};
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::vector<std::thread> threads;
    threads.reserve(kFrontEnds);
    for (int t = 0; t < kFrontEnds; ++t) {
      threads.emplace_back([&, t] {
        TableOwner request = BenchServer::pingRequest();
        for (int i = 0; i < perThread; ++i) {
          const double micros = timedRoundTrip(request.get(), options);
          if (micros < 0) {
            failures.fetch_add(1);
          } else {
            samples[t].push_back(micros);
          }
        }
      });
    }
    for (std::thread& t : threads) t.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::vector<double> all;
  for (const auto& s : samples) all.insert(all.end(), s.begin(), s.end());
  const double served = static_cast<double>(all.size());
  reportPercentiles(state, all, failures.load());
  state.counters["req_per_s"] = seconds > 0 ? served / seconds : 0;
  state.SetItemsProcessed(static_cast<int64_t>(served));
}
BENCHMARK(BM_ConcurrentFrontEnds)->Arg(1000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  if (!gServer.start()) {
    std::fprintf(stderr, "the server at %s did not start serving\n", serverProgram().c_str());
    gServer.stop();
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gServer.stop();
  return 0;
}
