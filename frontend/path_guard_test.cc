// Tests of the path guard: hostile texts (climbing names, absolute paths, encoded and
// double-encoded dots, NUL and control bytes, backslashes, hidden files, links out of the tree)
// are refused for reply paths, partials and static files, while the tree's own files resolve.
#include "frontend/path_guard.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "common/test_folder.h"

namespace {

namespace fs = std::filesystem;

class PathGuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(folder_.path()) / "prefix";
    for (const char* dir :
         {"www/cgi-bin", "www/Server/html", "www/images", "html/Brivo/main", "db", "temp"}) {
      fs::create_directories(root_ / dir);
    }
    writeBytes((root_ / "www/Server/html/results.html").string(), "page");
    writeBytes((root_ / "html/Brivo/main/qcli.htm").string(), "qcli");
    writeBytes((root_ / "www/images/tab.gif").string(), "GIF89a");
    writeBytes((root_ / "www/cgi-bin/cgiloader").string(), "program");
    writeBytes((root_ / "db/ServerLog.log").string(), "log");
    writeBytes((root_ / "db/password.web").string(), "admin:x");
    writeBytes((fs::path(folder_.path()) / "secret.txt").string(), "outside");
    // Links: one to a file outside, one to a folder outside, one inside the tree.
    fs::create_symlink(fs::path(folder_.path()) / "secret.txt", root_ / "www/images/out.gif");
    fs::create_symlink(fs::path(folder_.path()), root_ / "www/escape");
    fs::create_symlink(root_ / "www/images/tab.gif", root_ / "www/images/alias.gif");
  }

  TestFolder folder_;
  fs::path root_;
};

TEST_F(PathGuardTest, ResolvesTheTreesOwnFiles) {
  PathGuard guard(root_);
  ASSERT_TRUE(guard.valid());
  fs::path out;
  ASSERT_TRUE(guard.resolveReplyPath("../Server/html/results.html", PathArea::kTemplates, &out));
  EXPECT_EQ(out, fs::canonical(root_ / "www/Server/html/results.html"));
  ASSERT_TRUE(guard.resolveReplyPath("../../html/Brivo/main/qcli.htm", PathArea::kTemplates, &out));
  EXPECT_EQ(out, fs::canonical(root_ / "html/Brivo/main/qcli.htm"));
  ASSERT_TRUE(guard.resolveReplyPath("../../db/ServerLog.log", PathArea::kExports, &out));
  EXPECT_EQ(out, fs::canonical(root_ / "db/ServerLog.log"));
  ASSERT_TRUE(guard.resolveStatic("/images/tab.gif", &out));
  ASSERT_TRUE(guard.resolveStatic("/images/alias.gif", &out));  // a link that stays inside
  EXPECT_EQ(out, fs::canonical(root_ / "www/images/tab.gif"));
  ASSERT_TRUE(guard.resolveStatic("/Brivo/main/qcli.htm", &out));  // falls back to html/
  ASSERT_TRUE(guard.resolveBeside(root_ / "www/Server/html/results.html", "../../images/tab.gif", &out));
}

TEST_F(PathGuardTest, RefusesHostileReplyPaths) {
  PathGuard guard(root_);
  const std::vector<std::string> hostile = {
      "../../../secret.txt",                                 // climbs out
      "../../../../../../../../etc/passwd",                  // far out
      "/etc/passwd",                                         // absolute
      "../escape/secret.txt",                                // through a link to a folder outside
      "../images/out.gif",                                   // a link to a file outside
      "%2e%2e/%2e%2e/%2e%2e/secret.txt",                     // encoded dots
      "%252e%252e/%252e%252e/secret.txt",                    // double-encoded dots
      "..%2f..%2f..%2fsecret.txt",                           // encoded slashes
      std::string("../Server/html/results.html\0.gif", 33),  // NUL inside
      "..\\..\\..\\secret.txt",                              // backslashes
      "../Server/html/results.html\n",                       // line break
      "../Server/html/\x01results.html",                     // control byte
      "",                                                    // nothing
      std::string(2000, 'a'),                                // far too long
      "../../db/password.web",                               // inside, but never a page
      "../cgi-bin/../../../secret.txt",                      // climbs after a detour
      "../Server/html",                                      // a folder, not a file
      "../Server/html/missing.html",                         // does not exist
  };
  fs::path out;
  for (const std::string& path : hostile) {
    EXPECT_FALSE(guard.resolveReplyPath(path, PathArea::kTemplates, &out)) << path;
    EXPECT_FALSE(guard.resolveReplyPath(path, PathArea::kExports, &out)) << path;
  }
  // Templates only come from the web folders; exports never include the password file.
  EXPECT_FALSE(guard.resolveReplyPath("../../db/ServerLog.log", PathArea::kTemplates, &out));
  EXPECT_FALSE(guard.resolveReplyPath("../../db/password.web", PathArea::kExports, &out));
  EXPECT_FALSE(
      guard.resolveBeside(root_ / "www/Server/html/results.html", "../../../db/ServerLog.log", &out));
  EXPECT_FALSE(guard.resolveBeside(root_ / "www/Server/html/results.html", "/etc/passwd", &out));
}

