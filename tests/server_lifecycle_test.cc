// The server program's life cycle seen from outside: starts the built binary in console mode in
// a fresh instance folder, waits for its start-up texts, stops it with signals and checks the
// shutdown texts, the signal count-down and the exit status.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

std::string serverPath() {
  const char* buildDir = std::getenv("KESTROVA_BUILD_DIR");
  return buildDir == nullptr ? std::string() : std::string(buildDir) + "/bin/server";
}

// A fresh instance folder with the default db/ files, removed afterwards.
class InstanceFolder {
 public:
  InstanceFolder() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-lifecycle-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    path_ = pattern;
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (source != nullptr && fs::is_directory(fs::path(source) / "data/db")) {
      fs::copy(fs::path(source) / "data/db", path_ / "db", fs::copy_options::recursive);
    }
  }
  ~InstanceFolder() {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

// The server as a child process whose standard output and error the test reads.
class ServerProcess {
 public:
  ServerProcess(const std::vector<std::string>& args, const fs::path& folder) {
    int ends[2];
    if (pipe(ends) != 0) return;
    const std::string program = serverPath();
    std::vector<char*> argv{const_cast<char*>(program.c_str())};
    for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    shmPrefix_ = "kestrova-lifecycle-" + std::to_string(getpid()) + ".";
    const std::string shmPrefix = shmPrefix_;
    pid_ = fork();
    if (pid_ == 0) {
      dup2(ends[1], STDOUT_FILENO);
      dup2(ends[1], STDERR_FILENO);
      close(ends[0]);
      close(ends[1]);
      if (chdir(folder.c_str()) != 0) _exit(127);
      setenv("KESTROVA_SHM_PREFIX", shmPrefix.c_str(), 1);
      unsetenv("INVOCATION_ID");
      alarm(60);  // a hang fails the test instead of blocking it
      execv(program.c_str(), argv.data());
      _exit(127);
    }
    close(ends[1]);
    out_ = ends[0];
  }
  ~ServerProcess() {
    if (pid_ > 0 && status_ < 0) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (out_ >= 0) close(out_);
    // A server ended by the signal count-down exits at once and leaves its shared memory and
    // semaphores behind (the next server would adopt them); the test's own names go here.
    std::error_code ec;
    for (const auto& entry : fs::directory_iterator("/dev/shm", ec)) {
      const std::string name = entry.path().filename().string();
      if (name.rfind(shmPrefix_, 0) == 0 || name.rfind("sem." + shmPrefix_, 0) == 0)
        fs::remove(entry.path(), ec);
    }
  }

  // Reads until text has appeared (true) or the time is up or the output ended (false).
  bool waitForText(const std::string& text, std::chrono::milliseconds limit = 20s) {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (output_.find(text) == std::string::npos) {
      const auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0 || !readSome(static_cast<int>(left.count()))) return false;
    }
    return true;
  }

  // Reads to the end of the output and returns the exit status (-1 when it did not exit normally).
  int finish() {
    while (readSome(30000)) {
    }
    int status = 0;
    if (waitpid(pid_, &status, 0) == pid_) status_ = WIFEXITED(status) ? WEXITSTATUS(status) : 1000;
    return status_;
  }

  void signal(int number) { kill(pid_, number); }
  const std::string& output() const { return output_; }
  bool started() const { return pid_ > 0 && out_ >= 0; }

 private:
  bool readSome(int timeoutMs) {
    pollfd p{out_, POLLIN, 0};
    if (poll(&p, 1, timeoutMs) <= 0) return false;
    char buffer[4096];
    ssize_t got = read(out_, buffer, sizeof buffer);
    if (got <= 0) return false;
    output_.append(buffer, static_cast<size_t>(got));
    return true;
  }

  pid_t pid_ = -1;
  int out_ = -1;
  std::string shmPrefix_;
  int status_ = -1;
  std::string output_;
};

