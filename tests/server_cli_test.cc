// The server program's debug options, seen from outside: runs the built binary in a temporary
// working folder and checks what it prints and how it exits.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

struct RunResult {
  std::string output;   // standard output and standard error together
  int exitStatus = -1;  // -1 when the program did not exit normally
};

std::string serverPath() {
  const char* buildDir = std::getenv("KESTROVA_BUILD_DIR");
  return buildDir == nullptr ? std::string() : std::string(buildDir) + "/bin/server";
}

// Runs program with args in folder; the child is killed after 30 seconds so a hang fails the test.
RunResult runProgram(const std::string& program, const std::vector<std::string>& args,
                     const fs::path& folder) {
  RunResult result;
  int pipeEnds[2];
  if (pipe(pipeEnds) != 0) return result;
  std::vector<char*> argv{const_cast<char*>(program.c_str())};
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t child = fork();
  if (child == 0) {
    dup2(pipeEnds[1], STDOUT_FILENO);
    close(pipeEnds[0]);
    close(pipeEnds[1]);
    if (chdir(folder.c_str()) != 0) _exit(127);
    alarm(30);
    execv(program.c_str(), argv.data());
    _exit(127);
  }
  close(pipeEnds[1]);
  char buffer[4096];
  ssize_t n;
  while ((n = read(pipeEnds[0], buffer, sizeof buffer)) > 0)
    result.output.append(buffer, static_cast<size_t>(n));
  close(pipeEnds[0]);
  int status = 0;
  if (child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status))
    result.exitStatus = WEXITSTATUS(status);
  return result;
}

const char kHelpText[] =
    "Kestrova Server\n"
    "Usage:  server [options] > output\n"
    " \n"
    "  No options is the normal mode of operation.\n"
    " \n"
    "  Options:\n"
    "   -h         : Help message. You're looking at it. The server continues.\n"
    "   -time      : If debug prints are enabled they are prefixed with a timestamp.\n"
    "   -tag       : If debug prints are enabled they are prefixed with a tag name.\n"
    "                I.E.: net: ses:\n"
    "   -x         : Exit after processing the command line arguments.\n"
    "   -f file    : File file is created and written to with debug output.\n"
    "   code       : Enables debug prints for the indicated areas.\n"
    "                Format is [0-9a-fA-F]* defining 32 bits as sssssmml where\n"
    "                s is subsystem, m is module, l is level.\n"
    "                Levels:     0x1 commonest, 0x2, 0x4, 0x8 rarest\n"
    "                Modules:    0x10 Server, 0x20 RAID, 0x40 Jbod\n"
    "                Subsystems:\n"
    "                Code        Server  RAID    Jbod\n"
    "                0x00001000  net     array   other\n"
    "                0x00002000  thread  lun     dmon\n"
    "                0x00004000  main    drv     emon\n"
    "                0x00008000  email   ses     ddis\n"
    "                0x00010000  htable  ctl     edis\n"
    "                0x00020000  hcode   mon     scsi\n"
    "                0x00040000  smem            ht\n"
    "                0x00080000  scsi\n"
    "                0x00100000  dll\n"
    "                0x00200000  cgi\n"
    "                0x00400000  snmp\n"
    "                0x00800000  rsvd\n"
    "                Multiple bits may be entered in each field. \n"
    "\n";

class ServerCliTest : public ::testing::Test {
 protected:
  void SetUp() override {
    server_ = serverPath();
    ASSERT_FALSE(server_.empty()) << "KESTROVA_BUILD_DIR is not set";
    ASSERT_TRUE(fs::exists(server_)) << server_ << " is not built";
    char pattern[] = "/tmp/kestrova-cli-XXXXXX";
    ASSERT_NE(mkdtemp(pattern), nullptr);
    folder_ = pattern;
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(folder_, ignored);
  }
  RunResult run(const std::vector<std::string>& args) { return runProgram(server_, args, folder_); }

  std::string server_;
  fs::path folder_;
};

// Lines printed before the options are read (the build stamp) may vary; the option output must
// follow as one block and end the output.
TEST_F(ServerCliTest, HelpThenExit) {
  RunResult result = run({"-debug", "-h", "-x"});
  const std::string tail = std::string(kHelpText) + "Exiting by command line argument.\n";
  EXPECT_EQ(result.output.rfind("Debugging Kestrova.\n", 0), 0u) << result.output;
  ASSERT_GE(result.output.size(), tail.size()) << result.output;
  EXPECT_EQ(result.output.substr(result.output.size() - tail.size()), tail);
  EXPECT_EQ(result.output.find("Kestrova Server\n"), result.output.size() - tail.size());  // printed once
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(ServerCliTest, CodeAndTagOptions) {
  RunResult result = run({"-debug", "-x", "1011", "-tag"});
  EXPECT_NE(
      result.output.find("debug code = 1011\nTag printing enabled\nExiting by command line argument.\n"),
      std::string::npos)
      << result.output;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(ServerCliTest, IllegalCodeIsReported) {
  RunResult result = run({"-debug", "zz", "-x"});
  EXPECT_NE(result.output.find("ERROR: debug code zz is illegal.\n"), std::string::npos) << result.output;
  EXPECT_EQ(result.exitStatus, 1);
}

TEST_F(ServerCliTest, DebugFileIsCreatedInTheWorkingFolder) {
  RunResult result = run({"-debug", "1011", "-f", "dbg.log", "-x"});
  EXPECT_EQ(result.exitStatus, 1);
  EXPECT_TRUE(fs::exists(folder_ / "dbg.log")) << result.output;
  EXPECT_EQ(result.output.find("ERROR"), std::string::npos) << result.output;
}

}  // namespace