TEST_F(PathGuardTest, RefusesHostileStaticPaths) {
  PathGuard guard(root_);
  const std::vector<std::string> hostile = {
      "/../secret.txt",
      "/images/../../secret.txt",
      "/images/../../../etc/passwd",
      "/escape/secret.txt",  // link to a folder outside
      "/images/out.gif",     // link to a file outside
      "/%2e%2e/secret.txt",  // a "%" left after one decoding
      "/images/%2e%2e/tab.gif",
      "/..%2fsecret.txt",
      std::string("/images/tab.gif\0.png", 20),
      "/images\\..\\..\\secret.txt",
      "/images/\xc0\xae\xc0\xae/tab.gif",  // overlong UTF-8 dots
      "//etc/passwd",
      "/images//tab.gif",
      "/./images/tab.gif",
      "/images/.hidden",
      "/cgi-bin/cgiloader",  // the program is not a file to fetch
      "images/tab.gif",      // not from the top
      "/",
      "/images/",
      "/../db/password.web",
      "/db/password.web",  // db/ is not served
  };
  fs::path out;
  for (const std::string& path : hostile) EXPECT_FALSE(guard.resolveStatic(path, &out)) << path;
}

// A remembered resolution must never outlive the link or folder it went through.
TEST_F(PathGuardTest, RemembersAResolutionOnlyWhileThePathReachesTheSameFile) {
  PathGuard guard(root_);
  fs::path out;
  writeBytes((root_ / "www/images/other.gif").string(), "GIF89a-other");
  ASSERT_TRUE(guard.resolveStatic("/images/alias.gif", &out));
  ASSERT_TRUE(guard.resolveStatic("/images/alias.gif", &out));  // now from memory
  EXPECT_EQ(out, fs::canonical(root_ / "www/images/tab.gif"));

  // The link now leads out of the tree: refused, although the same text resolved a moment ago.
  fs::remove(root_ / "www/images/alias.gif");
  fs::create_symlink(fs::path(folder_.path()) / "secret.txt", root_ / "www/images/alias.gif");
  EXPECT_FALSE(guard.resolveStatic("/images/alias.gif", &out));

  // Then to another file inside: that file, not the remembered one.
  fs::remove(root_ / "www/images/alias.gif");
  fs::create_symlink(root_ / "www/images/other.gif", root_ / "www/images/alias.gif");
  ASSERT_TRUE(guard.resolveStatic("/images/alias.gif", &out));
  EXPECT_EQ(out, fs::canonical(root_ / "www/images/other.gif"));

  // A folder on the way replaced by a link out of the tree that holds a file of the same name.
  ASSERT_TRUE(guard.resolveReplyPath("../Server/html/results.html", PathArea::kTemplates, &out));
  fs::rename(root_ / "www/Server", root_ / "www/Server.old");
  fs::create_directories(fs::path(folder_.path()) / "outside/html");
  writeBytes((fs::path(folder_.path()) / "outside/html/results.html").string(), "forged");
  fs::create_symlink(fs::path(folder_.path()) / "outside", root_ / "www/Server");
  EXPECT_FALSE(guard.resolveReplyPath("../Server/html/results.html", PathArea::kTemplates, &out));

  // A file removed is not found from memory either.
  ASSERT_TRUE(guard.resolveStatic("/images/tab.gif", &out));
  fs::remove(root_ / "www/images/tab.gif");
  EXPECT_FALSE(guard.resolveStatic("/images/tab.gif", &out));
}

TEST_F(PathGuardTest, UploadFolderMustBeARealFolderInsideTheTree) {
  {
    PathGuard guard(root_);
    fs::path out;
    ASSERT_TRUE(guard.uploadFolder(&out));
    EXPECT_EQ(out, fs::canonical(root_ / "temp"));
  }
  fs::remove(root_ / "temp");
  fs::create_symlink(fs::path(folder_.path()), root_ / "temp");
  PathGuard guard(root_);
  fs::path out;
  EXPECT_FALSE(guard.uploadFolder(&out));
  EXPECT_FALSE(PathGuard(root_ / "missing").valid());
}

}  // namespace
