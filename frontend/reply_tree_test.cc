// Tests of the template contract: a reply table becomes texts, lists (by the table's naming
// convention, nested too) with counts and indexes, false texts that render no section; the JSON
// form shows the same lists as arrays; pages render with escaping, raw output and partials.
#include "frontend/reply_tree.h"

#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "common/test_folder.h"
#include "frontend/page_template.h"
#include "frontend/path_guard.h"
#include "frontend/reply_json.h"

namespace {

namespace fs = std::filesystem;

TableOwner tableOf(const std::vector<std::pair<std::string, std::string>>& pairs) {
  TableOwner table;
  for (const auto& [key, value] : pairs) addVariable(table.address(), key.c_str(), value.c_str());
  return table;
}

TEST(ReplyTree, NewestEntryOfADuplicatedKeyWins) {
  TableOwner table = tableOf({{"Name", "old"}, {"Name", "new"}, {"Other", "x"}});
  const FlatReply flat = flattenReply(table.get());
  EXPECT_EQ(flat.at("Name"), "new");
  EXPECT_EQ(flat.size(), 2u);
}

TEST(ReplyTree, CountsWithRowKeysBecomeListsNestedToo) {
  const FlatReply flat = {{"ServerLoop", "2"},
                          {"ServerLoop0Ip", "10.0.0.1"},
                          {"ServerLoop1Ip", "10.0.0.2"},
                          {"ServerLoop1Name", "b"},
                          {"RescanLoop", "1"},
                          {"RescanLoop0Name", "bus0"},
                          {"RescanLoop0ScsiDevices", "2"},
                          {"RescanLoop0ScsiDevices0Vendor", "SEAGATE"},
                          {"RescanLoop0ScsiDevices1Vendor", "HGST"},
                          {"Rows", "12"},
                          {"Rows11x", "last"},
                          {"Rows1x", "second"},
                          {"LastEvent", "5"},
                          {"LogEntries", "0"},
                          {"Module", "1"},
                          {"Module0ModuleName", "Brivo"},
                          {"Module01Bad", "leading zero"},
                          {"ServerLoop5Ip", "beyond the count"}};
  const ReplyNode tree = buildReplyTree(flat);
  ASSERT_EQ(tree.lists.count("ServerLoop"), 1u);
  const auto& servers = tree.lists.at("ServerLoop");
  ASSERT_EQ(servers.size(), 2u);
  EXPECT_EQ(servers[1].scalars.at("Ip"), "10.0.0.2");
  EXPECT_EQ(servers[1].scalars.at("Name"), "b");
  EXPECT_EQ(servers[0].scalars.count("Name"), 0u);
  const auto& devices = tree.lists.at("RescanLoop")[0].lists.at("ScsiDevices");
  ASSERT_EQ(devices.size(), 2u);
  EXPECT_EQ(devices[1].scalars.at("Vendor"), "HGST");
  // Row 1 and row 11 are told apart; rows without keys stay empty.
  const auto& rows = tree.lists.at("Rows");
  ASSERT_EQ(rows.size(), 12u);
  EXPECT_EQ(rows[1].scalars.at("x"), "second");
  EXPECT_EQ(rows[11].scalars.at("x"), "last");
  EXPECT_TRUE(rows[5].scalars.empty());
  // No rows: a plain number. Zero rows: no list either.
  EXPECT_EQ(tree.lists.count("LastEvent"), 0u);
  EXPECT_EQ(tree.lists.count("LogEntries"), 0u);
  EXPECT_EQ(tree.lists.at("Module").size(), 1u);
  EXPECT_EQ(tree.lists.at("Module")[0].scalars.count("1Bad"), 0u);
  EXPECT_TRUE(tree.rowKeys.count("ServerLoop1Ip"));
  EXPECT_FALSE(tree.rowKeys.count("ServerLoop5Ip"));  // row 5 of a list of 2
  EXPECT_FALSE(tree.rowKeys.count("Module01Bad"));
  EXPECT_EQ(tree.scalars.at("ServerLoop0Ip"), "10.0.0.1");  // flat keys stay
}

TEST(ReplyTree, HugeCountsAreCappedNotAllocated) {
  const ReplyNode tree = buildReplyTree({{"L", "999999999"}, {"L0a", "x"}});
  EXPECT_EQ(tree.lists.at("L").size(), kMaxListRows);
}

TEST(ReplyJson, ListsAreArraysAndRowKeysLeaveTheTopLevel) {
  const ReplyNode tree = buildReplyTree({{"L", "2"},
                                         {"L0a", "x"},
                                         {"L1a", "y"},
                                         {"L0In", "1"},
                                         {"L0In0v", "deep"},
                                         {"Plain", "text \xff bytes"},
                                         {"HTMLPath", "../x.htm"}});
  const nlohmann::json json = nlohmann::json::parse(replyJsonText(tree));
  EXPECT_EQ(json["L"].size(), 2u);
  EXPECT_EQ(json["L"][1]["a"], "y");
  EXPECT_EQ(json["L"][0]["In"][0]["v"], "deep");
  EXPECT_EQ(json["L_count"], "2");
  EXPECT_FALSE(json.contains("L0a"));
  EXPECT_FALSE(json.contains("L0In"));
  EXPECT_EQ(json["HTMLPath"], "../x.htm");
  EXPECT_EQ(json["Plain"], "text \xef\xbf\xbd bytes");  // not UTF-8: replaced, not thrown
}

class PageTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::path(folder_.path());
    fs::create_directories(root_ / "www/Server/html");
    fs::create_directories(root_ / "db");
  }
  // Renders template text with the flat reply.
  std::string render(const std::string& text, const FlatReply& flat, bool expectOk = true) {
    writeBytes((root_ / "www/Server/html/page.htm").string(), text);
    PathGuard guard(root_);
    std::string html, error;
    const bool ok = renderPage(guard, fs::canonical(root_ / "www/Server/html/page.htm"), buildReplyTree(flat),
                               &html, &error);
    EXPECT_EQ(ok, expectOk) << error;
    return ok ? html : error;
  }
  TestFolder folder_;
  fs::path root_;
};

