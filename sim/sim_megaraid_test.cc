// Tests of the simulator's MegaRAID controllers and enclosure ESIs: configuration checks, the
// drive list and pass-through of the "megaraid" control commands, and the ESI elements with the
// report bit moving when a downloaded image is activated.
#include <gtest/gtest.h>

#include "sim/sim_world.h"

namespace {

const char kConfig[] = R"(
[enclosure bay]
wwn = 500A0B8000112233
esis = 2
esi_restart_ms = 0
path = 0:0:8:0
[megaraid mr]
id = 4
enclosure = bay
enclosure_drives = 1
system_drives = 2
)";

std::unique_ptr<sim::SimWorld> makeWorld(const std::string& text, std::string* error) {
  sim::SimConfig config;
  if (!sim::parseSimConfig(text, &config, error)) return nullptr;
  return std::make_unique<sim::SimWorld>(std::move(config));
}

sim::SimReply run(sim::SimWorld& world, std::vector<uint8_t> cdb, uint32_t dataIn,
                  std::vector<uint8_t> out = {}) {
  simwire::ExecuteRequest r;
  r.target = 8;
  r.cdbLength = static_cast<uint8_t>(cdb.size());
  std::copy(cdb.begin(), cdb.end(), r.cdb.begin());
  r.direction = dataIn != 0 ? 1 : out.empty() ? 0 : 2;
  r.dataInLength = dataIn;
  r.dataOut = std::move(out);
  r.senseCapacity = 32;
  return world.execute(r);
}

TEST(SimMegaRaid, ConfigurationIsChecked) {
  std::string error;
  EXPECT_EQ(makeWorld("[megaraid a]\nenclosure = none\n", &error), nullptr);
  EXPECT_NE(error.find("unknown enclosure"), std::string::npos);
  EXPECT_EQ(
      makeWorld("[enclosure e]\nslots = 2\n[megaraid a]\nenclosure = e\nenclosure_drives = 3\n", &error),
      nullptr);
  EXPECT_NE(error.find("more enclosure drives than slots"), std::string::npos);
  EXPECT_EQ(makeWorld("[megaraid a]\nsystem_drives = 1\n[megaraid b]\nid = 0\n", &error), nullptr);
  EXPECT_NE(error.find("repeats a controller id"), std::string::npos);
  EXPECT_EQ(makeWorld("[megaraid a]\ntype = raid\n", &error), nullptr);
}

TEST(SimMegaRaid, ListsDrivesAndPassesCommandsThrough) {
  std::string error;
  auto world = makeWorld(kConfig, &error);
  ASSERT_NE(world, nullptr) << error;
  EXPECT_EQ(world->control("megaraid list").text, "4 0 mr\n");
  EXPECT_EQ(world->control("megaraid drives 4").text,
            "0 0 0 255 13\n1 0 0 0 0\n2 65535 255 255 0\n3 65535 255 255 0\n");
  EXPECT_EQ(world->control("megaraid drives 5").code, 1);
  sim::ControlResult capacity = world->control("megaraid exec 4 3 in 8 25000000000000000000");
  EXPECT_EQ(capacity.text, "0 - 74706DAF00000200");
  sim::ControlResult refused = world->control("megaraid exec 4 3 in 8 FF");
  EXPECT_EQ(refused.text.substr(0, 2), "2 ");
  EXPECT_EQ(world->control("megaraid exec 4 9 in 8 12").code, 1);
}

TEST(SimMegaRaid, EsiReportBitMovesWhenAnImageIsActivated) {
  std::string error;
  auto world = makeWorld(kConfig, &error);
  ASSERT_NE(world, nullptr) << error;
  auto status = [&] { return run(*world, {0x1C, 0x01, 0x02, 0x14, 0x00, 0}, 5120).data; };
  std::vector<uint8_t> page = status();
  ASSERT_GE(page.size(), 128u);  // twelve slots: the ESI elements sit at bytes 120-127
  EXPECT_EQ(page[120], 1);
  EXPECT_EQ(page[122] & 1, 1);
  EXPECT_EQ(page[126] & 1, 0);
  std::vector<uint8_t> chunk = {0x04, 0, 0, 7, 0, 0, 0, 0, 'f', 'w', '1'};
  EXPECT_EQ(run(*world, {0x1D, 0x10, 0, 0, 11, 0}, 0, chunk).outcome, ScsiOutcome::kGood);
  std::vector<uint8_t> outOfOrder = {0x04, 0, 0, 5, 0, 0, 0, 9, 'x'};
  EXPECT_EQ(run(*world, {0x1D, 0x10, 0, 0, 9, 0}, 0, outOfOrder).outcome, ScsiOutcome::kCheckCondition);
  page = status();  // the next other command finds the first ESI restarted
  EXPECT_EQ(page[122] & 1, 0);
  EXPECT_EQ(page[126] & 1, 1);
  EXPECT_EQ(world->control("firmware bay").text.substr(0, 38), "reporting 1\nesi0 loads 1 bytes 3 hash ");
}

}  // namespace
