// The RAID module's action pages end to end: raidsim with one controller pair and its enclosure,
// the built server with the Brivo module, and cgiloader in front, driven over HTTP the way the
// pages' forms do (the JSON API for the reply keys, the HTML pages for the templates, file
// downloads and uploads). Every method's effect is checked in the simulator itself, read with
// READ BUFFER through the simulator's SCSI back end.
//
// The server runs with KESTROVA_BRIVO_READY_POLL_SECONDS=0, so the module's wait for a controller
// after each change needs no 3-second pauses, and the pair resets within 1.5 s.
#include <gtest/gtest.h>
#include <httplib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "common/scsi/scsi_sim.h"
#include "modules/brivo/protocol.h"
#include "tests/frontend_web_instance.h"
#include "tests/support/wait_until.h"

namespace {

using test_support::waitUntil;
// Each check asks the front end or the simulator over a socket; five times a second is plenty.
constexpr std::chrono::milliseconds kCheckEvery{200};

namespace fs = std::filesystem;
using namespace std::chrono_literals;
using nlohmann::json;

constexpr char kPair[] = "Brivo20000004CF8A1B2C";
constexpr uint8_t kReadBufferOpcode = 0x3C;
constexpr uint8_t kWriteBufferOpcode = 0x3B;

constexpr char kConfig[] = R"(
[host 0]
max_transfer_kb = 256

[enclosure shelf]
slots = 12

[pair alpha]
wwn = 20000004CF8A1B2C
model = brivo
model.reset_ms = 1500
drives = 12
enclosure = shelf
path = A 0:0:0:0
path = B 0:0:1:0
)";

