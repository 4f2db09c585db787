// The "brivo" controller-pair model: the RAID controller semantics of a Brivo pair behind READ
// BUFFER and WRITE BUFFER, speaking the protocol of modules/brivo/protocol.h. It keeps the pair's
// configuration block (arrays, logical drives, spares, LUN mapping, settings) with the 0x80/0x82
// change bracket, jobs whose progress advances with time (initialisation, rebuild, parity check,
// expansion, snapback), both controllers' 4096-entry event logs, statistics, snapshot areas and
// the controllers' run state (reset, shutdown, clock, alarm), and logs the events a controller
// would: configuration changes, jobs, drive and controller failures, battery, sensor thresholds,
// enclosure elements seen through SES.
//
// Fault injection reaches it two ways: onChange after a ctl command, and a health scan at every
// entry that compares the PairState (and the enclosure's status page) with what was already
// logged, so a state file replayed without notifications logs nothing twice.
//
// Model options ("model.KEY = VALUE" in the pair's section): family (0x81), drive_interface (3),
// host_interface (1), host_ports (2), drive_loops (2), snapshots (2; 0 none), job_seconds (300),
// reset_ms (5000), firmware (0x03012345), hbas (2), snapshot_fill_per_hour (2),
// host_port_packing (0; 1 reports and accepts the packing bit of 0x98).
// Preset configuration (also "model.KEY = VALUE"; numbers from 0 without gaps), built when the
// pair powers on and replaced by the configuration of a state file:
//   array.N   = raid=0|1|3|5|6|10|50 drives=LIST [name=TEXT] [chunk=64|128|256] [groups=G]
//               [init=done|running|none]            LIST: "0-5", "0,2,4", "0-3,8"
//   logical.N = array=A size=GIB|rest [name=TEXT] [lun=L]
//   spare.N   = drive=D [array=A]                   (without array: a global spare)
// Run-time keys (ctl "model PAIR KEY VALUE"), besides the saved ones (brivo_state.cc): advance
// SECONDS (jobs and timers age), poweron.A|B SECONDS, battery.A|B disabled|enabled,
// hostport.A|B.0|1 up|failed, driveloop.A|B.1|2 up|failed, predict.N 0|1, snapfill.DRIVE PERCENT,
// job_seconds SECONDS, failop.ID KEY/ASC/ASCQ|off (the next WRITE BUFFER with that buffer ID, in
// any mode, is refused with that sense; never saved).
//
// Thread safety: none; the simulated world serializes every call (see controller_model.h).
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/controller_model.h"

namespace sim {

struct BrivoOptions {
  uint8_t family = 0x81;
  uint8_t driveInterface = brivo::kInterfaceSas;
  uint8_t hostInterface = brivo::kInterfaceFc;
  uint8_t hostPorts = 2;
  uint8_t driveLoops = 2;
  uint8_t snapshotGeneration = 2;
  int64_t jobSeconds = 300;
  int resetMs = 5000;
  uint32_t firmwareLevel = 0x03012345;
  int hbas = 2;
  int snapshotFillPerHour = 2;
  uint8_t hostPortPacking = 0;  // 1: the controllers report and accept host port packing
};

// One controller's circular event log.
class EventRing {
 public:
  void append(const brivo::EventEntry& entry);
  void clear() { count_ = 0; }
  int count() const { return count_; }
  uint16_t newest() const { return newest_; }
  // Entry i counted from the oldest (REQUIRES: i < count()).
  const brivo::EventEntry& at(int i) const;
  // The READ BUFFER 0x46/0x47 image, with the controller's clock in the header.
  void build(const brivo::EventTime& now, std::vector<uint8_t>* out) const;
  // Persistence: "newest,count,started" and the entries oldest first as hexadecimal chunks.
  std::string meta() const;
  bool setMeta(const std::string& text);
  std::vector<std::string> chunks() const;
  bool setChunk(int index, const std::string& hex);

