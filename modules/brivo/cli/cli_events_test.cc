// The events handlers: rows decoded from both logs in merged order and listed newest first, the
// -status and -last narrowing, wrapped messages, logs read without touching the monitor's
// bookmarks, and clearing with the controller selector.
#include <gtest/gtest.h>

#include <string>

#include "modules/brivo/cli/cli_event_rows.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_pair_test_support.h"
#include "modules/brivo/events/event_test_support.h"

namespace brivo::cli {
namespace {

using events::testing::entryOf;
using events::testing::timeOf;

std::unique_ptr<EventLog> logOf(std::vector<EventEntry> entries) {
  auto log = std::make_unique<EventLog>();
  log->length = static_cast<uint32_t>(16 + 24 * entries.size());
  log->time = timeOf(2024, 3, 1, 12, 0, 0);
  log->count = static_cast<uint16_t>(entries.size());
  log->newest = static_cast<uint16_t>(entries.size() + 100);
  std::copy(entries.begin(), entries.end(), log->entries);
  return log;
}

events::testing::FakeTexts texts() {
  events::testing::FakeTexts t;
  t.events = {{"BrivoEvent_04", "Array %d was deleted."},
              {"BrivoEvent_12", "Initialization of array %d started."}};
  t.severities = {{"0x04", "1"}, {"0x12", "0"}};
  return t;
}

TEST(EventRows, MergedInTimeOrderNewestFirstWithoutInternalEntries) {
  auto a = logOf({entryOf(timeOf(2024, 3, 1, 10, 0, 0), 0x04, {1}),
                  entryOf(timeOf(2024, 3, 1, 10, 0, 5), 0x02, {}, kClassInternal),
                  entryOf(timeOf(2024, 3, 1, 10, 0, 9), 0x12, {3})});
  auto b = logOf({entryOf(timeOf(2024, 3, 1, 10, 0, 0), 0x12, {2})});
  const EventLog* const logs[2] = {a.get(), b.get()};
  const events::testing::FakeTexts t = texts();
  std::vector<EventRow> rows = eventRows(t, {}, logs, EventFilter{});
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].text, "Initialization of array 3 started.");
  EXPECT_EQ(rows[0].number, 3);
  EXPECT_EQ(rows[2].side, 1) << "equal times put B first, so it is the oldest";
  EXPECT_EQ(rows[1].severity, 1u);

  rows = eventRows(t, {}, logs, EventFilter{1, 0});
  ASSERT_EQ(rows.size(), 1u);
  EXPECT_EQ(rows[0].text, "Array 1 was deleted.");
  rows = eventRows(t, {}, logs, EventFilter{-1, 2});
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[1].text, "Array 1 was deleted.") << "the two newest";
}

TEST(EventRows, LongMessagesWrapUnderTheMessageColumn) {
  testing::CapturedContext captured;
  EventRow row;
  row.number = 7;
  row.time = timeOf(2024, 3, 1, 10, 0, 0);
  row.severity = 2;
  row.text = std::string(30, 'a') + " " + std::string(30, 'b');
  writeEventTable(captured.ctx, {row});
  const std::vector<std::string> lines = captured.lines();
  ASSERT_EQ(lines.size(), 4u) << captured.text();
  EXPECT_EQ(lines[2], "    7 03/01/24 10:00:00    0 Error   " + std::string(30, 'a') + "\n");
  EXPECT_EQ(lines[3], std::string(37, ' ') + std::string(30, 'b') + "\n");
}

TEST(EventRows, FilterValues) {
  testing::CapturedContext captured;
  EventFilter filter;
  captured.ctx.modifiers = {{kModStatus, "Warning"}, {kModLast, "5"}};
  ASSERT_TRUE(parseEventFilter(captured.ctx, &filter));
  EXPECT_EQ(filter.severity, 1);
  EXPECT_EQ(filter.last, 5);
  captured.ctx.modifiers = {{kModStatus, "fatal"}};
  EXPECT_FALSE(parseEventFilter(captured.ctx, &filter));
  captured.ctx.modifiers = {{kModLast, "0"}};
  EXPECT_FALSE(parseEventFilter(captured.ctx, &filter));
  EXPECT_EQ(
      captured.text(),
      "Error: Parsing status value. Use info, warning or error.\nError: Parsing last count. Out of range.\n");
}

class EventsCommands : public testing::PairTest {};

TEST_F(EventsCommands, DisplayReadsTheOnlineControllersLogsOnly) {
  auto a = logOf({entryOf(timeOf(2024, 3, 1, 10, 0, 0), 0x04, {1})});
  serveStruct(kOpReadEventLogA, *a);
  ctx().info->stateB = kOff;
  ctx().pair.state->lastAEventIndex = 17;
  ASSERT_EQ(eventsDisplay(ctx()), 0) << text();
  EXPECT_NE(text().find("Controller 1 is not available; its events cannot be read.\n"), std::string::npos);
  EXPECT_NE(text().find("--- Event Total=1 ---\n"), std::string::npos) << text();
  EXPECT_NE(text().find("    1 03/01/24 10:00:00    0 "), std::string::npos) << text();
  EXPECT_EQ(ctx().pair.state->lastAEventIndex, 17) << "the monitor's bookmark stays";

  auto bad = logOf({entryOf(timeOf(2007, 2, 29, 10, 0, 0), 0x04, {1})});
  bad->time = timeOf(2007, 2, 29, 0, 0, 0);
  serveStruct(kOpReadEventLogA, *bad);
  testing::CapturedContext second;
  second.ctx.pair = ctx().pair;
  second.ctx.info = std::make_unique<ControllerInformation>(*ctx().info);
  EXPECT_EQ(eventsDisplay(second.ctx), 1);
  EXPECT_EQ(second.text(),
            "Error: The events of controller 0 are in an unknown format.\n"
            "Controller 1 is not available; its events cannot be read.\n");
}

TEST_F(EventsCommands, DeleteClearsTheChosenLogs) {
  modifiers({{kModControllerId, "0"}, {kModConfirm, "."}});
  ASSERT_EQ(eventsDelete(ctx()), 0);
  ASSERT_EQ(writeIds(), std::vector<uint8_t>{kOpClearEventLog});
  EXPECT_EQ(writes()[0].p3, kSelectA);
  EXPECT_EQ(text(), "Events deleted.\n");
  refuse(kOpClearEventLog, 2, 4, 1);
  modifiers({});
  EXPECT_EQ(eventsDelete(ctx()), 1);
  EXPECT_EQ(writes()[1].p3, kSelectBoth);
  EXPECT_NE(text().find("Error: Cannot delete Events. Status: 2 Sense: 2/04/01\n"), std::string::npos);
}

}  // namespace
}  // namespace brivo::cli
