// Benchmarks of the event log: how many raised events per second reach the file through the
// "kvlog" channel (against writing them straight into the file, the baseline), and what one
// ViewLogs page of a 1,000,000-record log costs with the line index against the plain scan from
// the top (newest page and a page in the middle), plus the start-up indexing of that log.
//
// Runs in its own temporary working folder; the log is built once, directly in its file format.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <thread>

#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/events/event_log_format.h"
#include "server/events/event_record.h"
#include "server/server_state.h"

namespace {

constexpr int kLogRecords = 1000000;

// Writes a log of `count` records as the channel would have written them.
void writeLog(int count) {
  std::FILE* file = std::fopen("db/ServerLog.log", "w");
  if (file == nullptr) std::abort();
  std::fputs(kBuiltInLogHeader, file);
  char line[kLogLineLimit];
  for (int i = 1; i <= count; ++i) {
    const std::string message =
        "Controller A: drive " + std::to_string(i % 96) + " reported a \"predictive\" fault";
    EventRecord record{const_cast<char*>(message.c_str()),
                       const_cast<char*>("Brivo00112233445566778"),
                       static_cast<uint32_t>(i % 3),
                       0,
                       1704164645u + static_cast<uint32_t>(i),
                       0,
                       0};
    std::fwrite(line, 1, composeLogRecordLine(line, i, record), file);
  }
  std::fclose(file);
}

// Console lines of the fixed-size channels that overflow during a burst go to /dev/null.
class QuietStdout {
 public:
  QuietStdout() : saved_(dup(1)) {
    std::fflush(stdout);
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, 1);
    close(null);
  }
  ~QuietStdout() {
    std::fflush(stdout);
    dup2(saved_, 1);
    close(saved_);
  }

 private:
  int saved_;
};

void BM_AppendThroughput(benchmark::State& state) {
  const int burst = static_cast<int>(state.range(0));
  std::filesystem::remove("db/ServerLog.log");
  reloadLogCounter();
  initThreadManager();
  serverControl().serverRunning.store(1);
  startNotificationChannels();
  for (auto _ : state) {
    const int32_t target = lastLogEntryNumber() + burst;
    QuietStdout quiet;
    for (int i = 0; i < burst; ++i)
      raiseEvent("Brivo00112233445566778", "Controller A: drive 7 failed", 2, 0, 0, 0);
    while (lastLogEntryNumber() < target) std::this_thread::sleep_for(std::chrono::microseconds(200));
  }
  state.SetItemsProcessed(state.iterations() * burst);
  serverControl().serverRunning.store(0);
  stopNotificationChannels();
}
BENCHMARK(BM_AppendThroughput)->Arg(20000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

// Baseline of the throughput above: the same records written by the calling thread straight into
// the file (writeEventRecord), without the queue and the channel thread.
void BM_AppendDirect(benchmark::State& state) {
  const int burst = static_cast<int>(state.range(0));
  std::filesystem::remove("db/ServerLog.log");
  reloadLogCounter();
  const EventRecord record{const_cast<char*>("Controller A: drive 7 failed"),
                           const_cast<char*>("Brivo00112233445566778"),
                           2,
                           0,
                           0,
                           0,
                           0};
  for (auto _ : state) {
    for (int i = 0; i < burst; ++i) {
      if (writeEventRecord(copyEventRecord(&record)) != 0) state.SkipWithError("write failed");
    }
  }
  state.SetItemsProcessed(state.iterations() * burst);
}
BENCHMARK(BM_AppendDirect)->Arg(20000)->Iterations(3)->Unit(benchmark::kMillisecond)->UseRealTime();

void BM_ReloadCounterAndIndex(benchmark::State& state) {
  writeLog(kLogRecords);
  for (auto _ : state) reloadLogCounter();
  if (lastLogEntryNumber() != kLogRecords) state.SkipWithError("log not built");
}
BENCHMARK(BM_ReloadCounterAndIndex)->Iterations(3)->Unit(benchmark::kMillisecond);

// Args: page end (0 = newest page), 1 for the index, 0 for the plain scan.
void BM_ViewLogsPage(benchmark::State& state) {
  if (lastLogEntryNumber() != kLogRecords) {
    writeLog(kLogRecords);
    reloadLogCounter();
  }
  TableOwner request;
  if (state.range(0) != 0) addVariable(request.address(), "EndIndex", std::to_string(state.range(0)).c_str());
  const bool indexed = state.range(1) != 0;
  for (auto _ : state) {
    TableOwner reply(indexed ? ViewLogs(request.get()) : viewLogsFullScan(request.get()));
    benchmark::DoNotOptimize(reply.get());
  }
}
BENCHMARK(BM_ViewLogsPage)
    ->ArgNames({"end", "indexed"})
    ->Args({0, 1})
    ->Args({kLogRecords / 2, 1})
    ->Args({0, 0})
    ->Args({kLogRecords / 2, 0})
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-bench-XXXXXX").string();
  if (mkdtemp(pattern.data()) == nullptr) return 1;
  const std::filesystem::path previous = std::filesystem::current_path();
  std::filesystem::create_directory(std::filesystem::path(pattern) / "db");
  std::filesystem::current_path(pattern);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  std::filesystem::current_path(previous);
  std::filesystem::remove_all(pattern);
  return 0;
}