  static constexpr int kChunkEntries = 512;

 private:
  std::array<brivo::EventEntry, brivo::kEventLogEntries> ring_{};  // at sequence index
  uint16_t newest_ = 0;
  int count_ = 0;
  bool started_ = false;  // newest_ names a real entry
};

struct BrivoJob {
  uint8_t kind = brivo::kJobNone;  // kJobInit ... kJobExpansion
  int array = 0;
  int member = 0;     // rebuild: the member
  uint8_t mode = 0;   // parity check mode; expansion: drives added
  int64_t start = 0;  // model seconds
  int64_t duration = 1;
  int64_t pausedAt = 0;  // 0: running
  int64_t pausedTotal = 0;
};

struct BrivoSnapshot {
  uint16_t area = 0;
  uint8_t warning = 80;
  bool present = false;
  int64_t time = 0;           // model seconds when taken
  int fillBase = 0;           // percent at `time` (set by the snapfill key)
  int64_t snapbackStart = 0;  // 0: none
  uint8_t reportedFlags = 0;  // warning/overrun flags already logged
};

// Whether a record from outside (a restored block, a state file) can be used without reading past
// its arrays: valid byte 0 or kOn, at most 16 members, 1-32 segments on arrays 0-63.
bool arrayRecordSane(const brivo::ArrayRecord& array);
bool driveRecordSane(const brivo::LogicalDriveRecord& drive);

class BrivoModel : public ControllerPairModel {
 public:
  BrivoModel();
  ~BrivoModel() override;
  const char* name() const override { return "brivo"; }
  void attach(PairState& pair) override;
  ModelResult readBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* data) override;
  ModelResult writeBuffer(PairState& pair, const BufferCommand& command,
                          std::span<const uint8_t> data) override;
  void onChange(PairState& pair, const PairChange& change) override;
  void saveState(const PairState& pair, std::vector<std::pair<std::string, std::string>>* out) const override;
  bool loadState(PairState& pair, const std::string& key, const std::string& value) override;
  std::string describe(const PairState& pair) const override;

  // The parameters of one mode-1 write (a controller operation): the operation's parameters
  // travel in CDB bytes 3-5, where the offset of a data transfer would be (protocol.h), and its
  // parameter block follows the command signature. What each byte means depends on the
  // operation; a 16-bit parameter (a LUN, a drive number) spans two bytes, big-endian.
  struct Op {
    PairState& pair;
    const BufferCommand& command;
    std::span<const uint8_t> block;
    uint8_t cdbByte3() const { return command.cdb[3]; }
    uint8_t cdbByte4() const { return command.cdb[4]; }
    uint8_t cdbByte5() const { return command.cdb[5]; }
    // CDB bytes 3-4 as one big-endian value.
    uint16_t cdbWord3() const { return static_cast<uint16_t>(command.cdb[3] << 8 | command.cdb[4]); }
    // CDB bytes 4-5 as one big-endian value.
    uint16_t cdbWord4() const { return static_cast<uint16_t>(command.cdb[4] << 8 | command.cdb[5]); }
  };
  using Handler = ModelResult (BrivoModel::*)(Op&);

