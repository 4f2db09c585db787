// Soak test: the whole system under load and faults for minutes. raidsim with the demo's two
// pairs, the server with the Brivo module (a monitor cycle of two seconds, event log syncing on)
// and the web front end cgiloader; ten clients (browser pages, the JSON API, log exports, the
// qcli program) send requests without pause while a fault thread injects dead paths, failed
// drives and bursts of thousands of controller events, and the server is stopped (SIGINT or
// SIGTERM) and started again every few minutes. Afterwards:
// - every client request got a whole answer, or the restart page while a restart was under way;
// - every injected controller event is in db/ServerLog.log exactly once, and no controller event
//   record appears twice;
// - the server after each start, cgiloader and raidsim have no more threads, descriptors,
//   mappings or memory than after the first restart (read from /proc with the clients paused),
//   and no shared memory or upload file is left behind;
// - no program printed a sanitizer report, and every server run exited with status 0.
//
// KESTROVA_SOAK_MINUTES (default 3, the short variant; 30 by hand),
// KESTROVA_SOAK_RESTART_SECONDS (default 50), KESTROVA_SOAK_BURST (events per burst, default
// 2000), KESTROVA_SOAK_SEED (printed, so that a run's fault sequence can be repeated) and
// KESTROVA_SOAK_KEEP (a folder that receives the event log, the module's files and the output of
// every server run). tests/soak/run.sh runs it by hand.
//
// Thread safety: the test thread starts and stops the programs and samples /proc; the client
// threads only send requests and record outcomes under their own lock; the fault thread only
// talks to raidsim. The shared flags are atomics.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <random>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/scsi/scsi_sim.h"
#include "common/thread_annotations.h"
#include "server/events/event_log_format.h"
#include "tests/frontend_web_instance.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"
#include "tests/test_environment.h"

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;

constexpr int kClients = 10;
constexpr int kFirstTag = 1000;  // injected events name logical drives from here on
constexpr int kLastTag = 65535;  // the event's 16-bit drive number
constexpr char kMonitorPage[] = "../../html/Brivo/main/main.htm";

struct PairInfo {
  const char* name;        // in the simulator
  const char* wwn;         // configuration WWN
  const char* paths[2];    // controller A's and B's path
  int drives;              // drives behind the pair
};
const PairInfo kPairs[2] = {{"alpha", "20000004CF8A1B2C", {"0:0:0:0", "0:0:1:0"}, 12},
                            {"beta", "20000004CF8A9F10", {"0:0:2:0", "0:0:3:0"}, 16}};

bool has(const std::string& text, const char* part) { return text.find(part) != std::string::npos; }

// The part of a program's output around its first sanitizer report; empty when there is none.
std::string sanitizerReport(const std::string& output) {
  for (const char* marker : {"Sanitizer", "runtime error:"}) {
    const size_t at = output.find(marker);
    if (at != std::string::npos) return output.substr(at > 2000 ? at - 2000 : 0, 6000);
  }
  return "";
}

// ---- What a process holds, from /proc ----

struct ProcessSample {
  long threads = 0;
  long descriptors = 0;
  long mappings = 0;
  long rssKb = 0;
};

ProcessSample sampleOf(pid_t pid) {
  ProcessSample sample;
  const fs::path proc = fs::path("/proc") / std::to_string(pid);
  std::istringstream status(readFileText(proc / "status"));
  for (std::string line; std::getline(status, line);) {
    if (line.rfind("Threads:", 0) == 0) sample.threads = std::atol(line.c_str() + 8);
    if (line.rfind("VmRSS:", 0) == 0) sample.rssKb = std::atol(line.c_str() + 6);
  }
  std::error_code error;
  for (auto it = fs::directory_iterator(proc / "fd", error); !error && it != fs::directory_iterator();
       it.increment(error)) {
    ++sample.descriptors;
  }
  const std::string maps = readFileText(proc / "maps");
  sample.mappings = std::count(maps.begin(), maps.end(), '\n');
  return sample;
}

std::string describe(const ProcessSample& s) {
  return std::to_string(s.threads) + " threads, " + std::to_string(s.descriptors) + " fds, " +
         std::to_string(s.mappings) + " maps, " + std::to_string(s.rssKb / 1024) + " MB";
}

// Under AddressSanitizer the programs' mappings and resident memory are its allocator's, which
// maps size classes as they are first used and keeps them; there LeakSanitizer at each exit
// stands for the memory checks.
#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAllocatorIsGlibc = false;
#else
constexpr bool kAllocatorIsGlibc = true;
#endif

