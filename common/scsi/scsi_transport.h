// The SCSI layer: one small interface that offers what the device scan needs (adapters, their bus
// tables with inquiry data, device names with their SCSI addresses, transfer limits) and the
// pass-through that the RAID module and the enclosure code use to send a CDB.
//
// Back ends, one file each: scsi_linux.cc (sysfs and SG_IO on /dev/sgN), scsi_win.cc (the SCSI
// port interface: adapters \\.\SCSIn:, IOCTL_SCSI_PASS_THROUGH_DIRECT) and scsi_sim.cc (the raidsim
// simulator over a Unix socket or TCP). The process-wide transport (scsiSystem) combines the
// host's back end with the simulator and picks the back end of a device name by its prefix:
// "sim:" for the simulator, "/dev/" on Linux, "\\.\" on Windows.
//
// Port numbers: each back end numbers its adapters from 0; the combined transport gives every
// adapter a port of its own by placing the back ends one after the other (Linux hosts first).
// Ports are valid until the next listAdapters call.
//
// Thread safety: execute may be called from any number of threads at once. The enumeration calls
// (listAdapters, readBusTable, listDeviceNames, deviceAddress, maxPhysicalPages) are made by the
// scan, one thread at a time; they may run while other threads execute commands.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

inline constexpr size_t kScsiInquiryBytes = 96;
inline constexpr uint32_t kScsiDefaultTimeoutMs = 60000;
inline constexpr uint8_t kScsiMaxCdbLength = 16;

struct ScsiAdapter {
  int port = 0;
  // The adapter's own name, through which commands reach devices that no class driver owns;
  // empty when the back end has none (Linux names every device by its own node).
  std::string name;
};

struct ScsiBusEntry {
  uint8_t initiatorBusId = 0;
  uint8_t pathId = 0;
  uint8_t targetId = 0;
  uint8_t lun = 0;
  bool claimed = false;
  std::array<uint8_t, kScsiInquiryBytes> inquiry{};
};

struct ScsiAddress {
  int port = 0;
  int path = 0;
  int target = 0;
  int lun = 0;
};

// One openable name of the system, in the order the system lists them.
struct ScsiDeviceName {
  std::string name;
  bool isAdapter = false;  // an adapter name: serves every unclaimed device of `port`
  int port = 0;            // meaningful for adapter names
};

enum class ScsiLimitStatus { kOk, kNotOpened, kFailed };

enum class ScsiDirection : uint8_t { kNone = 0, kIn = 1, kOut = 2 };

enum class ScsiOutcome : uint8_t {
  kGood = 0,            // status GOOD
  kCheckCondition = 1,  // status CHECK CONDITION; sense holds senseLength bytes
  kStatus = 2,          // another status byte (BUSY, RESERVATION CONFLICT, ...)
  kNoAnswer = 3,        // the transport failed or the device did not answer (nothing to sense)
  kTimeout = 4,         // the command did not complete within its time-out
  kInvalid = 5,         // bad arguments; nothing was sent
};

struct ScsiCommand {
  // Device name: a per-device name, or an adapter name together with path/target/lun.
  std::string_view device;
  uint8_t path = 0;
  uint8_t target = 0;
  uint8_t lun = 0;
  const uint8_t* cdb = nullptr;  // REQUIRES: cdbLength in 1..16
  uint8_t cdbLength = 0;
  ScsiDirection direction = ScsiDirection::kNone;
  uint8_t* data = nullptr;  // dataLength bytes; read for kOut, written for kIn
  uint32_t dataLength = 0;
  uint32_t timeoutMs = kScsiDefaultTimeoutMs;  // 0 means the default
  uint8_t* sense = nullptr;                    // may be null when senseCapacity is 0
  uint8_t senseCapacity = 0;
};

struct ScsiResult {
  ScsiOutcome outcome = ScsiOutcome::kNoAnswer;
  uint8_t status = 0;        // SCSI status byte (2 for a check condition)
  uint8_t senseLength = 0;   // sense bytes written to the command's buffer
  uint32_t transferred = 0;  // data bytes moved
  int error = 0;             // errno-style detail for kNoAnswer/kTimeout/kInvalid, else 0
};

class ScsiTransport {
 public:
  virtual ~ScsiTransport() = default;

  virtual std::vector<ScsiAdapter> listAdapters() = 0;
  // Asks the adapter to look for new devices; the outcome is not reported.
  virtual void rescanBus(int port) { (void)port; }
  // The adapter's bus table in its own order. False when the adapter cannot be read.
  virtual bool readBusTable(int port, std::vector<ScsiBusEntry>* entries) = 0;
  virtual std::vector<ScsiDeviceName> listDeviceNames() = 0;
  // The SCSI address of a per-device name. False when the name does not open or has none.
  virtual bool deviceAddress(std::string_view name, ScsiAddress* address) = 0;
  // Maximum physical page count of the adapter behind a name (4096-byte pages; the transfer
  // limit is (pages - 1) * 4096, and 0xFFFFFFFF means "no useful limit").
  virtual ScsiLimitStatus maxPhysicalPages(std::string_view name, uint32_t* pages) = 0;
  // Sends one command. Never blocks much past the command's time-out.
  virtual ScsiResult execute(const ScsiCommand& command) = 0;
};

// Checks a command's arguments; returns the kInvalid result to use, or kGood when they are sound.
ScsiResult validateScsiCommand(const ScsiCommand& command);

// Combines back ends; each back end serves the names starting with its prefix.
std::unique_ptr<ScsiTransport> makeCombinedScsiTransport(
    std::vector<std::pair<std::string, std::unique_ptr<ScsiTransport>>> backEnds);

// The host's own back end with the prefix of its device names: "/dev/" on Linux (scsi_linux.cc),
// "\\.\" on Windows (scsi_win.cc).
std::pair<std::string, std::unique_ptr<ScsiTransport>> makeNativeScsiTransport();

// ---- The process-wide transport ----

// The transport of this process: the Linux back end plus the simulators named by env
// KESTROVA_SCSI_SIM (paths separated by ';') and by the last setScsiSimulators call. Never null.
// Frees the process-wide transport. Only for a plug-in library about to be unloaded; nothing
// may use scsiSystem afterwards.
void releaseScsiSystemStorage();
ScsiTransport& scsiSystem();
// Sets the simulator sockets from the settings ("ScsiSimulator" lines of db/server.ini); the
// environment's sockets are added to them, duplicates dropped. Call before a scan, not while
// one runs; commands already under way are not disturbed.
void setScsiSimulators(const std::vector<std::string>& socketPaths);
// The sockets scsiSystem currently scans, in order.
std::vector<std::string> scsiSimulators();
// Splits a KESTROVA_SCSI_SIM style text (';' separated, empty parts ignored).
std::vector<std::string> splitSimulatorList(std::string_view text);
// Replaces the process-wide transport (tests, and tools that scan only simulators). Passing null
// restores the default. REQUIRES: no command is under way.
void setScsiSystemForTesting(std::unique_ptr<ScsiTransport> transport);

// Shorthand for scsiSystem().execute(command).
ScsiResult scsiExecute(const ScsiCommand& command);
