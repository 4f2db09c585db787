// Tests of the simulated devices in-process (no socket): disks, SES enclosures and controller
// pairs answering their SCSI commands, and the configuration reader.
#include <gtest/gtest.h>

#include <filesystem>

#include "sim/loopback_model.h"
#include "sim/sim_world.h"

namespace {

using sim::SimReply;

const char kConfig[] = R"(
[host 0]
max_transfer_kb = 512
[pair alpha]
wwn = 2000000000000A1F
model = loopback
model.size = 70000
drives = 4
enclosure = bay
path = A 0:0:0:0
path = B 0:0:1:0 type=3
[enclosure bay]
wwn = 500A0B8000112233
slots = 4
fans = 2
power_supplies = 2
temperature_sensors = 1
self_slot = 1
path = 0:0:8:0
[disk big]
vendor = SEAGATE
serial = ZC1A2B3C
blocks = 0x200000000
block_size = 4096
path = 0:0:5:0
)";

class SimDevicesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::parseSimConfig(kConfig, &config, &error)) << error;
    world = std::make_unique<sim::SimWorld>(std::move(config));
  }

  SimReply run(int target, std::vector<uint8_t> cdb, uint32_t dataIn = 0, std::vector<uint8_t> dataOut = {}) {
    simwire::ExecuteRequest r;
    r.target = static_cast<uint8_t>(target);
    r.cdbLength = static_cast<uint8_t>(cdb.size());
    std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
    r.direction = dataIn != 0 ? 1 : dataOut.empty() ? 0 : 2;
    r.dataInLength = dataIn;
    r.dataOut = std::move(dataOut);
    r.senseCapacity = 32;
    r.timeoutMs = 5000;
    return world->execute(r);
  }
  std::vector<uint8_t> page(uint8_t code) {
    SimReply reply = run(8, {0x1C, 0x01, code, 0x14, 0x00, 0}, 5120);
    EXPECT_EQ(reply.outcome, ScsiOutcome::kGood);
    return reply.data;
  }

  std::unique_ptr<sim::SimWorld> world;
};

