// Enclosure locate and the alarms against a pair kept in memory, with the SES pages of the
// monitor's enclosure slots filled by the test.
#include <gtest/gtest.h>

#include <cstdlib>

#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pages/pages_test_support.h"

namespace brivo {
namespace {

using testing::requestFor;

constexpr uint8_t kEnclosureId[8] = {0x50, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E, 0x0F, 0x11};

uint8_t* copyOf(const std::vector<uint8_t>& bytes, uint32_t* length) {
  auto* copy = static_cast<uint8_t*>(std::malloc(bytes.size()));
  std::memcpy(copy, bytes.data(), bytes.size());
  *length = static_cast<uint32_t>(bytes.size());
  return copy;
}

class EnclosurePagesTest : public testing::PageTest {
 protected:
  // Page 1 with two slots and two alarms; page 2 with their elements (generation 7).
  void fillSlot(int slot) {
    std::vector<uint8_t> config(32, 0);
    config[0] = 1;
    config[3] = 28;
    config[7] = 7;
    config[10] = 2;   // type headers
    config[11] = 12;  // descriptor bytes after its first four
    std::memcpy(&config[12], kEnclosureId, 8);
    config[24] = 0x01;
    config[25] = 2;
    config[28] = 0x06;
    config[29] = 2;
    std::vector<uint8_t> status(32, 0);
    status[0] = 2;
    status[3] = 28;
    status[7] = 7;
    status[12] = 0x81;  // slot 0: predicted failure, which a control page would read as SELECT
    status[28] = 0x01;  // alarm 1
    status[31] = 0x0F;
    auto* s = static_cast<BrivoEnclosureSlot*>(std::calloc(1, sizeof(BrivoEnclosureSlot)));
    s->address = 0x7D;
    s->configPage = copyOf(config, &s->configLength);
    s->statusPage = copyOf(status, &s->statusLength);
    MutexLock lock(brivo::monitor::enclosureLock());
    state_->enclosures[slot] = s;
  }
};

TEST_F(EnclosurePagesTest, AlarmStateOptionsInAnyCase) {
  auto mute = run(setAlarmStateMethod, requestFor({{"option", "mute"}}));
  EXPECT_EQ(mute["MessageSummary"], "The command \"Mute alarm\" completed successfully.");
  EXPECT_EQ(mute["UpdateParent"], "true");
  EXPECT_EQ(mute["ModDeviceName"], testing::kTestPair);
  run(setAlarmStateMethod, requestFor({{"option", "DISABLE"}}));
  run(setAlarmStateMethod, requestFor({{"option", "Enable"}}));
  auto other = run(setAlarmStateMethod, requestFor({{"option", "silence"}}));
  EXPECT_EQ(other["MessageIsSuccess"], "false");
  EXPECT_EQ(other["HTMLPath"], "../Common/MessagePopupPanel.htm");
  EXPECT_EQ(testing::idsOf(writes()), (std::vector<uint8_t>{0xD7, 0xD9, 0xD8}));
}

TEST_F(EnclosurePagesTest, LocateNeedsEnclosureAndTime) {
  auto without = run(locateEnclosureMethod, requestFor({{"EnclosureNumber", "0"}}));
  EXPECT_TRUE(writes().empty());
  EXPECT_EQ(without["MessageIsSuccess"], "false");
  run(locateEnclosureMethod, requestFor({{"EnclosureNumber", "16"}, {"TimeInSeconds", "5"}}));
  EXPECT_TRUE(writes().empty());
  auto located = run(locateEnclosureMethod, requestFor({{"EnclosureNumber", "3"}, {"TimeInSeconds", "45"}}));
  const auto ops = writes();
  ASSERT_EQ(testing::idsOf(ops), (std::vector<uint8_t>{0xC2}));
  EXPECT_EQ(ops[0].cdb[3], 0x80);
  EXPECT_EQ(ops[0].cdb[4], 3);
  EXPECT_EQ(ops[0].cdb[5], 45);
  EXPECT_EQ(located["MessageIsSuccess"], "true");
}

TEST_F(EnclosurePagesTest, MuteNeedsACachedEnclosure) {
  fillSlot(0);
  auto beyond = run(muteAlarmMethod, requestFor({{"EnclosureNumber", "16"}}));
  auto empty = run(muteAlarmMethod, requestFor({{"EnclosureNumber", "1"}}));
  auto absent = run(muteAlarmMethod, requestFor({}));
  EXPECT_TRUE(writes().empty());
  for (auto* reply : {&beyond, &empty, &absent}) {
    EXPECT_EQ((*reply)["MessageIsSuccess"], "false");
    EXPECT_NE((*reply)["MessageDetails"].find("was not sent"), std::string::npos);
    EXPECT_EQ((*reply)["UpdateParent"], "true");
  }
}

TEST_F(EnclosurePagesTest, MuteSendsTheEditedPageOnEachLoopUntilOneAddressTakesIt) {
  fillSlot(1);
  EnclosureEntry& entry = pair_.info.enclosures[4];
  entry.valid = kOn;
  entry.number = 1;
  std::memcpy(entry.wwn, kEnclosureId, 8);
  entry.addresses[0] = {0x10, 0xFF};
  entry.addresses[1] = {0x7D, 0x7D};
  entry.addresses[2] = {0xFF, 0xFF};
  entry.addresses[3] = {0xFF, 0xFF};
  pair_.refuseWrite = [](const ScsiCommand& c) { return c.cdb[2] == kOpSendSesPage && c.cdb[3] == 0x10; };
  auto reply = run(muteAlarmMethod, requestFor({{"EnclosureNumber", "1"}}));
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 3u);
  EXPECT_EQ(ops[0].cdb[3], 0x10);
  EXPECT_EQ(ops[1].cdb[3], 0x7D);
  EXPECT_EQ(ops[2].cdb[3], 0xFD) << "loop 2 of the second address";
  for (const auto& op : ops) {
    EXPECT_EQ(op.id, kOpSendSesPage);
    EXPECT_EQ(op.cdb[4], 0x1D);
    EXPECT_EQ(op.cdb[5], 0x10);
    EXPECT_EQ(op.cdb[7] << 8 | op.cdb[8], 32);
    ASSERT_EQ(op.block.size(), 32u);
    EXPECT_EQ(op.block[28], 0x80) << "alarm 1 selected";
    EXPECT_EQ(op.block[31], 0x40) << "alarm 1 muted";
    EXPECT_EQ(op.block[24], 0x00) << "alarm 0 left alone";
    EXPECT_EQ(op.block[12], 0x01) << "slot 0 not selected";
    EXPECT_EQ(op.block[7], 7) << "generation kept";
  }
  EXPECT_EQ(reply["MessageSummary"], "The command \"Mute alarm\" completed successfully.");
  MutexLock lock(brivo::monitor::enclosureLock());
  EXPECT_EQ(state_->enclosures[1]->statusPage[31], 0x0F) << "the monitor's cache stays as read";
}

}  // namespace
}  // namespace brivo
