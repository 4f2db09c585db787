// End-to-end time of the command-line client as a user sees it: the built qcli program started as
// a child process, its request over HTTP to the built front end cgiloader, the shared memory to
// the server, the Brivo module's interpreter and the controller commands to raidsim, and the
// printed answer read to its end. The set-up is the demo's (sim/examples/demo.conf: two
// controller pairs in service), started by the benchmark itself in a temporary installed tree
// under its own shared-memory prefix and stopped at the end. qcli runs in a folder whose
// qcliConfig.db names the server and the pairs, as the demo writes it. A second cgiloader serves
// HTTPS with a self-signed certificate made by openssl at the start; "https.db" points qcli at it
// (DefaultTls, DefaultCaFile), so that the same command is timed over both, side by side.
//
// Each benchmark runs one command 50 times and reports the median and the 90th percentile in
// milliseconds (counters median_ms and p90_ms); the target is a median under 50 ms.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "bench/bench_source_tree.h"
#include "common/scsi/scsi_sim.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

constexpr int kRuns = 50;

fs::path buildDir() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return build;
  return fs::canonical("/proc/self/exe").parent_path().parent_path();
}

fs::path sourceDir() { return benchSourceTree(); }

// Starts program with args in folder, output discarded; env holds extra variables.
pid_t startQuiet(const fs::path& program, const std::vector<std::string>& args, const fs::path& folder,
                 const std::vector<std::pair<std::string, std::string>>& env = {}) {
  std::vector<std::string> text{program.string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(text.size() + 1);
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDWR);
    dup2(null, STDIN_FILENO);
    dup2(null, STDOUT_FILENO);
    dup2(null, STDERR_FILENO);
    if (chdir(folder.c_str()) != 0) _exit(127);
    for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
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

// Runs qcli in folder with args and an empty standard input; returns what it printed ("" when it
// did not exit with 0).
std::string runQcli(const fs::path& folder, const std::vector<std::string>& args) {
  int out[2];
  if (pipe(out) != 0) return std::string();
  std::vector<std::string> text{(buildDir() / "bin/qcli").string()};
  text.insert(text.end(), args.begin(), args.end());
  std::vector<char*> argv;
  argv.reserve(text.size() + 1);
  for (std::string& a : text) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    const int null = open("/dev/null", O_RDONLY);
    dup2(null, STDIN_FILENO);
    dup2(out[1], STDOUT_FILENO);
    close(out[0]);
    close(out[1]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    execv(argv[0], argv.data());
    _exit(127);
  }
  close(out[1]);
  std::string printed;
  char buffer[8192];
  for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;)
    printed.append(buffer, static_cast<size_t>(got));
  close(out[0]);
  int status = 0;
  if (pid <= 0 || waitpid(pid, &status, 0) != pid || !WIFEXITED(status) || WEXITSTATUS(status) != 0)
    return "";
  return printed;
}