// A later sample holds no more than the baseline and a small allowance (threads and
// descriptors that come and go, heap the allocator keeps).
void expectNoGrowth(const char* who, const ProcessSample& base, const ProcessSample& now, int restart) {
  EXPECT_LE(now.threads, base.threads + 2) << who << " threads after restart " << restart;
  EXPECT_LE(now.descriptors, base.descriptors + 4) << who << " descriptors after restart " << restart;
  if (!kAllocatorIsGlibc) return;
  EXPECT_LE(now.mappings, base.mappings + 16) << who << " mappings after restart " << restart;
  EXPECT_LE(now.rssKb, base.rssKb + std::max(base.rssKb / 4, 24L * 1024))
      << who << " resident memory after restart " << restart;
}

// ---- The clients' requests and what they got ----

enum class Outcome { kAnswered, kBusy, kRestartPage, kFailed };

struct RequestRecord {
  Clock::time_point start;
  Clock::time_point end;
  Outcome outcome;
  std::string what;  // the request and, when it failed, what came back
};

// The front end's pages for a server that cannot take the request now.
Outcome classifyUnavailable(const std::string& body) {
  if (has(body, "The server is busy")) return Outcome::kBusy;
  if (has(body, "The server is restarting") || has(body, "The Kestrova server is not running") ||
      has(body, "The server has stopped")) {
    return Outcome::kRestartPage;
  }
  return Outcome::kFailed;
}

struct ClientRequest {
  enum Kind { kHtml, kJson, kExport, kQcli } kind;
  std::string target;               // the URL path and query, or the qcli words
  std::vector<std::string> words;   // qcli only
};

std::vector<ClientRequest> clientRequests() {
  const std::string page = "/cgi-bin/cgiloader.cgi?module=";
  std::vector<ClientRequest> list;
  for (const PairInfo& p : kPairs) {
    const std::string device = std::string("Brivo") + p.wwn;
    list.push_back({ClientRequest::kHtml, page + "Brivo&method=GetMonitor&ModDeviceName=" + device, {}});
    list.push_back({ClientRequest::kJson, "/api/Brivo/GetMonitor?ModDeviceName=" + device, {}});
  }
  list.push_back({ClientRequest::kHtml, page + "server&method=LoadIndex", {}});
  list.push_back({ClientRequest::kHtml, page + "server&method=GetMainPage", {}});
  list.push_back({ClientRequest::kHtml, page + "server&method=ViewLogs", {}});
  list.push_back({ClientRequest::kHtml, page + "server&method=GetEmailConfig", {}});
  list.push_back({ClientRequest::kJson, "/api/server/SessionPing", {}});
  list.push_back({ClientRequest::kJson, "/api/server/GetSyslogConfig", {}});
  list.push_back({ClientRequest::kExport, page + "server&method=ExportLogs", {}});
  return list;
}

// ---- The programs ----