// raidsim in a folder of its own, with direct READ/WRITE BUFFER access to the pair through
// controller A's path.
class Simulator {
 public:
  Simulator() {
    std::string pattern = (fs::temp_directory_path() / "kestrova-actsim-XXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) return;
    folder_ = pattern;
    socket_ = (folder_ / "sim.sock").string();
    std::ofstream(folder_ / "pair.conf") << kConfig;
    const std::string program = (fs::path(std::getenv("KESTROVA_BUILD_DIR")) / "bin/raidsim").string();
    const std::string config = (folder_ / "pair.conf").string();
    pid_ = fork();
    if (pid_ == 0) {
      execl(program.c_str(), program.c_str(), "--socket", socket_.c_str(), "--config", config.c_str(),
            static_cast<char*>(nullptr));
      _exit(127);
    }
    transport_ = std::make_unique<SimScsiTransport>(std::vector<std::string>{socket_});
  }
  ~Simulator() {
    transport_.reset();
    closeSimConnections();
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    std::error_code ignored;
    if (!folder_.empty()) fs::remove_all(folder_, ignored);
  }
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool waitListening() const {
    return waitUntil(
        [&] {
          std::string reply;
          return simControl(socket_, "list", &reply, 1000) == 0;
        },
        10s, kCheckEvery);
  }
  std::string ctl(const std::string& command) const {
    std::string reply;
    EXPECT_EQ(simControl(socket_, command, &reply), 0) << command << ": " << reply;
    return reply;
  }
  const std::string& socketPath() const { return socket_; }

  // READ BUFFER of length bytes (mode 2 in pieces at offsets); true on GOOD.
  bool read(uint8_t mode, uint8_t id, void* out, uint32_t length, uint8_t p4 = 0, uint8_t p5 = 0) {
    auto* bytes = static_cast<uint8_t*>(out);
    const uint32_t piece = mode == brivo::kModeData ? 0x10000 : length;
    for (uint32_t at = 0; at < length; at += piece) {
      const uint32_t n = std::min(piece, length - at);
      uint8_t cdb[10] = {kReadBufferOpcode,
                         mode,
                         id,
                         0,
                         p4,
                         p5,
                         static_cast<uint8_t>(n >> 16),
                         static_cast<uint8_t>(n >> 8),
                         static_cast<uint8_t>(n),
                         0};
      if (mode == brivo::kModeData) {
        cdb[3] = static_cast<uint8_t>(at >> 16);
        cdb[4] = static_cast<uint8_t>(at >> 8);
        cdb[5] = static_cast<uint8_t>(at);
      }
      if (!send(cdb, ScsiDirection::kIn, bytes + at, n)) return false;
    }
    return true;
  }
  // WRITE BUFFER mode 1: the signature and block.
  bool write(uint8_t id, uint8_t p3, uint8_t p4, uint8_t p5, const void* block = nullptr,
             uint32_t length = 0) {
    std::vector<uint8_t> data(brivo::kCommandSignature, brivo::kCommandSignature + brivo::kSignatureLength);
    const auto* bytes = static_cast<const uint8_t*>(block);
    if (length != 0) data.insert(data.end(), bytes, bytes + length);
    const uint32_t n = static_cast<uint32_t>(data.size());
    uint8_t cdb[10] = {
        kWriteBufferOpcode,           brivo::kModeCommand,     id, p3, p4, p5, static_cast<uint8_t>(n >> 16),
        static_cast<uint8_t>(n >> 8), static_cast<uint8_t>(n), 0};
    return send(cdb, ScsiDirection::kOut, data.data(), n);
  }
  template <typename Block>
  bool inBracket(uint8_t id, const Block& block) {
    return write(brivo::kOpConfigStart, 0, 0, 0) && write(id, 0, 0, 0, &block, sizeof(block)) &&
           write(brivo::kOpConfigSave, 0, 0, 0);
  }

  std::unique_ptr<brivo::ConfigurationBlock> configuration() {
    auto block = std::make_unique<brivo::ConfigurationBlock>();
    EXPECT_TRUE(read(brivo::kModeData, brivo::kOpReadConfiguration, block.get(), sizeof(*block)));
    return block;
  }
  brivo::ControllerInformation information() {
    brivo::ControllerInformation info{};
    EXPECT_TRUE(read(brivo::kModeData, brivo::kOpReadControllerInfo, &info, sizeof(info)));
    return info;
  }
  brivo::DriveList drives() {
    brivo::DriveList list{};
    EXPECT_TRUE(read(brivo::kModeData, brivo::kOpReadDriveList, &list, sizeof(list)));
    return list;
  }
  brivo::ConfigurationHeader header() {
    brivo::ConfigurationHeader h{};
    EXPECT_TRUE(read(brivo::kModeCommand, brivo::kOpReadConfigHeader, &h, sizeof(h)));
    return h;
  }
  // A RAID array of the drives given (no initialisation).
  bool createArray(uint8_t level, std::initializer_list<int> members) {
    const brivo::DriveList list = drives();
    brivo::CreateArrayBlock block{};
    block.raidLevel = level;
    block.chunkSizeKb = 64;
    block.unusedPercent = 0xFF;
    block.cacheFlush = 0xFF;
    for (int drive : members) std::memcpy(block.driveWwn[block.driveCount++], list.entries[drive].wwn, 8);
    return inBracket(brivo::kOpCreateArray, block);
  }

 private:
  bool send(const uint8_t* cdb, ScsiDirection direction, uint8_t* data, uint32_t length) {
    uint8_t sense[32] = {};
    ScsiCommand command;
    const std::string device = simDeviceName(socket_, 0, 0, 0, 0);
    command.device = device;
    command.cdb = cdb;
    command.cdbLength = 10;
    command.direction = direction;
    command.data = data;
    command.dataLength = length;
    command.sense = sense;
    command.senseCapacity = sizeof(sense);
    return transport_->execute(command).outcome == ScsiOutcome::kGood;
  }

  fs::path folder_;
  std::string socket_;
  pid_t pid_ = -1;
  std::unique_ptr<SimScsiTransport> transport_;
};

std::string wwnText(const uint8_t* wwn) {
  char text[17];
  for (int i = 0; i < 8; ++i) std::snprintf(text + 2 * i, 3, "%02X", wwn[i]);
  return text;
}

std::string text(const json& reply, const std::string& key) {
  return reply.contains(key) && reply[key].is_string() ? reply[key].get<std::string>() : std::string();
}

class BrivoActionsSystem : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    ASSERT_NE(build, nullptr) << "set KESTROVA_BUILD_DIR";
    ASSERT_TRUE(fs::exists(fs::path(build) / "mods/Brivo/Brivo.so") && fs::exists(builtServerPath()));
    ASSERT_TRUE(sim_.waitListening()) << "raidsim did not start";
    ASSERT_TRUE(instance_.ready()) << "instance not prepared (cgiloader built? KESTROVA_SOURCE_DIR set?)";
    fs::create_directories(instance_.root() / "mods");
    fs::copy(fs::path(build) / "mods/Brivo", instance_.root() / "mods/Brivo", fs::copy_options::recursive);
    server_ =
        std::make_unique<ServerProcess>(std::vector<std::string>{"-debug"}, instance_.root(),
                                        ServerProcess::Environment{{"KESTROVA_SCSI_SIM", sim_.socketPath()},
                                                                   {"KESTROVA_BRIVO_READY_POLL_SECONDS", "0"},
                                                                   {"KESTROVA_BRIVO_MONITOR_MS", "1000"}});
    ASSERT_TRUE(server_->waitForText("Scan System thread terminated\n", 60s)) << server_->output();
    loader_ = std::make_unique<ChildProgram>(
        instance_.loaderPath(), std::vector<std::string>{"--listen", "127.0.0.1:0"},
        std::vector<std::pair<std::string, std::string>>{{"KESTROVA_SHM_PREFIX", server_->shmPrefix()}});
    ASSERT_TRUE(loader_->waitForText("/\n")) << loader_->output();
    const std::string output = loader_->output();
    port_ = std::stoi(output.substr(output.rfind(':') + 1));
    // The module answers for the pair once it has taken the device list.
    ASSERT_TRUE(waitUntil([&] { return text(api("GetDriveInformation"), "DriveLoop_count") == "12"; }, 30s, kCheckEvery))
        << server_->output();
  }
  void TearDown() override {
    if (loader_) loader_->stop();
    if (server_) {
      server_->signal(SIGINT);
      EXPECT_EQ(server_->finish(), 0) << server_->output().substr(0, 4000);
    }
  }

  std::unique_ptr<httplib::Client> client() const {
    auto c = std::make_unique<httplib::Client>("127.0.0.1", port_);
    c->set_read_timeout(45, 0);
    c->set_basic_auth("admin", "pinecone");
    return c;
  }
  // A form posted to the module's method; the reply table as JSON (empty on any failure).
  json api(const std::string& method, httplib::Params form = {}) const {
    form.emplace("ModDeviceName", kPair);
    auto answer = client()->Post("/api/Brivo/" + method, form);
    if (!answer || answer->status != 200) return json::object();
    return json::parse(answer->body, nullptr, false);
  }
  // The rendered page (or download) of a GET; empty body on failure.
  httplib::Result get(const std::string& method, const std::string& query = "") const {
    return client()->Get("/cgi-bin/cgiloader.cgi?module=Brivo&method=" + method + "&ModDeviceName=" + kPair +
                         query);
  }
  void expectPage(const std::string& method, const std::string& query, const std::string& shows) const {
    auto page = get(method, query);
    ASSERT_TRUE(page) << method;
    EXPECT_EQ(page->status, 200) << method << ": " << page->body.substr(0, 600);
    EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u) << method;
    EXPECT_NE(page->body.find(shows), std::string::npos) << method << " lacks " << shows;
  }
  static void expectSuccess(const json& reply, const std::string& what) {
    EXPECT_EQ(text(reply, "MessageIsSuccess"), "true") << what << ": " << reply.dump().substr(0, 800);
  }

  Simulator sim_;
  WebInstance instance_;
  std::unique_ptr<ServerProcess> server_;
  std::unique_ptr<ChildProgram> loader_;
  int port_ = 0;
};

