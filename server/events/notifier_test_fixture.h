// Test helpers of the SNMP and syslog notifier tests: a fresh working folder with db/strings.db
// copied from the default data, cleared notifier settings with short in-use waits, unused
// loopback ports, a UDP receiver with a time-out, and an outside peer program (snmptrapd, socat)
// run for the length of one test.
//
// Thread safety: one fixture per test; the helpers are used from the test's thread.
#pragma once

#include <fcntl.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "common/variable_table.h"
#include "server/events/notifier_settings.h"
#include "server/net/socket_layer.h"
#include "server/server_state.h"
#include "tests/support/receive_timeout.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace notifier_test {

using test_support::waitUntil;

using namespace std::chrono_literals;

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

inline void writeFile(const std::string& path, const std::string& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << bytes;
}

// Newest value of every key.
inline std::map<std::string, std::string> pairsOf(VariableTable table) {
  std::map<std::string, std::string> pairs;
  for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace(e->key, e->value);
  return pairs;
}

inline std::filesystem::path sourceFolder() {
  const char* source = getenv("KESTROVA_SOURCE_DIR");
  return source != nullptr ? std::filesystem::path(source)
                           : std::filesystem::path(__FILE__).parent_path().parent_path().parent_path();
}

// A loopback UDP port that nothing was bound to a moment ago.
inline uint16_t unusedUdpPort() {
  SocketOwner probe;
  if (createListenSocket(probe.address(), INADDR_LOOPBACK, 0, kUdpSpecifier, nullptr) != 0) return 0;
  return socketLocalPort(probe.get());
}

// True once some other socket holds the loopback UDP port.
inline bool udpPortTaken(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_DGRAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool taken = bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0;
  close(fd);
  return taken;
}

// A UDP socket on a loopback port that gives up a receive after timeoutMs.
class UdpReceiver {
 public:
  explicit UdpReceiver(int timeoutMs = 2000) {
    status_ = createListenSocket(socket_.address(), INADDR_LOOPBACK, 0, kUdpSpecifier, nullptr);
    test_support::setReceiveTimeout(socket_.get(), timeoutMs);
  }
  bool ok() const { return status_ == 0; }
  uint16_t port() const { return socketLocalPort(socket_.get()); }
  std::string portText() const { return std::to_string(port()); }
  // One datagram, or nothing after the time-out.
  bool receive(std::string* datagram) {
    std::vector<char> buffer(70000);
    size_t received = 0;
    if (readFromSocket(socket_.get(), buffer.data(), buffer.size(), &received) != 0) return false;
    datagram->assign(buffer.data(), received);
    return true;
  }

 private:
  SocketOwner socket_;
  uint32_t status_ = 1;
};

// An outside program whose standard output and error go to a file; ended (SIGTERM) and reaped
// when the object goes.
class PeerProcess {
 public:
  PeerProcess(const std::vector<std::string>& argv, const std::string& outputPath) : outputPath_(outputPath) {
    std::vector<char*> args;
    for (const std::string& arg : argv) args.push_back(const_cast<char*>(arg.c_str()));
    args.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 1, outputPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~PeerProcess() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool started() const { return pid_ > 0; }
  // Still running (not yet exited).
  bool running() const { return pid_ > 0 && waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::string output() const { return readFile(outputPath_); }

 private:
  pid_t pid_ = -1;
  std::string outputPath_;
};

// A certificate authority of the test's own (dir/ca.pem) and a server certificate for 127.0.0.1
// and localhost signed by it (dir/server.pem, dir/server.key). Empty text on success, else what
// openssl said.
inline std::string makeTestCertificates(const std::string& dir) {
  const std::string script =
      "cd '" + dir +
      "' && printf 'subjectAltName=IP:127.0.0.1,DNS:localhost\\n' >ext.cnf && "
      "openssl req -x509 -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout ca.key -out ca.pem "
      "-days 2 -subj '/CN=Kestrova test CA' && "
      "openssl req -newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes -keyout server.key -out "
      "server.csr "
      "-subj '/CN=localhost' && "
      "openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 "
      "-extfile ext.cnf";
  if (std::system((script + " >openssl.log 2>&1").c_str()) == 0) return "";
  const std::string log = readFile(dir + "/openssl.log");
  return log.empty() ? "openssl failed" : log;
}

// A loopback TCP port that nothing was bound to a moment ago.
inline uint16_t unusedTcpPort() {
  SocketOwner probe;
  if (createListenSocket(probe.address(), INADDR_LOOPBACK, 0, kTcpSpecifier, nullptr) != 0) return 0;
  return socketLocalPort(probe.get());
}

// True once something listens on the loopback TCP port.
inline bool tcpPortListening(uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const bool listening = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  close(fd);
  return listening;
}

// Runs each test in a fresh working folder holding db/strings.db of the default data, with empty
// notifier settings and in-use waits of half a second.
class NotifierFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-notifier-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "db");
    std::filesystem::copy_file(sourceFolder() / "data/db/strings.db", folder_ / "db/strings.db");
    std::filesystem::current_path(folder_);
    clearSettings();
    setNotifierWaitTimings({500, 2});
    setReceiverWaitTimings({500, 2});
  }

  void TearDown() override {
    setNotifierWaitTimings(NotifierWaitTimings{});
    setReceiverWaitTimings(kReceiverWaitTimings);
    clearSettings();
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  static void clearSettings() {
    ServerSettings& settings = serverSettings();
    freeVariableTable(&settings.snmp);
    freeVariableTable(&settings.syslog);
    freeVariableTable(&settings.server);
    freeVariableTable(&settings.webhook);
    settings.snmpInUse.store(0);
    settings.syslogInUse.store(0);
    settings.webhookInUse.store(0);
  }

  std::string path(const std::string& name) const { return (folder_ / name).string(); }

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

}  // namespace notifier_test