class SoakTest : public ::testing::Test {
 protected:
  void SetUp() override {
    minutes_ = std::max(1, environmentNumber("KESTROVA_SOAK_MINUTES", 3));
    restartSeconds_ = std::max(20, environmentNumber("KESTROVA_SOAK_RESTART_SECONDS", 50));
    burst_ = std::clamp(environmentNumber("KESTROVA_SOAK_BURST", 2000), 2, 2600);  // 1.5 x under 4096
    seed_ = static_cast<unsigned>(environmentNumber("KESTROVA_SOAK_SEED", static_cast<int>(std::random_device()())));
    if (const char* keep = std::getenv("KESTROVA_SOAK_KEEP"); keep != nullptr && *keep != '\0') {
      keep_ = keep;
      fs::create_directories(keep_);
    }
    std::printf("soak: %d minutes, a restart every %d s, bursts of %d events, seed %u\n", minutes_,
                restartSeconds_, burst_, seed_);
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    ASSERT_TRUE(build != nullptr && source != nullptr) << "set KESTROVA_BUILD_DIR and KESTROVA_SOURCE_DIR";
    for (const char* program : {"server", "raidsim", "cgiloader", "qcli"}) {
      ASSERT_TRUE(fs::exists(builtProgram(program))) << program << " is not built";
    }
    ASSERT_TRUE(web_.ready()) << "instance not prepared";
    const fs::path root = web_.root();
    fs::create_directories(root / "mods");
    fs::copy(fs::path(build) / "mods/Brivo", root / "mods/Brivo", fs::copy_options::recursive);
    fs::copy_file(fs::path(source) / "sim/examples/demo.conf", root / "raidsim.conf");
    // What a controller logs while the server is down is recorded at the next start.
    const fs::path ini = root / "db/server.ini";
    const std::string settings =
        std::regex_replace(readFileText(ini), std::regex("AllowEventLogSyncing = false"), "AllowEventLogSyncing = true");
    std::ofstream(ini, std::ios::trunc) << settings;

    const unsigned wholeRun = static_cast<unsigned>(minutes_ * 60 + 900);
    socket_ = (root / "sim.sock").string();
    sim_ = std::make_unique<ChildProgram>(
        builtProgram("raidsim"), std::vector<std::string>{"--socket", socket_, "--config", (root / "raidsim.conf").string()},
        childEnvironment({}), wholeRun);
    const auto listening = [this] {
      std::string reply;
      return simControl(socket_, "status", &reply, 1000) == 0;
    };
    ASSERT_TRUE(test_support::waitUntil(listening, test_support::kWaitLimit, 50ms)) << sim_->output();
    shmPrefix_ = "kestrova-soak-" + std::to_string(getpid()) + ".";
    loader_ = std::make_unique<ChildProgram>(web_.loaderPath(), std::vector<std::string>{"--listen", "127.0.0.1:0"},
                                             childEnvironment({{"KESTROVA_SHM_PREFIX", shmPrefix_}}), wholeRun);
    ASSERT_TRUE(loader_->waitForText("/\n")) << loader_->output();
    const std::string announced = loader_->output();
    port_ = std::atoi(announced.c_str() + announced.rfind(':') + 1);
    qcliFolder_ = root / "client";
    fs::create_directories(qcliFolder_);
    std::ofstream(qcliFolder_ / "qcliConfig.db")
        << "# the soak test's client\nDefaultIp = 127.0.0.1\nDefaultPort = " << port_
        << "\nDefaultUser = admin\nDefaultPassword = \"pinecone\"\nDefaultType = Brivo\nDefaultNum = 1\n"
        << "Device1Name = alpha\nDevice1Wwn = " << kPairs[0].wwn << "\nDevice2Name = beta\nDevice2Wwn = "
        << kPairs[1].wwn << "\n";
  }

  void TearDown() override {
    stopClients();
    if (server_) stopServer();
    if (!keep_.empty()) {
      std::error_code ignored;
      fs::copy(web_.root() / "db", keep_ / "db", fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
      fs::copy(web_.root() / "mods/Brivo", keep_ / "Brivo", fs::copy_options::recursive | fs::copy_options::overwrite_existing, ignored);
    }
    if (loader_) {
      loader_->stop();
      EXPECT_EQ(sanitizerReport(loader_->output()), "") << "cgiloader";
    }
    closeSimConnections();
    if (sim_) {
      sim_->stop();
      EXPECT_EQ(sanitizerReport(sim_->output()), "") << "raidsim";
    }
  }

  // The children's environment. Resident memory is to show what a program holds, not what its
  // allocator keeps for later: glibc gets two arenas and gives large blocks (a log export) back to
  // the system when they are freed; AddressSanitizer gets a small quarantine.
  static std::vector<std::pair<std::string, std::string>> childEnvironment(
      std::vector<std::pair<std::string, std::string>> env) {
    const char* asan = std::getenv("ASAN_OPTIONS");
    if (asan != nullptr) env.emplace_back("ASAN_OPTIONS", std::string(asan) + ":quarantine_size_mb=16");
    env.emplace_back("GLIBC_TUNABLES",
                     "glibc.malloc.arena_max=2:glibc.malloc.mmap_threshold=131072:glibc.malloc.trim_threshold=262144");
    env.emplace_back("TZ", ":/etc/localtime");
    return env;
  }

  void startServer() {
    ServerProcess::Environment env{{"KESTROVA_SCSI_SIM", socket_},
                                   {"KESTROVA_SHM_PREFIX", shmPrefix_},
                                   {"KESTROVA_BRIVO_MONITOR_MS", "2000"}};
    for (const auto& e : childEnvironment({})) env.push_back(e);
    server_ = std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, web_.root(), env,
                                              static_cast<unsigned>(restartSeconds_ + 300));
    ASSERT_TRUE(server_->started());
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n", 60s)) << server_->output();
    ASSERT_TRUE(waitForMonitoring()) << "the server does not monitor both pairs:\n" << tail(server_->output());
  }

