// Reset, shutdown and time against a pair kept in memory: the selector texts, the reset poll,
// the graceful-shutdown setting and the time block.
#include <gtest/gtest.h>

#include <ctime>

#include "modules/brivo/controller_clock.h"
#include "modules/brivo/controller_time.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class ControllerActionsTest : public testing::PageTest {};

TEST_F(ControllerActionsTest, ResetAcceptsBothInAnyCaseShutdownOnlyExactly) {
  auto reset = run(resetControllerMethod, requestFor({{"ControllerId", "both"}}));
  EXPECT_EQ(reset["ControllerString"], "Both controllers");
  EXPECT_EQ(reset["ControllerId"], "both");
  EXPECT_EQ(reset["HTMLPath"], "../../html/Brivo/controller/controller_reset.html");
  EXPECT_EQ(reset["MessageIsSuccess"], "true");
  run(shutdownControllerMethod, requestFor({{"ControllerId", "both"}}));
  run(shutdownControllerMethod, requestFor({{"ControllerId", "Both"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xC3, 0xC4, 0xC4})) << "no bracket, no ready wait";
  EXPECT_EQ(ops[0].cdb[3], 3);
  EXPECT_EQ(ops[1].cdb[3], 0) << "the number of the text \"both\"";
  EXPECT_EQ(ops[2].cdb[3], 3);
  EXPECT_EQ(ops[2].cdb[4], 1) << "graceful without the setting";

  fake_->clearSent();
  auto none = run(resetControllerMethod, requestFor({}));
  EXPECT_EQ(none["ControllerString"], "Controller(s)");
  EXPECT_EQ(none["MessageIsSuccess"], "false");
  auto shutdown = run(shutdownControllerMethod, requestFor({}));
  EXPECT_EQ(shutdown["MessageIsSuccess"], "false");
  EXPECT_TRUE(writes().empty());
}

TEST_F(ControllerActionsTest, GracefulShutdownFollowsTheSetting) {
  moduleState().files.setValue(PropertyTable::kSettings, "GracefulControllerShutdown", "no");
  run(shutdownControllerMethod, requestFor({{"ControllerId", "2"}}));
  moduleState().files.setValue(PropertyTable::kSettings, "GracefulControllerShutdown", "1");
  run(shutdownControllerMethod, requestFor({{"ControllerId", "1"}}));
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 2u);
  EXPECT_EQ(ops[0].cdb[3], 2);
  EXPECT_EQ(ops[0].cdb[4], 0);
  EXPECT_EQ(ops[1].cdb[4], 1);
}

TEST_F(ControllerActionsTest, ResetPollWaitsForTheSelectedController) {
  pair_.info.stateB = kOff;
  auto b = run(resetControllerMethod, requestFor({{"ControllerId", "2"}, {"Waiting", "true"}}));
  EXPECT_EQ(b["DoneWaiting"], "false");
  EXPECT_EQ(b.count("MessageSummary"), 0u);
  auto a = run(resetControllerMethod, requestFor({{"ControllerId", "1"}, {"Waiting", "true"}}));
  EXPECT_EQ(a["DoneWaiting"], "true");
  auto both = run(resetControllerMethod, requestFor({{"ControllerId", "Both"}, {"Waiting", "true"}}));
  EXPECT_EQ(both["DoneWaiting"], "true");
  pair_.refusedReads.insert(kOpReadControllerInfo);
  auto down = run(resetControllerMethod, requestFor({{"ControllerId", "Both"}, {"Waiting", "true"}}));
  EXPECT_EQ(down["DoneWaiting"], "false");
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(loadField(state_->failureCount), 0) << "polls of a resetting controller are not lost contact";
}

