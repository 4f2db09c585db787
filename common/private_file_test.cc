// The modes of the files the programs write, whatever the umask: settings, logs and exports for
// the owner and the group, secrets for the owner only; files that exist lose what the policy does
// not allow and never gain anything.
#include "common/private_file.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <string>

#include "common/property_file.h"
#include "common/test_folder.h"

namespace {

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

class PrivateFileTest : public ::testing::Test {
 protected:
  void SetUp() override { old_ = umask(022); }
  void TearDown() override { umask(old_); }
  TestFolder folder_;
  mode_t old_ = 0;
};

TEST_F(PrivateFileTest, SecretsAreTheOwnersAndEverythingElseTheGroupsToo) {
  EXPECT_EQ(privateModeFor("db/password.web"), 0600u);
  EXPECT_EQ(privateModeFor("/opt/kestrova/db/snmp.ini"), 0600u);
  EXPECT_EQ(privateModeFor("email.ini"), 0600u);
  EXPECT_EQ(privateModeFor("db/pagetoken.key"), 0600u);
  EXPECT_EQ(privateModeFor("db/syslog.ini"), 0640u);
  EXPECT_EQ(privateModeFor("db/ServerLog.log"), 0640u);
  EXPECT_EQ(privateModeFor("db/snmp.ini.bak"), 0640u);
}

TEST_F(PrivateFileTest, NewFilesGetTheModeWhateverTheUmask) {
  for (const char* mode : {"w", "a", "a+", "wb", "we"}) {
    const std::string path = folder_.file(std::string("new-") + mode);
    FILE* file = openPrivateFile(path.c_str(), mode, kSharedFileMode);
    ASSERT_NE(file, nullptr) << mode;
    EXPECT_EQ(std::fputs("x", file) >= 0, true);
    std::fclose(file);
    EXPECT_EQ(modeOf(path), 0640u) << mode;
  }
  umask(0);
  const std::string secret = folder_.file("secret.key");
  std::fclose(openPrivateFile(secret.c_str(), "w", kSecretFileMode));
  EXPECT_EQ(modeOf(secret), 0600u);
}

TEST_F(PrivateFileTest, ExistingFilesNarrowButNeverWidenAndKeepTheirData) {
  const std::string log = folder_.file("ServerLog.log");
  writeBytes(log, "first\n");
  ASSERT_EQ(chmod(log.c_str(), 0666), 0);
  FILE* file = openPrivateFile(log.c_str(), "a+", kSharedFileMode);
  ASSERT_NE(file, nullptr);
  std::fputs("second\n", file);
  std::fclose(file);
  EXPECT_EQ(modeOf(log), 0640u);
  EXPECT_EQ(readBytes(log), "first\nsecond\n");
  ASSERT_EQ(chmod(log.c_str(), 0600), 0);
  std::fclose(openPrivateFile(log.c_str(), "w", kSharedFileMode));
  EXPECT_EQ(modeOf(log), 0600u);
  EXPECT_EQ(readBytes(log), "");
  // Reading changes nothing.
  ASSERT_EQ(chmod(log.c_str(), 0644), 0);
  std::fclose(openPrivateFile(log.c_str(), "r", kSharedFileMode));
  EXPECT_EQ(modeOf(log), 0644u);
  EXPECT_EQ(openPrivateFile(folder_.file("missing").c_str(), "r", kSharedFileMode), nullptr);
  EXPECT_EQ(openPrivateFile(log.c_str(), "x", kSharedFileMode), nullptr);
}

TEST_F(PrivateFileTest, PropertyFilesAreWrittenUnderThePolicy) {
  TableOwner table;
  addVariable(table.address(), "Community", "s3cret");
  const std::string snmp = folder_.file("snmp.ini");
  const std::string server = folder_.file("server.ini");
  ASSERT_EQ(writePropertyFile(snmp.c_str(), "x", table.get()), 0);
  ASSERT_EQ(writePropertyFile(server.c_str(), nullptr, table.get()), 0);
  EXPECT_EQ(modeOf(snmp), 0600u);
  EXPECT_EQ(modeOf(server), 0640u);
  // A settings file an older version left readable by everybody is narrowed at its next save.
  ASSERT_EQ(chmod(server.c_str(), 0664), 0);
  ASSERT_EQ(writePropertyFile(server.c_str(), nullptr, table.get()), 0);
  EXPECT_EQ(modeOf(server), 0640u);
}

}  // namespace