 private:
  struct ControllerRun {
    bool shutDown = false;
    std::chrono::steady_clock::time_point resetUntil{};
    bool resetting = false;
    int64_t powerOnBase = 0;  // model seconds at power-on
    bool batteryDisabled = false;
    uint8_t hostPort[2] = {brivo::kOn, brivo::kOn};
    uint8_t driveLoop[2] = {brivo::kOn, brivo::kOn};
    uint32_t firmwareLevel = 0;
  };
  struct DriveRun {
    bool bypassed = false;
    bool firmwareSelected = false;
    bool predicted = false;
    std::string revision;  // empty: the pair's configured one
  };
  // Conditions already logged, so each change is logged once.
  struct Reported {
    bool controllerFailed[2] = {false, false};
    bool batteryFailed[2] = {false, false};
    bool batteryLow[2] = {false, false};
    bool batteryDisabled[2] = {false, false};
    uint8_t temperatureOver[2] = {0, 0};  // bit per sensor
    uint16_t voltageOut[2] = {0, 0};      // bit per voltage index
    std::vector<bool> driveFailed;
    std::vector<uint8_t> sesPage;  // enclosure status page as last compared
  };
  // Work to do when the open change is saved.
  struct Pending {
    enum Kind { kEvent, kStartInit, kStartExpansion } kind = kEvent;
    uint8_t code = 0;
    std::vector<uint8_t> reason;
    int array = 0;
    int count = 0;
  };
  struct Statistics {
    int64_t allCleared[2][2] = {{0, 0}, {0, 0}};  // [controller][port]
    std::map<int, int64_t> driveCleared[2][2];    // logical drive (512 = totals)
  };

