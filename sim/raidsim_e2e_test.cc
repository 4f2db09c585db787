// End-to-end tests of raidsim in-process: a SimServer on a Unix socket, reached through the SCSI
// layer's simulator back end. Covers the device scan over a simulator, commands through adapter
// and device names, every control command, the reconnect after a restart, a dead simulator and
// state persistence.
#include <gtest/gtest.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "common/scsi/device_scan.h"
#include "common/scsi/scsi_sim.h"
#include "sim/loopback_model.h"
#include "sim/sim_server.h"

namespace fs = std::filesystem;

namespace {

const char kConfig[] = R"(
[host 0]
max_transfer_kb = 1024
[host 1]
max_transfer_kb = fails
[pair alpha]
wwn = 2000000000000A1F
model = loopback
drives = 12
enclosure = bay
path = A 0:0:0:0
path = B 0:0:1:0
path = A 1:0:0:0 type=3
path = B 1:0:1:0 type=3
[enclosure bay]
slots = 12
path = 0:0:8:0
[disk boot]
blocks = 1000
path = 0:0:5:0
)";

class RaidsimEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-raidsim-" + std::to_string(::getpid()));
    fs::create_directories(dir);
    socket = (dir / "sim.sock").string();
    stateFile = (dir / "state.txt").string();
    startServer();
  }
  void TearDown() override {
    stopServer();
    closeSimConnections();
    fs::remove_all(dir);
  }

  void startServer() {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::parseSimConfig(kConfig, &config, &error)) << error;
    world = std::make_unique<sim::SimWorld>(std::move(config));
    world->setStateFile(stateFile);
    ASSERT_EQ(world->loadStateFile().code, 0);
    server = std::make_unique<sim::SimServer>(*world, socket);
    ASSERT_TRUE(server->start(&error)) << error;
  }
  void stopServer() {
    if (server) server->stop();
    server.reset();
    world.reset();
  }
  void ctl(const std::string& command, int expected = 0) {
    std::string reply;
    EXPECT_EQ(simControl(socket, command, &reply), expected) << command << ": " << reply;
  }
  std::string ctlText(const std::string& command) {
    std::string reply;
    EXPECT_EQ(simControl(socket, command, &reply), 0) << reply;
    return reply;
  }

  ScsiResult send(const std::string& device, std::vector<uint8_t> cdb, std::vector<uint8_t>* data = nullptr,
                  uint32_t timeoutMs = 5000, uint8_t path = 0, uint8_t target = 0) {
    ScsiCommand command;
    command.device = device;
    command.path = path;
    command.target = target;
    command.cdb = cdb.data();
    command.cdbLength = static_cast<uint8_t>(cdb.size());
    command.direction = data != nullptr ? ScsiDirection::kIn : ScsiDirection::kNone;
    command.data = data != nullptr ? data->data() : nullptr;
    command.dataLength = data != nullptr ? static_cast<uint32_t>(data->size()) : 0;
    command.timeoutMs = timeoutMs;
    command.sense = sense;
    command.senseCapacity = sizeof(sense);
    return transport.execute(command);
  }
  std::string device(int host, int target) { return simDeviceName(socket, host, 0, target, 0); }
  std::vector<std::string> stateLines() {
    std::ifstream in(stateFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  bool hasLine(const std::string& line) {
    auto lines = stateLines();
    return std::find(lines.begin(), lines.end(), line) != lines.end();
  }

  fs::path dir;
  std::string socket;
  std::string stateFile;
  std::unique_ptr<sim::SimWorld> world;
  std::unique_ptr<sim::SimServer> server;
  SimScsiTransport transport{{}};
  uint8_t sense[32] = {};
};

void capture(void* context, const char* text) { static_cast<std::string*>(context)->append(text); }

TEST_F(RaidsimEndToEnd, ScanNamesSimulatedDevicesLikeAdapterAndPerDeviceNames) {
  transport.setSockets({socket});
  DeviceRecord* head = nullptr;
  std::string printed;
  ScanOutput output{capture, &printed};
  EXPECT_EQ(scanScsiDevices(transport, true, &head, &output), 6);
  std::vector<DeviceRecord*> records;
  for (DeviceRecord* r = head; r != nullptr; r = r->next) records.push_back(r);
  ASSERT_EQ(records.size(), 6u);
  // Host 0: the two claimed controller paths by their own names, the unclaimed ones by the adapter.
  EXPECT_EQ(std::string(records[0]->info->deviceName), device(0, 0));
  EXPECT_EQ(std::string(records[2]->info->deviceName), device(0, 5));
  EXPECT_EQ(std::string(records[3]->info->deviceName), simAdapterName(socket, 0));  // the enclosure
  EXPECT_EQ(records[3]->info->maxTransferSize, 1024u * 1024);
  EXPECT_EQ(std::string(records[4]->info->deviceName), simAdapterName(socket, 1));
  EXPECT_EQ(records[4]->info->port, 1);
  EXPECT_EQ(records[4]->info->inquiryData[0], 3);
  EXPECT_EQ(records[4]->info->maxTransferSize, 0u);
  EXPECT_NE(printed.find("Failed to get transfer size\n"), std::string::npos);
  destroyDeviceList(head);
}

TEST_F(RaidsimEndToEnd, CommandsReachDevicesByDeviceAndAdapterNames) {
  std::vector<uint8_t> inquiry(96);
  ASSERT_EQ(send(device(0, 5), {0x12, 0, 0, 0, 96, 0}, &inquiry).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(inquiry[0], 0);
  std::vector<uint8_t> capacity(8);
  ScsiResult r = send(device(0, 5), {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0}, &capacity);
  ASSERT_EQ(r.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(r.transferred, 8u);
  EXPECT_EQ(sim::be32(&capacity[0]), 999u);
  std::vector<uint8_t> page(5120);
  r = send(simAdapterName(socket, 0), {0x1C, 0x01, 0x01, 0x14, 0, 0}, &page, 5000, 0, 8);
  ASSERT_EQ(r.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(page[0], 0x01);
  EXPECT_EQ(page[73], 12);
  r = send(simAdapterName(socket, 1), {0x12, 0, 0, 0, 96, 0}, &inquiry, 5000, 0, 1);
  EXPECT_EQ(inquiry[36], 'B');

  // A controller-sized buffer in one command.
  std::vector<uint8_t> big(sim::kLoopbackDefaultSize);
  r = send(device(0, 0), {0x3C, 0x02, 0x01, 0, 0, 0, 0x0E, 0x58, 0x00, 0}, &big, 10000);
  ASSERT_EQ(r.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(r.transferred, sim::kLoopbackDefaultSize);
  EXPECT_EQ(big[500000], sim::LoopbackModel::patternByte(0x01, sim::kLoopbackDefaultSize, 500000));
}

TEST_F(RaidsimEndToEnd, InjectedSenseNoAnswerAndLatency) {
  ctl("sense alpha/A 2 6 0x29 0");
  ScsiResult r = send(device(0, 0), {0x00, 0, 0, 0, 0, 0});
  ASSERT_EQ(r.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(r.status, 2);
  EXPECT_EQ(r.senseLength, 18);
  EXPECT_EQ(sense[2], 6);
  EXPECT_EQ(sense[12], 0x29);
  EXPECT_EQ(send(device(0, 1), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);  // B is not affected
  EXPECT_EQ(send(device(1, 0), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(send(device(0, 0), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);  // two were asked for

  ctl("noanswer 0:0:5:0 1");
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kNoAnswer);
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);

  ctl("latency boot 300");
  auto start = std::chrono::steady_clock::now();
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}, nullptr, 5000).outcome, ScsiOutcome::kGood);
  EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(300));
  start = std::chrono::steady_clock::now();
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}, nullptr, 100).outcome, ScsiOutcome::kTimeout);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(2000));
  ctl("clear boot");
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}, nullptr, 100).outcome, ScsiOutcome::kGood);

  ctl("sense nothing 1 5 0x24 0", 1);
  ctl("noanswer alpha/C 1", 1);
  ctl("sense * 1 16 0 0", 1);
  ctl("latency * many", 1);
}

