// Statistics export and clearing against a pair kept in memory: which rows an export writes, the
// number forms, the summary, and which controllers a clear reaches.
#include <gtest/gtest.h>

#include <sstream>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

class IoStatisticsTest : public testing::PageTest {
 protected:
  std::vector<std::string> exportLines(VariableTable request) {
    auto reply = run(exportStatisticsMethod, request);
    EXPECT_EQ(reply.size(), 1u);
    EXPECT_EQ(reply["ExportText"], "../../temp/BrivoStatistics.csv");
    std::istringstream in(folder_.read("temp/BrivoStatistics.csv"));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  static int rowsOf(const std::vector<std::string>& lines) {
    int rows = 0;
    for (const std::string& line : lines)
      rows += line.rfind("\"All\",", 0) == 0 ||
              (line.size() > 1 && line[0] == '"' && std::isdigit(static_cast<unsigned char>(line[1])));
    return rows;
  }
};

TEST_F(IoStatisticsTest, ExportWithoutSelectionCoversEveryDriveControllerAndPort) {
  pair_.config->header.logicalDriveCount = 3;
  const auto lines = exportLines(requestFor({}));
  ASSERT_GE(lines.size(), 3u + 24u + 2u + 3u + 1u);
  EXPECT_EQ(lines[0], "\"Brivo controller performance statistics\"");
  EXPECT_EQ(lines[2].rfind("\"Logical drive\",\"Controller\",\"Port\",", 0), 0u);
  EXPECT_EQ(rowsOf(lines), 24);
  EXPECT_EQ(lines[3].rfind("\"All\",\"0\",\"0\",1010,8080,0,1,2,", 0), 0u) << lines[3];
  EXPECT_EQ(lines[5].rfind("\"All\",\"0\",\"Both\",1000,8000,", 0), 0u) << lines[5];
  EXPECT_EQ(lines[6].rfind("\"All\",\"1\",\"0\",2010,", 0), 0u) << lines[6];
  EXPECT_EQ(lines[9].rfind("\"0\",\"0\",\"0\",", 0), 0u) << lines[9];
  EXPECT_EQ(lines[26].rfind("\"2\",\"1\",\"Both\",", 0), 0u) << lines[26];
  // Each record: two counters and 33 values, every field followed by a comma.
  EXPECT_EQ(std::count(lines[3].begin(), lines[3].end(), ','), 3 + 2 * 35);
  EXPECT_EQ(lines[27], "");
  EXPECT_EQ(lines[28], "");
  EXPECT_EQ(lines[29], "\"Summary of the last statistics buffer read\"");
  const std::string summary = lines.back();
  EXPECT_EQ(summary.rfind("100,101,102,103,104,105,106,107,108,109,110,111,77,200,201,", 0), 0u) << summary;
  EXPECT_EQ(summary.find("99,"), std::string::npos) << "byte 157 is not exported";
  EXPECT_EQ(std::count(summary.begin(), summary.end(), ','), 12 + 1 + 30);
}

TEST_F(IoStatisticsTest, SelectionsNarrowTheRowsAndCountersKeepAllSixtyFourBits) {
  pair_.config->header.logicalDriveCount = 3;
  pair_.statisticsCounter = 0xFFFFFFFFFFFFFFFFull;
  auto lines = exportLines(requestFor({{"LunNumber", "65535"}}));
  EXPECT_EQ(rowsOf(lines), 6);
  EXPECT_NE(lines[3].find(",18446744073709551615,"), std::string::npos) << lines[3];

  lines = exportLines(requestFor({{"LunNumber", "2"}, {"Controller", "2"}, {"PortNumber", "1"}}));
  ASSERT_EQ(rowsOf(lines), 1);
  EXPECT_EQ(lines[3].rfind("\"2\",\"1\",\"0\",", 0), 0u);
  EXPECT_EQ(rowsOf(exportLines(requestFor({{"LunNumber", "3"}}))), 0) << "beyond the drive count";

  pair_.info.stateB = kOff;
  EXPECT_EQ(rowsOf(exportLines(requestFor({{"LunNumber", "65535"}}))), 3) << "controller B is not valid";
}

TEST_F(IoStatisticsTest, FailedReadsWriteNeitherRowsNorSummary) {
  pair_.refusedReads.insert(kOpReadStatisticsA);
  pair_.refusedReads.insert(kOpReadStatisticsB);
  const auto lines = exportLines(requestFor({{"LunNumber", "65535"}}));
  EXPECT_EQ(lines.size(), 3u);
  auto nowhere = exportLines(requestFor({}, "Brivo0000000000000000"));
  EXPECT_EQ(nowhere.size(), 3u);
}

TEST_F(IoStatisticsTest, ClearReachesTheValidControllersAndReportsARefusal) {
  pair_.info.stateB = kOff;
  auto reply = run(clearStatisticsMethod, requestFor({}));
  auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xCB}));
  EXPECT_EQ(ops[0].cdb[3], 0);
  EXPECT_EQ(ops[0].cdb[4] << 8 | ops[0].cdb[5], 0xFFFF);
  EXPECT_EQ(reply["MessageSummary"], "The command \"Clear statistics\" completed successfully.");
  EXPECT_EQ(reply["HTMLPath"], "../../html/Brivo/statistics/statistics.htm");

  fake_->clearSent();
  run(clearStatisticsMethod,
      requestFor({{"ClearController", "2"}, {"ClearPort", "2"}, {"ClearLunNumber", "5"}}));
  ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xCC}));
  EXPECT_EQ(ops[0].cdb[3], 2);
  EXPECT_EQ(ops[0].cdb[5], 5);

  fake_->clearSent();
  pair_.info.stateB = kOn;
  pair_.refusedWrites.insert(kOpClearStatisticsA);
  auto refused = run(clearStatisticsMethod, requestFor({{"ClearController", "3"}}));
  EXPECT_EQ(testing::idsOf(writes()), (std::vector<uint8_t>{0xCB, 0xCC}));
  EXPECT_EQ(refused["MessageIsSuccess"], "false") << "B's success does not hide A's refusal";
}

TEST_F(IoStatisticsTest, PageListsDrivesAndRowsPerController) {
  pair_.addDrive(1, 0);
  auto page = run(getStatisticsMethod, requestFor({{"LunNumber", "1"}, {"PortNumber", "1"}}));
  EXPECT_EQ(page["LunChoiceLoop"], "2");
  EXPECT_EQ(page["LunChoiceLoop1Selected"], "true");
  EXPECT_EQ(page["StatsLoop"], "2");
  EXPECT_EQ(page["StatsLoop1Controller"], "B");
  EXPECT_EQ(page["StatsLoop1Port"], "0");
  EXPECT_EQ(page["StatsLoop1ReadCommands"], "2010");
  EXPECT_EQ(page["StatsLoop0CacheHitPercent"], "77");
}

}  // namespace
}  // namespace brivo
