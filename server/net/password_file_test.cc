// Tests of the password file: hashes agree with the openssl and htpasswd commands in both
// directions, the file is replaced atomically with mode 0600 (a failed write leaves the old file
// and no temporary behind), lines that would not read back are refused, and reading takes the
// first line without its line end.
#include "server/net/password_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <set>
#include <string>

#include "common/apr1.h"
#include "common/test_folder.h"

namespace {

// Output of a shell command (arguments are test texts without single quotes), line end removed;
// *status receives the exit status.
std::string run(const std::string& command, int* status = nullptr) {
  FILE* pipe = popen((command + " 2>/dev/null").c_str(), "r");
  if (pipe == nullptr) return std::string();
  std::string out;
  char buffer[256];
  while (fgets(buffer, sizeof(buffer), pipe) != nullptr) out += buffer;
  const int result = pclose(pipe);
  if (status != nullptr) *status = WIFEXITED(result) ? WEXITSTATUS(result) : -1;
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

bool haveCommand(const char* name) {
  int status = 0;
  run(std::string("command -v ") + name, &status);
  return status == 0;
}

class PasswordFileTest : public ::testing::Test {
 protected:
  void TearDown() override { setPasswordFileIo(nullptr); }

  std::string path() const { return folder_.file("password.web"); }

  unsigned modeOf(const std::string& file) const {
    struct stat info {};
    return stat(file.c_str(), &info) == 0 ? (info.st_mode & 07777) : 0;
  }

  TestFolder folder_;
};

TEST_F(PasswordFileTest, HashesAgreeWithTheOpensslCommandBothWays) {
  ASSERT_TRUE(haveCommand("openssl")) << "openssl is needed (scripts/bootstrap.sh installs it)";
  for (int i = 0; i < 4; ++i) {
    const std::string salt = newPasswordSalt();
    const std::string password = "secret " + std::to_string(i) + " with some length";
    const std::string theirs = run("openssl passwd -apr1 -salt '" + salt + "' '" + password + "'");
    ASSERT_EQ(theirs.size(), 37u) << theirs;
    EXPECT_EQ(apr1Hash(password, salt), theirs);
    PasswordRecord record{"admin", theirs};
    EXPECT_TRUE(passwordMatches(password, record));
    EXPECT_FALSE(passwordMatches(password + "x", record));
  }
}

TEST_F(PasswordFileTest, HashesAgreeWithHtpasswdBothWays) {
  ASSERT_TRUE(haveCommand("htpasswd")) << "htpasswd is needed (apache2-utils, scripts/bootstrap.sh)";
  // Theirs read here: htpasswd picks its own salt; our hash under that salt must be identical.
  const std::string line = run("htpasswd -nbm admin 'pine cone 42'");
  const size_t colon = line.find(':');
  ASSERT_NE(colon, std::string::npos) << line;
  writeBytes(path(), line + "\n");
  PasswordRecord record;
  ASSERT_EQ(readPasswordFile(path().c_str(), &record), kPasswordFileOk);
  EXPECT_EQ(record.userName, "admin");
  EXPECT_TRUE(passwordMatches("pine cone 42", record));
  EXPECT_FALSE(passwordMatches("pine cone 43", record));
  const std::string salt = record.hash.substr(6, record.hash.find('$', 6) - 6);
  EXPECT_EQ(apr1Hash("pine cone 42", salt), record.hash);

  // Ours read there: htpasswd verifies the file this code writes.
  ASSERT_EQ(writePasswordFile(path().c_str(), "admin", apr1Hash("n3w pass", newPasswordSalt())),
            kPasswordFileOk);
  int status = -1;
  run("htpasswd -vb '" + path() + "' admin 'n3w pass'", &status);
  EXPECT_EQ(status, 0);
  run("htpasswd -vb '" + path() + "' admin 'pine cone 42'", &status);
  EXPECT_NE(status, 0);
}

TEST_F(PasswordFileTest, WriteReplacesTheFileWithModeSixHundredAndNoLineEnd) {
  writeBytes(path(), "old:line\n");
  ASSERT_EQ(chmod(path().c_str(), 0644), 0);
  const std::string hash = apr1Hash("pw", newPasswordSalt());
  ASSERT_EQ(writePasswordFile(path().c_str(), "admin", hash), kPasswordFileOk);
  EXPECT_EQ(readBytes(path()), "admin:" + hash);
  EXPECT_EQ(modeOf(path()), 0600u);
  EXPECT_EQ(namesIn(folder_.path()).size(), 1u);  // no temporary left
  // The file keeps its owner (only root can hand a file to another account).
  if (geteuid() == 0) {
    ASSERT_EQ(chown(path().c_str(), 4321, 4322), 0);
    ASSERT_EQ(writePasswordFile(path().c_str(), "admin", hash), kPasswordFileOk);
    struct stat info {};
    ASSERT_EQ(stat(path().c_str(), &info), 0);
    EXPECT_EQ(info.st_uid, 4321u);
    EXPECT_EQ(info.st_gid, 4322u);
    EXPECT_EQ(info.st_mode & 07777, 0600u);
  }
  // A missing file is created the same way.
  const std::string fresh = folder_.file("fresh.web");
  ASSERT_EQ(writePasswordFile(fresh.c_str(), "root", hash), kPasswordFileOk);
  EXPECT_EQ(modeOf(fresh), 0600u);
}

ssize_t writeHalfThenFail(int fd, const void* data, size_t size) {
  if (size > 4) return ::write(fd, data, size / 2);
  errno = ENOSPC;
  return -1;
}
int fsyncFails(int) {
  errno = EIO;
  return -1;
}

TEST_F(PasswordFileTest, FailedWriteLeavesTheOldFileAndNoTemporary) {
  const std::string old = "admin:" + apr1Hash("old", "abcdefgh");
  writeBytes(path(), old);
  const PasswordFileIo halfWrite = {writeHalfThenFail, ::fsync};
  const PasswordFileIo noFlush = {::write, fsyncFails};
  for (const PasswordFileIo* io : {&halfWrite, &noFlush}) {
    setPasswordFileIo(io);
    EXPECT_EQ(writePasswordFile(path().c_str(), "admin", apr1Hash("new", "12345678")),
              kPasswordFileWriteFailed);
    EXPECT_EQ(readBytes(path()), old);
    EXPECT_EQ(namesIn(folder_.path()).size(), 1u);
  }
  setPasswordFileIo(nullptr);
  // A folder that does not exist cannot take the temporary file.
  EXPECT_EQ(writePasswordFile(folder_.file("none/password.web").c_str(), "admin", "h"),
            kPasswordFileWriteFailed);
}

TEST_F(PasswordFileTest, LinesThatWouldNotReadBackAreRefused) {
  const std::string old = "admin:" + apr1Hash("old", "abcdefgh");
  writeBytes(path(), old);
  const std::string hash = apr1Hash("new", "12345678");
  for (const std::string& name : {std::string("ad:min"), std::string("ad\nmin"), std::string("ad\rmin"),
                                  std::string("ad\0min", 6), std::string(kPasswordLineMax, 'a')}) {
    EXPECT_EQ(writePasswordFile(path().c_str(), name, hash), kPasswordFileRefused) << name.size();
  }
  EXPECT_EQ(writePasswordFile(path().c_str(), "admin", hash + "\n"), kPasswordFileRefused);
  EXPECT_EQ(readBytes(path()), old);
  // The longest name that still reads back whole is accepted and read back.
  const std::string longest(kPasswordLineMax - 1 - hash.size(), 'u');
  ASSERT_EQ(writePasswordFile(path().c_str(), longest, hash), kPasswordFileOk);
  PasswordRecord record;
  ASSERT_EQ(readPasswordFile(path().c_str(), &record), kPasswordFileOk);
  EXPECT_EQ(record.userName, longest);
  EXPECT_EQ(record.hash, hash);
}

TEST_F(PasswordFileTest, ReadTakesTheFirstLineWithoutItsLineEnd) {
  const std::string hash = apr1Hash("pw", "saltsalt");
  writeBytes(path(), "admin:" + hash + "\r\n" + "other:" + apr1Hash("pw2", "saltsalt") + "\n");
  PasswordRecord record;
  ASSERT_EQ(readPasswordFile(path().c_str(), &record), kPasswordFileOk);
  EXPECT_EQ(record.userName, "admin");
  EXPECT_EQ(record.hash, hash);
  EXPECT_TRUE(passwordMatches("pw", record));
  EXPECT_FALSE(passwordMatches("pw2", record));

  // Only the first colon splits: the hash keeps any later one (and then matches nothing).
  writeBytes(path(), "a:b:c");
  ASSERT_EQ(readPasswordFile(path().c_str(), &record), kPasswordFileOk);
  EXPECT_EQ(record.userName, "a");
  EXPECT_EQ(record.hash, "b:c");
  // A line without a colon, and an empty file, match no password.
  for (const char* text : {"justaname\n", ""}) {
    writeBytes(path(), text);
    ASSERT_EQ(readPasswordFile(path().c_str(), &record), kPasswordFileOk);
    EXPECT_EQ(record.hash, "");
    EXPECT_FALSE(passwordMatches("", record));
  }
  EXPECT_EQ(readPasswordFile(folder_.file("missing").c_str(), &record), kPasswordFileUnreadable);
  EXPECT_EQ(readPasswordFile(folder_.path().c_str(), &record), kPasswordFileUnreadable);  // a folder
}

TEST_F(PasswordFileTest, FreshSaltsAreEightAlphabetCharactersAndDiffer) {
  std::set<std::string> salts;
  for (int i = 0; i < 50; ++i) {
    const std::string salt = newPasswordSalt();
    ASSERT_EQ(salt.size(), 8u);
    EXPECT_EQ(salt.find_first_not_of(kApr1Alphabet), std::string::npos) << salt;
    salts.insert(salt);
  }
  EXPECT_GT(salts.size(), 45u);
}

}  // namespace