  void stopServer() {
    server_->signal(++stops_ % 2 == 0 ? SIGTERM : SIGINT);
    const int status = server_->finish();
    const std::string output = server_->output();
    EXPECT_EQ(status, 0) << "server run " << stops_ << " ended badly:\n" << tail(output);
    EXPECT_EQ(sanitizerReport(output), "") << "server run " << stops_;
    if (!keep_.empty()) std::ofstream(keep_ / ("server-" + std::to_string(stops_) + ".log")) << output;
    server_.reset();
  }

  static std::string tail(const std::string& text) {
    return text.size() > 6000 ? text.substr(text.size() - 6000) : text;
  }

  std::unique_ptr<httplib::Client> client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_connection_timeout(10, 0);
    c->set_read_timeout(60, 0);
    c->set_basic_auth("admin", "pinecone");
    return c;
  }

  // Both pairs' monitor pages are the full page once the server has claimed and read them.
  bool waitForMonitoring() {
    const auto deadline = Clock::now() + 90s;
    auto c = client();
    for (const PairInfo& p : kPairs) {
      const auto monitored = [&] {
        auto answer = c->Get(std::string("/api/Brivo/GetMonitor?ModDeviceName=Brivo") + p.wwn);
        if (!answer || answer->status != 200) return false;
        const auto reply = nlohmann::json::parse(answer->body, nullptr, false);
        return reply.is_object() && reply.value("HTMLPath", "") == kMonitorPage;
      };
      const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
      if (!test_support::waitUntil(monitored, std::max(left, 0ms), 250ms)) return false;
    }
    return true;
  }

  // ---- Clients ----

  void clientLoop(int index) {
    const std::vector<ClientRequest> requests = clientRequests();
    std::mt19937 random(seed_ + static_cast<unsigned>(index));
    auto c = client();
    while (!stopClients_.load()) {
      if (pauseClients_.load()) {
        idle_.fetch_add(1);
        while (pauseClients_.load() && !stopClients_.load()) std::this_thread::sleep_for(20ms);
        idle_.fetch_sub(1);
        continue;
      }
      // One client is a qcli user; the others pick a page, an API call or a log export.
      RequestRecord record;
      record.start = Clock::now();
      if (index == kClients - 1) {
        const bool beta = random() % 2 == 1;
        std::vector<std::string> words;
        if (beta) words = {"--num", "2"};
        words.push_back(random() % 2 == 0 ? "array" : "drive");
        words.push_back("display");
        runQcliRequest(words, &record);
      } else {
        const ClientRequest& r = requests[random() % requests.size()];
        runHttpRequest(*c, r, &record);
      }
      record.end = Clock::now();
      // A browser waits before it asks again, as the page's refresh says.
      const bool wait = record.outcome == Outcome::kRestartPage || record.outcome == Outcome::kBusy;
      {
        MutexLock lock(recordsLock_);
        records_.push_back(std::move(record));
      }
      if (wait) std::this_thread::sleep_for(500ms);
    }
  }

  void runHttpRequest(httplib::Client& c, const ClientRequest& r, RequestRecord* record) {
    record->what = r.target;
    auto answer = c.Get(r.target);
    if (!answer) {
      record->outcome = Outcome::kFailed;
      record->what += ": no HTTP answer (" + httplib::to_string(answer.error()) + ")";
      return;
    }
    if (answer->status == 503) {
      record->outcome = classifyUnavailable(answer->body);
    } else if (answer->status != 200) {
      record->outcome = Outcome::kFailed;
    } else if (r.kind == ClientRequest::kJson) {
      const auto reply = nlohmann::json::parse(answer->body, nullptr, false);
      record->outcome = reply.is_object() && !reply.contains("error") ? Outcome::kAnswered : Outcome::kFailed;
    } else if (r.kind == ClientRequest::kExport) {
      record->outcome = answer->body.rfind("\"Log Number\"", 0) == 0 ? Outcome::kAnswered : Outcome::kFailed;
    } else {
      record->outcome = has(answer->body, "</html>") ? Outcome::kAnswered : Outcome::kFailed;
    }
    if (record->outcome == Outcome::kFailed) {
      record->what += ": " + std::to_string(answer->status) + " " + answer->body.substr(0, 400);
    }
  }

  void runQcliRequest(const std::vector<std::string>& words, RequestRecord* record) {
    std::vector<std::string> text{builtProgram("qcli").string()};
    text.insert(text.end(), words.begin(), words.end());
    for (const std::string& w : words) record->what += w + " ";
    int out[2];
    if (pipe(out) != 0) {
      record->outcome = Outcome::kFailed;
      return;
    }
    std::vector<char*> argv;
    for (std::string& a : text) argv.push_back(a.data());
    argv.push_back(nullptr);
    const pid_t pid = fork();
    if (pid == 0) {
      dup2(out[1], STDOUT_FILENO);
      dup2(out[1], STDERR_FILENO);
      close(out[0]);
      close(out[1]);
      if (chdir(qcliFolder_.c_str()) != 0) _exit(127);
      alarm(120);
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(out[1]);
    std::string output;
    char buffer[4096];
    for (ssize_t got; (got = read(out[0], buffer, sizeof buffer)) > 0;) output.append(buffer, static_cast<size_t>(got));
    close(out[0]);
    int status = 0;
    const bool exited = pid > 0 && waitpid(pid, &status, 0) == pid && WIFEXITED(status);
    if (!sanitizerReport(output).empty()) {
      record->outcome = Outcome::kFailed;
    } else if (exited && WEXITSTATUS(status) == 0 && has(output, "Total=")) {
      record->outcome = Outcome::kAnswered;
    } else if (has(output, "HTTP Server error: 503")) {
      record->outcome = Outcome::kRestartPage;  // qcli shows only the status of the front end's page
    } else {
      record->outcome = Outcome::kFailed;
    }
    if (record->outcome == Outcome::kFailed) record->what += ": " + output.substr(0, 600);
  }

  void startClients() {
    for (int i = 0; i < kClients; ++i) clients_.emplace_back([this, i] { clientLoop(i); });
  }
  void stopClients() {
    stopClients_ = true;
    for (std::thread& t : clients_) t.join();
    clients_.clear();
  }
  // Holds the clients between requests (for a quiet /proc sample).
  bool pauseClients() {
    pauseClients_ = true;
    const auto deadline = Clock::now() + 120s;
    while (idle_.load() < kClients) {
      if (Clock::now() > deadline) return false;
      std::this_thread::sleep_for(20ms);
    }
    return true;
  }
  void resumeClients() { pauseClients_ = false; }

  // ---- Faults ----

  std::string at(Clock::time_point t) const {
    char text[32];
    std::snprintf(text, sizeof text, "[+%.1f s] ", std::chrono::duration<double>(t - began_).count());
    return text;
  }

  std::string ctl(const std::string& command) {
    if (command.rfind("event ", 0) != 0) {
      MutexLock lock(faultLock_);
      faultLog_.push_back(at(Clock::now()) + command);
    }
    std::string reply;
    const int code = simControl(socket_, command, &reply, 10000);
    if (code != 0) {
      MutexLock lock(faultLock_);
      faultErrors_.push_back(command + ": " + reply);
    }
    return reply;
  }

  // Logs `count` "logical drive online" events on one controller, each naming the next tag of
  // that controller, so that the log can be checked for each of them.
  void burst(int pair, int side, int count) {
    int& next = nextTag_[pair][side];
    const int first = next;
    const std::string controller = std::string(kPairs[pair].name) + (side == 0 ? " A" : " B");
    for (int i = 0; i < count && next <= kLastTag; ++i, ++next) {
      char data[8];
      std::snprintf(data, sizeof data, "%02X%02X", next & 0xFF, next >> 8);
      ctl("event " + controller + " 0x52 data=" + data);
    }
    MutexLock lock(faultLock_);
    faultLog_.push_back(at(Clock::now()) + "burst " + controller + " " + std::to_string(first) + "-" +
                        std::to_string(next - 1) + " (ended)");
  }

  void faultLoop() {
    std::mt19937 random(seed_);
    struct Pending {
      Clock::time_point when;
      std::string command;
      int pair, side;  // a dead path's controller (-1 otherwise)
    };
    std::vector<Pending> undo;
    bool pathDead[2][2] = {};
    bool driveFailed[2] = {};
    Clock::time_point lastBurst[2][2] = {};
    auto nextFault = Clock::now() + 3s;
    while (!stopFaults_.load()) {
      std::this_thread::sleep_for(200ms);
      const auto now = Clock::now();
      for (auto it = undo.begin(); it != undo.end();) {
        if (it->when > now) {
          ++it;
          continue;
        }
        ctl(it->command);
        if (it->side >= 0) pathDead[it->pair][it->side] = false;
        if (it->command.rfind("restore drive", 0) == 0) driveFailed[it->pair] = false;
        it = undo.erase(it);
      }
      if (now < nextFault) continue;
      nextFault = now + std::chrono::milliseconds(4000 + random() % 8000);
      const int pair = static_cast<int>(random() % 2);
      const int side = static_cast<int>(random() % 2);
      const auto later = now + std::chrono::milliseconds(8000 + random() % 20000);
      const std::string name = kPairs[pair].name;
      switch (random() % 4) {
        case 0:  // a dead path: the controller behind it stops answering the host
          if (pathDead[pair][0] || pathDead[pair][1]) break;
          ctl(std::string("noanswer ") + kPairs[pair].paths[side] + " 1000000");
          pathDead[pair][side] = true;
          undo.push_back({later, std::string("clear ") + kPairs[pair].paths[side], pair, side});
          ++faultCounts_[0];
          break;
        case 1: {  // a failed drive, back after a while
          if (driveFailed[pair]) break;
          const int drive = static_cast<int>(random() % static_cast<unsigned>(kPairs[pair].drives));
          ctl("fail drive " + name + " " + std::to_string(drive));
          driveFailed[pair] = true;
          undo.push_back({later, "restore drive " + name + " " + std::to_string(drive), pair, -1});
          ++faultCounts_[1];
          break;
        }
        default:  // a burst of events on a controller the host reaches
          // A controller keeps its last 4096 entries: bursts on one controller leave the server
          // (even one that is restarting) the time to read each before the next could wrap it.
          if (pathDead[pair][side] || now - lastBurst[pair][side] < 25s) break;
          lastBurst[pair][side] = now;
          burst(pair, side, burst_ / 2 + static_cast<int>(random() % static_cast<unsigned>(burst_)));
          ++faultCounts_[2];
          break;
      }
    }
    for (const Pending& p : undo) ctl(p.command);
  }

  // ---- The event log ----

  // Injected events in the log per controller and tag; controller records seen more than once.
  struct LogCount {
    std::map<int, int> tags[2][2];
    std::vector<std::string> repeated;
    size_t controllerRecords = 0;
  };

  LogCount countLog() const {
    LogCount count;
    const std::string log = readFileText(web_.root() / "db/ServerLog.log");
    static const std::regex kTag("Logical drive ([0-9]+) is online\\.");
    std::map<std::string, int> seen;
    std::istringstream in(log);
    std::string line;
    std::getline(in, line);  // the header
    while (std::getline(in, line)) {
      std::string fields[6];
      bool whole = true;
      for (int k = 0; k < 6 && whole; ++k) whole = readLogField(line.c_str(), k, &fields[k]);
      if (!whole) continue;
      for (int p = 0; p < 2; ++p) {
        for (int s = 0; s < 2; ++s) {
          if (fields[4] != std::string("Brivo ") + kPairs[p].wwn + (s == 0 ? " (0)" : " (1)")) continue;
          ++count.controllerRecords;
          std::smatch m;
          if (std::regex_search(fields[5], m, kTag) && std::stoi(m[1]) >= kFirstTag) ++count.tags[p][s][std::stoi(m[1])];
          // One controller entry is one record: date, time, device and text together appear once.
          const std::string key = fields[2] + " " + fields[3] + " " + fields[4] + " " + fields[5];
          if (++seen[key] == 2) count.repeated.push_back(key);
        }
      }
    }
    return count;
  }

  // The missing tags of each controller as ranges, for the failure message.
  std::string missingRanges(const LogCount& count) const {
    std::string text;
    for (int p = 0; p < 2; ++p) {
      for (int s = 0; s < 2; ++s) {
        int from = -1;
        for (int tag = kFirstTag; tag <= nextTag_[p][s]; ++tag) {
          const bool missing = tag < nextTag_[p][s] && count.tags[p][s].count(tag) == 0;
          if (missing && from < 0) from = tag;
          if (!missing && from >= 0) {
            text += std::string(kPairs[p].name) + (s == 0 ? " A " : " B ") + std::to_string(from) + "-" +
                    std::to_string(tag - 1) + "; ";
            from = -1;
          }
        }
      }
    }
    return text;
  }

  size_t missingTags(const LogCount& count) const {
    size_t missing = 0;
    for (int p = 0; p < 2; ++p) {
      for (int s = 0; s < 2; ++s) {
        for (int tag = kFirstTag; tag < nextTag_[p][s]; ++tag) missing += count.tags[p][s].count(tag) == 0 ? 1 : 0;
      }
    }
    return missing;
  }

  int minutes_ = 3;
  int restartSeconds_ = 50;
  int burst_ = 2000;
  unsigned seed_ = 0;
  WebInstance web_;
  std::string socket_;
  std::string shmPrefix_;
  int port_ = 0;
  fs::path qcliFolder_;
  std::unique_ptr<ChildProgram> sim_;
  std::unique_ptr<ChildProgram> loader_;
  std::unique_ptr<ServerProcess> server_;
  int stops_ = 0;
  fs::path keep_;  // where the event log, the module's files and each server run's output are kept

  std::vector<std::thread> clients_;
  std::atomic<bool> stopClients_{false};
  std::atomic<bool> pauseClients_{false};
  std::atomic<int> idle_{0};
  Mutex recordsLock_;
  std::vector<RequestRecord> records_ GUARDED_BY(recordsLock_);

  std::atomic<bool> stopFaults_{false};
  Mutex faultLock_;
  std::vector<std::string> faultErrors_ GUARDED_BY(faultLock_);
  std::vector<std::string> faultLog_ GUARDED_BY(faultLock_);
  const Clock::time_point began_ = Clock::now();
  int nextTag_[2][2] = {{kFirstTag, kFirstTag}, {kFirstTag, kFirstTag}};  // the fault thread's
  int faultCounts_[3] = {};                                               // the fault thread's
};