TEST_F(RaidsimEndToEnd, ControlCommandsChangeTheStateAndItSurvivesARestart) {
  ctl("fail controller alpha B");
  ctl("fail battery alpha A");
  ctl("set battery alpha A 79");
  ctl("set temperature alpha A 0 61");
  ctl("set voltage alpha B 3 3100");
  ctl("set clock alpha A +3600");
  ctl("fail drive alpha 11");
  ctl("fail disk boot");
  ctl("fail fan bay 0");
  ctl("fail psu bay 1");
  ctl("set temperature bay 2 44");
  ctl("set slot bay 3 locate on");
  ctl("set locate bay on");
  ctl("set alarm bay muted");
  ctl("set string bay 414243");
  ctl("event alpha A 0x6B data=0102 fan stopped");
  ctl("model alpha buffer.40 0A0B0C");
  for (const char* line :
       {"fail controller alpha B", "fail battery alpha A", "set battery alpha A 79",
        "set temperature alpha A 0 61", "set voltage alpha B 3 3100", "set clock alpha A +3600",
        "fail drive alpha 11", "fail disk boot", "fail fan bay 0", "fail psu bay 1",
        "set temperature bay 2 44", "set slot bay 3 locate on", "set locate bay on", "set alarm bay muted",
        "set string bay 414243", "model alpha buffer.40 0A0B0C"}) {
    EXPECT_TRUE(hasLine(line)) << line;
  }
  auto before = stateLines();
  std::string status = ctlText("status");
  EXPECT_NE(status.find("B: failed"), std::string::npos) << status;
  EXPECT_NE(status.find("battery 79% failed"), std::string::npos) << status;

  // A new daemon on the same socket and state file: the pooled connection is stale and replaced.
  stopServer();
  EXPECT_EQ(send(device(0, 5), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kNoAnswer);  // nobody there
  startServer();
  EXPECT_EQ(stateLines(), before);
  EXPECT_EQ(send(device(0, 1), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kNoAnswer);  // B still failed
  std::vector<uint8_t> data(3);
  ASSERT_EQ(send(device(0, 0), {0x3C, 0x02, 0x40, 0, 0, 0, 0, 0, 3, 0}, &data).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(data, (std::vector<uint8_t>{0x0A, 0x0B, 0x0C}));
  std::vector<uint8_t> page(5120);
  ASSERT_EQ(send(device(0, 8), {0x1C, 0x01, 0x02, 0x14, 0, 0}, &page).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(page[14 + 4 * 3], 0x02);  // slot 3 locating
  EXPECT_EQ(page[12 + 4 * 11], 2);    // slot 11: its drive failed

  ctl("restore controller alpha B");
  ctl("restore fan bay 0");
  EXPECT_FALSE(hasLine("fail controller alpha B"));
  EXPECT_EQ(send(device(0, 1), {0x00, 0, 0, 0, 0, 0}).outcome, ScsiOutcome::kGood);
}

TEST_F(RaidsimEndToEnd, BadCommandsAndBadStateFilesChangeNothing) {
  for (const char* bad :
       {"fail controller nope A", "fail controller alpha C", "fail drive alpha 12", "fail fan bay 9",
        "set battery alpha A 101", "set clock alpha A yesterday", "set temperature bay 99 30",
        "set slot bay 1 blink on", "event alpha A", "model alpha colour red", "dance"}) {
    ctl(bad, 1);
  }
  ctl("fail disk boot");
  std::string broken = (dir / "broken.txt").string();
  std::ofstream(broken) << "fail fan bay 1\nload " << broken << "\n";
  ctl("load " + broken, 1);
  std::ofstream(broken) << "fail fan bay 1\nfail fan bay 99\n";
  ctl("load " + broken, 1);
  EXPECT_EQ(stateLines(), (std::vector<std::string>{"# raidsim state 1", "fail disk boot"}));
  std::string status = ctlText("status");
  EXPECT_NE(status.find("fans failed 0/2"), std::string::npos) << status;
  EXPECT_NE(status.find("disk boot: failed"), std::string::npos) << status;
  ctl("load " + (dir / "missing.txt").string(), 2);
}

TEST_F(RaidsimEndToEnd, DeadSimulatorAnswersNoAnswerAtOnce) {
  std::string nowhere = (dir / "nobody.sock").string();
  auto start = std::chrono::steady_clock::now();
  ScsiResult r = send(simDeviceName(nowhere, 0, 0, 0, 0), {0x00, 0, 0, 0, 0, 0}, nullptr, 60000);
  EXPECT_EQ(r.outcome, ScsiOutcome::kNoAnswer);
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
  transport.setSockets({nowhere, socket});
  EXPECT_EQ(transport.listAdapters().size(), 2u);  // the dead one contributes nothing
  std::string reply;
  EXPECT_EQ(simControl(nowhere, "status", &reply), -1);
  EXPECT_NE(reply.find("did not answer"), std::string::npos);
}

TEST_F(RaidsimEndToEnd, ConcurrentCommandsFromManyThreads) {
  std::vector<std::thread> threads;
  std::atomic<int> good{0};
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < 25; ++i) {
        std::vector<uint8_t> data(4096);
        ScsiCommand c;
        std::string name = device(t % 2, t < 2 ? 0 : 1);
        uint8_t id = static_cast<uint8_t>(t + 1);
        uint8_t cdb[10] = {0x3C, 0x02, id, 0, 0, 0, 0, 0x10, 0, 0};
        c.device = name;
        c.cdb = cdb;
        c.cdbLength = 10;
        c.direction = ScsiDirection::kIn;
        c.data = data.data();
        c.dataLength = 4096;
        if (transport.execute(c).outcome == ScsiOutcome::kGood &&
            data[5] == sim::LoopbackModel::patternByte(id, sim::kLoopbackDefaultSize, 5)) {
          ++good;
        }
      }
    });
  }
  std::thread control([&] {
    for (int i = 0; i < 20; ++i) ctl("set battery alpha A " + std::to_string(50 + i));
  });
  for (auto& t : threads) t.join();
  control.join();
  EXPECT_EQ(good.load(), 100);
}



