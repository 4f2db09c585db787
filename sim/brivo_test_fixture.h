// Test fixture for the brivo controller model: an in-process raidsim (SimWorld + SimServer on a
// Unix socket) with one brivo pair of 12 drives and an SES enclosure, reached through the SCSI
// layer's simulator back end exactly as the RAID module reaches it, plus helpers that build
// READ BUFFER / WRITE BUFFER commands of modules/brivo/protocol.h. Used by sim/brivo_*_test.cc.
//
// Thread safety: a fixture belongs to one test thread.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "common/scsi/scsi_sim.h"
#include "modules/brivo/protocol.h"
#include "sim/sim_server.h"

namespace brivotest {

namespace fs = std::filesystem;

inline constexpr uint64_t kPairWwn = 0x2000000000000A1FULL;

inline const char kConfig[] = R"(
[host 0]
max_transfer_kb = 1024
[pair alpha]
wwn = 2000000000000A1F
model = brivo
model.job_seconds = 100
model.reset_ms = 200
drives = 12
enclosure = bay
path = A 0:0:0:0
path = B 0:0:1:0
[enclosure bay]
wwn = 500A0B8000112233
slots = 12
)";

struct Reply {
  ScsiResult result;
  std::vector<uint8_t> data;
  uint8_t senseKey = 0;
  uint8_t asc = 0;
  bool good() const { return result.outcome == ScsiOutcome::kGood; }
  bool refused(uint8_t expectedAsc) const {
    return result.outcome == ScsiOutcome::kCheckCondition && senseKey == brivo::kSenseIllegalRequest &&
           asc == expectedAsc;
  }
  template <typename T>
  std::unique_ptr<T> as() const {
    auto value = std::make_unique<T>();
    std::memset(static_cast<void*>(value.get()), 0, sizeof(T));
    std::memcpy(static_cast<void*>(value.get()), data.data(), std::min(sizeof(T), data.size()));
    return value;
  }
};

template <typename T>
std::vector<uint8_t> bytesOf(const T& value) {
  const auto* p = reinterpret_cast<const uint8_t*>(&value);
  return std::vector<uint8_t>(p, p + sizeof(T));
}

// The WWN of drive i of the pair, in display order, as the simulator gives it.
inline std::vector<uint8_t> driveWwn(int i) {
  uint64_t wwn = 0x5000C50000000000ULL + ((kPairWwn & 0xFFFFFF) << 8) + static_cast<uint64_t>(i);
  std::vector<uint8_t> out(8);
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(wwn >> (56 - 8 * k));
  return out;
}

