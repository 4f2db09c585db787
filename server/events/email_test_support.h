// Test support of the e-mail notifier tests: a fixture that runs each test in a fresh working
// folder holding the product's db/strings.db, in UTC, with the server marked running; and
// SmtpSink, a real SMTP server (aiosmtpd under /usr/bin/python3, tests/smtp_sink.py) that stores
// every message it receives with its envelope.
//
// Thread safety: one fixture and one sink per test.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <spawn.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/thread_manager.h"
#include "common/variable_table.h"
#include "server/server_state.h"
#include "tests/support/wait_until.h"

extern char** environ;

namespace email_test {

using test_support::waitUntil;

inline std::string sourceDir() {
  if (const char* dir = std::getenv("KESTROVA_SOURCE_DIR")) return dir;
  return std::filesystem::path(__FILE__).parent_path().parent_path().parent_path().string();
}

inline std::string readFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Newest value of every key.
inline std::map<std::string, std::string> pairsOf(VariableTable table) {
  std::map<std::string, std::string> pairs;
  for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace(e->key, e->value);
  return pairs;
}

// A loopback TCP port that nothing listened on a moment ago.
inline int unusedTcpPort() {
  const int probe = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  bind(probe, reinterpret_cast<sockaddr*>(&address), sizeof address);
  getsockname(probe, reinterpret_cast<sockaddr*>(&address), &length);
  close(probe);
  return ntohs(address.sin_port);
}

class EmailFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-email-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "db");
    std::filesystem::copy_file(sourceDir() + "/data/db/strings.db", folder_ / "db/strings.db");
    std::filesystem::current_path(folder_);
    setenv("TZ", "UTC", 1);
    tzset();
    ASSERT_TRUE(initThreadManager());
    serverControl().serverRunning.store(1);
    serverSettings().emailInUse.store(0);
  }

  void TearDown() override {
    serverControl().serverRunning.store(0);
    freeVariableTable(&serverSettings().email);
    freeVariableTable(&serverSettings().server);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};

// One message as the sink stored it.
struct SunkMail {
  int peerPort = 0;  // the client's port: equal for messages of one connection
  std::string from;
  std::string to;
  std::string data;  // DATA content, transparency removed
};

class SmtpSink {
 public:
  // Empty when /usr/bin/python3 has no aiosmtpd; the caller skips then.
  static std::string unavailableReason() {
    if (std::system("/usr/bin/python3 -c 'import aiosmtpd' >/dev/null 2>&1") != 0) {
      return "/usr/bin/python3 lacks aiosmtpd (install python3-aiosmtpd); the SMTP peer tests need it";
    }
    return std::string();
  }

  // options: further arguments of smtp_sink.py (--cert, --key, --starttls, --implicit-tls, --auth).
  explicit SmtpSink(const std::string& folder, const std::vector<std::string>& refused = {},
                    const std::vector<std::string>& options = {})
      : folder_(folder) {
    std::filesystem::create_directories(folder_);
    int toChild[2];
    int fromChild[2];
    if (pipe(toChild) != 0 || pipe(fromChild) != 0) return;
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
    posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
    posix_spawn_file_actions_addclose(&actions, toChild[1]);
    posix_spawn_file_actions_addclose(&actions, fromChild[0]);
    std::vector<std::string> args = {"/usr/bin/python3", sourceDir() + "/tests/smtp_sink.py", folder_};
    for (const std::string& address : refused) {
      args.push_back("--refuse-rcpt");
      args.push_back(address);
    }
    args.insert(args.end(), options.begin(), options.end());
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(toChild[0]);
    close(fromChild[1]);
    stdin_ = toChild[1];
    if (spawned != 0) {
      pid_ = -1;
      close(fromChild[0]);
      return;
    }
    readPort(fromChild[0]);
    close(fromChild[0]);
  }

  ~SmtpSink() {
    if (stdin_ >= 0) close(stdin_);  // the sink ends when its input closes
    if (pid_ <= 0) return;
    int status = 0;
    const bool ended =
        waitUntil([&] { return waitpid(pid_, &status, WNOHANG) == pid_; }, std::chrono::seconds(10));
    if (!ended) {
      kill(pid_, SIGTERM);
      waitpid(pid_, &status, 0);
    }
  }

  SmtpSink(const SmtpSink&) = delete;
  SmtpSink& operator=(const SmtpSink&) = delete;

  int port() const { return port_; }

  // Waits until count messages arrived; returns them in arrival order (fewer on time-out).
  std::vector<SunkMail> waitForMail(size_t count,
                                    std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    waitUntil([&] { return std::filesystem::exists(folder_ + "/" + std::to_string(count) + ".meta"); },
              limit);
    std::vector<SunkMail> mails;
    for (size_t n = 1; std::filesystem::exists(folder_ + "/" + std::to_string(n) + ".meta"); ++n) {
      SunkMail mail;
      std::istringstream meta(readFile(folder_ + "/" + std::to_string(n) + ".meta"));
      for (std::string line; std::getline(meta, line);) {
        if (line.rfind("peer=", 0) == 0) mail.peerPort = std::stoi(line.substr(5));
        if (line.rfind("from=", 0) == 0) mail.from = line.substr(5);
        if (line.rfind("to=", 0) == 0) mail.to = line.substr(3);
      }
      mail.data = readFile(folder_ + "/" + std::to_string(n) + ".data");
      mails.push_back(mail);
    }
    return mails;
  }

  // Connections that said HELO so far.
  int heloCount() const {
    int count = 0;
    while (std::filesystem::exists(folder_ + "/helo-" + std::to_string(count + 1) + ".txt")) ++count;
    return count;
  }

 private:
  void readPort(int fd) {
    std::string line;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (line.find('\n') == std::string::npos && std::chrono::steady_clock::now() < deadline) {
      pollfd entry{fd, POLLIN, 0};
      if (poll(&entry, 1, 200) <= 0) continue;
      char buffer[128];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) break;
      line.append(buffer, static_cast<size_t>(n));
    }
    if (line.rfind("READY ", 0) == 0) port_ = std::atoi(line.c_str() + 6);
  }

  std::string folder_;
  pid_t pid_ = -1;
  int stdin_ = -1;
  int port_ = 0;
};

}  // namespace email_test