// The same world over the TCP listener that a Windows server uses: scan, commands, control, and
// a hostile frame on the wire; a TCP address that cannot be used is refused at start.
TEST(RaidsimOverTcp, ScanCommandsAndControlOverTheLoopback) {
  sim::SimConfig config;
  std::string error;
  ASSERT_TRUE(sim::parseSimConfig(kConfig, &config, &error)) << error;
  sim::SimWorld world(std::move(config));
  sim::SimServer server(world, "");
  server.listenTcp("127.0.0.1:0");
  ASSERT_TRUE(server.start(&error)) << error;
  const std::string address = server.tcpAddress();
  ASSERT_EQ(address.rfind("tcp:127.0.0.1:", 0), 0u) << address;
  EXPECT_NE(address, "tcp:127.0.0.1:0") << "the port actually bound";

  SimScsiTransport transport({address});
  DeviceRecord* head = nullptr;
  EXPECT_EQ(scanScsiDevices(transport, false, &head), 6);
  destroyDeviceList(head);

  std::vector<uint8_t> cdb = {0x12, 0, 0, 0, 96, 0};
  std::vector<uint8_t> data(96);
  uint8_t sense[32] = {};
  ScsiCommand command;
  const std::string name = simDeviceName(address, 0, 0, 5, 0);
  command.device = name;
  command.cdb = cdb.data();
  command.cdbLength = 6;
  command.direction = ScsiDirection::kIn;
  command.data = data.data();
  command.dataLength = 96;
  command.sense = sense;
  command.senseCapacity = sizeof(sense);
  ScsiResult result = transport.execute(command);
  EXPECT_EQ(result.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(data[0] & 0x1f, 0) << "the disk answers INQUIRY over TCP";

  std::string reply;
  EXPECT_EQ(simControl(address, "fail controller alpha A", &reply), 0) << reply;
  EXPECT_NE(simControl(address, "no such command", &reply), 0);

  // Garbage on a connection ends that connection only.
  int code = 0;
  UniqueFd raw = connectSimSocket(address, &code);
  ASSERT_TRUE(raw.valid()) << code;
  const uint8_t junk[32] = {0xde, 0xad, 0xbe, 0xef};
  EXPECT_EQ(writeAllBytes(raw.get(), junk, sizeof(junk), deadlineAfterMs(5000), &code), SimIo::kOk);
  EXPECT_EQ(simControl(address, "help", &reply), 0);
  server.stop();
  closeSimConnections();
  EXPECT_EQ(transport.execute(command).outcome, ScsiOutcome::kNoAnswer) << "stopped: nothing listens";

  for (const char* bad : {"localhost:9400", "127.0.0.1", "127.0.0.1:70000", "1.2.3:5"}) {
    sim::SimServer refused(world, "");
    refused.listenTcp(bad);
    EXPECT_FALSE(refused.start(&error)) << bad;
  }
  sim::SimServer nothing(world, "");
  EXPECT_FALSE(nothing.start(&error));
}

}  // namespace
