// The "brivo" controller-pair model: the RAID controller semantics of a Brivo pair behind READ
// BUFFER and WRITE BUFFER, speaking the protocol of modules/brivo/protocol.h. It keeps the pair's
// configuration block (arrays, logical drives, spares, LUN mapping, settings) with the 0x80/0x82
// change bracket, jobs whose progress advances with time (initialisation, rebuild, parity check,
// expansion, snapback), both controllers' 4096-entry event logs, statistics, snapshot areas and
// the controllers' run state (reset, shutdown, clock, alarm), and logs the events a controller
// would: configuration changes, jobs, drive and controller failures, battery, sensor thresholds,
// enclosure elements seen through SES.
//
// The model composes parts that each own their state, the code that works on it alone and the
// table of its saved keys: the configuration (brivo_configuration.h), the jobs (brivo_job_list.h),
// the event logs (brivo_event_logs.h), the snapshots with their operations
// (brivo_snapshot_list.h) and the controllers' and drives' run state (brivo_controller_state.h).
// The model itself dispatches READ BUFFER and WRITE BUFFER, keeps the clock and the options, and
// carries out the operations that span parts (an array's creation queues a job and an event,
// a drive failure ends a rebuild), in the brivo_*.cc file of their concern.
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
#include "sim/brivo_configuration.h"
#include "sim/brivo_controller_state.h"
#include "sim/brivo_event_logs.h"
#include "sim/brivo_job_list.h"
#include "sim/brivo_preset.h"
#include "sim/brivo_snapshot_list.h"
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
  // parameter block follows the command signature. The accessors name each parameter by what it
  // is; several read the same bytes, as operations differ in what they put there. A 16-bit
  // parameter spans two bytes, big-endian.
  struct Op {
    PairState& pair;
    const BufferCommand& command;
    std::span<const uint8_t> block;

    // Byte 3.
    uint8_t selector() const { return byte(3); }        // controllers or host ports addressed
    uint8_t arrayNumber() const { return byte(3); }     // 0x9C, 0xA6, 0xA7, 0xAC
    uint8_t spareNumber() const { return byte(3); }     // 0xB3
    uint8_t settingValue() const { return byte(3); }    // the on/off and percent settings
    uint8_t portSettings() const { return byte(3); }    // 0x98: rate << 4 | packing | connection
    uint8_t identifyTarget() const { return byte(3); }  // 0xC2: a drive loop or the enclosure
    uint8_t parityReserved() const { return byte(3); }  // 0xCE: must be kOff
    // Bytes 3-4.
    uint16_t logicalDrive() const { return word(3); }     // 0x9D, 0xA5, 0xA8, 0xB1
    uint16_t wideArrayNumber() const { return word(3); }  // 0xB2
    uint16_t controllerLun() const { return word(3); }    // 0xAA
    // Byte 4.
    uint8_t driveId() const { return byte(4); }      // 0xC2 (a drive), 0xD0, 0xD1
    uint8_t action() const { return byte(4); }       // 0xA6: kInit...; 0xC4: 1 graceful
    uint8_t parityArray() const { return byte(4); }  // 0xCE
    uint8_t cacheFlags() const { return byte(4); }   // 0x9C
    uint8_t portMask() const { return byte(4); }     // 0x98
    uint8_t enclosureId() const { return byte(4); }  // 0xC2 (the enclosure): must be 0
    // Bytes 4-5.
    uint16_t statisticsDrive() const { return word(4); }  // 0xCB, 0xCC; 0xFFFF all
    // Byte 5.
    uint8_t cacheSizes() const { return byte(5); }       // 0x9C: write-back << 4 | read-ahead
    uint8_t availability() const { return byte(5); }     // 0x9D
    uint8_t hardId() const { return byte(5); }           // 0x98
    uint8_t identifySeconds() const { return byte(5); }  // 0xC2
    uint8_t parityMode() const { return byte(5); }       // 0xCE

   private:
    uint8_t byte(int i) const { return command.cdb[i]; }
    uint16_t word(int i) const { return static_cast<uint16_t>(command.cdb[i] << 8 | command.cdb[i + 1]); }
  };

 private:
  // The entries of the operation table: an operation of the model itself, or a lambda that hands
  // the operation to a part.
  using Handler = ModelResult (*)(BrivoModel&, Op&);
  template <ModelResult (BrivoModel::*Operation)(Op&)>
  static ModelResult modelOperation(BrivoModel& model, Op& op) {
    return (model.*Operation)(op);
  }

  // ---- brivo_model.cc: entry, dispatch, time ----
  int64_t now() const;
  bool controllerUp(const PairState& pair, int c) const;
  int masterController(const PairState& pair) const;
  void advance(PairState& pair);
  // The whole buffer a READ BUFFER names, in *full (mode 2 reads of the configuration leave it
  // empty: readBuffer serves the live block itself).
  ModelResult readDataBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* full);
  ModelResult readCommandBuffer(PairState& pair, const BufferCommand& command, std::vector<uint8_t>* full);
  ModelResult writeCommand(PairState& pair, const BufferCommand& command, std::span<const uint8_t> data);
  void parseOptions(const PairConfig& config);

  // ---- brivo_events.cc: logging and the health scan ----
  brivo::EventTime controllerClock(const PairState& pair, int c) const;
  void logEvent(PairState& pair, int c, uint8_t code, const std::vector<uint8_t>& reason,
                uint8_t eventClass = brivo::kClassNormal);
  void logPairEvent(PairState& pair, uint8_t code, const std::vector<uint8_t>& reason,
                    uint8_t eventClass = brivo::kClassNormal);
  void scanHealth(PairState& pair);
  void scanController(PairState& pair, int c);
  void scanSensors(PairState& pair, int c);
  void scanEnclosure(PairState& pair);
  uint8_t controllerTypeCode() const;

  // ---- brivo_config.cc: the bracket, settings, spares, mapping, clear, restore ----
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
  void startJob(PairState& pair, uint8_t kind, int array, int member, uint8_t mode);
  void finishJobs(PairState& pair);
  void completeJob(PairState& pair, const BrivoJob& job);
  void abortRebuild(PairState& pair, const BrivoJob& job, uint8_t why);
  // A drive left its arrays: kMemberFailed (it failed) or kMemberMissing (it was bypassed).
  void memberLost(PairState& pair, int drive, uint8_t status);
  void autoRebuild(PairState& pair);
  bool startRebuild(PairState& pair, int array, int member, int drive);
  void pruneJobs();

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

  // ---- brivo_state.cc: the parts' saved keys and the run-time keys of ctl ----
  FieldClock fieldClock() const { return {now()}; }
  bool loadRunTimeKey(const std::string& key, const std::string& value);

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

  // ---- the snapshots' operations are brivo_snapshot_list.cc's, with this view of the model ----
  BrivoSnapshotList::Context snapshotContext(PairState& pair);

  // ---- brivo_preset.cc: arrays, logical drives and spares named by the configuration ----
  // Builds the preset the pair's configuration asks for (brivo_preset.h) and makes it the saved
  // configuration; a bad line leaves the pair as it was.
  void applyPreset(PairState& pair);
  bool buildPreset(PairState& pair, const PresetPlan& plan, std::string* error);
  ModelResult presetOperation(PairState& pair, uint8_t id, std::span<const uint8_t> block);

  BrivoOptions options_;
  BrivoConfiguration config_;
  BrivoEventLogs logs_;
  BrivoJobList jobs_;
  BrivoSnapshotList snapshots_;
  BrivoControllerState controllers_;
  std::map<uint8_t, SenseCode> failOps_;  // armed one-shot refusals by WRITE BUFFER buffer ID (run-time only)
  std::vector<uint8_t> scratch_;
};

}  // namespace sim