class BrivoSimTest : public ::testing::Test {
 public:
  void SetUp() override {
    dir = fs::temp_directory_path() / ("kestrova-brivosim-" + std::to_string(::getpid()) + "-" +
                                       ::testing::UnitTest::GetInstance()->current_test_info()->name());
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

  virtual const char* configText() const { return kConfig; }

  void startServer() {
    sim::SimConfig config;
    std::string error;
    ASSERT_TRUE(sim::parseSimConfig(configText(), &config, &error)) << error;
    world = std::make_unique<sim::SimWorld>(std::move(config));
    world->setStateFile(stateFile);
    ASSERT_EQ(world->loadStateFile().code, 0);
    server = std::make_unique<sim::SimServer>(*world, socket);
    ASSERT_TRUE(server->start(&error)) << error;
  }
  // A clean daemon stop: the state file gets what the model changed.
  void stopServer() {
    if (server) server->stop();
    if (world) {
      EXPECT_EQ(world->saveStateFile().code, 0);
    }
    server.reset();
    world.reset();
  }
  void ctl(const std::string& command, int expected = 0) {
    std::string reply;
    EXPECT_EQ(simControl(socket, command, &reply), expected) << command << ": " << reply;
  }

  Reply send(int controller, std::vector<uint8_t> cdb, ScsiDirection direction, std::vector<uint8_t> data) {
    Reply reply;
    std::string device = simDeviceName(socket, 0, 0, controller, 0);
    uint8_t sense[32] = {};
    reply.data = std::move(data);
    ScsiCommand command;
    command.device = device;
    command.cdb = cdb.data();
    command.cdbLength = static_cast<uint8_t>(cdb.size());
    command.direction = reply.data.empty() ? ScsiDirection::kNone : direction;
    command.data = reply.data.empty() ? nullptr : reply.data.data();
    command.dataLength = static_cast<uint32_t>(reply.data.size());
    command.timeoutMs = 20000;
    command.sense = sense;
    command.senseCapacity = sizeof(sense);
    reply.result = transport.execute(command);
    if (direction == ScsiDirection::kIn) reply.data.resize(reply.result.transferred);
    reply.senseKey = sense[2] & 0x0F;
    reply.asc = sense[12];
    return reply;
  }

  // READ BUFFER; in mode 2 p3-p5 are the offset.
  Reply read(uint8_t mode, uint8_t id, uint32_t length, uint8_t p3 = 0, uint8_t p4 = 0, uint8_t p5 = 0,
             int controller = 0) {
    std::vector<uint8_t> cdb = {0x3C,
                                mode,
                                id,
                                p3,
                                p4,
                                p5,
                                static_cast<uint8_t>(length >> 16),
                                static_cast<uint8_t>(length >> 8),
                                static_cast<uint8_t>(length),
                                0};
    return send(controller, cdb, ScsiDirection::kIn, std::vector<uint8_t>(length));
  }
  Reply readAt(uint8_t id, uint32_t offset, uint32_t length, int controller = 0) {
    return read(brivo::kModeData, id, length, static_cast<uint8_t>(offset >> 16),
                static_cast<uint8_t>(offset >> 8), static_cast<uint8_t>(offset), controller);
  }
  // WRITE BUFFER mode 1: the signature and the block.
  Reply command(uint8_t id, std::vector<uint8_t> block = {}, uint8_t p3 = 0, uint8_t p4 = 0, uint8_t p5 = 0,
                int controller = 0) {
    std::vector<uint8_t> data(brivo::kCommandSignature, brivo::kCommandSignature + brivo::kSignatureLength);
    data.insert(data.end(), block.begin(), block.end());
    uint32_t length = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> cdb = {0x3B,
                                brivo::kModeCommand,
                                id,
                                p3,
                                p4,
                                p5,
                                static_cast<uint8_t>(length >> 16),
                                static_cast<uint8_t>(length >> 8),
                                static_cast<uint8_t>(length),
                                0};
    return send(controller, cdb, ScsiDirection::kOut, std::move(data));
  }
  Reply writeData(uint8_t mode, uint8_t id, uint32_t offset, std::vector<uint8_t> data, int controller = 0) {
    uint32_t length = static_cast<uint32_t>(data.size());
    std::vector<uint8_t> cdb = {0x3B,
                                mode,
                                id,
                                static_cast<uint8_t>(offset >> 16),
                                static_cast<uint8_t>(offset >> 8),
                                static_cast<uint8_t>(offset),
                                static_cast<uint8_t>(length >> 16),
                                static_cast<uint8_t>(length >> 8),
                                static_cast<uint8_t>(length),
                                0};
    return send(controller, cdb, ScsiDirection::kOut, std::move(data));
  }

  std::unique_ptr<brivo::ControllerInformation> info(int controller = 0) {
    Reply r = read(brivo::kModeData, brivo::kOpReadControllerInfo, brivo::kControllerInfoLength, 0, 0, 0,
                   controller);
    EXPECT_TRUE(r.good());
    return r.as<brivo::ControllerInformation>();
  }
  std::unique_ptr<brivo::ConfigurationBlock> config() {
    Reply r = read(brivo::kModeData, brivo::kOpReadConfiguration, brivo::kConfigurationLength);
    EXPECT_TRUE(r.good());
    EXPECT_EQ(r.data.size(), brivo::kConfigurationLength);
    return r.as<brivo::ConfigurationBlock>();
  }
  std::unique_ptr<brivo::DriveList> driveList() {
    Reply r = read(brivo::kModeData, brivo::kOpReadDriveList, sizeof(brivo::DriveList));
    EXPECT_TRUE(r.good());
    return r.as<brivo::DriveList>();
  }
  // Controller c's log, read through controller `via`.
  std::unique_ptr<brivo::EventLog> eventLog(int c, int via = 0) {
    Reply r = read(brivo::kModeData, c == 0 ? brivo::kOpReadEventLogA : brivo::kOpReadEventLogB,
                   brivo::kEventLogLength, 0, 0, 0, via);
    EXPECT_TRUE(r.good());
    return r.as<brivo::EventLog>();
  }
  // Entries of controller c's log with that code (and r0 when given), oldest first.
  std::vector<brivo::EventEntry> events(int c, uint8_t code, int r0 = -1, int via = 0) {
    auto log = eventLog(c, via);
    std::vector<brivo::EventEntry> out;
    for (int i = 0; i < log->count; ++i) {
      const brivo::EventEntry& e = log->entries[i];
      if (e.code == code && (r0 < 0 || e.reason[0] == r0)) out.push_back(e);
    }
    return out;
  }

  void begin() { ASSERT_TRUE(command(brivo::kOpConfigStart).good()); }
  void save() { ASSERT_TRUE(command(brivo::kOpConfigSave).good()); }

  static brivo::CreateArrayBlock arrayBlock(uint8_t level, std::vector<int> drives, uint8_t parity = 0,
                                            uint8_t initialize = brivo::kOn) {
    brivo::CreateArrayBlock block{};
    block.raidLevel = level;
    block.driveCount = static_cast<uint8_t>(drives.size());
    block.chunkSizeKb = 64;
    for (size_t i = 0; i < drives.size(); ++i) std::memcpy(block.driveWwn[i], driveWwn(drives[i]).data(), 8);
    block.parityDrives = parity;
    block.cacheFlush = 0xFF;
    block.writeBackMb = 5;
    block.initialize = initialize;
    block.unusedPercent = 0xFF;
    std::strncpy(block.name, "data", sizeof(block.name));
    return block;
  }
  // Creates and saves an array; the new array's number.
  int createArray(uint8_t level, std::vector<int> drives, uint8_t parity = 0,
                  uint8_t initialize = brivo::kOn) {
    begin();
    Reply r =
        command(brivo::kOpCreateArray, bytesOf(arrayBlock(level, std::move(drives), parity, initialize)));
    EXPECT_TRUE(r.good()) << "asc " << static_cast<int>(r.asc);
    save();
    auto cfg = config();
    return cfg->header.arrayCount - 1;
  }
  Reply createDrive(uint16_t sizeGb, uint16_t region, uint8_t availability = 0x05, const char* name = "vol") {
    brivo::CreateLogicalDriveBlock block{};
    block.sizeGb = sizeGb;
    block.region = region;
    block.availability = availability;
    std::strncpy(block.name, name, sizeof(block.name));
    return command(brivo::kOpCreateLogicalDrive, bytesOf(block));
  }

  fs::path dir;
  std::string socket;
  std::string stateFile;
  std::unique_ptr<sim::SimWorld> world;
  std::unique_ptr<sim::SimServer> server;
  SimScsiTransport transport{{}};
};

}  // namespace brivotest
