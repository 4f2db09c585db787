// The host's system text of "server display" on POSIX: the kernel's name and release from uname,
// and the distribution from the os-release file.
#include <gtest/gtest.h>
#include <sys/utsname.h>

#include <string>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_server.h"
#include "modules/brivo/cli/host_system.h"

namespace brivo {
namespace {

TEST(CliServerText, OsVersionReadsTheDistributionName) {
  testing::ModuleFolder folder;
  struct utsname host;
  ASSERT_EQ(uname(&host), 0);
  const std::string kernel = std::string(host.sysname) + " " + host.release;
  EXPECT_EQ(cli::hostSystemText(), kernel);
  EXPECT_EQ(cli::osVersionText().rfind(kernel, 0), 0u);
  EXPECT_EQ(cli::osVersionText().find("Windows"), std::string::npos);
  folder.write("pretty",
               "NAME=\"Debian GNU/Linux\"\nPRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\nID=debian\n");
  EXPECT_EQ(cli::osVersionText("pretty"), kernel + " (Debian GNU/Linux 12 (bookworm))");
  folder.write("plain", "ID=alpine\nNAME=Alpine Linux\n");
  EXPECT_EQ(cli::osVersionText("plain"), kernel + " (Alpine Linux)");
  EXPECT_EQ(cli::osVersionText("absent"), kernel);
}

}  // namespace
}  // namespace brivo
