// Tests of the atomic file writer: a replacement that fails at any step (creation, a write
// halfway, the flush, the move) leaves the old file whole and no temporary behind; the new file
// has its intended mode before its first byte, whatever the umask; the owner is kept when asked.
#include "common/atomic_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/file_platform.h"
#include "common/test_folder.h"

namespace {

namespace fs = std::filesystem;

void writeOld(const std::string& path, const std::string& text, mode_t mode) {
  std::ofstream(path, std::ios::binary) << text;
  ASSERT_EQ(chmod(path.c_str(), mode), 0);
}

mode_t modeOf(const std::string& path) {
  struct stat info {};
  EXPECT_EQ(stat(path.c_str(), &info), 0) << path;
  return info.st_mode & 07777;
}

// The I/O seams: a write that stops after a budget of bytes, a flush that fails, and a write that
// notes the mode the file has when its first byte arrives.
size_t gBudget = 0;
ssize_t budgetedWrite(int fd, const void* data, size_t size) {
  if (gBudget == 0) {
    errno = ENOSPC;
    return -1;
  }
  const size_t n = size < gBudget ? size : gBudget;
  gBudget -= n;
  return ::write(fd, data, n);
}
int failingFsync(int) {
  errno = EIO;
  return -1;
}
mode_t gModeAtFirstWrite = 0;
ssize_t modeNotingWrite(int fd, const void* data, size_t size) {
  struct stat info {};
  if (gModeAtFirstWrite == 0 && fstat(fd, &info) == 0) gModeAtFirstWrite = info.st_mode & 07777;
  return ::write(fd, data, size);
}

class AtomicFileTest : public ::testing::Test {
 protected:
  void SetUp() override { oldUmask_ = umask(022); }
  void TearDown() override {
    setAtomicFileIo(nullptr);
    umask(oldUmask_);
  }
  std::string path(const char* name) const { return folder_.path() + "/" + name; }

  TestFolder folder_;
  mode_t oldUmask_ = 0;
};

TEST_F(AtomicFileTest, ReplacesTheWholeFileAndLeavesNothingElse) {
  const std::string target = path("server.ini");
  writeOld(target, "old text that is longer than the new one\n", 0640);
  std::string error = "unset";
  ASSERT_TRUE(replaceFileAtomically(target, "new\n", FileAccess::policy(), &error));
  EXPECT_EQ(error, "");
  EXPECT_EQ(readBytes(target), "new\n");
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"server.ini"});
  // Pieces written one after the other make one file; an empty replacement empties it.
  AtomicFile file(target, FileAccess::policy());
  ASSERT_TRUE(file.ok());
  ASSERT_TRUE(file.write("a,"));
  ASSERT_TRUE(file.write(std::string(70000, 'b')));
  ASSERT_TRUE(file.commit());
  EXPECT_EQ(readBytes(target), "a," + std::string(70000, 'b'));
  ASSERT_TRUE(replaceFileAtomically(target, "", FileAccess::policy()));
  EXPECT_EQ(readBytes(target), "");
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"server.ini"});
}

TEST_F(AtomicFileTest, AFailureAtAnyStepKeepsTheOldFileWholeAndNoTemporary) {
  const std::string target = path("IP.db");
  const std::string old = "serialNumber = 42\nmulticastPort = 9191\n";
  writeOld(target, old, 0640);

  gBudget = 5;  // the disk fills halfway
  const AtomicFileIo halfWrite = {budgetedWrite, ::fsync};
  setAtomicFileIo(&halfWrite);
  std::string error;
  EXPECT_FALSE(replaceFileAtomically(target, std::string(4096, 'x'), FileAccess::policy(), &error));
  EXPECT_EQ(error, "write " + target + ": " + std::strerror(ENOSPC));

  const AtomicFileIo noFlush = {::write, failingFsync};
  setAtomicFileIo(&noFlush);
  AtomicFile flush(target, FileAccess::policy());
  EXPECT_TRUE(flush.write("new"));
  EXPECT_FALSE(flush.commit());
  EXPECT_EQ(flush.failedStep(), "fsync");
  setAtomicFileIo(nullptr);

  // Nothing may be written through a failed object, and dropping one uncommitted changes nothing.
  EXPECT_FALSE(flush.write("more"));
  { AtomicFile dropped(target, FileAccess::policy()); ASSERT_TRUE(dropped.write("never committed")); }

  EXPECT_EQ(readBytes(target), old);
  EXPECT_EQ(modeOf(target), 0640u);
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"IP.db"});
}

