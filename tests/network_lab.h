// The network laboratory of the multi-server system tests: built servers on one network, each in
// its own network namespace, joined by a bridge in a namespace of its own, all seeing the same
// simulated controller pair through one raidsim; the test module hangs one unit on every device.
// NetworkLabTest gives a test its bridge, its simulator and its servers, and reads who monitors
// what from every server's diagnostic page.
//
// Needs root (namespaces, veth, bridge); a test is skipped with a message otherwise. Addresses
// 10.213.0.0/24 exist only inside the test's namespaces, which are removed afterwards.
//
// Thread safety: one laboratory per test; NetServer::start runs its child from a thread of its
// own that enters the server's namespace.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "common/cgi_client.h"
#include "common/scsi/scsi_sim.h"
#include "common/shared_memory.h"
#include "common/variable_table.h"
#include "tests/server_process.h"
#include "tests/support/wait_until.h"

namespace netlab {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

inline constexpr int32_t kMine = 1;
inline constexpr int32_t kNotMine = 2;

// Runs argv without a shell, in folder when given, with input on its standard input; the exit
// status, or -1. Output goes to *output when given.
inline int run(const std::vector<std::string>& argv, std::string* output = nullptr,
               const std::string& input = "", const std::string& folder = "") {
  int ends[2];
  int feed[2];
  if (pipe(ends) != 0) return -1;
  if (pipe(feed) != 0) {
    close(ends[0]);
    close(ends[1]);
    return -1;
  }
  const pid_t pid = fork();
  if (pid == 0) {
    dup2(ends[1], STDOUT_FILENO);
    dup2(ends[1], STDERR_FILENO);
    dup2(feed[0], STDIN_FILENO);
    for (int fd : {ends[0], ends[1], feed[0], feed[1]}) close(fd);
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    std::vector<char*> args;
    for (const std::string& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    execvp(args[0], args.data());
    _exit(127);
  }
  close(ends[1]);
  close(feed[0]);
  // The input is small (a key line): it fits the pipe, so writing it before reading can't block.
  if (!input.empty() && write(feed[1], input.data(), input.size()) < 0) input.size();
  close(feed[1]);
  std::string text;
  char buffer[512];
  for (ssize_t got; (got = read(ends[0], buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(got));
  close(ends[0]);
  int status = 0;
  if (pid < 0 || waitpid(pid, &status, 0) != pid) return -1;
  if (output != nullptr) *output = text;
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string dotted(int host) { return "10.213.0." + std::to_string(host); }

// The servers' network: a bridge namespace and one namespace per server, with one veth pair per
// interface. Everything is removed by the destructor.
class NetworkLab {
 public:
  NetworkLab() : prefix_("kvnet" + std::to_string(getpid() % 100000)) {}
  ~NetworkLab() {
    for (auto it = namespaces_.rbegin(); it != namespaces_.rend(); ++it) run({"ip", "netns", "del", *it});
  }
  NetworkLab(const NetworkLab&) = delete;
  NetworkLab& operator=(const NetworkLab&) = delete;

  // Creates the bridge; false (with *why) when namespaces can't be made here.
  bool createBridge(std::string* why) {
    if (geteuid() != 0) {
      *why = "not running as root";
      return false;
    }
    const std::string bridge = prefix_ + "-br";
    if (run({"ip", "netns", "add", bridge}, why) != 0) return false;
    namespaces_.push_back(bridge);
    return step({"ip", "-n", bridge, "link", "add", "br0", "type", "bridge", "mcast_snooping", "0"}, why) &&
           step({"ip", "-n", bridge, "link", "set", "br0", "up"}, why);
  }

  // A namespace for server number n with one interface per host number in hosts.
  bool addServer(int n, const std::vector<int>& hosts, std::string* why) {
    const std::string ns = serverNamespace(n);
    const std::string bridge = prefix_ + "-br";
    if (run({"ip", "netns", "add", ns}, why) != 0) return false;
    namespaces_.push_back(ns);
    if (!step({"ip", "-n", ns, "link", "set", "lo", "up"}, why)) return false;
    for (size_t j = 0; j < hosts.size(); ++j) {
      const std::string port = "v" + std::to_string(n) + "p" + std::to_string(j);
      const std::string device = "eth" + std::to_string(j);
      if (!step(
              {"ip", "-n", bridge, "link", "add", port, "type", "veth", "peer", "name", device, "netns", ns},
              why) ||
          !step({"ip", "-n", bridge, "link", "set", port, "master", "br0"}, why) ||
          !step({"ip", "-n", bridge, "link", "set", port, "up"}, why) ||
          !step({"ip", "-n", ns, "addr", "add", dotted(hosts[j]) + "/24", "dev", device}, why) ||
          !step({"ip", "-n", ns, "link", "set", device, "up"}, why)) {
        return false;
      }
    }
    return true;
  }

  std::string serverNamespace(int n) const { return prefix_ + "-s" + std::to_string(n); }

 private:
  static bool step(const std::vector<std::string>& argv, std::string* why) {
    std::string output;
    if (run(argv, &output) == 0) return true;
    *why = argv[0];
    for (size_t i = 1; i < argv.size(); ++i) *why += " " + argv[i];
    *why += ": " + output;
    return false;
  }

  std::string prefix_;
  std::vector<std::string> namespaces_;
};

// One server: its instance folder (with the test module hanging units) and its process, started
// inside its namespace.
class NetServer {
 public:
  NetServer(const std::string& ns, const std::string& simSocket, int firstHost, bool debug,
            bool brivo = false)
      : ns_(ns), simSocket_(simSocket), address_(dotted(firstHost)), debug_(debug) {
    if (brivo) {  // the RAID module too, polling once a second
      fs::create_directories(folder_.path() / "mods");
      fs::copy(fs::path(std::getenv("KESTROVA_BUILD_DIR")) / "mods/Brivo", folder_.path() / "mods/Brivo",
               fs::copy_options::recursive);
    }
    const fs::path module = fs::path(std::getenv("KESTROVA_BUILD_DIR")) / "mods/TestModule/TestModule.so";
    fs::create_directories(folder_.path() / "mods/TestModule");
    fs::copy_file(module, folder_.path() / "mods/TestModule/TestModule.so");
    std::ofstream(folder_.path() / "mods/TestModule/TestModuleSettings.ini") << "ModuleEnabled=1\n";
    std::ofstream(folder_.path() / "mods/TestModule/hang_units") << "\n";
    char identity[64];
    unsigned a = 0, b = 0, c = 0, d = 0;
    std::sscanf(address_.c_str(), "%u.%u.%u.%u", &a, &b, &c, &d);
    std::snprintf(identity, sizeof(identity), "N/A--%.2X%.2X%.2X%.2X", a, b, c, d);
    identity_ = identity;
  }

  // Starts (or restarts) the server process in the namespace.
  void start() {
    process_.reset();
    std::thread inside([this] {
      int fd = open(("/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0) fd = open(("/var/run/netns/" + ns_).c_str(), O_RDONLY | O_CLOEXEC);
      if (fd < 0 || setns(fd, CLONE_NEWNET) != 0) return;
      close(fd);
      std::vector<std::string> args = {"-debug"};
      if (debug_) args.push_back("1011");
      process_ =
          std::make_unique<ServerProcess>(args, folder_.path(),
                                          ServerProcess::Environment{{"KESTROVA_SCSI_SIM", simSocket_},
                                                                     {"KESTROVA_BRIVO_MONITOR_MS", "1000"}});
    });
    inside.join();
    ASSERT_TRUE(process_ && process_->started()) << "server did not start in " << ns_;
  }
  bool waitStarted() { return process_->waitForText("Scan System thread terminated\n", 30s); }
  // SIGKILL: the server just falls silent. Its shared objects are removed for it.
  void kill() {
    if (!process_) return;
    const std::string prefix = process_->shmPrefix();
    process_.reset();
    std::error_code ignored;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ignored)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(prefix, 0) == 0 || name.rfind("sem." + prefix, 0) == 0)
        fs::remove(entry.path(), ignored);
    }
  }
  ~NetServer() { kill(); }
  void stop() {
    if (process_) process_->signal(SIGINT);
  }
  int finish() { return process_ ? process_->finish() : -1; }
  std::string output() { return process_ ? process_->output() : std::string(); }

  // The claim of every unit (name -> status, owner), read from the diagnostic page.
  std::map<std::string, std::pair<int32_t, std::string>> units() {
    std::map<std::string, std::pair<int32_t, std::string>> found;
    VariableTable reply = nullptr;
    if (request({{"method", "GetDebugInfo"}}, &reply) != kCgiOk) return found;
    const int devices = number(reply, "DeviceLoop");
    for (int d = 0; d < devices; ++d) {
      const std::string device = "DeviceLoop" + std::to_string(d) + "ModLoop";
      for (int m = 0; m < number(reply, device.c_str()); ++m) {
        const std::string row = device + std::to_string(m);
        const char* name = getVariable(reply, (row + "DeviceName").c_str());
        const char* status = getVariable(reply, (row + "MonitorStatus").c_str());
        const char* owner = getVariable(reply, (row + "DeviceControllerIp").c_str());
        if (name != nullptr && status != nullptr && owner != nullptr) {
          found[name] = {static_cast<int32_t>(std::strtol(status, nullptr, 16)), owner};
        }
      }
    }
    freeVariableTable(&reply);
    return found;
  }

  // "server -netkey args" in this server's folder with input on its standard input; what it
  // printed in *output. The exit status.
  int netkey(const std::vector<std::string>& args, const std::string& input = "",
             std::string* output = nullptr) {
    std::vector<std::string> argv = {builtServerPath(), "-netkey"};
    argv.insert(argv.end(), args.begin(), args.end());
    return run(argv, output, input, folder_.path().string());
  }

  // The newest value of every key of a reply to method (empty when the server did not answer).
  std::map<std::string, std::string> values(
      const char* method, const std::vector<std::pair<std::string, std::string>>& more = {}) {
    std::map<std::string, std::string> found;
    std::vector<std::pair<std::string, std::string>> pairs = {{"method", method}};
    pairs.insert(pairs.end(), more.begin(), more.end());
    VariableTable reply = nullptr;
    if (request(pairs, &reply) != kCgiOk) return found;
    for (VariableEntry* e = reply; e != nullptr; e = e->next) found.emplace(e->key, e->value);
    freeVariableTable(&reply);
    return found;
  }

  // Datagrams this server dropped for reason (a label of the diagnostic page), or -1.
  long long drops(const std::string& reason) {
    const auto page = values("GetDebugInfo");
    const auto rows = page.find("NetDropLoop");
    if (rows == page.end()) return -1;
    for (int i = 0; i < std::atoi(rows->second.c_str()); ++i) {
      const std::string row = "NetDropLoop" + std::to_string(i);
      if (page.count(row + "Reason") != 0 && page.at(row + "Reason") == reason) {
        return std::atoll(page.at(row + "Count").c_str());
      }
    }
    return -1;
  }

  // A change on the network key page (action, for "set" and "add" the key twice), with the
  // page's current edit counter and the default administrator password. Empty when it
  // succeeded, else the reply's message.
  std::string changeKey(const std::string& action, const std::string& key = "") {
    const std::string version = values("GetNetworkKeyConfig")["version"];
    std::vector<std::pair<std::string, std::string>> fields = {
        {"KeyAction", action}, {"version", version}, {"Password", "pinecone"}};
    if (!key.empty()) {
      fields.emplace_back("NetworkKey", key);
      fields.emplace_back("NetworkKeyConfirm", key);
    }
    auto reply = values("SetNetworkKeyConfig", fields);
    if (reply.empty()) return "no answer";
    if (reply["MessageIsSuccess"] == "true") return "";
    return "failed: " + reply["MessageSummary"] + " " + reply["MessageDetails"] + " (version " + version + ")";
  }

  // The id of the key this server signs with now ("" without a key).
  std::string sendKeyId() { return values("GetDebugInfo")["NetworkSendKeyId"]; }

  // One request to this server; the reply (caller frees) in *reply.
  int request(const std::vector<std::pair<std::string, std::string>>& pairs, VariableTable* reply) {
    if (!process_) return kCgiFailed;
    VariableTable table = nullptr;
    addVariable(&table, "module", "server");
    addVariable(&table, "RemoteAddress", "127.0.0.1");
    for (const auto& [key, value] : pairs) addVariable(&table, key.c_str(), value.c_str());
    // Per thread, not through the environment: the tests ask several servers from several
    // threads at once.
    const ScopedSharedObjectPrefix prefix(process_->shmPrefix());
    CgiClientOptions options;
    options.replyTimeoutMs = 10000;
    const int result = cgiRoundTrip(table, reply, options);
    freeVariableTable(&table);
    return result;
  }

  const std::string& address() const { return address_; }
  std::string eventLog() const {
    std::ifstream in(folder_.path() / "db/ServerLog.log", std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  const std::string& identity() const { return identity_; }

 private:
  static int number(VariableTable reply, const char* key) {
    const char* text = getVariable(reply, key);
    return text != nullptr ? std::atoi(text) : 0;
  }

  std::string ns_;
  std::string simSocket_;
  std::string address_;
  std::string identity_;
  bool debug_;
  InstanceFolder folder_{"kestrova-net"};
  std::unique_ptr<ServerProcess> process_;
};

// The raidsim daemon with the one-pair configuration.
class Simulator {
 public:
  Simulator() {
    folder_ = fs::temp_directory_path() / ("kestrova-netsim-" + std::to_string(getpid()));
    fs::create_directories(folder_);
    socket_ = (folder_ / "sim.sock").string();
    const std::string program = (fs::path(std::getenv("KESTROVA_BUILD_DIR")) / "bin/raidsim").string();
    const std::string config =
        (fs::path(std::getenv("KESTROVA_SOURCE_DIR")) / "sim/examples/one_pair.conf").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(program.c_str(), program.c_str(), "--socket", socket_.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~Simulator() {
    if (pid_ > 0) {
      ::kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool waitListening() {
    const auto up = [this] {
      const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socket_.c_str());
      const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
      close(fd);
      return connected;
    };
    return test_support::waitUntil(up, test_support::kWaitLimit, 50ms);
  }
  const std::string& socket() const { return socket_; }
  bool ctl(const std::string& command) {
    std::string reply;
    return simControl(socket_, command, &reply) == 0;
  }

 private:
  fs::path folder_;
  std::string socket_;
  pid_t pid_ = -1;
};

class NetworkLabTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("KESTROVA_BUILD_DIR") == nullptr || !fs::exists(builtServerPath())) {
      GTEST_FAIL() << "set KESTROVA_BUILD_DIR to a build with the server, raidsim and the test module";
    }
    // These servers live in namespaces of their own and must find the namespace's interfaces.
    unsetenv("KESTROVA_NET_ADDRESSES");
    std::string why;
    if (!lab_.createBridge(&why)) GTEST_SKIP() << "network namespaces cannot be created here: " << why;
    simulator_ = std::make_unique<Simulator>();
    ASSERT_TRUE(simulator_->waitListening()) << "raidsim did not start";
  }
  void TearDown() override { unsetenv("KESTROVA_SHM_PREFIX"); }

  NetServer& addServer(int n, const std::vector<int>& hosts, bool debug = false, bool brivo = false) {
    std::string why;
    EXPECT_TRUE(lab_.addServer(n, hosts, &why)) << why;
    servers_.push_back(
        std::make_unique<NetServer>(lab_.serverNamespace(n), simulator_->socket(), hosts[0], debug, brivo));
    return *servers_.back();
  }

  // Index (in servers) of the one server monitoring unit while every other live server lets it
  // monitor it; -1 while they don't agree (or a server has no such unit).
  static int agreedOwner(const std::vector<NetServer*>& servers, const std::string& unit) {
    int owner = -1;
    std::vector<std::pair<int32_t, std::string>> claims;
    for (size_t i = 0; i < servers.size(); ++i) {
      const auto units = servers[i]->units();
      const auto found = units.find(unit);
      if (found == units.end()) return -1;
      claims.push_back(found->second);
      if (found->second.first == kMine) {
        if (owner != -1) return -1;
        owner = static_cast<int>(i);
      }
    }
    if (owner == -1) return -1;
    for (size_t i = 0; i < servers.size(); ++i) {
      if (static_cast<int>(i) == owner) continue;
      if (claims[i].first != kNotMine || claims[i].second != servers[owner]->address()) return -1;
    }
    return owner;
  }

  // The agreed owner of every unit (-1 where the servers disagree), from one look at each server;
  // empty when a server did not answer the look.
  static std::map<std::string, int> owners(const std::vector<NetServer*>& servers) {
    std::vector<std::map<std::string, std::pair<int32_t, std::string>>> views;
    for (NetServer* server : servers) {
      views.push_back(server->units());
      if (views.back().empty()) return {};
    }
    std::map<std::string, int> found;
    for (const auto& [name, ignored] : views[0]) {
      int owner = -1;
      bool agreed = true;
      for (size_t i = 0; i < views.size() && agreed; ++i) {
        const auto unit = views[i].find(name);
        if (unit == views[i].end() || (unit->second.first == kMine && owner != -1)) {
          agreed = false;
        } else if (unit->second.first == kMine) {
          owner = static_cast<int>(i);
        }
      }
      if (owner < 0) agreed = false;
      for (size_t i = 0; i < views.size() && agreed; ++i) {
        if (static_cast<int>(i) == owner) continue;
        const auto& claim = views[i].at(name);
        agreed = claim.first == kNotMine && claim.second == servers[owner]->address();
      }
      found[name] = agreed ? owner : -1;
    }
    return found;
  }

  // owners() once every server answered (a few tries, for a busy machine).
  static std::map<std::string, int> answeredOwners(const std::vector<NetServer*>& servers) {
    std::map<std::string, int> found;
    test_support::waitUntil([&] { return !(found = owners(servers)).empty(); }, 5s, 500ms);
    return found;
  }

  // Waits until every unit has one agreed owner; the owners by unit name, empty on time-out.
  static std::map<std::string, int> waitForAgreement(const std::vector<NetServer*>& servers,
                                                     std::chrono::seconds limit) {
    std::map<std::string, int> owners;
    const auto agreed = [&] {
      owners.clear();
      for (const auto& [name, claim] : servers[0]->units()) {
        owners[name] = agreedOwner(servers, name);
        if (owners[name] < 0) return false;
      }
      return !owners.empty();
    };
    if (!test_support::waitUntil(agreed, limit, 250ms)) owners.clear();
    return owners;
  }

  static std::string describe(const std::vector<NetServer*>& servers) {
    std::string text;
    for (NetServer* server : servers) {
      text += server->identity() + ":";
      for (const auto& [name, claim] : server->units()) {
        text += " " + name + "=" + std::to_string(claim.first) + "@" + claim.second;
      }
      text += "\n";
    }
    return text;
  }

  NetworkLab lab_;
  std::unique_ptr<Simulator> simulator_;
  std::vector<std::unique_ptr<NetServer>> servers_;  // destroyed before the simulator and the lab
};

}  // namespace netlab
