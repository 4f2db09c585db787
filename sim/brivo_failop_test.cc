// The brivo model's run-time "failop" key: an armed buffer ID refuses its next WRITE BUFFER (any
// mode) with the given sense, once, and leaves every other operation alone; bad values are
// refused and the key never reaches the state file.
#include <fstream>
#include <iterator>

#include "sim/brivo_test_fixture.h"

namespace brivotest {
namespace {

using BrivoFailOp = BrivoSimTest;

TEST_F(BrivoFailOp, ArmedOperationFailsOnceWithTheGivenSense) {
  ctl("model alpha failop.0x81 5/26/00");
  ctl("model alpha failop.195 3/11/01");  // 0xC3, given in decimal
  begin();
  Reply refused = command(brivo::kOpConfigClear);
  EXPECT_EQ(refused.result.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(refused.senseKey, brivo::kSenseIllegalRequest);
  EXPECT_EQ(refused.asc, 0x26);
  EXPECT_TRUE(command(brivo::kOpConfigClear).good()) << "one-shot";
  save();

  Reply medium = command(brivo::kOpResetController, {}, brivo::kSelectB);
  EXPECT_EQ(medium.senseKey, 3);
  EXPECT_EQ(medium.asc, 0x11);
  EXPECT_EQ(info()->stateB, brivo::kOn) << "a refused reset resets nothing";
  EXPECT_TRUE(read(brivo::kModeData, brivo::kOpReadControllerInfo, 1792).good()) << "reads are never armed";
}

TEST_F(BrivoFailOp, ReachesDataModesAndCanBeDisarmed) {
  ctl("model alpha failop.0x83 4/44/00");
  Reply restore = writeData(brivo::kModeData, brivo::kOpRestoreConfiguration, 0, std::vector<uint8_t>(512));
  EXPECT_EQ(restore.senseKey, 4);
  EXPECT_EQ(restore.asc, 0x44);

  ctl("model alpha failop.0x80 5/2c/00");
  ctl("model alpha failop.0x80 off");
  EXPECT_TRUE(command(brivo::kOpConfigStart).good());
}

TEST_F(BrivoFailOp, BadValuesAreRefusedAndNothingIsSaved) {
  ctl("model alpha failop.0x80 5/26", 1);
  ctl("model alpha failop.0x80 0/26/00", 1);  // key 0 would be GOOD
  ctl("model alpha failop.0x80 5/126/00", 1);
  ctl("model alpha failop.0x80 5/26/00x", 1);
  ctl("model alpha failop.256 5/26/00", 1);
  ctl("model alpha failop.0x82 5/26/00");
  ctl("save");
  std::ifstream in(stateFile);
  std::string state((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  EXPECT_NE(state.find("config.header"), std::string::npos);
  EXPECT_EQ(state.find("failop"), std::string::npos);
}

}  // namespace
}  // namespace brivotest
