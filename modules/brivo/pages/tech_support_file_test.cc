// The module's part of the tech-support archive with pairs present: after the monitor page, the
// controller page of every solution, numbered from the last down to the first, each request
// followed by its reply, then the main page.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "modules/brivo/module_lifecycle.h"
#include "modules/brivo/pages/monitor_test_support.h"

namespace brivo {
namespace {

class TechSupportFile : public testing::MonitorPageTest {
 protected:
  // The file's tables, each as its lines without the end marker.
  std::vector<std::vector<std::string>> tables() {
    std::ifstream in(std::string(kArchiveFolder) + "/brivo.parameters");
    std::vector<std::vector<std::string>> result(1);
    std::string line;
    while (std::getline(in, line)) {
      if (line == kEndOfHashtableMarker) {
        result.emplace_back();
      } else {
        result.back().push_back(line);
      }
    }
    result.pop_back();  // what follows the last marker
    return result;
  }
  static bool has(const std::vector<std::string>& table, const std::string& line) {
    for (const std::string& l : table) {
      if (l == line) return true;
    }
    return false;
  }
  static std::string joined(const std::vector<std::string>& table) {
    std::ostringstream out;
    for (const std::string& l : table) out << l << '\n';
    return out.str();
  }
};

TEST_F(TechSupportFile, EverySolutionsControllerPageFromTheLastToTheFirst) {
  addOtherPair(0x0A000002);
  TableOwner serverPairs;
  addVariable(serverPairs.address(), "CalledModule", "Brivo");
  EXPECT_EQ(gatherModuleInformation(serverPairs.get()), 0);
  EXPECT_FALSE(moduleState().gate.busy());

  const std::vector<std::vector<std::string>> t = tables();
  // Monitor request and reply, two controller pages, main page request and reply.
  ASSERT_EQ(t.size(), 8u) << "tables in the file";
  EXPECT_TRUE(has(t[0], "method = GetMonitor"));
  EXPECT_TRUE(has(t[1], "SolutionLoop = 2")) << joined(t[1]);
  EXPECT_TRUE(has(t[1], "CalledModule = Brivo")) << "the server's pairs join the monitor reply";

  EXPECT_TRUE(has(t[2], "method = GetControllerInformation"));
  EXPECT_TRUE(has(t[2], "StorageSolution = 2")) << joined(t[2]);
  EXPECT_TRUE(has(t[3], std::string("ModDeviceName = ") + testing::kOtherPair)) << joined(t[3]);
  EXPECT_TRUE(has(t[3], "ConfigurationWwn = 5000000000000001")) << joined(t[3]);
  EXPECT_TRUE(has(t[3], "HTMLPath = ../../html/Brivo/controller/controller_info.html")) << joined(t[3]);

  EXPECT_TRUE(has(t[4], "StorageSolution = 1")) << joined(t[4]);
  EXPECT_TRUE(has(t[5], std::string("ModDeviceName = ") + testing::kTestPair)) << joined(t[5]);
  EXPECT_TRUE(has(t[5], "ConfigurationWwn = 20000004CF8A1B2C")) << joined(t[5]);
  EXPECT_TRUE(has(t[5], "ControllerLoop = 2")) << joined(t[5]);

  EXPECT_TRUE(has(t[6], "method = GetMainPage"));
  EXPECT_TRUE(has(t[7], "HTMLPath = ../../html/Brivo/main/mainframe.htm")) << joined(t[7]);
}

TEST_F(TechSupportFile, NoArchiveFolderWritesNothingAndLeavesTheGateOpen) {
  std::filesystem::remove_all(kArchiveFolder);
  ::testing::internal::CaptureStdout();
  EXPECT_EQ(gatherModuleInformation(nullptr), 0);
  const std::string output = ::testing::internal::GetCapturedStdout();
  EXPECT_NE(output.find("Brivo could not create Information/brivo.parameters"), std::string::npos) << output;
  EXPECT_FALSE(std::filesystem::exists(kArchiveFolder));
  EXPECT_FALSE(moduleState().gate.busy()) << "a later request would wait forever";
}

}  // namespace
}  // namespace brivo
