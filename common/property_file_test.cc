// Tests of the property files: what goes to disk, what comes back, that a failed write never
// damages the file it was to replace, and the "in use" words of the settings pages.
#include "common/property_file.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "common/property_file_io.h"
#include "common/test_folder.h"

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

TableOwner makeTable(const Pairs& pairs) {
  TableOwner table;
  for (const auto& [key, value] : pairs) addVariable(table.address(), key.c_str(), value.c_str());
  return table;
}

// A literal with its embedded NUL bytes.
template <size_t N>
std::string bytesOf(const char (&literal)[N]) {
  return std::string(literal, N - 1);
}

Pairs reversed(Pairs pairs) { return Pairs(pairs.rbegin(), pairs.rend()); }

const Pairs kServerPairs = {{"softwareName", "Kestrova Storage Manager"},
                            {"serverVersion", "1.0.0"},
                            {"UseOsEventLog", "true"},
                            {"Formula", "a=b=c"},
                            {"Empty", ""}};

TEST(PropertyFileTest, RoundTripGivesThePairsInReverseOrderAndTheHeaderIsAComment) {
  struct Case {
    const char* header;
    std::string expectedStart;
  };
  const std::vector<Case> cases = {
      {kServerIniHeader, bytesOf("\0\n''This file contains all server settings\n\n\n\n")},
      {kEmailIniHeader, bytesOf("\0\n'\\\\\\\\\\This is the email configuration file.\n")},
      {kSnmpIniHeader, bytesOf("\0\n'\\\\\\\\\\This is the SNMP configuration file.\n")},
      {kSyslogIniHeader, bytesOf("\0\n'\\\\\\\\\\This is the SYSLOG configuration file.\n")},
      {kEmptyHeader, bytesOf("\0\n'\n")},
      {nullptr, std::string()},
  };
  TestFolder folder;
  TableOwner written = makeTable(kServerPairs);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.header != nullptr ? c.header : "(no header)");
    std::string path = folder.file("server.ini");
    ASSERT_EQ(writePropertyFile(path.c_str(), c.header, written.get()), 0);

    std::string bytes = readBytes(path);
    EXPECT_EQ(bytes.substr(0, c.expectedStart.size()), c.expectedStart);
    EXPECT_NE(bytes.find(kEndOfHashtableMarker), std::string::npos);
    TableOwner read(readPropertyFile(path.c_str()));
    EXPECT_EQ(pairsOf(read.get()), reversed(pairsOf(written.get())));
  }
}

TEST(PropertyFileTest, MissingFileOrFileWithoutPairsGivesNull) {
  TestFolder folder;
  EXPECT_EQ(readPropertyFile(folder.file("absent.ini").c_str()), nullptr);
  EXPECT_EQ(readPropertyFile(nullptr), nullptr);

  std::string onlyHeader = folder.file("prefs.ini");
  TableOwner empty;
  ASSERT_EQ(writePropertyFile(onlyHeader.c_str(), kEmptyHeader, empty.get()), 0);
  EXPECT_EQ(readPropertyFile(onlyHeader.c_str()), nullptr);

  writeBytes(onlyHeader, "'comment = not a pair\n\\also = not a pair\nno equals sign\n");
  EXPECT_EQ(readPropertyFile(onlyHeader.c_str()), nullptr);
}

// Write routine that accepts `budget` bytes in all and then fails as a full disk does.
std::atomic<long> g_budget{0};
ssize_t writeWithBudget(int fd, const void* data, size_t size) {
  long left = g_budget.load();
  if (left <= 0) {
    errno = ENOSPC;
    return -1;
  }
  size_t chunk = size < static_cast<size_t>(left) ? size : static_cast<size_t>(left);
  ssize_t n = ::write(fd, data, chunk);
  if (n > 0) g_budget -= n;
  return n;
}
int failingFsync(int) {
  errno = EIO;
  return -1;
}

class PropertyFileFaultTest : public ::testing::Test {
 protected:
  void TearDown() override { setPropertyFileIo(nullptr); }
  TestFolder folder_;
};