TEST_F(BrivoActionsSystem, LogicalDrivesAndDrives) {
  ASSERT_TRUE(sim_.createArray(brivo::kRaid0, {0, 1}));
  ASSERT_TRUE(sim_.createArray(brivo::kRaid1, {2, 3}));

  // Creation over two regions: the first used up, so the second's index moves down by one.
  const json page = api("GetCreateNewHostLunInformation");
  ASSERT_EQ(text(page, "NextHostLunNumber"), "0") << page.dump();
  ASSERT_EQ(text(page, "RegionLoop_count"), "2");
  const std::string first = text(page, "RegionSpace0");
  const long capacity = std::stol(first) + 50;
  expectSuccess(api("CreateNewHostLun", {{"Capacity", std::to_string(capacity)},
                                         {"NextHostLunNumber", "0"},
                                         {"MappedLunNumber", "5"},
                                         {"HostLunName", "db"},
                                         {"PortC0P0", "true"},
                                         {"RegionNumber0", text(page, "RegionNumber0")},
                                         {"RegionSpace0", first},
                                         {"RegionNumber1", text(page, "RegionNumber1")},
                                         {"RegionSpace1", text(page, "RegionSpace1")}}),
                "CreateNewHostLun");
  auto config = sim_.configuration();
  const brivo::LogicalDriveRecord& made = config->logicalDrives[0];
  ASSERT_EQ(made.valid, brivo::kOn);
  EXPECT_EQ(made.sizeGb, static_cast<uint32_t>(capacity));
  EXPECT_EQ(made.segmentCount, 2);
  EXPECT_EQ(made.segments[1].array, 1);
  EXPECT_EQ(made.hostLun, 5);
  EXPECT_EQ(made.availability, 0x01);
  EXPECT_STREQ(made.name, "db");
  expectPage("GetHostLunInformation", "&HostLunNumber=0", "Logical drive 0: db");
  expectPage("GetCreateNewHostLunInformation", "", "name=\"RegionNumber0\"");

  expectSuccess(api("ChangeHostLunParams", {{"HostLunNumber", "0"},
                                            {"HostLunName", "db2"},
                                            {"MappedLunNumber", "6"},
                                            {"PortC0P0", "true"},
                                            {"PortC1P0", "true"}}),
                "ChangeHostLunParams");
  const json info = api("GetHostLunInformation", {{"HostLunNumber", "0"}});
  EXPECT_EQ(text(info, "HostLunName"), "db2");
  EXPECT_EQ(text(info, "MappedLunNumber"), "6");
  EXPECT_EQ(text(info, "PortC1P0"), "true");
  const json grown = api("ExpandHostLun", {{"HostLunNumber", "0"},
                                           {"Capacity", "10"},
                                           {"RegionNumber0", text(info, "RegionNumber0")},
                                           {"RegionSpace0", text(info, "RegionSpace0")}});
  expectSuccess(grown, "ExpandHostLun");
  EXPECT_EQ(text(grown, "CloseParent"), "true");
  config = sim_.configuration();
  EXPECT_EQ(config->logicalDrives[0].sizeGb, static_cast<uint32_t>(capacity + 10));
  EXPECT_EQ(config->logicalDrives[0].availability, 0x05);

  // An internal drive takes the highest free host LUN and becomes drive 0's snapshot area.
  const json again = api("GetCreateNewHostLunInformation");
  ASSERT_EQ(text(again, "CanCreateInternalLd"), "true");
  expectSuccess(api("CreateNewHostLun", {{"Capacity", "20"},
                                         {"NextHostLunNumber", text(again, "NextHostLunNumber")},
                                         {"CreateInternalLd", "true"},
                                         {"RegionNumber0", text(again, "RegionNumber0")},
                                         {"RegionSpace0", text(again, "RegionSpace0")}}),
                "internal drive");
  config = sim_.configuration();
  EXPECT_EQ(config->logicalDrives[1].availability, brivo::kAvailabilityInternal);
  EXPECT_EQ(config->logicalDrives[1].hostLun, 511);
  brivo::SnapshotAreaBlock area{};
  area.sourceDrive = 0;
  area.areaDrive = 1;
  ASSERT_TRUE(sim_.write(brivo::kOpCreateSnapshotArea, 0, 0, 0, &area, sizeof(area)));

  const std::string reference = text(api("GetHostLunInformation", {{"HostLunNumber", "0"}}), "LunRefNum");
  const json stale =
      api("DeleteHostLun", {{"HostLunNumber", "0"}, {"LunRefNum", std::to_string(std::stol(reference) + 1)}});
  EXPECT_EQ(text(stale, "MessageIsSuccess"), "false");
  EXPECT_EQ(sim_.configuration()->logicalDrives[0].valid, brivo::kOn) << "a stale page deletes nothing";
  const json deleted = api("DeleteHostLun", {{"HostLunNumber", "0"}, {"LunRefNum", reference}});
  expectSuccess(deleted, "DeleteHostLun");
  EXPECT_EQ(text(deleted, "CloseParent"), "true");
  EXPECT_NE(sim_.configuration()->logicalDrives[0].valid, brivo::kOn);
  auto areas = std::make_unique<brivo::SnapshotAreasV2>();
  ASSERT_TRUE(sim_.read(brivo::kModeCommand, brivo::kOpReadSnapshotAreasV2, areas.get(), sizeof(*areas)));
  EXPECT_EQ(areas->count, 0) << "snapshots of the drive were released first";

  // Drives: spare in and out, identify, bypass and enable, rebuild of a failed member.
  brivo::DriveList list = sim_.drives();
  const std::string spare = wwnText(list.entries[6].wwn);
  const json drivePage = api("GetDriveInformation", {{"DriveWWN", spare}});
  EXPECT_EQ(text(drivePage, "MakeSpareButtonEnabled"), "true");
  expectSuccess(api("MakeHotSpare", {{"DriveWWN", spare}}), "MakeHotSpare");
  config = sim_.configuration();
  EXPECT_EQ(config->spares[0].valid, brivo::kOn);
  EXPECT_EQ(wwnText(config->spares[0].wwn), spare);
  EXPECT_EQ(config->spares[0].array, brivo::kSpareGlobal);
  const json spared = api("GetDriveInformation", {{"DriveWWN", spare}});
  EXPECT_EQ(text(spared, "DeleteSpareButtonEnabled"), "true");
  expectSuccess(
      api("DeleteHotSpare", {{"DriveWWN", spare}, {"HotSpareNumber", text(spared, "HotSpareNumber")}}),
      "DeleteHotSpare");
  EXPECT_NE(sim_.configuration()->spares[0].valid, brivo::kOn);

  const json blinkPage = api("GetDriveInformation", {{"DriveWWN", wwnText(list.entries[7].wwn)}});
  expectSuccess(api("BlinkDrive", {{"LoopNumber", text(blinkPage, "LoopNumber")},
                                   {"DriveId", text(blinkPage, "DriveId")},
                                   {"TimeInSeconds", "60"}}),
                "BlinkDrive");
  EXPECT_NE(sim_.drives().entries[7].flags & brivo::kDriveFlagIdentify, 0);
  const json bypass = api("BypassDrive", {{"HardDriveId", "8"}});
  expectSuccess(bypass, "BypassDrive");
  EXPECT_EQ(text(bypass, "CloseParent"), "true");
  EXPECT_EQ(sim_.drives().entries[8].status, brivo::kDriveBypassed);
  const json enable = api("EnableDrive", {{"HardDriveId", "8"}});
  expectSuccess(enable, "EnableDrive");
  EXPECT_EQ(text(enable, "UpdateParent"), "true");
  EXPECT_EQ(sim_.drives().entries[8].status, brivo::kDriveGood);

  sim_.ctl("fail drive alpha 3");
  const std::string target = wwnText(list.entries[9].wwn);
  const json rebuildPage = api("GetDriveInformation", {{"DriveWWN", target}});
  ASSERT_EQ(text(rebuildPage, "RegenerateButtonEnabled"), "true") << rebuildPage.dump().substr(0, 800);
  const json rebuilt =
      api("RegenerateDrive", {{"DriveWWN", target}, {"RankNumber", "1"}, {"DriveNumber", "1"}});
  expectSuccess(rebuilt, "RegenerateDrive");
  EXPECT_EQ(text(rebuilt, "RankNumber"), "243");
  list = sim_.drives();
  EXPECT_EQ(list.entries[9].usage, brivo::kUsageMember);
  EXPECT_EQ(list.entries[9].array, 1);
  EXPECT_EQ(list.entries[9].status, brivo::kDriveRebuilding);
  expectPage("GetDriveInformation", "&DriveWWN=" + target, "Rebuild");
}

