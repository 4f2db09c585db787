// Tests of the named shared memory and the named semaphores: the object names under the prefix,
// the access rights, create-existing failing, opening with the real size, the sections written
// and read whole, removal by the owner only, the claim, and the wake-up semantics of the
// semaphores.
#include "common/shared_memory.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <memory>
#include <string>
#include <thread>

#include "common/named_semaphore.h"

namespace {

using namespace std::chrono_literals;

// Each test works under its own prefix, restored afterwards.
class SharedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    prefix_ = std::string("kestrova-smtest-") + std::to_string(getpid()) + "-" + info->name() + ".";
    setenv("KESTROVA_SHM_PREFIX", prefix_.c_str(), 1);
    unsetenv("KESTROVA_SHM_GROUP");
  }
  void TearDown() override {
    unsetenv("KESTROVA_SHM_PREFIX");
    unsetenv("KESTROVA_SHM_GROUP");
  }
  std::string devShmPath(uint32_t name) const { return "/dev/shm/" + prefix_ + std::to_string(name); }
  std::string prefix_;
};

TEST_F(SharedMemoryTest, CreateMapsZeroedSectionWithMode0660UnderPrefix) {
  const mode_t old = umask(027);  // the umask must not take the group's rights
  SharedMemoryRecord* record = nullptr;
  ASSERT_EQ(createSharedMemory(64, &record, 9290), 0);
  umask(old);
  ASSERT_NE(record, nullptr);
  EXPECT_EQ(record->size, 64u);
  EXPECT_EQ(record->owner, 1);
  EXPECT_EQ(record->name, 9290u);
  EXPECT_EQ(sharedMemoryObjectName(9290), "/" + prefix_ + "9290");
  struct stat info {};
  ASSERT_EQ(stat(devShmPath(9290).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_EQ(info.st_size, 64);
  const char zeros[64] = {};
  EXPECT_EQ(std::memcmp(record->view, zeros, sizeof zeros), 0);
  closeSharedMemory(record);
  EXPECT_NE(access(devShmPath(9290).c_str(), F_OK), 0) << "the owner removes the name";
}

TEST_F(SharedMemoryTest, CreatingAnExistingNameFails) {
  SharedMemoryOwner first;
  ASSERT_EQ(createSharedMemory(10, first.address(), 9190), 0);
  SharedMemoryRecord* second = reinterpret_cast<SharedMemoryRecord*>(0x1);
  EXPECT_EQ(createSharedMemory(10, &second, 9190), 1);
  EXPECT_EQ(second, nullptr);
  EXPECT_EQ(sharedMemoryError(), "create /" + prefix_ + "9190: " + std::strerror(EEXIST));
  // The cause is kept per thread: another thread's failure does not overwrite it.
  std::thread([] {
    SharedMemoryRecord* other = nullptr;
    EXPECT_EQ(openSharedMemory(&other, 9999), 1);
    EXPECT_NE(sharedMemoryError().find(std::strerror(ENOENT)), std::string::npos);
  }).join();
  EXPECT_EQ(sharedMemoryError(), "create /" + prefix_ + "9190: " + std::strerror(EEXIST));
  // The failed create left the first section alone.
  SharedMemoryOwner opened;
  ASSERT_EQ(openSharedMemory(opened.address(), 9190), 0);
  EXPECT_EQ(opened.get()->size, 10u);
}

TEST_F(SharedMemoryTest, OpenUsesTheRealSizeAndCopiesStayInBounds) {
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(5, created.address(), 9391), 0);
  ASSERT_EQ(writeSharedMemory("abcde", 5, created.get()), 0);
  EXPECT_EQ(writeSharedMemory("abcdef", 6, created.get()), 1) << "larger than the section";

  SharedMemoryOwner opened;
  ASSERT_EQ(openSharedMemory(opened.address(), 9391), 0);
  EXPECT_EQ(opened.get()->size, 5u);
  EXPECT_EQ(opened.get()->owner, 0);
  char buffer[8] = {};
  EXPECT_EQ(readSharedMemory(buffer, 6, opened.get()), 1);
  ASSERT_EQ(readSharedMemory(buffer, 5, opened.get()), 0);
  EXPECT_STREQ(buffer, "abcde");
  // Both views show the same bytes.
  static_cast<char*>(opened.get()->view)[0] = 'X';
  EXPECT_EQ(static_cast<char*>(created.get()->view)[0], 'X');

  opened.reset();
  EXPECT_EQ(access(devShmPath(9391).c_str(), F_OK), 0) << "a non-owner never removes the name";
  SharedMemoryRecord* missing = nullptr;
  created.reset();
  EXPECT_EQ(openSharedMemory(&missing, 9391), 1);
  EXPECT_EQ(missing, nullptr);
}

// The areas written once and read once: the exact bytes under the usual rights, read whole, the
// name kept until the creator closes; an existing name is not overwritten.
TEST_F(SharedMemoryTest, FilledSectionHoldsExactlyItsBytesAndIsReadWhole) {
  const mode_t old = umask(027);
  const char bytes[] = {'k', 0, 'v', 0, 0};
  SharedMemoryOwner filled;
  ASSERT_EQ(createSharedMemoryFilled(bytes, sizeof bytes, filled.address(), "9392"), 0);
  umask(old);
  EXPECT_EQ(filled.get()->size, sizeof bytes);
  EXPECT_EQ(filled.get()->owner, 1);
  struct stat info {};
  ASSERT_EQ(stat(devShmPath(9392).c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_EQ(info.st_size, static_cast<off_t>(sizeof bytes));
  std::string read;
  ASSERT_EQ(readSharedMemoryNamed("9392", &read), 0);
  EXPECT_EQ(read, std::string(bytes, sizeof bytes));
  SharedMemoryOwner mapped;  // the front end maps what was written
  ASSERT_EQ(openSharedMemory(mapped.address(), 9392), 0);
  ASSERT_EQ(mapped.get()->size, sizeof bytes);
  EXPECT_EQ(std::memcmp(mapped.get()->view, bytes, sizeof bytes), 0);

  SharedMemoryRecord* again = reinterpret_cast<SharedMemoryRecord*>(0x1);
  EXPECT_EQ(createSharedMemoryFilled("other", 5, &again, "9392"), 1);
  EXPECT_EQ(again, nullptr);
  ASSERT_EQ(readSharedMemoryNamed("9392", &read), 0);
  EXPECT_EQ(read, std::string(bytes, sizeof bytes)) << "the failed create left the bytes alone";

  filled.reset();
  EXPECT_NE(access(devShmPath(9392).c_str(), F_OK), 0) << "the creator removes the name";
  EXPECT_EQ(readSharedMemoryNamed("9392", &read), 1);
  EXPECT_TRUE(read.empty());
  EXPECT_EQ(sharedMemoryError(), "open /" + prefix_ + "9392: " + std::strerror(ENOENT));
  EXPECT_EQ(readSharedMemoryNamed("not a section", &read), 1);
}

TEST_F(SharedMemoryTest, EmptySectionOpensWithoutView) {
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(0, created.address(), 9292), 0);
  SharedMemoryOwner opened;
  ASSERT_EQ(openSharedMemory(opened.address(), 9292), 0);
  EXPECT_EQ(opened.get()->size, 0u);
  EXPECT_EQ(opened.get()->view, nullptr);
  char byte = 0;
  EXPECT_EQ(readSharedMemory(&byte, 1, opened.get()), 1);
  EXPECT_EQ(readSharedMemory(&byte, 0, opened.get()), 0);
}

TEST_F(SharedMemoryTest, UnusablePrefixFailsEveryCall) {
  setenv("KESTROVA_SHM_PREFIX", "bad/prefix", 1);
  SharedMemoryRecord* record = nullptr;
  EXPECT_TRUE(sharedMemoryObjectName(9190).empty());
  EXPECT_EQ(createSharedMemory(10, &record, 9190), 1);
  EXPECT_EQ(openSharedMemory(&record, 9190), 1);
  EXPECT_NE(sharedMemoryError().find("prefix \"bad/prefix\""), std::string::npos) << sharedMemoryError();
  EXPECT_EQ(NamedSemaphore::create(9190), nullptr);
  setenv("KESTROVA_SHM_PREFIX", std::string(300, 'a').c_str(), 1);
  EXPECT_EQ(createSharedMemory(10, &record, 9190), 1);
  unsetenv("KESTROVA_SHM_PREFIX");
  EXPECT_EQ(sharedMemoryObjectName(9190), "/kestrova.9190");
}

TEST_F(SharedMemoryTest, ThreadPrefixNamesOnlyThatThreadsObjectsAndNests) {
  const std::string other = prefix_ + "other.";
  std::string seenInside;
  std::string seenAfter;
  std::string seenNested;
  std::string seenBeside;
  SharedMemoryOwner created;
  std::thread worker([&] {
    {
      ScopedSharedObjectPrefix scope(other);
      seenInside = sharedMemoryObjectName(9191);
      ASSERT_EQ(createSharedMemory(16, created.address(), 9191), 0);
      {
        ScopedSharedObjectPrefix inner(prefix_ + "inner.");
        seenNested = sharedMemoryObjectName(9191);
      }
      seenAfter = sharedMemoryObjectName(9191);
    }
    seenBeside = sharedMemoryObjectName(9191);
  });
  worker.join();
  EXPECT_EQ(seenInside, "/" + other + "9191");
  EXPECT_EQ(seenNested, "/" + prefix_ + "inner.9191");
  EXPECT_EQ(seenAfter, "/" + other + "9191");
  EXPECT_EQ(seenBeside, "/" + prefix_ + "9191");  // back to the environment's
  // This thread never had a prefix of its own: the section is not under its name...
  EXPECT_EQ(sharedMemoryObjectName(9191), "/" + prefix_ + "9191");
  SharedMemoryRecord* record = nullptr;
  EXPECT_EQ(openSharedMemory(&record, 9191), 1);
  // ...until it takes the worker's prefix too.
  ScopedSharedObjectPrefix scope(other);
  SharedMemoryOwner opened;
  EXPECT_EQ(openSharedMemory(opened.address(), 9191), 0);
}

TEST_F(SharedMemoryTest, GroupFromEnvironmentAndUnknownGroupRefused) {
  const gid_t group = getegid() == 0 ? 1 : getegid();  // any other group as root
  setenv("KESTROVA_SHM_GROUP", std::to_string(group).c_str(), 1);
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(10, created.address(), 9190), 0);
  struct stat info {};
  ASSERT_EQ(fstat(created.get()->handle, &info), 0);
  EXPECT_EQ(info.st_gid, group);
  EXPECT_EQ(info.st_mode & 0777, 0660u);

  setenv("KESTROVA_SHM_GROUP", "no-such-group-kestrova", 1);
  SharedMemoryRecord* record = nullptr;
  EXPECT_EQ(createSharedMemory(10, &record, 9191), 1);
  EXPECT_NE(access(devShmPath(9191).c_str(), F_OK), 0) << "a refused create leaves nothing behind";
  EXPECT_EQ(NamedSemaphore::create(9191), nullptr);
  EXPECT_NE(access(("/dev/shm/sem." + prefix_ + "sem9191").c_str(), F_OK), 0);
}

TEST_F(SharedMemoryTest, ClaimIsExclusiveAndEndsWithItsHolder) {
  SharedMemoryRecord* holder = nullptr;
  ASSERT_EQ(createSharedMemory(10, &holder, 9190), 0);
  ASSERT_EQ(claimSharedMemory(holder), 0);
  {
    SharedMemoryOwner other;
    ASSERT_EQ(openSharedMemory(other.address(), 9190), 0);
    EXPECT_EQ(claimSharedMemory(other.get()), 1) << "another holder has the claim";
  }
  holder->owner = 0;  // ends like a process that died without removing its name
  closeSharedMemory(holder);
  SharedMemoryOwner left;
  ASSERT_EQ(openSharedMemory(left.address(), 9190), 0);
  EXPECT_EQ(claimSharedMemory(left.get()), 0) << "nobody holds a claim on the leftover";
  EXPECT_EQ(removeSharedMemory(9190), 0);
  EXPECT_EQ(removeSharedMemory(9190), 1);
  EXPECT_NE(access(devShmPath(9190).c_str(), F_OK), 0);
}

TEST_F(SharedMemoryTest, SemaphorePostsDoNotPileUpAndWaitTimesOut) {
  const mode_t old = umask(077);
  std::unique_ptr<NamedSemaphore> created = NamedSemaphore::create(9390);
  umask(old);
  ASSERT_NE(created, nullptr);
  struct stat info {};
  const std::string path = "/dev/shm/sem." + prefix_ + "sem9390";
  ASSERT_EQ(stat(path.c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0660u);
  EXPECT_EQ(NamedSemaphore::create(9390), nullptr) << "an existing name is a failure";

  std::unique_ptr<NamedSemaphore> opened = NamedSemaphore::open(9390);
  ASSERT_NE(opened, nullptr);
  for (int i = 0; i < 5; ++i) opened->post();
  EXPECT_TRUE(created->wait(0));
  EXPECT_FALSE(created->wait(0)) << "five posts without a waiter leave one wake-up";

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(created->wait(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 45ms);

  std::thread poster([&opened] {
    std::this_thread::sleep_for(20ms);
    opened->post();
  });
  EXPECT_TRUE(created->wait(5000));
  poster.join();

  opened->post();
  created->drain();
  EXPECT_FALSE(created->wait(0));

  opened.reset();
  EXPECT_EQ(stat(path.c_str(), &info), 0) << "closing an opened semaphore keeps the name";
  created.reset();
  EXPECT_NE(stat(path.c_str(), &info), 0) << "the creator removes the name";
  EXPECT_EQ(NamedSemaphore::open(9390), nullptr);
}

}  // namespace

// ---- Names taken by another user -------------------------------------------------------------

namespace {

// Squats name as another local user would: an object that grants everybody access, owned by
// "nobody" when the test may give it away (root), else by this user but world-writable. Either
// way this process must not trust it.
void squat(const std::string& object) {
  const int fd = shm_open(object.c_str(), O_CREAT | O_EXCL | O_RDWR, 0666);
  ASSERT_GE(fd, 0) << object;
  ASSERT_EQ(fchmod(fd, 0666), 0);
  ASSERT_EQ(ftruncate(fd, 4096), 0);
  if (geteuid() == 0) {
    ASSERT_EQ(fchown(fd, 65534, 65534), 0);
  }
  close(fd);
}

}  // namespace

TEST_F(SharedMemoryTest, AnObjectOfAnotherUserIsNeverOpenedAndIsReportedAsForeign) {
  squat("/" + prefix_ + "9391");
  SharedMemoryRecord* record = reinterpret_cast<SharedMemoryRecord*>(0x1);
  EXPECT_EQ(openSharedMemory(&record, 9391), 1);
  EXPECT_EQ(record, nullptr);
  EXPECT_NE(sharedMemoryError().find("/" + prefix_ + "9391 belongs to user"), std::string::npos)
      << sharedMemoryError();
  EXPECT_NE(sharedMemoryError().find("(mode 666): not used"), std::string::npos) << sharedMemoryError();
  EXPECT_EQ(createSharedMemory(16, &record, 9391), 1);
  std::string bytes;
  EXPECT_EQ(readSharedMemoryNamed("9391", &bytes), 1);
  EXPECT_NE(sharedMemoryError().find("(mode 666): not used"), std::string::npos) << sharedMemoryError();
  EXPECT_EQ(createSharedMemoryFilled("x", 1, &record, "9391"), 1);
  unsigned owner = 0;
  EXPECT_TRUE(foreignSharedMemory("9391", &owner));
  if (geteuid() == 0) {
    EXPECT_EQ(owner, 65534u);
  }
  // One of this process's own is not foreign, nor is a name nobody holds.
  SharedMemoryOwner own;
  ASSERT_EQ(createSharedMemory(16, own.address(), 9392), 0);
  EXPECT_FALSE(foreignSharedMemory("9392", nullptr));
  EXPECT_FALSE(foreignSharedMemory("9393", nullptr));
  shm_unlink(("/" + prefix_ + "9391").c_str());
}

TEST_F(SharedMemoryTest, PrivateNamesAreRandomAndOnlyOfTheirNumber) {
  const std::string first = privateSectionName(9390);
  const std::string second = privateSectionName(9390);
  EXPECT_NE(first, second);
  EXPECT_TRUE(isSectionNameOf(first, 9390));
  EXPECT_TRUE(isSectionNameOf("9390", 9390));
  EXPECT_FALSE(isSectionNameOf(first, 9391));
  for (const char* bad : {"", "9390.", "9390.ABCDEF0123456789abcdef01", "9390.0123456789abcdef0123456",
                          "9390/../9190", "9390.0123456789abcdef012345678", "9190", "x9390"}) {
    EXPECT_FALSE(isSectionNameOf(bad, 9390)) << bad;
  }
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemoryNamed(8, created.address(), first), 0);
  SharedMemoryOwner opened;
  ASSERT_EQ(openSharedMemoryNamed(opened.address(), first), 0);
  EXPECT_EQ(opened.get()->size, 8u);
  SharedMemoryRecord* refused = nullptr;
  EXPECT_EQ(openSharedMemoryNamed(&refused, "9390/../9190"), 1);
}

TEST_F(SharedMemoryTest, ASemaphoreOfAnotherUserIsNotUsed) {
  const std::string object = namedSemaphoreObjectName(9190);
  const std::string path = "/dev/shm/sem." + object.substr(1);
  {
    std::unique_ptr<NamedSemaphore> made = NamedSemaphore::create(9190);
    ASSERT_NE(made, nullptr);
    ASSERT_EQ(chmod(path.c_str(), 0666), 0);  // as another user's would be
    EXPECT_EQ(NamedSemaphore::open(9190), nullptr);
    ASSERT_EQ(chmod(path.c_str(), 0660), 0);
    EXPECT_NE(NamedSemaphore::open(9190), nullptr);
  }
}