void expectSense(const SimReply& reply, uint8_t key, uint8_t asc) {
  ASSERT_EQ(reply.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(reply.status, 2);
  ASSERT_GE(reply.sense.size(), 14u);
  EXPECT_EQ(reply.sense[2] & 0x0F, key);
  EXPECT_EQ(reply.sense[12], asc);
}

TEST_F(SimDevicesTest, DiskAnswersInquiryVpdAndCapacity) {
  SimReply inquiry = run(5, {0x12, 0, 0, 0, 96, 0}, 255);
  ASSERT_EQ(inquiry.data.size(), 96u);
  EXPECT_EQ(inquiry.data[0], 0);
  EXPECT_EQ(std::string(inquiry.data.begin() + 8, inquiry.data.begin() + 16), "SEAGATE ");
  EXPECT_EQ(std::string(inquiry.data.begin() + 36, inquiry.data.begin() + 44), "ZC1A2B3C");
  EXPECT_EQ(run(5, {0x12, 0, 0, 0, 36, 0}, 255).data.size(), 36u);  // allocation length
  EXPECT_EQ(run(5, {0x12, 0, 0, 0, 96, 0}, 20).data.size(), 20u);   // initiator's buffer

  SimReply pages = run(5, {0x12, 1, 0x00, 0, 255, 0}, 255);
  EXPECT_EQ(pages.data, (std::vector<uint8_t>{0, 0, 0, 5, 0x00, 0x80, 0x83, 0xB0, 0xB1}));
  SimReply serial = run(5, {0x12, 1, 0x80, 0, 255, 0}, 255);
  EXPECT_EQ(std::string(serial.data.begin() + 4, serial.data.end()), "ZC1A2B3C");
  SimReply id = run(5, {0x12, 1, 0x83, 0, 255, 0}, 255);
  ASSERT_EQ(id.data.size(), 16u);
  EXPECT_EQ(id.data[5], 0x03);  // NAA
  EXPECT_EQ(run(5, {0x12, 1, 0xB0, 0, 255, 0}, 255).data.size(), 64u);  // block limits
  expectSense(run(5, {0x12, 1, 0xB2, 0, 255, 0}, 255), 5, 0x24);

  // 2^33 blocks: READ CAPACITY(10) says "use the 16-byte form".
  SimReply cap10 = run(5, {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, 8);
  EXPECT_EQ(cap10.data, (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF, 0, 0, 0x10, 0}));
  SimReply cap16 = run(5, {0x9E, 0x10, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 32, 0, 0}, 32);
  ASSERT_EQ(cap16.data.size(), 32u);
  EXPECT_EQ(cap16.data[3], 0x01);  // last block 0x1FFFFFFFF
  EXPECT_EQ(cap16.data[7], 0xFF);
  EXPECT_EQ(run(5, {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(run(5, {0x03, 0, 0, 0, 18, 0}, 18).data.size(), 18u);
  EXPECT_EQ(run(5, {0x28, 0, 0, 0, 0, 0, 0, 0, 1, 0}, 512).data, std::vector<uint8_t>(512, 0));  // unwritten
  expectSense(run(5, {0x42, 0, 0, 0, 0, 0, 0, 0, 24, 0}, 0), 5, 0x20);  // UNMAP: not offered

  ASSERT_EQ(world->control("fail disk big").code, 0);
  expectSense(run(5, {0x00, 0, 0, 0, 0, 0}), 4, 0x3E);
  EXPECT_EQ(run(5, {0x12, 0, 0, 0, 96, 0}, 96).outcome, ScsiOutcome::kGood);  // still identifies itself
  ASSERT_EQ(world->control("restore disk big").code, 0);
  EXPECT_EQ(run(5, {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);
  // Nothing at an address: no answer.
  EXPECT_EQ(run(6, {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kNoAnswer);
}

TEST_F(SimDevicesTest, EnclosurePagesDescribeItsElements) {
  SimReply inquiry = run(8, {0x12, 0, 0, 0, 96, 0}, 96);
  EXPECT_EQ(inquiry.data[0], 0x0D);
  EXPECT_EQ(inquiry.data[6] & 0x40, 0x40);
  EXPECT_EQ(page(0x00), (std::vector<uint8_t>{0, 0, 0, 6, 0x00, 0x01, 0x02, 0x04, 0x84, 0x85}));

  std::vector<uint8_t> config = page(0x01);
  ASSERT_GT(config.size(), 100u);
  EXPECT_EQ(config[0], 0x01);
  EXPECT_EQ(sim::be16(&config[2]) + 4u, config.size());
  EXPECT_EQ(sim::be32(&config[12]), 0x500A0B80u);  // logical identifier
  EXPECT_EQ(config[73], 4);                        // slot count
  ASSERT_EQ(config[10], 6);                        // six element types
  EXPECT_EQ(std::vector<uint8_t>(config.begin() + 76, config.begin() + 80),
            (std::vector<uint8_t>{0x01, 4, 0, 11}));

  std::vector<uint8_t> status = page(0x02);
  // Header, then per type the overall element and its elements: 5+3+3+2+2+2 elements.
  ASSERT_EQ(status.size(), 8u + 4 * 17);
  EXPECT_EQ(status[12], 1);             // slot 0 OK
  EXPECT_EQ(status[14 + 4 * 0], 0);     // slot 0 has no flag
  EXPECT_EQ(status[14 + 4 * 1], 0x01);  // slot 1 is the SES processor's own
  EXPECT_EQ(status[1] & 0x02, 0);       // nothing critical

  ASSERT_EQ(world->control("fail fan bay 1").code, 0);
  ASSERT_EQ(world->control("fail psu alpha 0").code, 0);  // through the pair's enclosure
  ASSERT_EQ(world->control("set temperature bay 0 55").code, 0);
  ASSERT_EQ(world->control("fail drive alpha 2").code, 0);
  status = page(0x02);
  EXPECT_EQ(status[1] & 0x06, 0x06);  // critical and non-critical
  EXPECT_EQ(status[12 + 4 * 2], 2);   // slot 2: its drive failed
  EXPECT_EQ(status[12 + 4 * 2 + 3] & 0x40, 0x40);
  size_t psu0 = 8 + 4 * 5 + 4;
  EXPECT_EQ(status[psu0], 2);
  EXPECT_EQ(status[psu0 + 3] & 0x40, 0x40);
  size_t fan1 = 8 + 4 * 8 + 4 + 4;
  EXPECT_EQ(status[fan1], 2);
  size_t temp0 = 8 + 4 * 11 + 4;
  EXPECT_EQ(status[temp0], 3);
  EXPECT_EQ(status[temp0 + 2], 75);  // 55 + 20
  EXPECT_EQ(status[temp0 + 3], 0x04);
  ASSERT_EQ(world->control("restore fan bay 1").code, 0);
  EXPECT_EQ(page(0x02)[fan1], 1);
}

TEST_F(SimDevicesTest, EnclosureControlPageSetsLocateFaultAndAlarm) {
  std::vector<uint8_t> control = page(0x02);
  control[0] = 0x02;
  size_t slot3 = 8 + 4 + 4 * 3;
  control[slot3] = 0x80;      // select
  control[slot3 + 2] = 0x02;  // identify
  control[slot3 + 3] = 0x20;  // fault
  size_t alarm = 8 + 4 * 13 + 4;
  control[alarm] = 0x80;
  control[alarm + 3] = 0x40;  // mute
  SimReply sent = run(
      8, {0x1D, 0x10, 0, static_cast<uint8_t>(control.size() >> 8), static_cast<uint8_t>(control.size()), 0},
      0, control);
  ASSERT_EQ(sent.outcome, ScsiOutcome::kGood);
  std::vector<uint8_t> status = page(0x02);
  EXPECT_EQ(status[14 + 4 * 3], 0x02);
  EXPECT_EQ(status[slot3 + 3] & 0x20, 0x20);
  EXPECT_EQ(status[alarm + 3] & 0x40, 0x40);
  // What a test of the pages reads back: the slots whose locator is on, the alarm's state.
  const std::string summary = world->control("status").text;
  EXPECT_NE(summary.find("alarm muted, slots locating 3"), std::string::npos) << summary;
  control[alarm + 3] = 0x10;  // remind, not muted
  control[slot3] = 0;         // the slot left alone
  ASSERT_EQ(run(8, {0x1D, 0x10, 0, static_cast<uint8_t>(control.size() >> 8), static_cast<uint8_t>(control.size()), 0},
                0, control)
                .outcome,
            ScsiOutcome::kGood);
  const std::string reminding = world->control("status").text;
  EXPECT_NE(reminding.find("alarm remind"), std::string::npos) << reminding;
  EXPECT_EQ(reminding.find("alarm muted"), std::string::npos) << reminding;

  std::vector<uint8_t> stale = control;
  stale[7] ^= 0xFF;  // wrong generation code
  expectSense(
      run(8, {0x1D, 0x10, 0, static_cast<uint8_t>(stale.size() >> 8), static_cast<uint8_t>(stale.size()), 0},
          0, stale),
      5, 0x26);
  // Parameter list shorter than its length field says.
  expectSense(run(8, {0x1D, 0x10, 0, 0, 8, 0}, 0, {0x02, 0, 0x10, 0, 0, 0, 0, 1}), 5, 0x26);

  std::vector<uint8_t> text = {0x04, 0, 0, 3, 'a', 'b', 'c'};
  ASSERT_EQ(run(8, {0x1D, 0x10, 0, 0, 7, 0}, 0, text).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(page(0x04), text);
  std::vector<uint8_t> cli = {0x84, 0, 0, 14, 0, 0, 0, 1, 0, 0, 0, 0, 'h', 'e', 'l', 'p', 0, 0};
  ASSERT_EQ(run(8, {0x1D, 0x10, 0, 0, 18, 0}, 0, cli).outcome, ScsiOutcome::kGood);
  std::vector<uint8_t> answer = page(0x84);
  EXPECT_EQ(std::string(answer.begin() + 12, answer.begin() + 16), "help");
  expectSense(run(8, {0x1C, 0x00, 0x02, 0x14, 0, 0}, 5120), 5, 0x24);  // page code not valid
  expectSense(run(8, {0x1C, 0x01, 0x07, 0x14, 0, 0}, 5120), 5, 0x24);
}

TEST_F(SimDevicesTest, PairPathsAnswerPerControllerAndPassBuffersToTheModel) {
  SimReply a = run(0, {0x12, 0, 0, 0, 96, 0}, 96);
  SimReply b = run(1, {0x12, 0, 0, 0, 96, 0}, 96);
  EXPECT_EQ(a.data[0], 0);
  EXPECT_EQ(b.data[0], 3);
  EXPECT_EQ(a.data[36], 'A');
  EXPECT_EQ(b.data[36], 'B');

  // Loopback: a never-written buffer reads as its pattern with its size in the first word.
  SimReply read = run(0, {0x3C, 0x02, 0x40, 0, 0, 0, 0x01, 0x00, 0x00, 0}, 65536);
  ASSERT_EQ(read.data.size(), 65536u);
  EXPECT_EQ(read.data[0] | (read.data[1] << 8) | (read.data[2] << 16), 70000);
  EXPECT_EQ(read.data[100], sim::LoopbackModel::patternByte(0x40, 70000, 100));
  SimReply tail = run(0, {0x3C, 0x02, 0x40, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0}, 65536);
  EXPECT_EQ(tail.data.size(), 70000u - 65536);
  ASSERT_EQ(run(1, {0x3B, 0x02, 0x83, 0, 0, 2, 0, 0, 3, 0}, 0, {7, 8, 9}).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(run(0, {0x3C, 0x02, 0x83, 0, 0, 0, 0, 0, 16, 0}, 16).data, (std::vector<uint8_t>{0, 0, 7, 8, 9}));

  ASSERT_EQ(world->control("fail controller alpha A").code, 0);
  EXPECT_EQ(run(0, {0x12, 0, 0, 0, 96, 0}, 96).outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(run(1, {0x12, 0, 0, 0, 96, 0}, 96).outcome, ScsiOutcome::kGood);
  ASSERT_EQ(world->control("restore controller alpha A").code, 0);
  EXPECT_EQ(run(0, {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);
}

TEST(SimDefaultModel, RefusesBufferCommands) {
  sim::SimConfig config;
  std::string error;
  ASSERT_TRUE(sim::parseSimConfig("[pair p]\npath = A 0:0:0:0\n", &config, &error)) << error;
  sim::SimWorld world(std::move(config));
  simwire::ExecuteRequest r;
  r.cdbLength = 10;
  r.cdb = {0x3C, 0x02, 0x40, 0, 0, 0, 0, 0x07, 0, 0};
  r.direction = 1;
  r.dataInLength = 1792;
  r.senseCapacity = 32;
  SimReply reply = world.execute(r);
  expectSense(reply, 5, 0x24);
  EXPECT_TRUE(reply.data.empty());
}

TEST(SimConfigFile, RejectsMistakesWithTheirLine) {
  struct Case {
    const char* text;
    const char* message;
  } cases[] = {
      {"[pair a]\npath = A 0:0:0:0\n[disk a]\npath = 0:0:1:0\n", "line 3: name \"a\" is used twice"},
      {"[pair a]\npath = A 0:0:0:0\n[disk b]\npath = 0:0:0:0\n", "address 0:0:0:0 of \"b\" is used twice"},
      {"[pair a]\npath = C 0:0:0:0\n", "line 2: path must be"},
      {"[pair a]\npath = A 0:0:300:0\n", "line 2: address \"0:0:300:0\" must be"},
      {"[pair a]\nmodel = brivo-xyz\n", "line 2: unknown model"},
      {"[pair a]\ndrives = 4\n", "pair \"a\" has no path"},
      {"[pair a]\nenclosure = nope\npath = A 0:0:0:0\n", "names unknown enclosure \"nope\""},
      {"[pair a]\ndrives = 4\nfirst_slot = 9\nenclosure = e\npath = A 0:0:0:0\n[enclosure e]\nslots = 12\n",
       "pair \"a\" has drives beyond the last slot of its enclosure"},
      {"[pair a]\nfirst_slot = -1\n", "line 2: \"-1\" must be a number 0-254"},
      {"[pair a]\nfirst_slot = two\n", "line 2: \"two\" must be a number 0-254"},
      {"[disk d]\ncolour = red\n", "line 2: unknown disk key \"colour\""},
      {"path = 0:0:0:0\n", "line 1: \"path\" outside a section"},
      {"[tape t]\n", "line 1: unknown section kind"},
      {"[host 0]\nmax_transfer_kb = 2\n", "line 2: \"2\" must be a number 4-"},
      {"# nothing\n", "the configuration names no device"},
  };
  for (const Case& c : cases) {
    sim::SimConfig config;
    std::string error;
    EXPECT_FALSE(sim::parseSimConfig(c.text, &config, &error)) << c.text;
    EXPECT_NE(error.find(c.message), std::string::npos) << error;
  }
}

TEST(SimConfigFile, ExamplesLoad) {
  std::filesystem::path examples = std::filesystem::path(__FILE__).parent_path() / "examples";
  int loaded = 0;
  for (const auto& entry : std::filesystem::directory_iterator(examples)) {
    sim::SimConfig config;
    std::string error;
    EXPECT_TRUE(sim::loadSimConfig(entry.path().string(), &config, &error)) << error;
    ++loaded;
  }
  EXPECT_GE(loaded, 3);
  sim::SimConfig config;
  std::string error;
  ASSERT_TRUE(sim::loadSimConfig((examples / "multipath.conf").string(), &config, &error));
  ASSERT_EQ(config.hosts.size(), 2u);
  EXPECT_EQ(config.hosts[1].maxPhysicalPages, 65u);
  ASSERT_EQ(config.pairs[0].paths.size(), 4u);
  EXPECT_TRUE(config.pairs[0].paths[0].claimed);   // type 0 defaults to claimed
  EXPECT_FALSE(config.pairs[0].paths[2].claimed);  // type 3 does not
}

}  // namespace
