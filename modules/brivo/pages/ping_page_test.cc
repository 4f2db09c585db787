// PingPage against pairs kept in memory: when the browser's page must reload (changed or missing
// event numbers, a lost pair, a pair that disappeared, the configuration-changed flag, a progress
// bar whose job ended) and when it must not (a pair another server monitors), and the progress
// rows it returns.
#include <gtest/gtest.h>

#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using testing::kOtherPair;
using testing::kTestPair;
using testing::requestFor;

class PingPage : public testing::MonitorPageTest {
 protected:
  PingPage() {
    storeField(state_->lastAEventIndex, 41);
    storeField(state_->lastBEventIndex, 17);
  }
  // The keys a page showing the test pair sends back, as that page showed them.
  std::map<std::string, std::string> ping(
      const char* a = "41", const char* b = "17",
      std::initializer_list<std::pair<const char*, const char*>> more = {}) {
    VariableTable request = requestFor(more, nullptr);
    const std::string name = kTestPair;
    if (a != nullptr) addVariable(&request, ("GuiDevice_" + name + "A").c_str(), a);
    if (b != nullptr) addVariable(&request, ("GuiDevice_" + name + "B").c_str(), b);
    addVariable(&request, ("GuiDeviceEnclosure_" + name).c_str(), "0");
    return run(pingPageMethod, request);
  }
};

TEST_F(PingPage, ReloadsOnlyWhenWhatThePageShowedChanged) {
  auto keys = ping();
  EXPECT_EQ(keys.count("UpdatePage"), 0u);
  EXPECT_EQ(keys["SolutionNumber"], "1");
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/main/mainping.htm");
  EXPECT_EQ(keys["PercentLoop"], "0");
  EXPECT_EQ(keys["SnapBackPercentLoop"], "0");
  EXPECT_EQ(ping("40")["UpdatePage"], "true") << "a new A-side event";
  EXPECT_EQ(ping("41", "18")["UpdatePage"], "true") << "a new B-side event";
  EXPECT_EQ(ping(nullptr, nullptr)["UpdatePage"], "true") << "the page did not show the pair";
  EXPECT_EQ(ping("41", "17", {{"GuiDevice_BrivoGONE0000000000000A", "3"}})["UpdatePage"], "true")
      << "the page shows a pair that is gone";
  EXPECT_EQ(ping("41", "17", {{"SolutionNumber", "2"}})["SolutionNumber"], "2");
}

TEST_F(PingPage, LostPairAndConfigurationChangeReloadAndTheFlagIsCleared) {
  storeField(state_->failureCount, 3);
  EXPECT_EQ(ping()["UpdatePage"], "true");
  storeField(state_->failureCount, 0);
  markConfigurationChanged();
  EXPECT_EQ(ping()["UpdatePage"], "true");
  EXPECT_EQ(ping().count("UpdatePage"), 0u) << "the flag is read once";
}

TEST_F(PingPage, PairOfAnotherServerNeverAsksForAReloadByItsEvents) {
  addOtherPair(0x0A000005);
  const std::string other = kOtherPair;
  auto keys = ping("41", "17",
                   {{("GuiDevice_" + other + "A").c_str(), "2147483647"},
                    {("GuiDevice_" + other + "B").c_str(), "2147483647"},
                    {("GuiDeviceEnclosure_" + other).c_str(), "0"}});
  EXPECT_EQ(keys.count("UpdatePage"), 0u);
}

TEST_F(PingPage, ProgressRowsForRunningJobsAndReloadWhenOneEnded) {
  addArray(0, kRaid5, 0, 3);
  addArray(2, kRaid5, 3, 3);
  pair_.info.initValid = kOn;
  pair_.info.initArray = 2;
  pair_.info.initPercent = 12;
  const std::string key = std::string("Percent_") + kTestPair;
  auto keys = ping("41", "17", {{key.c_str(), "2"}});
  EXPECT_EQ(keys.count("UpdatePage"), 0u);
  EXPECT_EQ(keys["PercentLoop"], "1");
  EXPECT_EQ(keys["PercentLoop0ArrayNum"], "2");
  EXPECT_EQ(keys["PercentLoop0ArrayPercent"], "12");

  // The job buffer, when the controller offers it, comes first.
  pair_.info.jobBufferAvailable = kOn;
  jobs.arrays[2] = JobRecord{kOn, 77, kJobInit, 0};
  EXPECT_EQ(ping("41", "17", {{key.c_str(), "2"}})["PercentLoop0ArrayPercent"], "77");

  keys = ping("41", "17", {{key.c_str(), "0"}, {key.c_str(), "2"}});
  EXPECT_EQ(keys["UpdatePage"], "true") << "array 0 shows a bar but runs no job";
  EXPECT_EQ(keys["PercentLoop"], "1");
  EXPECT_EQ(ping("41", "17", {{key.c_str(), "x"}})["UpdatePage"], "true");
}

}  // namespace
}  // namespace brivo