TEST_F(SoakTest, ServesRecordsAndHoldsItsResourcesUnderLoadFaultsAndRestarts) {
  if (HasFatalFailure()) return;
  startServer();
  if (HasFatalFailure()) return;
  std::vector<std::pair<Clock::time_point, Clock::time_point>> restarts;  // stop sent .. ready again
  struct Sample {
    ProcessSample server, loader, sim;
    size_t shmFiles = 0;
    size_t uploads = 0;
  };
  std::vector<Sample> samples;
  const auto takeSample = [&] {
    ASSERT_TRUE(pauseClients()) << "the clients did not pause";
    std::this_thread::sleep_for(1500ms);
    Sample s{sampleOf(server_->pid()), sampleOf(loader_->pid()), sampleOf(sim_->pid()), 0, web_.uploadsLeft().size()};
    for (const auto& entry : fs::directory_iterator("/dev/shm")) s.shmFiles += has(entry.path().filename().string(), shmPrefix_.c_str()) ? 1 : 0;
    resumeClients();
    std::printf("sample %zu: server %s | cgiloader %s | raidsim %s | %zu shared memory files, %zu uploads\n",
                samples.size(), describe(s.server).c_str(), describe(s.loader).c_str(), describe(s.sim).c_str(),
                s.shmFiles, s.uploads);
    std::fflush(stdout);
    samples.push_back(s);
  };

  startClients();
  std::thread faults([this] { faultLoop(); });
  const auto end = Clock::now() + std::chrono::minutes(minutes_);
  auto nextRestart = Clock::now() + std::chrono::seconds(restartSeconds_);
  takeSample();
  while (Clock::now() < end && !HasFatalFailure()) {
    std::this_thread::sleep_for(250ms);
    if (Clock::now() < nextRestart) continue;
    const auto stopSent = Clock::now();
    stopServer();
    startServer();
    restarts.emplace_back(stopSent, Clock::now());
    std::printf("restart %zu: %.1f s without a server\n", restarts.size(),
                std::chrono::duration<double>(restarts.back().second - restarts.back().first).count());
    std::fflush(stdout);
    if (HasFatalFailure()) break;
    std::this_thread::sleep_for(10s);  // the monitor's first cycles and the clients' first requests
    takeSample();
    nextRestart = Clock::now() + std::chrono::seconds(restartSeconds_);
  }
  stopFaults_ = true;
  faults.join();
  stopClients();
  if (HasFatalFailure()) return;

  // Every request answered, or the restart page while a restart was under way.
  std::map<Outcome, size_t> outcomes;
  std::vector<std::string> failures;
  {
    MutexLock records(recordsLock_);  // the clients have ended
    for (const RequestRecord& r : records_) {
      Outcome outcome = r.outcome;
      if (outcome == Outcome::kRestartPage) {
        const bool during = std::any_of(restarts.begin(), restarts.end(), [&](const auto& window) {
          return r.start <= window.second + 2s && r.end >= window.first - 2s;
        });
        if (!during) {
          outcome = Outcome::kFailed;
          failures.push_back(at(r.start) + "restart page outside a restart: " + r.what);
        }
      } else if (outcome == Outcome::kFailed) {
        failures.push_back(at(r.start) + r.what);
      }
      ++outcomes[outcome];
    }
  }
  std::printf("requests: %zu answered, %zu restart pages, %zu busy pages, %zu failed over %zu restarts\n",
              outcomes[Outcome::kAnswered], outcomes[Outcome::kRestartPage], outcomes[Outcome::kBusy],
              outcomes[Outcome::kFailed], restarts.size());
  std::printf("faults: %d dead paths, %d failed drives, %d event bursts\n", faultCounts_[0], faultCounts_[1],
              faultCounts_[2]);
  const auto printHistory = [&] {
    for (const auto& w : restarts) std::printf("restart: %s.. %s\n", at(w.first).c_str(), at(w.second).c_str());
    MutexLock lock(faultLock_);
    for (const std::string& f : faultLog_) std::printf("fault: %s\n", f.c_str());
  };
  for (size_t i = 0; i < failures.size() && i < 20; ++i) std::printf("failed: %s\n", failures[i].c_str());
  if (!failures.empty()) printHistory();
  EXPECT_TRUE(failures.empty()) << failures.size() << " requests failed; the first: " << failures.front();
  EXPECT_GT(outcomes[Outcome::kAnswered], static_cast<size_t>(kClients * minutes_)) << "the clients hardly ran";
  EXPECT_GE(restarts.size(), static_cast<size_t>(minutes_ * 60 / (restartSeconds_ + 60)));
  {
    MutexLock lock(faultLock_);
    EXPECT_TRUE(faultErrors_.empty()) << "raidsim refused: " << faultErrors_.front();
  }

  // Every injected event recorded once (the monitor gets a few cycles for the last burst).
  int injected = 0;
  for (const auto& pair : nextTag_) {
    for (int next : pair) injected += next - kFirstTag;
  }
  LogCount count;
  // What is still missing after the wait is reported below.
  test_support::waitUntil(
      [&] {
        count = countLog();
        return missingTags(count) == 0;
      },
      90s, 1s);
  std::this_thread::sleep_for(6s);  // three more cycles: nothing is recorded twice late
  count = countLog();
  size_t twice = 0;
  std::string firstTwice;
  for (int p = 0; p < 2; ++p) {
    for (int s = 0; s < 2; ++s) {
      for (const auto& [tag, n] : count.tags[p][s]) {
        if (n == 1) continue;
        if (++twice == 1) firstTwice = std::string(kPairs[p].name) + (s == 0 ? " A " : " B ") + std::to_string(tag);
      }
    }
  }
  std::printf("events: %d injected, %zu controller records in the log, %zu missing, %zu recorded more than once\n",
              injected, count.controllerRecords, missingTags(count), twice);
  if (missingTags(count) != 0 || twice != 0) printHistory();
  EXPECT_GT(injected, 0);
  EXPECT_EQ(missingTags(count), 0u) << missingRanges(count);
  EXPECT_EQ(twice, 0u) << "the first: " << firstTwice;
  EXPECT_TRUE(count.repeated.empty()) << count.repeated.size() << " controller records twice; the first: "
                                      << count.repeated.front();

  // Nothing grows across restarts: every sample against the one after the first restart.
  ASSERT_GE(samples.size(), 2u);
  for (size_t i = 2; i < samples.size(); ++i) {
    const int restart = static_cast<int>(i);
    expectNoGrowth("server", samples[1].server, samples[i].server, restart);
    expectNoGrowth("cgiloader", samples[1].loader, samples[i].loader, restart);
    expectNoGrowth("raidsim", samples[1].sim, samples[i].sim, restart);
  }
  for (const Sample& s : samples) {
    EXPECT_LE(s.shmFiles, samples.front().shmFiles) << "shared memory left by an earlier server run";
    EXPECT_EQ(s.uploads, 0u);
  }
}

}  // namespace
