// Test helpers for the web front end's system tests: an installed tree in a temporary folder
// (the default db/ files, the templates and static files of the source tree, the built
// cgiloader in www/cgi-bin/ as installed), a generic child process whose output is collected,
// and a free loopback port.
//
// Thread safety: one of each per test; output() and waitForText() may be called while the
// reader thread runs.
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <signal.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/thread_annotations.h"
#include "tests/server_process.h"

inline std::filesystem::path builtProgram(const char* name) {
  const char* buildDir = std::getenv("KESTROVA_BUILD_DIR");
  return buildDir == nullptr ? std::filesystem::path() : std::filesystem::path(buildDir) / "bin" / name;
}

// The installed tree: InstanceFolder's db/ plus www/, html/ and the program in www/cgi-bin/.
class WebInstance {
 public:
  WebInstance() : folder_("kestrova-web") {
    namespace fs = std::filesystem;
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (folder_.path().empty() || source == nullptr) return;
    std::error_code error;
    for (const char* dir : {"www", "html"}) {
      if (fs::is_directory(fs::path(source) / dir)) {
        fs::copy(fs::path(source) / dir, folder_.path() / dir, fs::copy_options::recursive, error);
      }
    }
    fs::create_directories(folder_.path() / "www/cgi-bin");
    fs::create_directories(folder_.path() / "temp");
    fs::copy_file(builtProgram("cgiloader"), loaderPath(), fs::copy_options::overwrite_existing, error);
    ready_ = !error && fs::exists(folder_.path() / "db/password.web");
  }
  bool ready() const { return ready_; }
  const std::filesystem::path& root() const { return folder_.path(); }
  std::filesystem::path loaderPath() const { return folder_.path() / "www/cgi-bin/cgiloader"; }
  // Upload copies left in temp/.
  std::vector<std::string> uploadsLeft() const {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(folder_.path() / "temp")) {
      const std::string name = entry.path().filename().string();
      if (name.rfind("upload-", 0) == 0) names.push_back(name);
    }
    return names;
  }

 private:
  InstanceFolder folder_;
  bool ready_ = false;
};

// A program run as a child with extra environment variables; output collected; SIGTERM and a
// wait on stop() or when it goes out of scope. A program still running after hangLimitSeconds
// is ended by SIGALRM (0: no limit, for long runs).
class ChildProgram {
 public:
  ChildProgram(const std::filesystem::path& program, const std::vector<std::string>& args,
               const std::vector<std::pair<std::string, std::string>>& env, unsigned hangLimitSeconds = 120) {
    int ends[2];
    if (pipe(ends) != 0) return;
    std::vector<std::string> argvText{program.string()};
    argvText.insert(argvText.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& a : argvText) argv.push_back(a.data());
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      dup2(ends[1], STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      alarm(hangLimitSeconds);  // a hang fails the test instead of blocking it
      execv(argv[0], argv.data());
      _exit(127);
    }
    close(ends[1]);
    if (pid_ < 0) {
      close(ends[0]);
      return;
    }
    reader_ = std::thread([this, fd = ends[0]] { readAll(fd); });
  }
  ~ChildProgram() { stop(); }
  // Ends the program with SIGTERM and collects the rest of its output; output() stays readable.
  void stop() {
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      int status = 0;
      waitpid(pid_, &status, 0);
      pid_ = -1;
    }
    if (reader_.joinable()) reader_.join();
  }
  ChildProgram(const ChildProgram&) = delete;
  ChildProgram& operator=(const ChildProgram&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  bool waitForText(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    MutexLock lock(mutex_);
    changed_.wait_for(lock.native(), limit,
                      [&]() REQUIRES(mutex_) { return output_.find(text) != std::string::npos || ended_; });
    return output_.find(text) != std::string::npos;
  }
  std::string output() {
    MutexLock lock(mutex_);
    return output_;
  }

 private:
  void readAll(int fd) {
    char buffer[4096];
    for (;;) {
      const ssize_t got = read(fd, buffer, sizeof buffer);
      if (got <= 0) break;
      MutexLock lock(mutex_);
      output_.append(buffer, static_cast<size_t>(got));
      changed_.notify_all();
    }
    close(fd);
    MutexLock lock(mutex_);
    ended_ = true;
    changed_.notify_all();
  }

  pid_t pid_ = -1;
  std::thread reader_;
  Mutex mutex_;
  std::condition_variable changed_;
  std::string output_ GUARDED_BY(mutex_);
  bool ended_ GUARDED_BY(mutex_) = false;
};

// A loopback port that was free a moment ago (bound and released).
inline int freeLoopbackPort() {
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