TEST_F(BrivoActionsSystem, ConfigurationStatisticsAndEnclosure) {
  ASSERT_TRUE(sim_.createArray(brivo::kRaid0, {0, 1}));
  brivo::CreateLogicalDriveBlock create{};
  create.sizeGb = 100;
  std::strcpy(create.name, "keep");
  ASSERT_TRUE(sim_.inBracket(brivo::kOpCreateLogicalDrive, create));

  auto block = sim_.configuration();
  auto download = get("DownloadConfiguration");
  ASSERT_TRUE(download);
  ASSERT_EQ(download->status, 200);
  ASSERT_EQ(download->body.size(), brivo::kConfigurationLength);
  EXPECT_EQ(std::memcmp(download->body.data(), block.get(), brivo::kConfigurationLength), 0);

  const json archived = api("ArchiveConfiguration");
  expectSuccess(archived, "ArchiveConfiguration");
  const json params = api("GetControllerParams");
  ASSERT_EQ(text(params, "ArchiveLoop_count"), "1");
  auto copy = get("ArchiveConfiguration", "&ArchiveName=" + text(archived, "ArchiveName"));
  ASSERT_TRUE(copy);
  EXPECT_EQ(copy->body, download->body);

  EXPECT_EQ(text(api("ClearConfiguration", {{"ConfigurationTime", "12345"}}), "MessageIsSuccess"), "false");
  EXPECT_EQ(sim_.header().logicalDriveCount, 1) << "a stale page erases nothing";
  const json cleared = api("ClearConfiguration", {{"ConfigurationTime", text(params, "ConfigurationTime")}});
  expectSuccess(cleared, "ClearConfiguration");
  EXPECT_EQ(text(cleared, "CloseParent"), "true");
  EXPECT_EQ(sim_.header().arrayCount, 0);

  httplib::MultipartFormDataItems shortFile = {{"ModDeviceName", kPair, "", ""},
                                               {"UploadedFile", download->body.substr(1), "cfg.bin", ""}};
  auto refused = client()->Post("/api/Brivo/RestoreConfiguration", shortFile);
  ASSERT_TRUE(refused);
  EXPECT_EQ(json::parse(refused->body, nullptr, false).value("MessageIsSuccess", ""), "false");
  httplib::MultipartFormDataItems file = {
      {"ModDeviceName", kPair, "", ""},
      {"UploadedFile", download->body, "cfg.bin", "application/octet-stream"}};
  auto restored = client()->Post("/api/Brivo/RestoreConfiguration", file);
  ASSERT_TRUE(restored);
  EXPECT_EQ(json::parse(restored->body, nullptr, false).value("MessageIsSuccess", ""), "true")
      << restored->body;
  EXPECT_STREQ(sim_.configuration()->logicalDrives[0].name, "keep");
  expectPage("GetControllerParams", "", "Keep a copy on the server");

  // Statistics: one drive, two controllers, three port selectors, plus the all-drives rows.
  sim_.ctl("model alpha advance 100");
  auto exported = get("ExportStatistics");
  ASSERT_TRUE(exported);
  EXPECT_EQ(exported->get_header_value("Content-Type"), "text/plain");
  size_t rows = 0;
  for (size_t at = exported->body.find("\n\""); at != std::string::npos;
       at = exported->body.find("\n\"", at + 1)) {
    const char next = exported->body[at + 2];
    rows += exported->body.compare(at + 1, 6, "\"All\",") == 0 || (next >= '0' && next <= '9');
  }
  EXPECT_EQ(rows, 12u) << exported->body.substr(0, 1500);
  brivo::StatisticsBuffer before{};
  ASSERT_TRUE(sim_.read(brivo::kModeCommand, brivo::kOpReadStatisticsA, &before, sizeof(before), 0xFF, 0xFF));
  EXPECT_GT(before.records[0].commands, 0u);
  expectSuccess(api("ClearStatistics", {{"ClearController", "3"}}), "ClearStatistics");
  brivo::StatisticsBuffer after{};
  ASSERT_TRUE(sim_.read(brivo::kModeCommand, brivo::kOpReadStatisticsA, &after, sizeof(after), 0xFF, 0xFF));
  EXPECT_LT(after.records[0].commands, before.records[0].commands);
  expectPage("GetStatistics", "", "All logical drives");

  // Enclosure and alarms.
  expectSuccess(api("LocateEnclosure", {{"EnclosureNumber", "0"}, {"TimeInSeconds", "30"}}),
                "LocateEnclosure");
  EXPECT_NE(sim_.ctl("status").find("locating"), std::string::npos);
  expectSuccess(api("SetAlarmState", {{"option", "mute"}}), "SetAlarmState mute");
  EXPECT_EQ(sim_.information().controllers[0].alarmState, brivo::kAlarmMuted);
  expectSuccess(api("SetAlarmState", {{"option", "Disable"}}), "SetAlarmState Disable");
  EXPECT_EQ(sim_.information().controllers[0].alarmState, brivo::kAlarmDisabled);
  expectSuccess(api("SetAlarmState", {{"option", "Enable"}}), "SetAlarmState Enable");
  EXPECT_EQ(sim_.information().controllers[0].alarmState, brivo::kAlarmEnabled);
  // The enclosure's alarm needs the pages the monitor caches once it watches the pair.
  json muted;
  EXPECT_TRUE(waitUntil(
      [&] {
        muted = api("MuteAlarm", {{"EnclosureNumber", "0"}});
        return text(muted, "MessageIsSuccess") == "true";
      },
      40s, kCheckEvery))
      << muted.dump();
  EXPECT_NE(sim_.ctl("status").find("alarm muted"), std::string::npos);
}

