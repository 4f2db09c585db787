// Tests of the combined transport (ports across back ends, dispatch by name prefix), command
// validation and the simulator list of the process-wide transport.
#include "common/scsi/scsi_transport.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include "common/scsi/scsi_sim.h"

namespace {

class Backend : public ScsiTransport {
 public:
  Backend(std::string prefix, int adapters) : prefix_(std::move(prefix)), adapters_(adapters) {}
  std::vector<ScsiAdapter> listAdapters() override {
    std::vector<ScsiAdapter> out;
    for (int i = 0; i < adapters_; ++i) out.push_back({i, prefix_ + std::to_string(i) + ":"});
    return out;
  }
  void rescanBus(int port) override { rescanned.push_back(port); }
  bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) override {
    entries->assign(1, ScsiBusEntry{});
    (*entries)[0].targetId = static_cast<uint8_t>(port);
    return true;
  }
  std::vector<ScsiDeviceName> listDeviceNames() override {
    return {{prefix_ + "dev", false, 0}, {prefix_ + "1:", true, 1}};
  }
  bool deviceAddress(std::string_view, ScsiAddress* address) override {
    *address = {1, 0, 5, 0};
    return true;
  }
  ScsiLimitStatus maxPhysicalPages(std::string_view, uint32_t* pages) override {
    *pages = 17;
    return ScsiLimitStatus::kOk;
  }
  ScsiResult execute(const ScsiCommand& command) override {
    executed.emplace_back(command.device);
    ScsiResult r;
    r.outcome = ScsiOutcome::kGood;
    return r;
  }
  std::vector<int> rescanned;
  std::vector<std::string> executed;

 private:
  std::string prefix_;
  int adapters_;
};

TEST(CombinedTransport, NumbersPortsAcrossBackEndsAndDispatchesByPrefix) {
  auto first = std::make_unique<Backend>("/dev/", 2);
  auto second = std::make_unique<Backend>("sim:", 3);
  Backend* a = first.get();
  Backend* b = second.get();
  std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds;
  backEnds.emplace_back("/dev/", std::move(first));
  backEnds.emplace_back("sim:", std::move(second));
  auto combined = makeCombinedScsiTransport(std::move(backEnds));

  auto adapters = combined->listAdapters();
  ASSERT_EQ(adapters.size(), 5u);
  EXPECT_EQ(adapters[3].port, 3);
  EXPECT_EQ(adapters[3].name, "sim:1:");
  std::vector<ScsiBusEntry> entries;
  ASSERT_TRUE(combined->readBusTable(3, &entries));
  EXPECT_EQ(entries[0].targetId, 1);  // the second back end's own port 1
  EXPECT_FALSE(combined->readBusTable(5, &entries));
  combined->rescanBus(4);
  EXPECT_EQ(b->rescanned, (std::vector<int>{2}));
  EXPECT_TRUE(a->rescanned.empty());

  auto names = combined->listDeviceNames();
  ASSERT_EQ(names.size(), 4u);
  EXPECT_EQ(names[3].name, "sim:1:");
  EXPECT_EQ(names[3].port, 3);
  ScsiAddress address;
  ASSERT_TRUE(combined->deviceAddress("sim:dev", &address));
  EXPECT_EQ(address.port, 3);
  ASSERT_TRUE(combined->deviceAddress("/dev/dev", &address));
  EXPECT_EQ(address.port, 1);
  EXPECT_FALSE(combined->deviceAddress("tape:0", &address));
  uint32_t pages = 0;
  EXPECT_EQ(combined->maxPhysicalPages("other", &pages), ScsiLimitStatus::kNotOpened);

  uint8_t cdb[6] = {0};
  ScsiCommand command;
  command.device = "sim:x";
  command.cdb = cdb;
  command.cdbLength = 6;
  EXPECT_EQ(combined->execute(command).outcome, ScsiOutcome::kGood);
  command.device = "tape:0";
  ScsiResult r = combined->execute(command);
  EXPECT_EQ(r.outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(b->executed, (std::vector<std::string>{"sim:x"}));
  EXPECT_TRUE(a->executed.empty());
}

TEST(ScsiCommandValidation, RefusesInconsistentCommands) {
  uint8_t cdb[16] = {0};
  uint8_t data[4];
  uint8_t sense[4];
  ScsiCommand c;
  c.device = "x";
  c.cdb = cdb;
  c.cdbLength = 16;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kGood);
  c.dataLength = 4;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kInvalid);  // data with direction none
  c.direction = ScsiDirection::kIn;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kInvalid);  // no buffer
  c.data = data;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kGood);
  c.senseCapacity = 4;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kInvalid);
  c.sense = sense;
  c.cdbLength = 0;
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kInvalid);
  c.cdbLength = 6;
  c.device = "";
  EXPECT_EQ(validateScsiCommand(c).outcome, ScsiOutcome::kInvalid);
}

TEST(ScsiSimulators, SettingsAndEnvironmentAreMergedWithoutDuplicates) {
  EXPECT_EQ(splitSimulatorList(" /a.sock; ;/b.sock ;"), (std::vector<std::string>{"/a.sock", "/b.sock"}));
  EXPECT_TRUE(splitSimulatorList("").empty());
  ::setenv("KESTROVA_SCSI_SIM", "/run/b.sock;/run/c.sock", 1);
  setScsiSimulators({"/run/a.sock", "/run/b.sock"});
  EXPECT_EQ(scsiSimulators(), (std::vector<std::string>{"/run/a.sock", "/run/b.sock", "/run/c.sock"}));
  ::unsetenv("KESTROVA_SCSI_SIM");
  setScsiSimulators({});
  EXPECT_TRUE(scsiSimulators().empty());
}

TEST(SimDeviceNames, ParseBothFormsAndRejectTheRest) {
  SimDeviceName n;
  ASSERT_TRUE(parseSimDeviceName("sim:/tmp/a:b.sock:3:1:2:7", &n));
  EXPECT_EQ(n.socket, "/tmp/a:b.sock");
  EXPECT_FALSE(n.isAdapter);
  EXPECT_EQ(n.host, 3);
  EXPECT_EQ(n.lun, 7);
  ASSERT_TRUE(parseSimDeviceName("sim:/tmp/s:300:", &n));
  EXPECT_TRUE(n.isAdapter);
  EXPECT_EQ(n.host, 300);
  EXPECT_EQ(simAdapterName("/tmp/s", 300), "sim:/tmp/s:300:");
  for (const char* bad : {"sim:", "sim::1:", "sim:/s:1:2:3", "sim:/s:1:2:3:256", "sim:/s:x:0:0:0", "/dev/sg0",
                          "sim:/s:-1:0:0:0", "sim:/s:70000:"}) {
    EXPECT_FALSE(parseSimDeviceName(bad, &n)) << bad;
  }
}

}  // namespace