TEST_F(PropertyFileFaultTest, FailureHalfWayLeavesTheOldFileAndNoTemporary) {
  std::string path = folder_.file("email.ini");
  TableOwner old = makeTable({{"version", "3"}, {"emailServer", "mail.example.com"}});
  ASSERT_EQ(writePropertyFile(path.c_str(), kEmailIniHeader, old.get()), 0);
  const std::string before = readBytes(path);

  TableOwner next =
      makeTable({{"version", "4"}, {"emailServer", "smtp.example.org"}, {"emailAddr1", "ops@example.org"}});
  const PropertyFileIo budgeted = {writeWithBudget, ::fsync};
  setPropertyFileIo(&budgeted);
  for (long budget : {0L, 1L, 30L, 120L}) {
    SCOPED_TRACE(budget);
    g_budget = budget;
    EXPECT_EQ(writePropertyFile(path.c_str(), kEmailIniHeader, next.get()), -1);
    EXPECT_EQ(readBytes(path), before);
    EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"email.ini"});
  }

  const PropertyFileIo noFlush = {::write, failingFsync};
  setPropertyFileIo(&noFlush);
  EXPECT_EQ(writePropertyFile(path.c_str(), kEmailIniHeader, next.get()), -1);
  EXPECT_EQ(readBytes(path), before);
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"email.ini"});

  // The same budget that failed is plenty once the disk has room again.
  g_budget = 1 << 20;
  setPropertyFileIo(&budgeted);
  ASSERT_EQ(writePropertyFile(path.c_str(), kEmailIniHeader, next.get()), 0);
  TableOwner read(readPropertyFile(path.c_str()));
  EXPECT_STREQ(getVariable(read.get(), "version"), "4");
}

// Runs the write with the rights of an ordinary user, since root may write into any folder.
int writeAsOrdinaryUser(const std::string& path, VariableTable table) {
  if (geteuid() != 0) return writePropertyFile(path.c_str(), kEmptyHeader, table);
  pid_t child = fork();
  if (child == 0) {
    if (setgid(65534) != 0 || setuid(65534) != 0) _exit(2);
    _exit(writePropertyFile(path.c_str(), kEmptyHeader, table) == 0 ? 0 : 1);
  }
  int status = 0;
  waitpid(child, &status, 0);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? 0 : (WIFEXITED(status) ? -WEXITSTATUS(status) : -9);
}

TEST_F(PropertyFileFaultTest, ReadOnlyFolderFailsAndKeepsTheOldFile) {
  std::string path = folder_.file("IP.db");
  TableOwner old = makeTable({{"MulticastPort", "9191"}});
  ASSERT_EQ(writePropertyFile(path.c_str(), kEmptyHeader, old.get()), 0);
  ASSERT_EQ(chmod(path.c_str(), 0666), 0);  // writable file; only the folder forbids the change
  const std::string before = readBytes(path);
  ASSERT_EQ(chmod(folder_.path().c_str(), 0555), 0);

  TableOwner next = makeTable({{"MulticastPort", "9292"}});
  EXPECT_EQ(writeAsOrdinaryUser(path, next.get()), -1);
  EXPECT_EQ(readBytes(path), before);
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"IP.db"});

  EXPECT_EQ(writePropertyFile(folder_.file("no/such/folder.ini").c_str(), kEmptyHeader, next.get()), -1);
}

