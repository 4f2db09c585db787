// raidsim as a child of a system test: a temporary folder with the configuration text, the
// simulator listening on a socket in it, SIGTERM and the folder removed at the end. Tests add
// what they read from the simulator (its saved state, controller buffers) around it.
//
// Thread safety: one per test; control() may be called from any thread.
#pragma once

#include <fcntl.h>
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
#include <string>
#include <thread>

#include "common/scsi/scsi_sim.h"
#include "tests/support/wait_until.h"

class RaidsimProcess {
 public:
  // tag names the temporary folder (kestrova-<tag>-XXXXXX); the configuration goes to pairs.conf.
  RaidsimProcess(const std::string& configText, const char* tag) {
    namespace fs = std::filesystem;
    std::string pattern = (fs::temp_directory_path() / ("kestrova-" + std::string(tag) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    socket_ = (folder_ / "sim.sock").string();
    const fs::path config = folder_ / "pairs.conf";
    std::ofstream(config) << configText;
    const char* buildDir = std::getenv("KESTROVA_BUILD_DIR");
    program_ = (fs::path(buildDir != nullptr ? buildDir : ".") / "bin/raidsim").string();
    pid_ = fork();
    if (pid_ == 0) {
      const int null = open("/dev/null", O_WRONLY);
      dup2(null, STDOUT_FILENO);
      execl(program_.c_str(), program_.c_str(), "--socket", socket_.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
  }
  ~RaidsimProcess() {
    closeSimConnections();
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) std::filesystem::remove_all(folder_, ignored);
  }
  RaidsimProcess(const RaidsimProcess&) = delete;
  RaidsimProcess& operator=(const RaidsimProcess&) = delete;

  // True once the socket accepts connections (10 s at most).
  bool waitListening() const {
    const auto up = [this] {
      const int fd = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
      sockaddr_un address{};
      address.sun_family = AF_UNIX;
      std::snprintf(address.sun_path, sizeof(address.sun_path), "%s", socket_.c_str());
      const bool connected = connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
      close(fd);
      return connected;
    };
    return test_support::waitUntil(up, test_support::kWaitLimit, std::chrono::milliseconds(50));
  }
  // One control command; 0 when raidsim accepted it, its reply in *reply.
  int control(const std::string& command, std::string* reply) const {
    return simControl(socket_, command, reply);
  }
  const std::string& socketPath() const { return socket_; }
  const std::filesystem::path& folder() const { return folder_; }
  const std::string& program() const { return program_; }

 private:
  std::filesystem::path folder_;
  std::string socket_;
  std::string program_;
  pid_t pid_ = -1;
};
