// Test fixture of the enclosure library's tests: a scratch folder as working directory (the
// debug file lands there), the device list file inside it, an empty host root, a raidsim world
// served in-process on a socket in the folder, the storelib substitute pointed at it, and a
// recording wrapper around the SCSI layer that keeps every command and can answer chosen ones
// itself (fault injection at exact commands).
//
// Thread safety: one fixture per test; the library itself is single-threaded.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/blnk_internal.h"
#include "common/scsi/scsi_sim.h"
#include "sim/sim_server.h"

namespace blnktest {

namespace fs = std::filesystem;

struct Recorded {
  std::string device;
  std::vector<uint8_t> cdb;
  std::vector<uint8_t> dataOut;
};

// Forwards to the simulator transport, recording each command. inject may answer a command
// instead (return a result); it sees the command before it is forwarded.
class RecordingTransport : public ScsiTransport {
 public:
  std::vector<ScsiAdapter> listAdapters() override { return sim_.listAdapters(); }
  bool readBusTable(int port, std::vector<ScsiBusEntry>* e) override { return sim_.readBusTable(port, e); }
  std::vector<ScsiDeviceName> listDeviceNames() override { return sim_.listDeviceNames(); }
  bool deviceAddress(std::string_view n, ScsiAddress* a) override { return sim_.deviceAddress(n, a); }
  ScsiLimitStatus maxPhysicalPages(std::string_view n, uint32_t* p) override {
    return sim_.maxPhysicalPages(n, p);
  }
  ScsiResult execute(const ScsiCommand& command) override {
    Recorded r{
        std::string(command.device), std::vector<uint8_t>(command.cdb, command.cdb + command.cdbLength), {}};
    if (command.direction == ScsiDirection::kOut)
      r.dataOut.assign(command.data, command.data + command.dataLength);
    commands->push_back(r);
    if (inject) {
      if (std::optional<ScsiResult> answer = inject(command)) return *answer;
    }
    return sim_.execute(command);
  }

  std::shared_ptr<std::vector<Recorded>> commands = std::make_shared<std::vector<Recorded>>();
  std::function<std::optional<ScsiResult>(const ScsiCommand&)> inject;

 private:
  SimScsiTransport sim_{{}};
};

// A CHECK CONDITION result with fixed-format sense, for inject.
inline ScsiResult checkCondition(const ScsiCommand& command, uint8_t key, uint8_t asc) {
  ScsiResult result;
  result.outcome = ScsiOutcome::kCheckCondition;
  result.status = 2;
  if (command.sense != nullptr && command.senseCapacity >= 18) {
    std::fill(command.sense, command.sense + 18, 0);
    command.sense[0] = 0x70;
    command.sense[2] = key;
    command.sense[7] = 10;
    command.sense[12] = asc;
    result.senseLength = 18;
  }
  return result;
}

inline fs::path buildDir() {
  const char* build = std::getenv("KESTROVA_BUILD_DIR");
  if (build != nullptr) return build;
  return fs::read_symlink("/proc/self/exe").parent_path().parent_path();
}

class SimFixture : public ::testing::Test {
 protected:
  // The raidsim configuration of the test.
  virtual std::string config() const = 0;

  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "blnk-test-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    previous = fs::current_path();
    fs::current_path(dir);
    fs::create_directories(dir / "root");
    blnkSetHostForTesting((dir / "root").string(), nullptr);
    socket = (dir / "sim.sock").string();
    listFile = (dir / "blnkscan").string();
    setenv("BAYLINK_DEVICE_LIST", listFile.c_str(), 1);
    setenv("KESTROVA_SCSI_SIM", socket.c_str(), 1);
    setenv("KESTROVA_STORELIB_SIM", socket.c_str(), 1);
    setenv("BAYLINK_STORELIB", (buildDir() / "lib/libstorelib.so.2").c_str(), 1);
    sim::SimConfig parsed;
    std::string error;
    ASSERT_TRUE(sim::parseSimConfig(config(), &parsed, &error)) << error;
    world = std::make_unique<sim::SimWorld>(std::move(parsed));
    server = std::make_unique<sim::SimServer>(*world, socket);
    ASSERT_TRUE(server->start(&error)) << error;
    auto recording = std::make_unique<RecordingTransport>();
    transport = recording.get();
    commands = recording->commands;
    setScsiSystemForTesting(std::move(recording));
  }

  void TearDown() override {
    SCSI_CloseDevice();
    iDebugMode = 0;
    setScsiSystemForTesting(nullptr);
    if (server) server->stop();
    server.reset();
    world.reset();
    closeSimConnections();
    for (const char* name :
         {"BAYLINK_DEVICE_LIST", "KESTROVA_SCSI_SIM", "KESTROVA_STORELIB_SIM", "BAYLINK_STORELIB"})
      unsetenv(name);
    blnkSetHostForTesting("", nullptr);
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(dir, ignored);
  }

  std::string device(int target, int lun = 0) const { return simDeviceName(socket, 0, 0, target, lun); }
  std::string ctl(const std::string& command) {
    std::string reply;
    EXPECT_EQ(simControl(socket, command, &reply), 0) << command << ": " << reply;
    return reply;
  }
  // The device table's lines up to the first empty entry.
  static std::vector<std::string> tableLines(const char* table) {
    std::vector<std::string> lines;
    for (int i = 0; i < BLNK_DEVICE_LINES && table[i * BLNK_DEVICE_LINE_BYTES] != '\0'; ++i)
      lines.emplace_back(table + i * BLNK_DEVICE_LINE_BYTES);
    return lines;
  }
  // Recorded commands with this opcode (and page, for the diagnostic commands' page byte).
  std::vector<Recorded> sent(uint8_t opcode) const {
    std::vector<Recorded> out;
    for (const Recorded& r : *commands) {
      if (!r.cdb.empty() && r.cdb[0] == opcode) out.push_back(r);
    }
    return out;
  }
  static std::string readText(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  fs::path dir;
  fs::path previous;
  std::string socket;
  std::string listFile;
  std::unique_ptr<sim::SimWorld> world;
  std::unique_ptr<sim::SimServer> server;
  RecordingTransport* transport = nullptr;
  std::shared_ptr<std::vector<Recorded>> commands;
};

}  // namespace blnktest