TEST_F(ControllerActionsTest, TimeBlockAndSelector) {
  auto reply = run(setControllerTimeMethod, requestFor({{"which", "2"},
                                                        {"Year", "2024"},
                                                        {"Month", "2"},
                                                        {"Day", "29"},
                                                        {"WeekDay", "4"},
                                                        {"Hour", "23"},
                                                        {"Minute", "59"},
                                                        {"Second", "58"}}));
  run(setControllerTimeMethod, requestFor({{"Year", "2024"}}));
  run(setControllerTimeMethod, requestFor({{"which", "7"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xC5, 0xC5, 0xC5}));
  EXPECT_EQ(ops[0].cdb[3], 2);
  EventTime time{};
  ASSERT_EQ(ops[0].block.size(), sizeof(time));
  std::memcpy(&time, ops[0].block.data(), sizeof(time));
  EXPECT_EQ(time.year, 2024);
  EXPECT_EQ(time.month, 2);
  EXPECT_EQ(time.day, 29);
  EXPECT_EQ(time.weekday, 4);
  EXPECT_EQ(time.hour, 23);
  EXPECT_EQ(time.minute, 59);
  EXPECT_EQ(time.second, 58);
  EXPECT_EQ(ops[1].cdb[3], 3);
  EXPECT_EQ(ops[2].cdb[3], 3);
  EXPECT_EQ(reply["MessageSummary"], "The command \"Set controller time\" completed successfully.");
  EXPECT_FALSE(reply["HTMLPath"].empty());
}

// The page's two ways beside the numeric fields: the host's clock now, and a chosen date and
// time, which must be a real one before anything is sent.
TEST_F(ControllerActionsTest, TimeFromTheHostOrAChosenDateAndTime) {
  const EventTime before = hostClock();
  run(setControllerTimeMethod, requestFor({{"TimeSource", "host"}, {"which", "1"}}));
  run(setControllerTimeMethod,
      requestFor({{"TimeSource", "chosen"}, {"ChosenDate", "2031-07-04"}, {"ChosenTime", "08:09"}}));
  auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xC5, 0xC5}));
  EXPECT_EQ(ops[0].cdb[3], 1);
  EventTime host{};
  std::memcpy(&host, ops[0].block.data(), sizeof(host));
  EXPECT_EQ(host.year, before.year);
  EXPECT_EQ(host.month, before.month);
  EXPECT_EQ(host.weekday < 7, true);
  EventTime chosen{};
  std::memcpy(&chosen, ops[1].block.data(), sizeof(chosen));
  EXPECT_EQ(chosen.year, 2031);
  EXPECT_EQ(chosen.month, 7);
  EXPECT_EQ(chosen.day, 4);
  EXPECT_EQ(chosen.weekday, 5) << "4 July 2031 is a Friday";
  EXPECT_EQ(chosen.hour, 8);
  EXPECT_EQ(chosen.minute, 9);
  EXPECT_EQ(chosen.second, 0);
  EXPECT_EQ(ops[1].cdb[3], 3);
  fake_->clearSent();
  for (auto fields : std::vector<std::pair<const char*, const char*>>{{"2031-02-29", "08:00:00"},
                                                                      {"2031-13-01", "08:00"},
                                                                      {"1999-12-31", "23:59"},
                                                                      {"2031-01-01", "24:00"},
                                                                      {"2031-1-1", "08:00"},
                                                                      {"31-01-01", "08:00"},
                                                                      {"2031-01-01", "8:00"},
                                                                      {"2031-01-01", "08:00:60"},
                                                                      {"", ""},
                                                                      {"2031-01-01T08:00", "08:00"}}) {
    auto reply = run(
        setControllerTimeMethod,
        requestFor({{"TimeSource", "chosen"}, {"ChosenDate", fields.first}, {"ChosenTime", fields.second}}));
    EXPECT_EQ(reply["MessageIsSuccess"], "false") << fields.first << " " << fields.second;
  }
  auto missing = run(setControllerTimeMethod, requestFor({{"TimeSource", "chosen"}}));
  EXPECT_EQ(missing["MessageIsSuccess"], "false");
  EXPECT_TRUE(writes().empty()) << "a time that is no real date and time is never sent";
}

TEST_F(ControllerActionsTest, ThePageShowsBothClocksBesideTheHosts) {
  // Controller A's clock ten minutes ahead of the host's.
  const time_t ahead = std::time(nullptr) + 600;
  std::tm local{};
  localtime_r(&ahead, &local);
  const EventTime clock = controllerTimeOf(local);
  pair_.info.controllers[0].clock = clock;
  pair_.info.controllers[1].clock = EventTime{};
  auto keys = run(getControllerInformationMethod, requestFor({}));
  EXPECT_FALSE(keys["HostClock"].empty());
  EXPECT_EQ(keys["HostDate"].size(), 10u);
  EXPECT_EQ(keys["HostTime"].size(), 8u);
  EXPECT_NE(keys["ControllerLoop0Clock"].find(std::to_string(clock.year)), std::string::npos);
  const std::string offset = keys["ControllerLoop0ClockOffset"];
  EXPECT_TRUE(offset == "600 s ahead of the host" || offset == "599 s ahead of the host") << offset;
  EXPECT_EQ(keys["ControllerLoop0ClockOffsetClass"], "warn") << "minutes off";
  EXPECT_EQ(keys["ControllerLoop1Clock"], "not set");
  EXPECT_EQ(keys["ControllerLoop1ClockOffsetClass"], "warn");
}

}  // namespace
}  // namespace brivo