// Checks that the texts appear in output in this order.
void expectInOrder(const std::string& output, const std::vector<std::string>& texts) {
  size_t at = 0;
  for (const std::string& text : texts) {
    size_t found = output.find(text, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: [" << text << "]\n--- output ---\n" << output;
    at = found + text.size();
  }
}

const std::vector<std::string> kShutdownTexts = {
    "The Server is shutting down.\n------------------------------\n",
    "Allowing threads to end: \n",
    "\rTime left: 1.500   ",
    "\rTime left: 0.000   \n",
    "\n\t\t Kestrova Module: Server\n\n",
    "Closing libraries:                      Done\n",
    "Clearing device list:\nDone\n",
    "Notification Shutdown:                  Done\n",
    "Ending all network communications:\nDone\n",
    "Clearing hashtables:                    Done\n",
    "Clearing strings:                       Done\n",
    "Clearing in-ram file tables:            Terminating all threads:                Done\n",
    "\n\nThe Server is shutdown is complete.\n------------------------------\n",
};

class ServerLifecycleTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!fs::exists(serverPath())) GTEST_FAIL() << "server binary not found; set KESTROVA_BUILD_DIR";
    ASSERT_FALSE(instance_.path().empty());
  }
  InstanceFolder instance_;
};

TEST_F(ServerLifecycleTest, InterruptShutsDownInOrderAndExitsZero) {
  ServerProcess server({"-debug"}, instance_.path());
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n")) << server.output();
  expectInOrder(server.output(),
                {"Debugging Kestrova.\n", "Server last compiled on ", "Scan System thread terminated\n"});
  EXPECT_TRUE(fs::is_directory(instance_.path() / "Information"));
  EXPECT_TRUE(fs::is_directory(instance_.path() / "temp"));

  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0);
  std::vector<std::string> texts{"Stopping Kestrova.\n", "SIGINT (CTLR+C)\n"};
  texts.insert(texts.end(), kShutdownTexts.begin(), kShutdownTexts.end());
  expectInOrder(server.output(), texts);
  EXPECT_EQ(server.output().find("MEMORY LEAKS"), std::string::npos);
  EXPECT_EQ(server.output().find("Signal already intercepted"), std::string::npos);
}

TEST_F(ServerLifecycleTest, TerminateWithNameAndDebugOptions) {
  ServerProcess server({"-debug", "-name", "Other", "4011", "-tag"}, instance_.path());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n")) << server.output();
  server.signal(SIGTERM);
  EXPECT_EQ(server.finish(), 0);
  expectInOrder(server.output(),
                {"Debugging Other.\n", "debug code = 4011\n", "Tag printing enabled\n",
                 "main: main: Server is running\n", "SIGTERM\n", "The Server is shutdown is complete."});
  // Only the console's Ctrl+C (SIGINT) is announced as a stop request.
  EXPECT_EQ(server.output().find("Stopping Other."), std::string::npos);
}

TEST_F(ServerLifecycleTest, FurtherSignalsDuringShutdownAreCountedDown) {
  ServerProcess server({"-debug"}, instance_.path());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n")) << server.output();
  server.signal(SIGINT);
  ASSERT_TRUE(server.waitForText("SIGINT (CTLR+C)\n"));
  server.signal(SIGINT);
  ASSERT_TRUE(server.waitForText("Signal already intercepted. 25 more to kill.\n")) << server.output();
  server.signal(SIGTERM);
  ASSERT_TRUE(server.waitForText("Signal already intercepted. 24 more to kill.\n")) << server.output();
  EXPECT_EQ(server.finish(), 0);
  EXPECT_NE(server.output().find("The Server is shutdown is complete."), std::string::npos);
}

TEST_F(ServerLifecycleTest, TwentySixMoreSignalsEndTheProcessAtOnce) {
  ServerProcess server({"-debug"}, instance_.path());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n")) << server.output();
  server.signal(SIGINT);
  ASSERT_TRUE(server.waitForText("SIGINT (CTLR+C)\n"));
  for (int left = 25; left >= 1; --left) {
    server.signal(SIGINT);
    ASSERT_TRUE(
        server.waitForText("Signal already intercepted. " + std::to_string(left) + " more to kill.\n"))
        << server.output();
  }
  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0);
  // The shutdown (about two seconds) had no time to finish.
  EXPECT_EQ(server.output().find("The Server is shutdown is complete."), std::string::npos)
      << server.output();
}

TEST_F(ServerLifecycleTest, WithoutArgumentsOutsideServiceManager) {
  ServerProcess server({}, instance_.path());
  EXPECT_EQ(server.finish(), 0);
  const std::string program = serverPath();
  expectInOrder(
      server.output(),
      {program + " -install [-name ServiceName]          to install the service\n",
       program + " -debug   [-name ServiceName] [params] to run in console for debugging\n",
       "\nStartServiceCtrlDispatcher being called.\n", "This may take several seconds.  Please wait.\n"});
  EXPECT_EQ(server.output().find("Server last compiled"), std::string::npos);
}

}  // namespace
