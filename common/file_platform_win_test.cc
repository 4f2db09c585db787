// The owner-only check of the Windows back end (fileIsOwnerOnly): a file with its folder's access
// list, and one that does not exist, are refused with a reason; a file made by
// createOwnerOnlyFile passes (on Windows; Wine keeps no access lists, so there it is skipped).
#include <windows.h>
// after windows.h
#include <gtest/gtest.h>

#include <string>

#include "common/file_platform.h"
#include "common/test_folder.h"
#include "tests/support/wine.h"

namespace {

TEST(WinOwnerOnlyCheck, AFileWithItsFoldersListOrNoFileIsRefusedWithAReason) {
  TestFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string inherited = folder.file("inherited.key");
  const int fd = createExclusiveFile(inherited.c_str());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(closeFile(fd), 0);
  std::string why;
  EXPECT_FALSE(fileIsOwnerOnly(inherited.c_str(), &why));
  EXPECT_FALSE(why.empty());

  EXPECT_FALSE(fileIsOwnerOnly(folder.file("missing.key").c_str(), &why));
  EXPECT_EQ(why.rfind("cannot be examined", 0), 0u) << why;
}

TEST(WinOwnerOnlyCheck, AnOwnerOnlyFilePasses) {
  if (test_support::underWine()) GTEST_SKIP() << test_support::kWineKeepsNoFileAccessLists;
  TestFolder folder;
  ASSERT_FALSE(folder.path().empty());
  const std::string secret = folder.file("secret.key");
  const int fd = createOwnerOnlyFile(secret.c_str());
  ASSERT_GE(fd, 0);
  ASSERT_EQ(closeFile(fd), 0);
  std::string why = "untouched";
  EXPECT_TRUE(fileIsOwnerOnly(secret.c_str(), &why)) << why;
  EXPECT_TRUE(why.empty());
}

}  // namespace
