// Benchmark of the web front end over HTTP: SessionPing pages (the browser's keep-alive request)
// through cgiloader's standalone server and the shared memory to a running server, from 10
// concurrent keep-alive clients. Reports requests per second and p50/p99 latency in
// milliseconds; the target is at least 1000 requests per second with p99 under 20 ms.
//
// The server and cgiloader are the built programs (KESTROVA_BUILD_DIR/bin, else bin/ beside this
// benchmark's folder), started in a temporary installed tree (db/, www/ and html/ of the source
// tree) under their own shared-memory prefix, and stopped at the end.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <httplib.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
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

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 10;
constexpr const char kPingPath[] = "/cgi-bin/cgiloader.cgi?module=server&method=SessionPing&LastEvent=0";

fs::path builtProgram(const char* name) {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return fs::path(build) / "bin" / name;
  return fs::canonical("/proc/self/exe").parent_path().parent_path() / "bin" / name;
}

pid_t startQuiet(const fs::path& program, const std::vector<std::string>& args, const fs::path& folder) {
  std::vector<std::string> text{program.string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_WRONLY);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  return pid;
}

void stopChild(pid_t* pid, int signal) {
  if (*pid <= 0) return;
  kill(*pid, signal);
  waitpid(*pid, nullptr, 0);
  *pid = -1;
}

// The server and cgiloader in a temporary installed tree.
class WebStack {
 public:
  bool start() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-webbench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    folder_ = pattern;
    const fs::path source = fs::path(__FILE__).parent_path().parent_path();
    std::error_code ignored;
    for (const char* dir : {"data/db", "www", "html"}) {
      const fs::path to = folder_ / fs::path(dir).filename();
      if (fs::is_directory(source / dir)) fs::copy(source / dir, to, fs::copy_options::recursive, ignored);
    }
    setenv("KESTROVA_SHM_PREFIX", ("kestrova-webbench-" + std::to_string(getpid()) + ".").c_str(), 1);
    port_ = freePort();
    server_ = startQuiet(builtProgram("server"), {"-debug"}, folder_);
    loader_ =
        startQuiet(builtProgram("cgiloader"),
                   {"--root", folder_.string(), "--listen", "127.0.0.1:" + std::to_string(port_)}, folder_);
    return server_ > 0 && loader_ > 0 && waitUntilServing();
  }
  void stop() {
    stopChild(&loader_, SIGTERM);
    stopChild(&server_, SIGINT);
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  int port() const { return port_; }

 private:
  // A loopback port that was free a moment ago.
  static int freePort() {
    const int fd = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    int port = -1;
    if (bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 &&
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
      port = ntohs(address.sin_port);
    }
    close(fd);
    return port;
  }
  bool waitUntilServing() {
    const auto deadline = Clock::now() + std::chrono::seconds(30);
    while (Clock::now() < deadline) {
      httplib::Client client("127.0.0.1", port_);
      client.set_basic_auth("admin", "pinecone");
      auto answer = client.Get(kPingPath);
      if (answer && answer->status == 200) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

  fs::path folder_;
  pid_t server_ = -1;
  pid_t loader_ = -1;
  int port_ = 0;
};

WebStack gStack;

// kClients threads, each with its own keep-alive connection, sending pings back to back.
void BM_SessionPingKeepAlive(benchmark::State& state) {
  const int perClient = static_cast<int>(state.range(0));
  std::vector<std::vector<double>> samples(kClients);
  std::atomic<int> failures{0};
  double seconds = 0;
  for (auto _ : state) {
    const auto start = Clock::now();
    std::vector<std::thread> clients;
    for (int c = 0; c < kClients; ++c) {
      clients.emplace_back([&, c] {
        httplib::Client client("127.0.0.1", gStack.port());
        client.set_keep_alive(true);
        client.set_basic_auth("admin", "pinecone");
        for (int i = 0; i < perClient; ++i) {
          const auto begin = Clock::now();
          auto answer = client.Get(kPingPath);
          const double ms = std::chrono::duration<double, std::milli>(Clock::now() - begin).count();
          if (answer && answer->status == 200) {
            samples[c].push_back(ms);
          } else {
            failures.fetch_add(1);
          }
        }
      });
    }
    for (std::thread& t : clients) t.join();
    seconds += std::chrono::duration<double>(Clock::now() - start).count();
  }
  std::vector<double> all;
  for (const auto& s : samples) all.insert(all.end(), s.begin(), s.end());
  std::sort(all.begin(), all.end());
  if (!all.empty()) {
    state.counters["p50_ms"] = all[all.size() / 2];
    state.counters["p99_ms"] = all[std::min(all.size() - 1, all.size() * 99 / 100)];
  }
  state.counters["failures"] = failures.load();
  state.counters["req_per_s"] = seconds > 0 ? static_cast<double>(all.size()) / seconds : 0;
  state.SetItemsProcessed(static_cast<int64_t>(all.size()));
}
BENCHMARK(BM_SessionPingKeepAlive)->Arg(1000)->Iterations(3)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  signal(SIGPIPE, SIG_IGN);
  if (!gStack.start()) {
    std::fprintf(stderr, "the server and cgiloader (%s) did not start serving\n",
                 builtProgram("cgiloader").c_str());
    gStack.stop();
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gStack.stop();
  return 0;
}
