// Identifying a controller pair from its controller-information buffer: the name from the
// configuration WWN, the valid-controller flags, which record is used, the controller type and
// interface rules of both families, the "NotRead" name and the start-up replay hook.
#include "modules/brivo/controller_identity.h"

#include <gtest/gtest.h>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_hooks.h"

namespace brivo {
namespace {

constexpr char kPath[] = "sim:/tmp/x.sock:0:0:0:0";

int g_replays = 0;
void countReplay(DeviceRecord*, ModDeviceItem* item, BrivoDeviceState*) {
  ++g_replays;
  EXPECT_STRNE(item->name, "BrivoNotRead");
}

class IdentityTest : public ::testing::Test {
 protected:
  void SetUp() override {
    device_ = list_.add(kPath);
    item_ = list_.hangItem(device_, "Brivo");
    g_replays = 0;
    moduleHooks().startupReplay = countReplay;
  }
  void TearDown() override { moduleHooks() = ModuleHooks{}; }
  int identify(const std::vector<uint8_t>& info) {
    fake_->answer(kPath, testing::bufferResponder(info));
    return identifyControllerPair(device_, item_, stateOf(item_));
  }
  BrivoDeviceState& state() { return *stateOf(item_); }

  testing::FakeTransportScope fake_;
  testing::DeviceList list_;
  testing::RunningModule running_;
  DeviceRecord* device_ = nullptr;
  ModDeviceItem* item_ = nullptr;
};

TEST_F(IdentityTest, NamesThePairAfterItsConfigurationWwn) {
  testing::RecordSpec spec;
  spec.wwn = 0x20000004CF8A1B2CULL;
  state().failureCount = 2;
  state().lastAEventIndex = 5;
  ASSERT_EQ(identify(testing::controllerInformation(spec)), 0);
  EXPECT_STREQ(item_->name, "Brivo20000004CF8A1B2C");
  EXPECT_EQ(state().controllerAValid, 1);
  EXPECT_EQ(state().controllerBValid, 1);
  EXPECT_EQ(state().controllerInfo, 0x81);
  EXPECT_EQ(state().controllerType, 6) << "SAS drives behind FC host ports";
  EXPECT_EQ(state().lastAEventIndex, -1) << "identification starts the bookkeeping afresh";
  EXPECT_EQ(state().failureCount, 2) << "the path's failure count is not the controller's data";
  EXPECT_EQ(state().enclosureRefresh, 1);
  EXPECT_EQ(g_replays, 1);
  ASSERT_EQ(fake_->sent().size(), 1u);
  EXPECT_EQ(fake_->sent()[0].cdb[2], kOpReadControllerInfo);
  EXPECT_EQ(fake_->sent()[0].length, kControllerInfoLength);
}

TEST_F(IdentityTest, TheRecordOfTheFirstValidControllerCounts) {
  testing::RecordSpec a, b;
  a.wwn = 0x1111111111111111ULL;
  b.wwn = 0x00000000000000ABULL;
  b.family = 0xC9;
  ASSERT_EQ(identify(testing::controllerInformation(kOff, kOn, a, b)), 0);
  EXPECT_STREQ(item_->name, "Brivo00000000000000AB");
  EXPECT_EQ(state().controllerAValid, 0);
  EXPECT_EQ(state().controllerBValid, 1);
  EXPECT_EQ(state().controllerType, 9);

  ::testing::internal::CaptureStdout();
  ASSERT_EQ(identify(testing::controllerInformation(kOff, kOff, a, b)), 0);
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "BRIVO ERROR: Both A and B were FALSE\n");
  EXPECT_STREQ(item_->name, "Brivo1111111111111111");
  EXPECT_EQ(state().controllerAValid, 1);
  EXPECT_EQ(state().controllerBValid, 0);
}

TEST_F(IdentityTest, AnUnreadablePairIsNamedNotReadAndNotReplayed) {
  fake_->answer(kPath, [](const ScsiCommand&) { return testing::noAnswer(); });
  EXPECT_EQ(identifyControllerPair(device_, item_, stateOf(item_)), 255);
  EXPECT_STREQ(item_->name, "BrivoNotRead");
  EXPECT_EQ(g_replays, 0);
}

TEST(ControllerTraits, TypeAndInterfaceRulesOfBothFamilies) {
  struct Case {
    uint8_t family, byte188, drive, loops, host;
    uint8_t type, driveInterface, hostInterface, hostPorts, driveLoops;
  };
  const Case cases[] = {
      {0xC7, 0, 3, 2, 0x21, 7, 3, 1, 2, 2},    // explicit type in the low 6 bits
      {0x81, 0, 2, 1, 0x11, 4, 2, 1, 1, 1},    // SATA / FC
      {0x81, 0, 2, 2, 0x22, 3, 2, 2, 2, 2},    // SATA / U320 SCSI
      {0x80, 0, 1, 2, 0x41, 5, 1, 1, 4, 2},    // FC / FC
      {0x81, 0, 3, 2, 0x21, 6, 3, 1, 2, 2},    // SAS / FC
      {0x81, 0, 1, 2, 0x22, 255, 1, 2, 2, 2},  // any other pair
      {0x02, kOn, 3, 9, 0x66, 2, 1, 1, 2, 2},  // older family: byte 188 marks type 2
      {0x04, 0, 3, 9, 0x66, 1, 1, 1, 2, 1},    // older: 2 host ports for family 2 and 4
      {0x05, 0, 3, 9, 0x66, 1, 1, 1, 1, 2},    // older: 2 drive loops for family 2 and 5
  };
  for (const Case& c : cases) {
    const uint8_t word[4] = {c.drive, c.loops, c.host, 0};
    const ControllerTraits t = traitsFromRecord(c.family, c.byte188, word);
    SCOPED_TRACE(::testing::Message() << "family 0x" << std::hex << int{c.family});
    EXPECT_EQ(t.type, c.type);
    EXPECT_EQ(t.newerFamily, (c.family & 0x80) != 0);
    EXPECT_EQ(t.driveInterface, c.driveInterface);
    EXPECT_EQ(t.hostInterface, c.hostInterface);
    EXPECT_EQ(t.hostPorts, c.hostPorts);
    EXPECT_EQ(t.driveLoops, c.driveLoops);
  }
  EXPECT_STREQ(driveInterfaceName(4), "SATA A/A");
  EXPECT_STREQ(driveInterfaceName(101), "FC");
  EXPECT_STREQ(driveInterfaceName(103), "SS");
  EXPECT_STREQ(driveInterfaceName(7), "Unknown");
}

}  // namespace
}  // namespace brivo