  // ---- brivo_model.cc: entry, dispatch, time ----
  int64_t now() const;
  bool controllerUp(const PairState& pair, int c) const;
  int masterController(const PairState& pair) const;
  void advance(PairState& pair);
  // The whole buffer a READ BUFFER names, in *full (mode 2 reads of the configuration leave it
  // empty: readBuffer serves the live block itself).
  ModelResult readDataBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* full);
  ModelResult readCommandBuffer(const BufferCommand& command, std::vector<uint8_t>* full);
  ModelResult writeCommand(PairState& pair, const BufferCommand& command, std::span<const uint8_t> data);
  void parseOptions(const PairConfig& config);

  // ---- brivo_events.cc: logs and the health scan ----
  brivo::EventTime controllerClock(const PairState& pair, int c) const;
  void logEvent(PairState& pair, int c, uint8_t code, std::initializer_list<uint8_t> reason,
                uint8_t eventClass = brivo::kClassNormal);
  void logEvent(PairState& pair, int c, uint8_t code, const std::vector<uint8_t>& reason,
                uint8_t eventClass = brivo::kClassNormal);
  void logPairEvent(PairState& pair, uint8_t code, const std::vector<uint8_t>& reason,
                    uint8_t eventClass = brivo::kClassNormal);
  void drainInjectedEvents(PairState& pair);
  void scanHealth(PairState& pair);
  void scanController(PairState& pair, int c);
  void scanSensors(PairState& pair, int c);
  void scanEnclosure(PairState& pair);
  uint8_t controllerTypeCode() const;

  // ---- brivo_config.cc: the bracket, settings, spares, mapping, clear, restore ----
  brivo::ConfigurationBlock& working() { return *edit_; }
  void queueEvent(uint8_t code, std::vector<uint8_t> reason);
  ModelResult opConfigStart(Op& op);
  ModelResult opConfigSave(Op& op);
  void dropReplaced(PairState& pair, const std::vector<Pending>& work);
  ModelResult opConfigClear(Op& op);
  ModelResult opSetting(Op& op);
  ModelResult opHostPortSettings(Op& op);
  ModelResult opConfigName(Op& op);
  ModelResult opControllerLun(Op& op);
  ModelResult opAddSpare(Op& op);
  ModelResult opRemoveSpare(Op& op);
  ModelResult opWriteMapping(Op& op);
  ModelResult restoreChunk(PairState& pair, const BufferCommand& command, std::span<const uint8_t> data);
  bool validRestore(const brivo::ConfigurationBlock& block) const;
  void applyRestore(PairState& pair, std::unique_ptr<brivo::ConfigurationBlock> block);
  void newConfiguration(const PairState& pair);

  // ---- brivo_arrays.cc: arrays, capacity, status ----
  ModelResult opCreateArray(Op& op);
  ModelResult opDeleteArray(Op& op);
  ModelResult opExpandArray(Op& op);
  ModelResult opChangeArray(Op& op);
  ModelResult opRenameArray(Op& op);
  int driveIndexByWwn(const PairState& pair, const uint8_t* wwn) const;
  bool driveUsable(const PairState& pair, const brivo::ConfigurationBlock& cfg, int drive) const;
  bool driveInUse(const brivo::ConfigurationBlock& cfg, const uint8_t* wwn) const;
  uint32_t memberCapacityGb(const PairState& pair, const brivo::ArrayRecord& array) const;
  void refresh(const PairState& pair, brivo::ConfigurationBlock& cfg) const;
  void refreshAll(const PairState& pair);
  uint8_t faultStatus(const brivo::ArrayRecord& array) const;

  // ---- brivo_logical.cc: logical drives and regions ----
  ModelResult opCreateLogicalDrive(Op& op);
  ModelResult opGrowLogicalDrive(Op& op);
  ModelResult opDeleteLogicalDrive(Op& op);
  ModelResult opRenameLogicalDrive(Op& op);
  ModelResult opChangeAvailability(Op& op);
  ModelResult opSetHostLun(Op& op);
  void buildRegions(const brivo::ConfigurationBlock& cfg, bool freeOnly, brivo::RegionInformation* out) const;

  // ---- brivo_jobs.cc: jobs and drive failures ----
  ModelResult opInitialize(Op& op);
  ModelResult opCancelInitialization(Op& op);
  ModelResult opRebuild(Op& op);
  ModelResult opCancelRebuild(Op& op);
  ModelResult opStartParity(Op& op);
  ModelResult opCancelParity(Op& op);
  BrivoJob* jobOf(int array);
  int jobPercent(const BrivoJob& job) const;
  void startJob(PairState& pair, uint8_t kind, int array, int member, uint8_t mode);
  void finishJobs(PairState& pair);
  void completeJob(PairState& pair, const BrivoJob& job);
  void abortRebuild(PairState& pair, const BrivoJob& job, uint8_t why);
  // A drive left its arrays: kMemberFailed (it failed) or kMemberMissing (it was bypassed).
  void memberLost(PairState& pair, int drive, uint8_t status);
  void autoRebuild(PairState& pair);
  bool startRebuild(PairState& pair, int array, int member, int drive);
  void pruneJobs(PairState& pair);

  // ---- brivo_controller.cc: controller operations ----
  ModelResult opClearEventLog(Op& op);
  ModelResult opIdentify(Op& op);
  ModelResult opReset(Op& op);
  ModelResult opShutdown(Op& op);
  ModelResult opSetTime(Op& op);
  ModelResult opSelectDriveFirmware(Op& op);
  ModelResult opBypassDrive(Op& op);
  ModelResult opEnableDrive(Op& op);
  ModelResult opPrepareDiagnostics(Op& op);
  ModelResult opAlarm(Op& op);
  ModelResult sendSesPage(PairState& pair, const BufferCommand& command, std::span<const uint8_t> data);
  ModelResult readSesPage(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* data);
  ModelResult firmwareChunk(PairState& pair, const BufferCommand& command, std::span<const uint8_t> data);
  void finishResets(PairState& pair);
  void expireIdentify(PairState& pair);
  void powerCycle(PairState& pair, int c);

  // ---- brivo_state.cc: saved keys, by group; each returns kKeyUnknown, kKeyBad or kKeyOk ----
  enum KeyResult { kKeyUnknown, kKeyBad, kKeyOk };
  void saveConfiguration(std::vector<std::pair<std::string, std::string>>* out) const;
  void saveRuntime(std::vector<std::pair<std::string, std::string>>* out) const;
  KeyResult loadConfigurationKey(const std::string& key, const std::string& value);
  KeyResult loadJobKey(const std::string& key, const std::string& value);
  KeyResult loadControllerKey(const std::string& key, const std::string& value);
  KeyResult loadDriveKey(const std::string& key, const std::string& value);
  KeyResult loadReportedKey(const std::string& key, const std::string& value);
  KeyResult loadStatisticsKey(const std::string& key, const std::string& value);
  KeyResult loadSnapshotKey(const std::string& key, const std::string& value);
  KeyResult loadFailOpKey(const std::string& key, const std::string& value);

  // ---- brivo_info.cc: buffers describing the pair ----
  void buildControllerInfo(const PairState& pair, std::vector<uint8_t>* out) const;
  void fillRecord(const PairState& pair, int c, brivo::ControllerRecord* record) const;
  void buildDriveList(const PairState& pair, std::vector<uint8_t>* out) const;
  void buildTopology(const PairState& pair, std::vector<uint8_t>* out) const;
  void buildPrediction(const PairState& pair, std::vector<uint8_t>* out) const;
  void buildJobProgress(std::vector<uint8_t>* out) const;
  void buildDiagnostics(const PairState& pair);

  // ---- brivo_stats.cc ----
  ModelResult readStatistics(const BufferCommand& command, std::vector<uint8_t>* out) const;
  ModelResult opClearStatistics(Op& op);

  // ---- brivo_snapshots.cc ----
  ModelResult opSnapshotArea(Op& op);
  ModelResult opTakeSnapshot(Op& op);
  ModelResult opTakeSnapshotSet(Op& op);
  ModelResult opDeleteSnapshot(Op& op);
  ModelResult opSnapback(Op& op);
  ModelResult readSnapshots(const BufferCommand& command, std::vector<uint8_t>* out) const;
  void readSnapshotLists(uint8_t id, std::vector<uint8_t>* out) const;
  brivo::SnapshotEntry snapshotEntry(uint16_t source, const BrivoSnapshot& snap) const;
  brivo::SnapshotArea snapshotArea(uint16_t source, const BrivoSnapshot& snap) const;
  int snapshotUsed(const BrivoSnapshot& snap) const;
  uint8_t snapshotFlags(const BrivoSnapshot& snap) const;
  void advanceSnapshots(PairState& pair);
  void pruneSnapshots(PairState& pair);

  // ---- brivo_preset.cc: arrays, logical drives and spares named by the configuration ----
  static bool hasPreset(const PairConfig& config);
  // Builds the preset on a working copy and makes it the saved configuration (all or nothing).
  void applyPreset(PairState& pair);
  ModelResult presetOperation(PairState& pair, uint8_t id, std::span<const uint8_t> block);
  bool presetArrays(PairState& pair, std::vector<int>* running, std::string* error);
  bool presetLogicalDrives(PairState& pair, std::string* error);
  bool presetSpares(PairState& pair, std::string* error);

  BrivoOptions options_;
  std::unique_ptr<brivo::ConfigurationBlock> live_;  // the saved configuration
  std::unique_ptr<brivo::ConfigurationBlock> edit_;  // the open change, null when none
  std::vector<Pending> pending_;                     // done when edit_ is saved
  EventRing logs_[2];
  std::vector<BrivoJob> jobs_;
  ControllerRun run_[2];
  std::vector<DriveRun> drives_;
  Reported reported_;
  Statistics statistics_;
  std::map<uint16_t, BrivoSnapshot> snapshots_;  // by source logical drive
  uint8_t alarm_ = brivo::kAlarmEnabled;
  int64_t shift_ = 0;  // seconds added to the host clock ("advance")
  uint16_t nextReference_ = 1;
  std::vector<uint8_t> restore_;  // configuration block being restored
  uint32_t restoreNext_ = 0;
  std::vector<uint8_t> firmware_[3];  // images being loaded, by buffer ID
  std::string diagnostics_;           // prepared dump, empty when none
  std::chrono::steady_clock::time_point enclosureIdentifyUntil_{};
  std::vector<std::chrono::steady_clock::time_point> driveIdentifyUntil_;
  std::vector<uint8_t> scratch_;
  std::map<uint8_t, SenseCode> failOps_;  // armed one-shot refusals by WRITE BUFFER buffer ID (run-time only)
};

}  // namespace sim
