// The "-netkey" command: the key comes from standard input only and is never printed; bad
// arguments, a short key, no input or no db folder change nothing; the roll-over steps and the
// removal work from a shell; "show" tells the key ids and a damaged file.
#include "server/netkey_command.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "common/test_folder.h"
#include "server/net/network_key.h"

namespace {

class NetworkKeyCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    std::filesystem::create_directory("db");
  }
  void TearDown() override { std::filesystem::current_path(previous_); }

  // Runs the command with args and input; the output in *output. Returns the exit status.
  static int run(const std::vector<const char*>& args, const std::string& input, std::string* output) {
    std::string inputCopy = input;
    FILE* in =
        inputCopy.empty() ? std::fopen("/dev/null", "r") : fmemopen(inputCopy.data(), inputCopy.size(), "r");
    char* buffer = nullptr;
    size_t size = 0;
    FILE* out = open_memstream(&buffer, &size);
    const int status = runNetworkKeyCommand(args, in, out);
    std::fclose(out);
    std::fclose(in);
    *output = std::string(buffer, size);
    std::free(buffer);
    return status;
  }

  // A stream that is at its end at once: the read end of a pipe whose write end is closed.
  static FILE* endedInput() {
    int ends[2];
    if (pipe(ends) != 0) return nullptr;
    close(ends[1]);
    return fdopen(ends[0], "r");
  }

  static std::string idOf(const char* text) {
    NetworkKey key;
    EXPECT_TRUE(deriveNetworkKey(text, &key));
    return keyIdText(key.id);
  }

  TestFolder folder_;
  std::filesystem::path previous_;
};

constexpr char kKeyA[] = "key A typed in a shell";
constexpr char kKeyB[] = "key B typed in a shell";

TEST_F(NetworkKeyCommandTest, BadArgumentsAndInputChangeNothing) {
  std::string output;
  EXPECT_EQ(run({}, "", &output), 2);
  EXPECT_NE(output.find("Usage: server -netkey"), std::string::npos);
  EXPECT_EQ(run({"rotate"}, "", &output), 2);
  EXPECT_EQ(run({"set", kKeyA}, "", &output), 2) << "the key is never an argument";
  EXPECT_EQ(run({"set"}, "", &output), 1);
  EXPECT_NE(output.find("no key was given"), std::string::npos) << output;
  EXPECT_EQ(run({"set"}, "too short\n", &output), 1);
  EXPECT_NE(output.find("at least 16 characters"), std::string::npos) << output;
  EXPECT_EQ(run({"switch"}, "", &output), 1);
  EXPECT_NE(output.find("no network key is set"), std::string::npos) << output;
  EXPECT_FALSE(std::filesystem::exists(kNetworkKeyPath));

  std::filesystem::remove("db");
  EXPECT_EQ(run({"set"}, std::string(kKeyA) + "\n", &output), 1);
  EXPECT_NE(output.find("run the command in the server's folder"), std::string::npos) << output;
  EXPECT_FALSE(std::filesystem::exists(kNetworkKeyPath));
}

TEST_F(NetworkKeyCommandTest, SetRollOverAndClearFromAShell) {
  std::string output;
  EXPECT_EQ(run({"show"}, "", &output), 0);
  EXPECT_NE(output.find("unauthenticated"), std::string::npos) << output;
  ASSERT_EQ(run({"SET"}, std::string(kKeyA) + "\r\n", &output), 0) << output;
  EXPECT_NE(output.find(idOf(kKeyA)), std::string::npos) << output;
  EXPECT_EQ(output.find(kKeyA), std::string::npos) << "the key is never printed";
  ASSERT_EQ(run({"add"}, std::string(kKeyB) + "\n", &output), 0) << output;
  ASSERT_EQ(run({"switch"}, "", &output), 0) << output;
  EXPECT_NE(output.find("signed with key " + idOf(kKeyB) + "; key " + idOf(kKeyA) + " is also accepted"),
            std::string::npos)
      << output;
  ASSERT_EQ(run({"drop"}, "", &output), 0) << output;
  EXPECT_EQ(run({"show"}, "", &output), 0);
  EXPECT_EQ(output, "Network key: packets are signed with key " + idOf(kKeyB) + ".\n");
  NetworkKeySet keys;
  ASSERT_EQ(readNetworkKeyFile(kNetworkKeyPath, &keys), KeyFileStatus::kOk);
  EXPECT_EQ(keys.version, 4);

  writeBytes(kNetworkKeyPath, "garbage\n");
  EXPECT_EQ(run({"show"}, "", &output), 1);
  EXPECT_NE(output.find("does not hold a network key"), std::string::npos) << output;
  ASSERT_EQ(run({"clear"}, "", &output), 0) << output;
  EXPECT_FALSE(std::filesystem::exists(kNetworkKeyPath));
}

}  // namespace