TEST_F(PropertyFileFaultTest, PairsThatWouldNotReadBackAreRefusedBeforeWriting) {
  std::string path = folder_.file("snmp.ini");
  TableOwner old = makeTable({{"version", "1"}});
  ASSERT_EQ(writePropertyFile(path.c_str(), kSnmpIniHeader, old.get()), 0);
  const std::string before = readBytes(path);

  const Pairs refused[] = {
      {{"SnmpServer0", "10.0.0.1\nversion = 99"}},  // would smuggle in a second pair
      {{"SnmpCommunity0", "public\r"}},
      {{"a=b", "c"}},
      {{"", "value"}},
      {{"'SnmpPort0", "162"}},
      {{" SnmpPort0", "162"}},
      {{"SnmpPort0 ", "162"}},
      {{"note", std::string("x") + kEndOfHashtableMarker}},
  };
  for (const Pairs& pairs : refused) {
    SCOPED_TRACE(pairs[0].first);
    TableOwner bad = makeTable(pairs);
    EXPECT_EQ(writePropertyFile(path.c_str(), kSnmpIniHeader, bad.get()), -1);
    EXPECT_EQ(readBytes(path), before);
  }
  // Blanks and quotes around a value are trimmed by the reader by design, and are accepted.
  TableOwner trimmed = makeTable({{"community", "  public  "}});
  ASSERT_EQ(writePropertyFile(path.c_str(), nullptr, trimmed.get()), 0);
  TableOwner read(readPropertyFile(path.c_str()));
  EXPECT_STREQ(getVariable(read.get(), "community"), "public");
}

TEST_F(PropertyFileFaultTest, ReplacingKeepsThePermissionBits) {
  std::string path = folder_.file("syslog.ini");
  TableOwner table = makeTable({{"version", "1"}});
  ASSERT_EQ(writePropertyFile(path.c_str(), kSyslogIniHeader, table.get()), 0);
  ASSERT_EQ(chmod(path.c_str(), 0640), 0);
  ASSERT_EQ(writePropertyFile(path.c_str(), kSyslogIniHeader, table.get()), 0);
  struct stat info {};
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 07777, 0640u);
}

TEST_F(PropertyFileFaultTest, ReadersNeverSeeAHalfWrittenFile) {
  std::string path = folder_.file("server.ini");
  Pairs big;
  for (int i = 0; i < 200; ++i) big.emplace_back("Key" + std::to_string(i), std::string(100, 'a' + i % 26));
  TableOwner table = makeTable(big);
  ASSERT_EQ(writePropertyFile(path.c_str(), kServerIniHeader, table.get()), 0);

  std::atomic<bool> stop{false};
  std::atomic<int> incomplete{0};
  std::thread reader([&] {
    while (!stop) {
      TableOwner read(readPropertyFile(path.c_str()));
      if (pairsOf(read.get()).size() != big.size()) ++incomplete;
    }
  });
  std::thread writers[2];
  for (auto& writer : writers) {
    writer = std::thread([&] {
      for (int i = 0; i < 50; ++i)
        EXPECT_EQ(writePropertyFile(path.c_str(), kServerIniHeader, table.get()), 0);
    });
  }
  for (auto& writer : writers) writer.join();
  stop = true;
  reader.join();
  EXPECT_EQ(incomplete, 0);
  EXPECT_EQ(namesIn(folder_.path()), std::vector<std::string>{"server.ini"});
}

TEST(FileInUseTest, WaitsForTheWordAndGivesUpAfterTheTimeLimit) {
  std::atomic<int> word{0};
  ASSERT_TRUE(acquireFileInUse(&word, 50));
  EXPECT_EQ(word, 1);

  auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(acquireFileInUse(&word, 60, 2));
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(60));
  EXPECT_EQ(word, 1);  // a time-out leaves the holder's mark alone

  std::thread holder([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    releaseFileInUse(&word);
  });
  EXPECT_TRUE(acquireFileInUse(&word, 5000, 5, 5));
  EXPECT_EQ(word, 5);
  holder.join();
  releaseFileInUse(&word);
  EXPECT_EQ(word, 0);
}

TEST(FileInUseTest, HoldersExcludeEachOther) {
  std::atomic<int> word{0};
  int shared = 0;  // guarded by word
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 200; ++i) {
        ASSERT_TRUE(acquireFileInUse(&word, 10000, 1, 1));
        int seen = shared;
        std::this_thread::yield();
        shared = seen + 1;
        releaseFileInUse(&word);
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(shared, 800);
}

}  // namespace
