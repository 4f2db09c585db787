// Tests of the raidsim program itself: start, control from the command line, clean shutdown on
// SIGTERM with the state saved, restart with the state loaded, and its exit codes.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/scsi/sim_socket.h"
#include "tests/support/wait_until.h"

namespace fs = std::filesystem;

namespace {

using test_support::waitUntil;

fs::path raidsimPath() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return fs::path(build) / "bin/raidsim";
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path() / "bin/raidsim";
}

struct ProgramRun {
  int exitCode = -1;
  std::string output;
};

// Runs raidsim with args to completion, collecting standard output and error.
ProgramRun runRaidsim(const std::vector<std::string>& args) {
  int pipeFds[2];
  EXPECT_EQ(::pipe(pipeFds), 0);
  pid_t pid = ::fork();
  if (pid == 0) {
    ::dup2(pipeFds[1], 1);
    ::dup2(pipeFds[1], 2);
    ::close(pipeFds[0]);
    std::string program = raidsimPath().string();
    std::vector<char*> argv{program.data()};
    std::vector<std::string> copies = args;
    for (std::string& a : copies) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  ::close(pipeFds[1]);
  ProgramRun run;
  char buffer[4096];
  for (ssize_t n; (n = ::read(pipeFds[0], buffer, sizeof(buffer))) > 0;) run.output.append(buffer, n);
  ::close(pipeFds[0]);
  int status = 0;
  ::waitpid(pid, &status, 0);
  run.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

class RaidsimProcess : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(fs::exists(raidsimPath())) << raidsimPath();
    dir = fs::temp_directory_path() / ("kestrova-raidsim-proc-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    socket = (dir / "sim.sock").string();
    state = (dir / "state.txt").string();
    config = (fs::path(__FILE__).parent_path() / "examples/one_pair.conf").string();
  }
  void TearDown() override {
    if (daemon > 0) {
      ::kill(daemon, SIGKILL);
      ::waitpid(daemon, nullptr, 0);
    }
    fs::remove_all(dir);
  }

  void startDaemon() {
    daemon = ::fork();
    if (daemon == 0) {
      std::string program = raidsimPath().string();
      ::execl(program.c_str(), program.c_str(), "--socket", socket.c_str(), "--config", config.c_str(),
              "--state", state.c_str(), static_cast<char*>(nullptr));
      ::_exit(127);
    }
    const auto listening = [&] {
      int error = 0;
      return connectSimSocket(socket, &error).valid();
    };
    ASSERT_TRUE(waitUntil("raidsim to listen", listening, test_support::kWaitLimit, std::chrono::milliseconds(50)));
  }
  int stopDaemon(int signal) {
    ::kill(daemon, signal);
    int status = 0;
    ::waitpid(daemon, &status, 0);
    daemon = -1;
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  fs::path dir;
  std::string socket;
  std::string state;
  std::string config;
  pid_t daemon = -1;
};

TEST_F(RaidsimProcess, ControlStopAndRestartKeepTheState) {
  startDaemon();
  ProgramRun list = runRaidsim({"ctl", socket, "list"});
  EXPECT_EQ(list.exitCode, 0);
  EXPECT_NE(list.output.find("0:0:8:0 enclosure bay1"), std::string::npos) << list.output;
  EXPECT_EQ(runRaidsim({"ctl", socket, "fail", "controller", "alpha", "B"}).exitCode, 0);
  ProgramRun refused = runRaidsim({"ctl", socket, "fail", "controller", "omega", "B"});
  EXPECT_EQ(refused.exitCode, 1);
  EXPECT_NE(refused.output.find("no pair \"omega\""), std::string::npos);
  EXPECT_EQ(stopDaemon(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(socket));
  std::ifstream in(state);
  std::string saved((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(saved.find("fail controller alpha B\n"), std::string::npos) << saved;

  startDaemon();
  ProgramRun status = runRaidsim({"ctl", socket, "status"});
  EXPECT_NE(status.output.find("B: failed"), std::string::npos) << status.output;
  EXPECT_EQ(stopDaemon(SIGINT), 0);
}

TEST_F(RaidsimProcess, ReportsBadUsageConfigurationAndMissingDaemon) {
  EXPECT_EQ(runRaidsim({}).exitCode, 2);
  EXPECT_EQ(runRaidsim({"--socket", socket}).exitCode, 2);
  std::string bad = (dir / "bad.conf").string();
  std::ofstream(bad) << "[pair p]\npath = A 0:0:0:0\nspeed = fast\n";
  ProgramRun run = runRaidsim({"--socket", socket, "--config", bad});
  EXPECT_EQ(run.exitCode, 2);
  EXPECT_NE(run.output.find("line 3: unknown pair key \"speed\""), std::string::npos) << run.output;
  // A path that holds something else than a socket is never removed.
  std::string good = (fs::path(__FILE__).parent_path() / "examples/one_pair.conf").string();
  std::ofstream(socket) << "precious\n";
  ProgramRun occupied = runRaidsim({"--socket", socket, "--config", good});
  EXPECT_EQ(occupied.exitCode, 3);
  EXPECT_NE(occupied.output.find("is not a socket"), std::string::npos) << occupied.output;
  EXPECT_TRUE(fs::exists(socket));
  fs::remove(socket);
  ProgramRun missing = runRaidsim({"ctl", socket, "status"});
  EXPECT_EQ(missing.exitCode, 3);
  EXPECT_NE(missing.output.find("did not answer"), std::string::npos);
}

}  // namespace
