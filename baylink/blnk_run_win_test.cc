// The command runner on a real child process under Windows (Wine): arguments with blanks,
// quotes, backslashes and shell characters arrive exactly as given, nothing interprets & | >,
// the exit code comes back, a program past its time limit is ended, one that cannot start is a
// failure, and a bare program name means the system folder's program.
#include <gtest/gtest.h>
#include <windows.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "baylink/blnk_host.h"
#include "baylink/blnk_win_run.h"

namespace {

namespace fs = std::filesystem;

// blnk_argv_echo.exe beside this test program.
std::string childPath() {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  return (fs::path(self).parent_path() / "blnk_argv_echo.exe").string();
}

std::vector<std::string> outputLines(const std::string& output) {
  std::vector<std::string> lines;
  std::istringstream in(output);
  for (std::string line; std::getline(in, line);) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

TEST(WinCommandRunner, ArgumentsArriveIntactAndNoShellInterpretsThem) {
  const fs::path scratch = fs::temp_directory_path() / ("blnk-run-" + std::to_string(GetCurrentProcessId()));
  fs::create_directories(scratch);
  const std::string planted = (scratch / "planted.txt").string();
  const std::string kept = (scratch / "kept.txt").string();
  { std::ofstream(kept) << "kept"; }
  const std::vector<std::string> arguments = {
      "plain",
      "with blank",
      "",
      "quote \"inside\" it",
      "\"",
      "trailing backslash\\",
      "C:\\dir\\",
      "back\\\\\"slash \\\\",
      "a&b|c>d<e^f",
      "x & echo injected > " + planted,
      "x & del /q " + kept,
      "%PATH% !x!",
      "name=Local Area Connection",
      "tab\there",
      "\xC3\xBC"
      "ber",
  };
  std::vector<std::string> argv = {childPath(), "7"};
  argv.insert(argv.end(), arguments.begin(), arguments.end());
  std::string output;
  EXPECT_EQ(blnkwin::runProgram(argv, &output), 7);
  EXPECT_EQ(outputLines(output), arguments);
  EXPECT_FALSE(fs::exists(planted)) << "a shell ran the redirection";
  EXPECT_TRUE(fs::exists(kept)) << "a shell ran the second command";
  // The host operations' runner is this one.
  output.clear();
  EXPECT_EQ(blnkMakeSystemHostOps()->run({childPath(), "0", "a & b"}, &output), 0);
  EXPECT_EQ(outputLines(output), std::vector<std::string>{"a & b"});
  fs::remove_all(scratch);
}

TEST(WinCommandRunner, ExitCodesFailuresAndTheTimeLimit) {
  std::string output = "untouched";
  EXPECT_EQ(blnkwin::runProgram({childPath(), "0"}, &output), 0);
  EXPECT_EQ(output, "untouched") << "nothing printed, nothing added";
  EXPECT_EQ(blnkwin::runProgram({childPath(), "255", "discarded"}, nullptr), 255);
  EXPECT_EQ(blnkwin::runProgram({childPath(), "3"}, nullptr), 3);
  // Programs that cannot start, and arguments no command line can carry.
  EXPECT_EQ(blnkwin::runProgram({"C:\\no\\such\\program.exe"}, &output), -1);
  EXPECT_EQ(blnkwin::runProgram({"no_such_program_of_the_system"}, &output), -1);
  EXPECT_EQ(blnkwin::runProgram({}, &output), -1);
  EXPECT_EQ(blnkwin::runProgram({childPath(), "0", std::string("a\0b", 3)}, &output), -1);
  // A child that would sleep for a minute is ended at its limit and reported as failed.
  const auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(blnkwin::runProgram({childPath(), "sleep"}, &output, 300), -1);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(30)) << "waited for the child";
}

TEST(WinCommandRunner, BareNamesAreTheSystemFoldersPrograms) {
  wchar_t folder[MAX_PATH] = {};
  const UINT length = GetSystemDirectoryW(folder, MAX_PATH);
  ASSERT_GT(length, 0u);
  EXPECT_EQ(blnkwin::programPath("netsh"), std::wstring(folder, length) + L"\\netsh.exe");
  EXPECT_EQ(blnkwin::programPath("ipconfig.exe"), std::wstring(folder, length) + L"\\ipconfig.exe");
  EXPECT_EQ(blnkwin::programPath("C:\\tools\\x.exe"), L"C:\\tools\\x.exe");
  EXPECT_EQ(blnkwin::programPath(".\\netsh"), L".\\netsh");
  EXPECT_EQ(blnkwin::narrow(blnkwin::widen("\xC3\xBC"
                                           "ber")),
            "\xC3\xBC"
            "ber");
}

}  // namespace
