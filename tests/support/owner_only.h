// "Only its owner can open this file", as the secret files' tests expect it on each platform:
// mode 0600 on Linux, a protected access list of the owner, LocalSystem and the Administrators on
// Windows (fileIsOwnerOnly, common/file_platform.h). The failure message says what is wider.
//
// Thread safety: as the file system calls under it.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "common/file_platform.h"
#include "tests/support/wine.h"

namespace test_support {

inline ::testing::AssertionResult isOwnerOnly(const std::string& path) {
  std::string why;
  if (fileIsOwnerOnly(path.c_str(), &why)) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << path << " is not private to its owner: " << why;
}

// The check as a test step. Under Wine, which cannot keep an access list, the test is marked
// skipped (with the reason) and goes on with its other checks, which still fail it.
inline void expectOwnerOnly(const std::string& path) {
  if (underWine()) GTEST_SKIP() << path << ": " << kWineKeepsNoFileAccessLists;
  EXPECT_TRUE(isOwnerOnly(path));
}

}  // namespace test_support
