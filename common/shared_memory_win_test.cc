// Tests of the Windows named shared memory and named semaphores: sizes as created, a name that
// exists already refused, the access list (service account, administrators, creator; nobody
// else), the claim while its holder lives, the namespace of the prefix, and the wake-up
// semantics of the semaphores.
#include <windows.h>
// after windows.h
#include <aclapi.h>
#include <gtest/gtest.h>
#include <sddl.h>

#include <chrono>
#include <cstring>
#include <string>
#include <thread>

#include "common/named_semaphore.h"
#include "common/shared_memory.h"

namespace {

using namespace std::chrono_literals;

class WinSharedMemoryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const ::testing::TestInfo* info = ::testing::UnitTest::GetInstance()->current_test_info();
    prefix_ = "kestrova-smtest-" + std::to_string(GetCurrentProcessId()) + "-" + info->name() + ".";
    _putenv_s("KESTROVA_SHM_PREFIX", prefix_.c_str());
    _putenv_s("KESTROVA_SHM_GROUP", "");
  }
  void TearDown() override {
    _putenv_s("KESTROVA_SHM_PREFIX", "");
    _putenv_s("KESTROVA_SHM_GROUP", "");
  }
  std::string prefix_;
};

// The SIDs (as text) that the object's access list allows, in order.
std::vector<std::string> allowedSids(HANDLE object) {
  std::vector<std::string> sids;
  PACL dacl = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetSecurityInfo(object, SE_KERNEL_OBJECT, DACL_SECURITY_INFORMATION, nullptr, nullptr, &dacl, nullptr,
                      &descriptor) != ERROR_SUCCESS) {
    return sids;
  }
  for (DWORD i = 0; dacl != nullptr && i < dacl->AceCount; ++i) {
    void* ace = nullptr;
    if (!GetAce(dacl, i, &ace)) continue;
    auto* allowed = static_cast<ACCESS_ALLOWED_ACE*>(ace);
    if (allowed->Header.AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    char* text = nullptr;
    if (ConvertSidToStringSidA(&allowed->SidStart, &text)) {
      sids.emplace_back(text);
      LocalFree(text);
    }
  }
  LocalFree(descriptor);
  return sids;
}

TEST_F(WinSharedMemoryTest, CreateOpenAndSizesAsCreated) {
  EXPECT_EQ(sharedMemoryObjectName(9190), "Global\\" + prefix_ + "9190");
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(10, created.address(), 9190), 0);
  EXPECT_EQ(created.get()->size, 10u);
  EXPECT_EQ(created.get()->owner, 1);
  const char zeros[10] = {};
  EXPECT_EQ(std::memcmp(created.get()->view, zeros, 10), 0);
  ASSERT_EQ(writeSharedMemory("abcdefghij", 10, created.get()), 0);
  EXPECT_EQ(writeSharedMemory("abcdefghijk", 11, created.get()), 1) << "larger than the section";

  SharedMemoryOwner opened;
  ASSERT_EQ(openSharedMemory(opened.address(), 9190), 0);
  // The section's own size where the system tells it, else the whole pages of the view.
  EXPECT_GE(opened.get()->size, 10u);
  EXPECT_EQ(opened.get()->size == 10u || opened.get()->size % 4096 == 0, true) << opened.get()->size;
  EXPECT_EQ(opened.get()->owner, 0);
  char read[10];
  ASSERT_EQ(readSharedMemory(read, 10, opened.get()), 0);
  EXPECT_EQ(std::string(read, 10), "abcdefghij");

  SharedMemoryRecord* second = nullptr;
  EXPECT_EQ(createSharedMemory(10, &second, 9190), 1) << "a name that exists is a failure";
  EXPECT_EQ(second, nullptr);
  SharedMemoryRecord* missing = nullptr;
  EXPECT_EQ(openSharedMemory(&missing, 9191), 1);
}

TEST_F(WinSharedMemoryTest, FilledSectionIsReadBackWhole) {
  const char bytes[] = {'k', 0, 'v', 0, 0};
  SharedMemoryOwner filled;
  ASSERT_EQ(createSharedMemoryFilled(bytes, sizeof bytes, filled.address(), "9393"), 0);
  EXPECT_EQ(filled.get()->owner, 1);
  std::string read;
  ASSERT_EQ(readSharedMemoryNamed("9393", &read), 0);
  // As with openSharedMemory: the section's own size, or the whole pages of its view.
  ASSERT_GE(read.size(), sizeof bytes);
  EXPECT_EQ(read.substr(0, sizeof bytes), std::string(bytes, sizeof bytes));
  SharedMemoryRecord* again = nullptr;
  EXPECT_EQ(createSharedMemoryFilled("other", 5, &again, "9393"), 1) << "a name that exists is a failure";
  filled.reset();
  EXPECT_EQ(readSharedMemoryNamed("9393", &read), 1);
  EXPECT_TRUE(read.empty());
}

TEST_F(WinSharedMemoryTest, NameGoesWithTheLastHandle) {
  {
    SharedMemoryOwner created;
    ASSERT_EQ(createSharedMemory(64, created.address(), 9291), 0);
  }
  SharedMemoryRecord* record = nullptr;
  EXPECT_EQ(openSharedMemory(&record, 9291), 1);
  EXPECT_EQ(removeSharedMemory(9291), 1) << "nothing is ever left to remove";
  SharedMemoryOwner again;
  EXPECT_EQ(createSharedMemory(64, again.address(), 9291), 0);
}