TEST_F(BrivoActionsSystem, ControllerActionsAndSettings) {
  const json params = api("GetControllerParams");
  expectSuccess(api("ChangeControllerParams", {{"ConfigurationTime", text(params, "ConfigurationTime")},
                                               {"ConfigurationName", "lab pair"},
                                               {"AutoSpare", "true"},
                                               {"RebuildPriority", "70"}}),
                "ChangeControllerParams");
  brivo::ConfigurationHeader header = sim_.header();
  EXPECT_STREQ(header.name, "lab pair");
  EXPECT_EQ(header.autoSpare, brivo::kOn);
  EXPECT_EQ(header.rebuildPriority, 70);
  EXPECT_EQ(text(api("ChangeControllerParams",
                     {{"ConfigurationTime", text(params, "ConfigurationTime")}, {"InitPriority", "40"}}),
                 "MessageIsSuccess"),
            "false")
      << "the page's configuration time is stale now";

  expectSuccess(api("SetHostPortTopologies", {{"DataRate0", "2"}, {"Connection0", "1"}, {"HardId0", "12"}}),
                "SetHostPortTopologies");
  header = sim_.header();
  EXPECT_EQ(header.hostPorts[0].dataRate, 2);
  EXPECT_EQ(header.hostPorts[0].connection, 1);
  EXPECT_EQ(header.hostPorts[0].hardId, 12);
  expectPage("GetHostPortTopologies", "", "name=\"DataRate0\"");

  std::time_t soon = std::time(nullptr) + 400 * 24 * 3600;
  std::tm when{};
  localtime_r(&soon, &when);
  expectSuccess(api("SetControllerTime", {{"which", "2"},
                                          {"Year", std::to_string(when.tm_year + 1900)},
                                          {"Month", std::to_string(when.tm_mon + 1)},
                                          {"Day", std::to_string(when.tm_mday)},
                                          {"WeekDay", std::to_string(when.tm_wday)},
                                          {"Hour", "12"},
                                          {"Minute", "0"},
                                          {"Second", "0"}}),
                "SetControllerTime");
  const brivo::ControllerInformation clocks = sim_.information();
  EXPECT_EQ(clocks.controllers[1].clock.year, when.tm_year + 1900);
  EXPECT_EQ(clocks.controllers[1].clock.day, when.tm_mday);
  EXPECT_NE(clocks.controllers[0].clock.year * 10000 + clocks.controllers[0].clock.month * 100 +
                clocks.controllers[0].clock.day,
            (when.tm_year + 1900) * 10000 + (when.tm_mon + 1) * 100 + when.tm_mday)
      << "controller A keeps its clock";

  const json reset = api("ResetController", {{"ControllerId", "2"}});
  expectSuccess(reset, "ResetController");
  EXPECT_EQ(text(reset, "ControllerString"), "Controller B");
  EXPECT_EQ(sim_.information().stateB, brivo::kOff) << "B is resetting";
  EXPECT_TRUE(waitUntil(
      [&] {
        return text(api("ResetController", {{"ControllerId", "2"}, {"Waiting", "true"}}), "DoneWaiting") ==
               "true";
      },
      20s, kCheckEvery));
  EXPECT_EQ(sim_.information().stateB, brivo::kOn);
  expectPage("ResetController", "&ControllerId=2&Waiting=true", "data-done-waiting=\"true\"");

  EXPECT_EQ(text(api("ShutdownController", {{"ControllerId", "both"}}), "MessageIsSuccess"), "false")
      << "\"both\" is selector 0, which the controller refuses";
  EXPECT_EQ(sim_.information().stateB, brivo::kOn);
  expectSuccess(api("ShutdownController", {{"ControllerId", "2"}}), "ShutdownController");
  EXPECT_EQ(sim_.information().stateB, brivo::kOff);
  sim_.ctl("restore controller alpha B");
  expectPage("GetControllerParams", "", "lab pair");
}

}  // namespace