TEST_F(PageTest, ScalarsAreEscapedUnlessRaw) {
  EXPECT_EQ(render("{{V}}|{{{V}}}", {{"V", "<a href=\"x\">'&'</a>"}}),
            "&lt;a href=&quot;x&quot;&gt;&apos;&amp;&apos;&lt;/a&gt;|<a href=\"x\">'&'</a>");
}

TEST_F(PageTest, ListsNestedListsCountsAndIndexes) {
  const FlatReply flat = {
      {"TestLoop", "2"},          {"TestLoop0Name", "a"},          {"TestLoop1Name", "b"},
      {"TestLoop0ItemLoop", "2"}, {"TestLoop0ItemLoop0Item", "x"}, {"TestLoop0ItemLoop1Item", "y"},
      {"TestLoop1ItemLoop", "0"}};
  EXPECT_EQ(render("{{TestLoop_count}}:{{#TestLoop}}[{{index}}={{Name}}:{{#ItemLoop}}{{Item}}{{/ItemLoop}}"
                   "{{^ItemLoop_bool}}none{{/ItemLoop_bool}}({{ItemLoop_count}}{{ItemLoop}})]{{/TestLoop}}",
                   flat),
            "2:[0=a:xy(2)][1=b:none(00)]");  // a list prints nothing itself; zero prints 0
}

TEST_F(PageTest, FalseTextsPrintButRenderNoSection) {
  const FlatReply flat = {
      {"LogEntries", "0"}, {"Flag", "false"}, {"Empty", ""}, {"On", "true"}, {"LastEvent", "0"}};
  EXPECT_EQ(render("{{#LogEntries}}row{{/LogEntries}}{{LogEntries}}|{{#Flag}}yes{{/Flag}}{{Flag}}|"
                   "{{#Empty}}e{{/Empty}}|{{#On}}on{{/On}}|{{^Flag_bool}}not{{/Flag_bool}}|{{LastEvent}}",
                   flat),
            "0|false||on|not|0");
}

TEST_F(PageTest, QcliLinesComeOutUnchanged) {
  const FlatReply flat = {
      {"textloop", "2"}, {"textloop0text", "Array <0> & \"ok\"\n"}, {"textloop1text", "done\n"}};
  EXPECT_EQ(render("<!-- qcli script -->\n<pre>\n{{#textloop}}{{{text}}}{{/textloop}}</pre>", flat),
            "<!-- qcli script -->\n<pre>\nArray <0> & \"ok\"\ndone\n</pre>");
}

