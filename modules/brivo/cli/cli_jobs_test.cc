// The jobs handlers against a fake pair: job IDs from the job buffer or, when the controller does
// not offer it, from the progress records and the arrays; which operation cancels which kind of
// job, and the refusals.
#include <gtest/gtest.h>

#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage_test_support.h"

namespace brivo::cli {
namespace {

class JobsCommands : public testing::StorageTest {
 protected:
  void SetUp() override {
    StorageTest::SetUp();
    addDisks(12);
    addArray(0, kRaid5, {0, 1, 2}, "db");
    addArray(3, kRaid5, {3, 4, 5}, "mail");
    addArray(12, kRaid6, {6, 7, 8, 9}, "archive");
    addArray(13, kRaid1, {10, 11}, "boot");
  }
  void runJobBuffer() {
    ctx().info->jobBufferAvailable = kOn;
    jobs_.arrays[0] = {kOn, 7, kJobInit, 1};
    jobs_.arrays[3] = {kOn, 100, kJobRebuild, 0};
    jobs_.arrays[12] = {kOn, 55, kJobParity, 0};
    jobs_.arrays[13] = {kOn, 5, kJobExpansion, 0};
  }
};

TEST_F(JobsCommands, DisplayNamesJobsByKindAndArray) {
  runJobBuffer();
  ASSERT_EQ(jobsDisplay(ctx()), 0);
  EXPECT_EQ(text(),
            "--- Job Total=4 ---\n"
            "Job  Kind           Array Progress                    State   Array Name\n"
            "---- -------------- ----- --------------------------- ------- ----------------------\n"
            " 100 Initialization     0 [#...................]   7% Paused  \"db\"\n"
            " 203 Rebuild            3 [####################] 100% Running \"mail\"\n"
            " 312 Parity Check      12 [###########.........]  55% Running \"archive\"\n"
            " 413 Expansion         13 [#...................]   5% Running \"boot\"\n");
}

TEST_F(JobsCommands, WithoutTheJobBufferTheProgressRecordsAndArraysTell) {
  ctx().info->rebuildValid = kOn;
  ctx().info->rebuildArray = 3;
  ctx().info->rebuildMember = 2;
  ctx().info->rebuildPercent = 30;
  ctx().config->arrays[12].jobKind = kJobParity;
  ASSERT_EQ(jobsDisplay(ctx()), 0);
  const std::string out = text();
  EXPECT_NE(out.find("--- Job Total=2 ---\n"), std::string::npos) << out;
  EXPECT_NE(out.find(" 203 Rebuild            3 [######..............]  30% Running \"mail\", member 2\n"),
            std::string::npos)
      << out;
  EXPECT_NE(out.find(" 312 Parity Check      12"), std::string::npos) << out;
  EXPECT_TRUE(operations().empty()) << "the job buffer is not read when the controller has none";
}

TEST_F(JobsCommands, DeleteUsesTheCancelOfEachKind) {
  runJobBuffer();
  jobs_.arrays[0].flags = 0;
  for (const char* id : {"100", "203", "312"}) {
    modifiers({{kModJobId, id}});
    ASSERT_EQ(jobsDelete(ctx()), 0) << id << text();
  }
  const auto ops = operations();
  ASSERT_EQ(operationIds(),
            (std::vector<uint8_t>{kOpCancelInitialization, kOpCancelRebuild, kOpCancelParityCheck}));
  EXPECT_EQ(ops[0].p3, 0);
  EXPECT_EQ(text(), "Job 100 deleted.\nJob 203 deleted.\nJob 312 deleted.\n");

  clearSent();
  clearOutput();
  for (const char* id : {"413", "101", "x"}) {
    modifiers({{kModJobId, id}});
    EXPECT_EQ(jobsDelete(ctx()), 1) << id;
  }
  refuse(kOpCancelInitialization);
  modifiers({{kModJobId, "100"}});
  EXPECT_EQ(jobsDelete(ctx()), 1);
  EXPECT_EQ(text(),
            "Error: Job 413 is an expansion, which cannot be stopped.\n"
            "Error: Job index out of range.\n"
            "Error: Parsing job index. Not a number.\n"
            "Error: Cannot delete job. Status: 2 Sense: 5/26/00\n");
}

}  // namespace
}  // namespace brivo::cli
