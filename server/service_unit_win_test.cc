// Tests of the Windows service's path helpers: the working folder is the path up to the last
// backslash or slash, a bare name has none, the program path is absolute and names server's own
// test program, and error texts end with the number as the service commands print it.
#include <gtest/gtest.h>

#include <string>

#include "server/service_unit.h"

namespace {

TEST(WinServicePaths, FolderOfTakesEitherSeparator) {
  EXPECT_EQ(folderOf("C:\\Program Files\\Kestrova\\server.exe"), "C:\\Program Files\\Kestrova");
  EXPECT_EQ(folderOf("C:/Kestrova/server.exe"), "C:/Kestrova");
  EXPECT_EQ(folderOf("C:\\Kestrova/bin\\server.exe"), "C:\\Kestrova/bin");
  EXPECT_EQ(folderOf("\\server.exe"), "\\");
  EXPECT_EQ(folderOf("server.exe"), "");
  EXPECT_EQ(folderOf(""), "");
}

TEST(WinServicePaths, ProgramPathAndErrorTexts) {
  const std::string path = programPath();
  ASSERT_GE(path.size(), 3u);
  EXPECT_EQ(path[1], ':') << path;
  EXPECT_NE(path.find("service_unit_win_test.exe"), std::string::npos) << path;
  EXPECT_FALSE(folderOf(path).empty());

  const std::string denied = errorText(5);  // ERROR_ACCESS_DENIED
  ASSERT_GE(denied.size(), 6u);
  EXPECT_EQ(denied.substr(denied.size() - 6), " (0x5)") << denied;
  EXPECT_EQ(denied.find('\n'), std::string::npos);
  const std::string unknown = errorText(0x7FFFFFF0);
  EXPECT_NE(unknown.find("(0x7ffffff0)"), std::string::npos) << unknown;
}

}  // namespace