TEST_F(PageTest, PartialsComeFromFilesBesideThePageNeverFromValues) {
  writeBytes((root_ / "www/Server/html/head.htm").string(), "<h1>{{Title}}</h1>");
  EXPECT_EQ(render("{{> head.htm}}body", {{"Title", "T"}}), "<h1>T</h1>body");
  // A reply value of a partial's name is not a template.
  EXPECT_EQ(render("{{> Evil}}", {{"Evil", "{{Title}}"}, {"Title", "T"}}, false),
            "partial \"Evil\" not found");
  writeBytes((root_ / "db/secret.htm").string(), "secret");
  EXPECT_EQ(render("{{> ../../../db/secret.htm}}", {}, false),
            "partial \"../../../db/secret.htm\" not found");
  writeBytes((root_ / "www/Server/html/loop.htm").string(), "x{{> loop.htm}}");
  EXPECT_EQ(render("{{> loop.htm}}", {}, false), "too many partials");
}

// Templates are kept between requests: an edited page or partial must show at once, even when its
// size and modification time are those of the text before.
TEST_F(PageTest, AnEditedTemplateOrPartialIsReadAgain) {
  const fs::path partial = root_ / "www/Server/html/part.htm";
  writeBytes(partial.string(), "one {{V}}");
  EXPECT_EQ(render("A {{> part.htm}}", {{"V", "x"}}), "A one x");
  EXPECT_EQ(render("A {{> part.htm}}", {{"V", "y"}}), "A one y");
  const auto pageTime = fs::last_write_time(root_ / "www/Server/html/page.htm");
  const auto partialTime = fs::last_write_time(partial);
  writeBytes(partial.string(), "two {{V}}");
  fs::last_write_time(partial, partialTime);
  writeBytes((root_ / "www/Server/html/page.htm").string(), "B {{> part.htm}}");
  fs::last_write_time(root_ / "www/Server/html/page.htm", pageTime);
  PathGuard guard(root_);
  std::string html, error;
  ASSERT_TRUE(renderPage(guard, fs::canonical(root_ / "www/Server/html/page.htm"),
                         buildReplyTree({{"V", "z"}}), &html, &error))
      << error;
  EXPECT_EQ(html, "B two z");
  // A template that is gone is an error, not its remembered text.
  fs::remove(partial);
  EXPECT_EQ(render("A {{> part.htm}}", {{"V", "x"}}, false), "partial \"part.htm\" not found");
}

TEST_F(PageTest, BrokenTemplatesReportTheirError) {
  const std::string error = render("{{#Open}}never closed", {}, false);
  EXPECT_FALSE(error.empty());
  // The kept parsed form of the same file still fails, with the same reason.
  PathGuard guard(root_);
  std::string html, again;
  EXPECT_FALSE(renderPage(guard, fs::canonical(root_ / "www/Server/html/page.htm"), buildReplyTree({}), &html,
                          &again));
  EXPECT_EQ(again, error);
}

// The parsed form of a page is kept and shared: each render must still see only its own values,
// and a file kept as a partial's text must parse when it is shown as a page (and the other way).
TEST_F(PageTest, KeptTemplatesServeManyRendersAndBothUses) {
  writeBytes((root_ / "www/Server/html/head.htm").string(), "<h1>{{Title}}</h1>");
  EXPECT_EQ(render("{{> head.htm}}{{V}}", {{"Title", "T"}, {"V", "v"}}), "<h1>T</h1>v");
  PathGuard guard(root_);
  const fs::path head = fs::canonical(root_ / "www/Server/html/head.htm");
  std::string html, error;
  ASSERT_TRUE(renderPage(guard, head, buildReplyTree({{"Title", "page"}}), &html, &error)) << error;
  EXPECT_EQ(html, "<h1>page</h1>");
  EXPECT_EQ(render("{{> head.htm}}", {{"Title", "again"}}), "<h1>again</h1>");

  const fs::path page = fs::canonical(root_ / "www/Server/html/page.htm");
  writeBytes(page.string(), "<p>{{V}}</p>{{#L}}{{x}}{{/L}}");
  std::atomic<int> wrong{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < 8; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 50; ++i) {
        const std::string value = std::to_string(t) + "-" + std::to_string(i);
        std::string out, why;
        const bool ok =
            renderPage(guard, page, buildReplyTree({{"V", value}, {"L", "1"}, {"L0x", value}}), &out, &why);
        if (!ok || out != "<p>" + value + "</p>" + value) wrong.fetch_add(1);
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  EXPECT_EQ(wrong.load(), 0);
}

}  // namespace