TEST_F(AtomicFileTest, AMoveThatFailsAndAFolderThatIsMissingAreReportedAsSuch) {
  // A folder in the target's place cannot be replaced by a file.
  const std::string target = path("busy");
  ASSERT_TRUE(fs::create_directory(target));
  std::ofstream(target + "/inside") << "kept";
  AtomicFile file(target, FileAccess::exact(0640));
  ASSERT_TRUE(file.write("data"));
  EXPECT_FALSE(file.commit());
  EXPECT_EQ(file.failedStep(), "rename");
  EXPECT_NE(file.error().find("rename " + target + ": "), std::string::npos) << file.error();
  EXPECT_EQ(readBytes(target + "/inside"), "kept");
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"busy"});

  AtomicFile nowhere(path("missing/file"), FileAccess::policy());
  EXPECT_FALSE(nowhere.ok());
  EXPECT_EQ(nowhere.failedStep(), "create");
  EXPECT_NE(nowhere.error().find(std::strerror(ENOENT)), std::string::npos) << nowhere.error();
  EXPECT_FALSE(nowhere.write("x"));
  EXPECT_FALSE(nowhere.commit());
}

TEST_F(AtomicFileTest, TheModeIsTheIntendedOneFromTheFirstByteWhateverTheUmask) {
  const AtomicFileIo noting = {modeNotingWrite, ::fsync};
  setAtomicFileIo(&noting);
  struct Case {
    const char* name;
    FileAccess access;
    mode_t oldMode;  // 0: no old file
    mode_t expected;
  };
  const Case cases[] = {
      {"export.csv", FileAccess::exact(0640), 0, 0640},
      {"wide.csv", FileAccess::exact(0640), 0666, 0640},
      {"hosts", FileAccess::exact(0644), 0600, 0644},
      {"password.web", FileAccess::ownerOnly(), 0644, 0600},
      {"snmp.ini", FileAccess::policy(), 0, 0600},     // a secret by its name
      {"server.ini", FileAccess::policy(), 0, 0640},   // settings
      {"email.ini", FileAccess::policy(), 0660, 0600},  // the policy narrows an old wide mode
      {"prefs.ini", FileAccess::policy(), 0600, 0600},  // and never widens one
  };
  for (mode_t mask : {mode_t{0}, mode_t{022}, mode_t{077}}) {
    umask(mask);
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.name) + " umask " + std::to_string(mask));
      const std::string target = path(c.name);
      std::remove(target.c_str());
      if (c.oldMode != 0) writeOld(target, "old", c.oldMode);
      gModeAtFirstWrite = 0;
      ASSERT_TRUE(replaceFileAtomically(target, "new", c.access));
      EXPECT_EQ(gModeAtFirstWrite, c.expected);
      EXPECT_EQ(modeOf(target), c.expected);
    }
  }
  // As any new file of the process: the umask decides.
  umask(027);
  ASSERT_TRUE(replaceFileAtomically(path("state"), "s", FileAccess::processDefault()));
  EXPECT_EQ(modeOf(path("state")), 0640u);
}

TEST_F(AtomicFileTest, TheOwnerIsKeptOnlyWhenAsked) {
  if (geteuid() != 0) GTEST_SKIP() << "giving a file away needs root";
  const std::string kept = path("password.web");
  const std::string taken = path("network.key");
  for (const std::string& target : {kept, taken}) {
    writeOld(target, "old", 0600);
    ASSERT_EQ(chown(target.c_str(), 65534, 65534), 0);
  }
  FileAccess keep = FileAccess::ownerOnly();
  keep.keepOwner = true;
  ASSERT_TRUE(replaceFileAtomically(kept, "new", keep));
  ASSERT_TRUE(replaceFileAtomically(taken, "new", FileAccess::ownerOnly()));
  struct stat info {};
  ASSERT_EQ(stat(kept.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 65534u);
  EXPECT_EQ(info.st_gid, 65534u);
  ASSERT_EQ(stat(taken.c_str(), &info), 0);
  EXPECT_EQ(info.st_uid, 0u);
}

}  // namespace

namespace {

// The check the secret files' tests lean on: exactly 0600, nothing wider and nothing else.
TEST_F(AtomicFileTest, OwnerOnlyMeansExactlyModeSixHundred) {
  ASSERT_TRUE(replaceFileAtomically(path("secret.key"), "s", FileAccess::ownerOnly()));
  std::string why = "untouched";
  EXPECT_TRUE(fileIsOwnerOnly(path("secret.key").c_str(), &why)) << why;
  EXPECT_TRUE(why.empty());
  for (mode_t mode : {mode_t{0640}, mode_t{0604}, mode_t{0700}, mode_t{0400}}) {
    writeOld(path("wide.key"), "w", mode);
    EXPECT_FALSE(fileIsOwnerOnly(path("wide.key").c_str(), &why)) << std::oct << mode;
    EXPECT_NE(why.find("not 0600"), std::string::npos) << why;
  }
  EXPECT_FALSE(fileIsOwnerOnly(path("missing.key").c_str(), &why));
  EXPECT_EQ(why.rfind("cannot be examined", 0), 0u) << why;
  EXPECT_FALSE(fileIsOwnerOnly(folder_.path().c_str(), &why)) << "a folder";
}

}  // namespace
