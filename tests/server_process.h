// Test helpers for the system tests: the built server program's path, a fresh instance folder
// with the default db/ files, and the server running in a folder as a child process whose
// standard output and error a reader thread collects (so that a chatty server never blocks on
// a full pipe).
//
// Each ServerProcess gets its own shared-memory prefix (KESTROVA_SHM_PREFIX) unless the caller's
// environment list names one, so that servers of concurrent tests never meet.
//
// Thread safety: one ServerProcess per test; output() and waitForText() may be called while the
// reader thread runs.
#pragma once

#include <signal.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
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

inline std::string builtServerPath() {
  const char* buildDir = std::getenv("KESTROVA_BUILD_DIR");
  return buildDir == nullptr ? std::string() : std::string(buildDir) + "/bin/server";
}

// A fresh temporary folder holding a copy of the default db/ files; removed afterwards.
class InstanceFolder {
 public:
  explicit InstanceFolder(const char* stem = "kestrova-instance") {
    std::string pattern = (std::filesystem::temp_directory_path() / (std::string(stem) + "-XXXXXX")).string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (source != nullptr && std::filesystem::is_directory(std::filesystem::path(source) / "data/db")) {
      std::filesystem::copy(std::filesystem::path(source) / "data/db", path_ / "db",
                            std::filesystem::copy_options::recursive);
    }
  }
  ~InstanceFolder() {
    std::error_code ignored;
    if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
  }
  InstanceFolder(const InstanceFolder&) = delete;
  InstanceFolder& operator=(const InstanceFolder&) = delete;
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

// The prefix a ServerProcess gives its server when the caller names none.
inline std::string nextServerShmPrefix() {
  static std::atomic<int> counter{0};
  return "kestrova-systest-" + std::to_string(getpid()) + "-" + std::to_string(counter.fetch_add(1)) + ".";
}

class ServerProcess {
 public:
  using Environment = std::vector<std::pair<std::string, std::string>>;

  // Starts the server with args in folder; env holds extra variables for the child. A server
  // still running after hangLimitSeconds is ended by SIGALRM (0: no limit, for long runs).
  ServerProcess(const std::vector<std::string>& args, const std::filesystem::path& folder,
                const Environment& env = {}, unsigned hangLimitSeconds = 120) {
    shmPrefix_ = nextServerShmPrefix();
    for (const auto& [name, value] : env) {
      if (name == "KESTROVA_SHM_PREFIX") shmPrefix_ = value;
    }
    int ends[2];
    if (pipe(ends) != 0) return;
    const std::string program = builtServerPath();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      dup2(ends[1], STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      if (chdir(folder.c_str()) != 0) _exit(127);
      setenv("KESTROVA_SHM_PREFIX", shmPrefix_.c_str(), 1);
      for (const auto& [name, value] : env) setenv(name.c_str(), value.c_str(), 1);
      unsetenv("INVOCATION_ID");
      alarm(hangLimitSeconds);  // a hang fails the test instead of blocking it
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(ends[1]);
    if (pid_ < 0) {
      close(ends[0]);
      return;
    }
    reader_ = std::thread([this, fd = ends[0]] { readAll(fd); });
  }
  ~ServerProcess() {
    if (pid_ > 0 && status_ == kNotCollected) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (reader_.joinable()) reader_.join();
  }
  ServerProcess(const ServerProcess&) = delete;
  ServerProcess& operator=(const ServerProcess&) = delete;

  bool started() const { return pid_ > 0; }
  pid_t pid() const { return pid_; }
  const std::string& shmPrefix() const { return shmPrefix_; }
  void signal(int number) {
    if (pid_ > 0) kill(pid_, number);
  }

  // True once text has appeared in the output; false when the time is up or the output ended.
  bool waitForText(const std::string& text, std::chrono::milliseconds limit = std::chrono::seconds(20)) {
    MutexLock lock(mutex_);
    changed_.wait_for(lock.native(), limit,
                      [&]() REQUIRES(mutex_) { return output_.find(text) != std::string::npos || ended_; });
    return output_.find(text) != std::string::npos;
  }

  // Waits for the exit and the end of the output; returns the exit status (-1 when the server
  // did not exit normally).
  int finish() {
    if (pid_ <= 0) return -1;
    if (status_ == kNotCollected) {
      int status = 0;
      const pid_t waited = waitpid(pid_, &status, 0);
      status_ = waited == pid_ && WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    if (reader_.joinable()) reader_.join();
    return status_;
  }

  std::string output() {
    MutexLock lock(mutex_);
    return output_;
  }

 private:
  static constexpr int kNotCollected = -2;

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
  int status_ = kNotCollected;
  std::string shmPrefix_;
  std::thread reader_;
  Mutex mutex_;
  std::condition_variable changed_;
  std::string output_ GUARDED_BY(mutex_);
  bool ended_ GUARDED_BY(mutex_) = false;
};