TEST_F(WinSharedMemoryTest, EmptySectionHasNoView) {
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(0, created.address(), 9292), 0);
  EXPECT_EQ(created.get()->size, 0u);
  EXPECT_EQ(created.get()->view, nullptr);
  char byte = 0;
  EXPECT_EQ(writeSharedMemory(&byte, 1, created.get()), 1);
  EXPECT_EQ(writeSharedMemory(&byte, 0, created.get()), 0);
}

TEST_F(WinSharedMemoryTest, AccessListGrantsServiceAdministratorsAndCreatorOnly) {
  HANDLE mapping = nullptr;
  SharedMemoryOwner created;
  ASSERT_EQ(createSharedMemory(10, created.address(), 9390), 0);
  mapping = OpenFileMappingA(READ_CONTROL, FALSE, sharedMemoryObjectName(9390).c_str());
  ASSERT_NE(mapping, nullptr);
  const std::vector<std::string> sids = allowedSids(mapping);
  CloseHandle(mapping);
  ASSERT_FALSE(sids.empty()) << "the section has an access list";
  EXPECT_NE(std::find(sids.begin(), sids.end(), "S-1-5-18"), sids.end()) << "LocalSystem";
  EXPECT_NE(std::find(sids.begin(), sids.end(), "S-1-5-32-544"), sids.end()) << "Administrators";
  EXPECT_EQ(std::find(sids.begin(), sids.end(), "S-1-1-0"), sids.end()) << "never Everyone";
  EXPECT_EQ(std::find(sids.begin(), sids.end(), "S-1-5-11"), sids.end()) << "never Authenticated Users";

  // One more account by name or SID; an unknown one refuses the creation.
  _putenv_s("KESTROVA_SHM_GROUP", "S-1-5-32-545");
  SharedMemoryOwner users;
  ASSERT_EQ(createSharedMemory(10, users.address(), 9391), 0);
  mapping = OpenFileMappingA(READ_CONTROL, FALSE, sharedMemoryObjectName(9391).c_str());
  ASSERT_NE(mapping, nullptr);
  const std::vector<std::string> withUsers = allowedSids(mapping);
  CloseHandle(mapping);
  EXPECT_NE(std::find(withUsers.begin(), withUsers.end(), "S-1-5-32-545"), withUsers.end());
  _putenv_s("KESTROVA_SHM_GROUP", "no-such-account-kestrova");
  SharedMemoryRecord* refused = nullptr;
  EXPECT_EQ(createSharedMemory(10, &refused, 9392), 1);
  EXPECT_EQ(NamedSemaphore::create(9392), nullptr);
}

TEST_F(WinSharedMemoryTest, ClaimIsExclusiveWhileHeld) {
  SharedMemoryOwner first;
  ASSERT_EQ(createSharedMemory(10, first.address(), 9190), 0);
  EXPECT_EQ(claimSharedMemory(first.get()), 0);
  EXPECT_EQ(claimSharedMemory(first.get()), 0) << "a holder may ask again";
  SharedMemoryOwner second;
  ASSERT_EQ(openSharedMemory(second.address(), 9190), 0);
  EXPECT_EQ(claimSharedMemory(second.get()), 1);
  first.reset();
  EXPECT_EQ(claimSharedMemory(second.get()), 0) << "the claim ends with its holder's record";
  EXPECT_EQ(claimSharedMemory(nullptr), 1);
}

TEST_F(WinSharedMemoryTest, PrefixChoosesNamespaceAndBadPrefixFails) {
  _putenv_s("KESTROVA_SHM_PREFIX", ("Local\\" + prefix_).c_str());
  EXPECT_EQ(sharedMemoryObjectName(9190), "Local\\" + prefix_ + "9190");
  SharedMemoryOwner local;
  EXPECT_EQ(createSharedMemory(10, local.address(), 9190), 0);
  _putenv_s("KESTROVA_SHM_PREFIX", "bad\\prefix");
  SharedMemoryRecord* record = nullptr;
  EXPECT_TRUE(sharedMemoryObjectName(9190).empty());
  EXPECT_EQ(createSharedMemory(10, &record, 9190), 1);
  EXPECT_EQ(openSharedMemory(&record, 9190), 1);
  EXPECT_EQ(NamedSemaphore::create(9190), nullptr);
  _putenv_s("KESTROVA_SHM_PREFIX", std::string(300, 'a').c_str());
  EXPECT_EQ(createSharedMemory(10, &record, 9190), 1);
}

TEST_F(WinSharedMemoryTest, SemaphoreIsAWakeUpFlag) {
  std::unique_ptr<NamedSemaphore> created = NamedSemaphore::create(7);
  ASSERT_NE(created, nullptr);
  EXPECT_EQ(NamedSemaphore::create(7), nullptr) << "a name that exists is a failure";
  std::unique_ptr<NamedSemaphore> opened = NamedSemaphore::open(7);
  ASSERT_NE(opened, nullptr);
  EXPECT_EQ(NamedSemaphore::open(8), nullptr);

  EXPECT_FALSE(opened->wait(0));
  created->post();
  created->post();  // coalesces with the pending one
  EXPECT_TRUE(opened->wait(0));
  EXPECT_FALSE(opened->wait(0)) << "two posts without a waiter leave one count";

  const auto start = std::chrono::steady_clock::now();
  EXPECT_FALSE(opened->wait(50));
  EXPECT_GE(std::chrono::steady_clock::now() - start, 40ms);

  std::thread poster([&] {
    std::this_thread::sleep_for(20ms);
    created->post();
  });
  EXPECT_TRUE(opened->wait(10000));
  poster.join();

  created->post();
  opened->drain();
  EXPECT_FALSE(opened->wait(0));
}

}  // namespace
