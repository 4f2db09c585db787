// The host's system text of "server display" on Windows: "Windows variant <major>.<minor>" from
// the kernel's own numbers, whatever an os-release file beside the program says.
#include <gtest/gtest.h>

#include <regex>
#include <string>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_server.h"
#include "modules/brivo/cli/host_system.h"

namespace brivo {
namespace {

TEST(CliServerText, OsVersionIsTheWindowsVariant) {
  testing::ModuleFolder folder;
  const std::string text = cli::hostSystemText();
  EXPECT_TRUE(std::regex_match(text, std::regex("Windows variant [0-9]+\\.[0-9]+"))) << text;
  // Wine claims a Windows of at least Vista's numbers (6.0); nothing older runs the service.
  EXPECT_GE(std::stoi(text.substr(std::string("Windows variant ").size())), 6) << text;
  folder.write("pretty", "PRETTY_NAME=\"Debian GNU/Linux 12 (bookworm)\"\n");
  EXPECT_EQ(cli::osVersionText("pretty"), text);
  EXPECT_EQ(cli::osVersionText(), text);
}

}  // namespace
}  // namespace brivo
