// Text forms and request values of pair_access.h, and the configuration bracket's order against
// the fake transport.
#include "modules/brivo/pair_access.h"

#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "common/variable_table.h"
#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/module_state.h"

namespace brivo {
namespace {

TEST(PairAccessText, WwnRoundTripAndRejects) {
  const uint8_t wwn[8] = {0x20, 0x00, 0x00, 0x04, 0xCF, 0x8A, 0x1B, 0x2C};
  EXPECT_EQ(wwnText(wwn), "20000004CF8A1B2C");
  uint8_t back[8] = {};
  ASSERT_TRUE(parseWwn("20000004cf8a1b2c", back));
  EXPECT_EQ(0, memcmp(back, wwn, 8));
  uint8_t untouched[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  for (const char* bad :
       {"", "20000004CF8A1B2", "20000004CF8A1B2C0", "2000000GCF8A1B2C", "2000 004CF8A1B2C"}) {
    EXPECT_FALSE(parseWwn(bad, untouched)) << bad;
  }
  EXPECT_FALSE(parseWwn(nullptr, untouched));
  EXPECT_EQ(untouched[0], 1);
}

TEST(PairAccessText, FieldTextStripsPaddingWithoutTerminator) {
  const char blank[8] = {'S', 'E', 'A', 'G', 'A', 'T', 'E', ' '};
  EXPECT_EQ(fieldText(blank, 8), "SEAGATE");
  const char full[4] = {'R', '3', '0', '1'};
  EXPECT_EQ(fieldText(full, 4), "R301");
  const char nul[6] = {'a', 'b', '\0', 'x', 'y', 'z'};
  EXPECT_EQ(fieldText(nul, 6), "ab");
}

TEST(PairAccessRequest, NumbersFallBackOnMissingOrJunk) {
  VariableTable request = nullptr;
  addVariable(&request, "Good", "42");
  addVariable(&request, "Negative", "-1");
  addVariable(&request, "Missing", "missing");
  addVariable(&request, "Empty", "");
  addVariable(&request, "Junk", "12abc");
  addVariable(&request, "Flag", "TRUE");
  addVariable(&request, "Off", "false");
  EXPECT_EQ(requestNumber(request, "Good", 7), 42);
  EXPECT_EQ(requestNumber(request, "Negative", 7), -1);
  EXPECT_EQ(requestNumber(request, "Missing", 7), 7);
  EXPECT_EQ(requestNumber(request, "Empty", 7), 7);
  EXPECT_EQ(requestNumber(request, "Junk", 7), 7);
  EXPECT_EQ(requestNumber(request, "Absent", 7), 7);
  EXPECT_TRUE(requestFlag(request, "Flag"));
  EXPECT_FALSE(requestFlag(request, "Off"));
  EXPECT_FALSE(requestFlag(request, "Absent"));
  freeVariableTable(&request);
}

TEST(PairAccessBracket, UnknownPairSendsNothingAndStopsAtFirstFailure) {
  PairTarget nowhere = findPair("BrivoNoSuchPair");
  EXPECT_FALSE(nowhere.found());
  int bodyRuns = 0;
  const int result = inConfigChange(nowhere, nullptr, [&] {
    ++bodyRuns;
    return 0;
  });
  EXPECT_EQ(result, kResultBadArguments);
  EXPECT_EQ(bodyRuns, 0);
  EXPECT_FALSE(takeConfigurationChanged());
  markConfigurationChanged();
  EXPECT_TRUE(takeConfigurationChanged());
  EXPECT_FALSE(takeConfigurationChanged());
}

TEST(PairAccessPaths, AReadThatGetsNoAnswerIsSentOnceMoreThroughTheOtherPath) {
  testing::FakeTransportScope fake;
  testing::RunningModule running;
  testing::DeviceList list;
  constexpr char kPair[] = "Brivo20000004CF8A1B2C";
  list.hangItem(list.add("pathA"), kPair);
  list.hangItem(list.add("pathB"), kPair);
  moduleState().deviceList.store(list.head());
  std::vector<uint8_t> header(sizeof(ConfigurationHeader), 0);
  header[0] = 0x5A;
  fake->answer("pathB", testing::bufferResponder(header));  // pathA is dead: no responder

  ConfigurationHeader read{};
  PairTarget pair = findPair(kPair);
  ASSERT_TRUE(pair.found());
  ASSERT_STREQ(pair.device->info->deviceName, "pathA");
  EXPECT_EQ(readConfigHeader(pair, &read), kResultGood);
  EXPECT_EQ(reinterpret_cast<const uint8_t*>(&read)[0], 0x5A);
  ASSERT_EQ(fake->sent().size(), 2u);
  EXPECT_EQ(fake->sent()[0].device, "pathA");
  EXPECT_EQ(fake->sent()[1].device, "pathB");
  EXPECT_STREQ(findPair(kPair).device->info->deviceName, "pathB")
      << "the next request starts on the live path";

  // The other path is tried even when it has failed more often: it failed during a fault it has
  // recovered from since, unused while this path answered.
  stateOf(list.head()->units)->failureCount = 0;
  stateOf(list.head()->next->units)->failureCount = 9;
  fake->clearSent();
  ASSERT_STREQ(findPair(kPair).device->info->deviceName, "pathA");
  EXPECT_EQ(readConfigHeader(findPair(kPair), &read), kResultGood);
  ASSERT_EQ(fake->sent().size(), 2u);
  EXPECT_EQ(fake->sent()[1].device, "pathB");
  EXPECT_EQ(stateOf(list.head()->next->units)->failureCount, 0) << "its answer clears its count";
  EXPECT_STREQ(findPair(kPair).device->info->deviceName, "pathB");

  // Uncounted reads and a pair with no other path get the failure as it is.
  fake->clearSent();
  PairTarget stale = pair;  // still names the dead path
  EXPECT_EQ(readConfigHeader(stale, &read, nullptr, Counting::kDoNotCount), kResultNoAnswer);
  EXPECT_EQ(fake->sent().size(), 1u);
  fake->answer("pathB", [](const ScsiCommand&) { return testing::noAnswer(); });
  fake->clearSent();
  EXPECT_EQ(readConfigHeader(findPair(kPair), &read), kResultNoAnswer);
  EXPECT_EQ(fake->sent().size(), 2u) << "one more try, not a loop between two dead paths";
  moduleState().deviceList.store(nullptr);
}

TEST(PairAccessPaths, TheSecondPathGetsOnlyWhatIsLeftOfTheRequestsLimit) {
  testing::FakeTransportScope fake;
  testing::RunningModule running;
  testing::DeviceList list;
  constexpr char kPair[] = "Brivo20000004CF8A1B2C";
  list.hangItem(list.add("pathA"), kPair);
  list.hangItem(list.add("pathB"), kPair);
  moduleState().deviceList.store(list.head());
  // The first path takes over a second before it gives up, as a path that times out does.
  fake->answer("pathA", [](const ScsiCommand&) {
    std::this_thread::sleep_for(std::chrono::milliseconds(1100));
    return testing::noAnswer();
  });
  fake->answer("pathB", testing::bufferResponder(std::vector<uint8_t>(sizeof(ConfigurationHeader), 0)));
  ConfigurationHeader read{};
  EXPECT_EQ(readConfigHeader(findPair(kPair), &read), kResultGood);
  ASSERT_EQ(fake->sent().size(), 2u);
  EXPECT_EQ(fake->sent()[0].timeoutMs, kCommandTimeoutSeconds * 1000);
  EXPECT_EQ(fake->sent()[1].device, "pathB");
  EXPECT_LT(fake->sent()[1].timeoutMs, kCommandTimeoutSeconds * 1000) << "not a second full limit";
  EXPECT_GE(fake->sent()[1].timeoutMs, 1000u);
  moduleState().deviceList.store(nullptr);
}

TEST(PairAccessReady, TheReadyWaitTriesAtMostFourTimes) {
  testing::FakeTransportScope fake;
  testing::RunningModule running;
  testing::DeviceList list;
  constexpr char kPair[] = "Brivo20000004CF8A1B2C";
  list.hangItem(list.add("path"), kPair);
  moduleState().deviceList.store(list.head());
  setReadyPollSecondsForTesting(0);
  int starts = 0;
  bool answer = false;
  fake->answer("path", [&](const ScsiCommand& c) {
    ++starts;
    return answer ? testing::goodResult(c.dataLength) : testing::checkCondition(c, 2, 4, 0);
  });
  EXPECT_EQ(waitUntilReady(findPair(kPair)), 2) << "the last try's result";
  EXPECT_EQ(starts, 4) << "ten seconds in steps of three: four tries";
  starts = 0;
  EXPECT_EQ(waitUntilReady(findPair(kPair), 6), 2);
  EXPECT_EQ(starts, 2);
  starts = 0;
  EXPECT_EQ(waitUntilReady(findPair(kPair), 600), 2);
  EXPECT_EQ(starts, 4) << "never more than four, whatever the limit";
  answer = true;
  starts = 0;
  EXPECT_EQ(waitUntilReady(findPair(kPair)), kResultGood);
  EXPECT_EQ(starts, 1);
  EXPECT_EQ(fake->sent().back().cdb[2], kOpConfigStart);
  setReadyPollSecondsForTesting(3);
  moduleState().deviceList.store(nullptr);
}

}  // namespace
}  // namespace brivo