int freeLoopbackPort() {
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

// raidsim, the server with the Brivo module and cgiloader in a temporary installed tree, and
// qcli's folder in it.
class DemoStack {
 public:
  bool start() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-qclibench-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return false;
    folder_ = pattern;
    std::error_code error;
    for (const char* dir : {"data/db", "www", "html"}) {
      fs::copy(sourceDir() / dir, folder_ / fs::path(dir).filename(), fs::copy_options::recursive, error);
      if (error) return false;
    }
    fs::create_directories(folder_ / "mods");
    fs::create_directories(folder_ / "temp");
    fs::copy(buildDir() / "mods/Brivo", folder_ / "mods/Brivo", fs::copy_options::recursive, error);
    if (error) return false;
    const std::string socket = (folder_ / "sim.sock").string();
    simulator_ = startQuiet(
        buildDir() / "bin/raidsim",
        {"--socket", socket, "--config", (sourceDir() / "sim/examples/demo.conf").string()}, folder_);
    if (!waitForSimulator(socket)) return false;
    const std::string shm = "kestrova-qclibench-" + std::to_string(getpid()) + ".";
    server_ = startQuiet(buildDir() / "bin/server", {"-debug"}, folder_,
                         {{"KESTROVA_SCSI_SIM", socket}, {"KESTROVA_SHM_PREFIX", shm}});
    const int port = freeLoopbackPort();
    loader_ = startQuiet(buildDir() / "bin/cgiloader",
                         {"--root", folder_.string(), "--listen", "127.0.0.1:" + std::to_string(port)},
                         folder_, {{"KESTROVA_SHM_PREFIX", shm}});
    client_ = folder_ / "client";
    fs::create_directories(client_);
    const std::string settings =
        "DefaultIp = 127.0.0.1\nDefaultUser = admin\nDefaultPassword = pinecone\n"
        "DefaultType = Brivo\nDefaultNum = 1\n"
        "Device1Name = alpha\nDevice1Wwn = 20000004CF8A1B2C\n"
        "Device2Name = beta\nDevice2Wwn = 20000004CF8A9F10\n";
    std::ofstream(client_ / "qcliConfig.db") << settings << "DefaultPort = " << port << "\n";
    if (!startSecureLoader(shm)) return false;
    std::ofstream(client_ / "https.db")
        << settings << "DefaultPort = " << securePort_
        << "\nDefaultTls = yes\nDefaultCaFile = " << (folder_ / "cert.pem").string() << "\n";
    return server_ > 0 && loader_ > 0 && waitUntilAnswering() &&
           runQcli(client_, {"--cfgfile", "https.db", "array", "display"}).find("--- Array Total=") !=
               std::string::npos;
  }
  // The web side first, then the server (SIGINT: it removes its shared memory), then raidsim.
  void stop() {
    stopChild(&secureLoader_, SIGTERM);
    stopChild(&loader_, SIGTERM);
    stopChild(&server_, SIGINT);
    stopChild(&simulator_, SIGTERM);
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  const fs::path& client() const { return client_; }

 private:
  // The HTTPS front end on a port of its own, with a certificate for 127.0.0.1.
  bool startSecureLoader(const std::string& shm) {
    const std::string cert = (folder_ / "cert.pem").string();
    const std::string key = (folder_ / "key.pem").string();
    const std::string command =
        "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -days 2 "
        "-subj '/CN=qcli bench' -addext 'subjectAltName=IP:127.0.0.1' -keyout '" +
        key + "' -out '" + cert + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return false;
    securePort_ = freeLoopbackPort();
    secureLoader_ =
        startQuiet(buildDir() / "bin/cgiloader",
                   {"--root", folder_.string(), "--listen", "127.0.0.1:" + std::to_string(securePort_),
                    "--tls-cert", cert, "--tls-key", key},
                   folder_, {{"KESTROVA_SHM_PREFIX", shm}});
    return secureLoader_ > 0;
  }

  static bool waitForSimulator(const std::string& socket) {
    for (int i = 0; i < 200; ++i) {
      std::string reply;
      if (simControl(socket, "status", &reply, 1000) == 0) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
  }
  // Both pairs answer through the whole chain.
  bool waitUntilAnswering() const {
    const auto deadline = Clock::now() + std::chrono::seconds(90);
    while (Clock::now() < deadline) {
      const bool alpha = runQcli(client_, {"array", "display"}).find("--- Array Total=") != std::string::npos;
      if (alpha &&
          runQcli(client_, {"--num", "2", "array", "display"}).find("--- Array Total=") != std::string::npos)
        return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(200));
    }
    return false;
  }

  fs::path folder_;
  fs::path client_;
  pid_t simulator_ = -1;
  pid_t server_ = -1;
  pid_t loader_ = -1;
  pid_t secureLoader_ = -1;
  int securePort_ = -1;
};

DemoStack gStack;

// kRuns runs of one command; every answer must hold `expect`.
void runCommand(benchmark::State& state, const std::vector<std::string>& args, const char* expect) {
  std::vector<double> ms;
  for (auto _ : state) {
    for (int i = 0; i < kRuns; ++i) {
      const auto begin = Clock::now();
      const std::string printed = runQcli(gStack.client(), args);
      ms.push_back(std::chrono::duration<double, std::milli>(Clock::now() - begin).count());
      if (printed.find(expect) == std::string::npos) {
        state.SkipWithError(("qcli did not print \"" + std::string(expect) + "\":\n" + printed).c_str());
        return;
      }
    }
  }
  std::sort(ms.begin(), ms.end());
  state.counters["median_ms"] = ms[ms.size() / 2];
  state.counters["p90_ms"] = ms[ms.size() * 9 / 10];
  state.counters["runs"] = static_cast<double>(ms.size());
}

void BM_QcliArrayDisplay(benchmark::State& state) {
  runCommand(state, {"array", "display"}, "--- Array Total=");
}
BENCHMARK(BM_QcliArrayDisplay)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

// The same request over HTTPS: one TLS handshake (ECDHE, P-256 certificate) more per run.
void BM_QcliArrayDisplayHttps(benchmark::State& state) {
  runCommand(state, {"--cfgfile", "https.db", "array", "display"}, "--- Array Total=");
}
BENCHMARK(BM_QcliArrayDisplayHttps)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

void BM_QcliDriveDisplay(benchmark::State& state) {
  runCommand(state, {"drive", "display"}, "--- Drive Total=");
}
BENCHMARK(BM_QcliDriveDisplay)->Iterations(1)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  benchmark::Initialize(&argc, argv);
  signal(SIGPIPE, SIG_IGN);
  if (!gStack.start()) {
    std::fprintf(stderr, "raidsim, the server and cgiloader of %s did not start answering qcli\n",
                 buildDir().c_str());
    gStack.stop();
    return 1;
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  gStack.stop();
  return 0;
}
