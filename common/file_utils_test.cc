// Tests of the file utilities: copies, recursive removal and folder creation, including names
// that a shell would have split or interpreted.
#include "common/file_utils.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "common/test_folder.h"

namespace {

namespace fs = std::filesystem;

TEST(FileUtilsTest, CopyReplacesDestinationAndKeepsNamesLiteral) {
  TestFolder folder;
  const std::string source = folder.file("a b; echo $(x) & c.txt");
#ifdef _WIN32
  // '*' cannot be part of a Windows file name; cmd.exe's own specials stand in for it.
  const std::string destination = folder.file("copy %PATH% ^ !x!.log");
#else
  const std::string destination = folder.file("copy *.log");
#endif
  writeBytes(source, std::string("line 1\nline\0 2\n", 15));
  writeBytes(destination, "old content that is longer than the new one\n");
  EXPECT_EQ(copyFile(source.c_str(), destination.c_str()), 0);
  EXPECT_EQ(readBytes(destination), std::string("line 1\nline\0 2\n", 15));
}

TEST(FileUtilsTest, CopyFailsWithoutRegularSourceAndLeavesDestination) {
  TestFolder folder;
  const std::string destination = folder.file("kept");
  writeBytes(destination, "keep me");
  EXPECT_NE(copyFile(folder.file("missing").c_str(), destination.c_str()), 0);
  EXPECT_NE(copyFile(folder.path().c_str(), destination.c_str()), 0);
  EXPECT_NE(copyFile(nullptr, destination.c_str()), 0);
  EXPECT_EQ(readBytes(destination), "keep me");
  writeBytes(folder.file("src"), "x");
  EXPECT_NE(copyFile(folder.file("src").c_str(), folder.file("no/such/folder/dst").c_str()), 0);
}

TEST(FileUtilsTest, RemoveFolderRemovesTreeButNotLinkTargets) {
  TestFolder folder;
  const std::string tree = folder.file("Information");
  fs::create_directories(tree + "/sub/deeper");
  writeBytes(tree + "/sub/deeper/file.txt", "x");
  writeBytes(folder.file("outside.txt"), "must survive");
  std::error_code linkError;
  fs::create_symlink(folder.file("outside.txt"), tree + "/link", linkError);
  if (!linkError) fs::create_directory_symlink(folder.path(), tree + "/sub/loop", linkError);
  if (linkError) GTEST_SKIP() << "this system makes no symbolic links here: " << linkError.message();
  EXPECT_EQ(removeFolder(tree.c_str()), 0);
  EXPECT_FALSE(fs::exists(tree));
  EXPECT_EQ(readBytes(folder.file("outside.txt")), "must survive");
  // Removing what is not there is no failure: the folder is gone either way.
  EXPECT_EQ(removeFolder(tree.c_str()), 0);
}

TEST(FileUtilsTest, RemoveFolderRefusesFiles) {
  TestFolder folder;
  writeBytes(folder.file("plain"), "data");
  EXPECT_NE(removeFolder(folder.file("plain").c_str()), 0);
  EXPECT_EQ(readBytes(folder.file("plain")), "data");
  EXPECT_NE(removeFolder(""), 0);
}

TEST(FileUtilsTest, MakeFolderCreatesParentsAndAcceptsExistingFolder) {
  TestFolder folder;
  const std::string nested = folder.file("temp/a b/c");
  EXPECT_EQ(makeFolder(nested.c_str()), 0);
  EXPECT_TRUE(fs::is_directory(nested));
  EXPECT_EQ(makeFolder(nested.c_str()), 0);
  EXPECT_EQ(makeFolder((nested + "/").c_str()), 0);
  writeBytes(folder.file("file"), "x");
  EXPECT_NE(makeFolder(folder.file("file").c_str()), 0);
  EXPECT_NE(makeFolder(folder.file("file/below").c_str()), 0);
}

}  // namespace
