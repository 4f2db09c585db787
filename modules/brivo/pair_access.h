// What the request-side code of the module (web methods and the command interpreter) needs to
// talk to one controller pair: finding the pair a request names, reading the controller's
// buffers into their protocol structs, bracketing configuration changes, waiting until the
// controller takes commands again after a change, and the text forms of WWNs.
//
// Every read and every operation here notes its result for the pair's failure counting
// (module_status.h) unless the caller asks otherwise, so a page that cannot reach a controller
// counts towards "ControllerCommFailure" like the monitor does.
//
// Thread safety: any request thread holding the admission gate in the mode its method needs.
// The buffers are the caller's; nothing here keeps state except the configuration-changed flag
// (an atomic of the module state).
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "common/device_list.h"
#include "common/variable_table.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/device_state.h"
#include "modules/brivo/protocol.h"

namespace brivo {

// Result of a change refused because the page showed an older state of the controller (a stale
// logical-drive reference number or configuration time).
inline constexpr int kResultStale = 253;

// The path chosen to a named pair (pair_paths.h), with its item and state. device is null when
// the pair is not known to this server.
struct PairTarget {
  DeviceRecord* device = nullptr;
  ModDeviceItem* item = nullptr;
  BrivoDeviceState* state = nullptr;
  std::string name;  // ModDeviceName as given

  bool found() const { return device != nullptr && state != nullptr; }
};

// The pair whose ModDeviceName is name (null or unknown: found() is false), through any of its
// paths but avoid.
PairTarget findPair(const char* name, const DeviceRecord* avoid = nullptr);
// The pair named by the request's "ModDeviceName".
PairTarget pairOfRequest(VariableTable request);

// Whether a read or an operation counts towards the path's failure count.
enum class Counting { kCount, kDoNotCount };

// Buffer reads (mode and buffer ID of protocol.h). Each returns the transport's result code;
// record (optional) receives the command with its sense data for the result texts. A counted
// read that gets no answer is sent once more through the pair's other path, when it has one.
int readConfiguration(const PairTarget& pair, ConfigurationBlock* block, ControllerCommand* record = nullptr,
                      Counting counting = Counting::kCount);
int readConfigHeader(const PairTarget& pair, ConfigurationHeader* header, ControllerCommand* record = nullptr,
                     Counting counting = Counting::kCount);
int readControllerInformation(const PairTarget& pair, ControllerInformation* info,
                              ControllerCommand* record = nullptr, Counting counting = Counting::kCount);
int readDriveList(const PairTarget& pair, DriveList* list, ControllerCommand* record = nullptr,
                  Counting counting = Counting::kCount);
int readArrayRecord(const PairTarget& pair, int array, ArrayRecord* out, ControllerCommand* record = nullptr,
                    Counting counting = Counting::kCount);
int readLogicalDriveRecord(const PairTarget& pair, int drive, LogicalDriveRecord* out,
                           ControllerCommand* record = nullptr, Counting counting = Counting::kCount);
// Free regions only (what the region index of 0x91/0xA5 counts).
int readFreeRegions(const PairTarget& pair, RegionInformation* out, ControllerCommand* record = nullptr,
                    Counting counting = Counting::kCount);
int readHostTopology(const PairTarget& pair, HostTopology* out, ControllerCommand* record = nullptr,
                     Counting counting = Counting::kCount);
int readJobProgress(const PairTarget& pair, JobProgress* out, ControllerCommand* record = nullptr,
                    Counting counting = Counting::kCount);
// controller 0 = A (0x44), 1 = B (0x45); port = kPort0, kPort1 or kPortBoth.
int readStatistics(const PairTarget& pair, int controller, uint8_t port, uint16_t logicalDrive,
                   StatisticsBuffer* out, ControllerCommand* record = nullptr,
                   Counting counting = Counting::kCount);

// READ BUFFER mode 2 of a buffer without parameters (an event log 0x46/0x47, the diagnostics dump
// 0x56) into out, length bytes at most (less when the buffer's length word says so).
int readDataBuffer(const PairTarget& pair, uint8_t bufferId, void* out, uint32_t length,
                   ControllerCommand* record = nullptr, Counting counting = Counting::kCount);
// WRITE BUFFER of length bytes of data in mode kModeData (the configuration restore 0x83, in
// pieces at increasing offsets) or kModeFirmware (a firmware image; the transport goes over to
// kModeFirmwareOffsets when the image needs several pieces), noting the result.
int writeDataBuffer(const PairTarget& pair, uint8_t mode, uint8_t bufferId, const void* data, uint32_t length,
                    ControllerCommand* record = nullptr, Counting counting = Counting::kCount);

// A configuration block on the heap (it is 940032 bytes, too large for a request thread's stack);
// null when memory runs out.
std::unique_ptr<ConfigurationBlock> newConfigurationBlock();

// WRITE BUFFER mode 1 with the command signature and block (none when blockLength is 0), noting
// the result.
int sendOperation(const PairTarget& pair, uint8_t bufferId, uint8_t p3, uint8_t p4, uint8_t p5,
                  const void* block = nullptr, uint32_t blockLength = 0, ControllerCommand* record = nullptr,
                  Counting counting = Counting::kCount);

// Configuration changes: the controller refuses a changing operation outside a start (0x80) ...
// save (0x82) bracket; a failure after the start leaves the change unsaved.
int startConfigChange(const PairTarget& pair, ControllerCommand* record = nullptr);
int saveConfigChange(const PairTarget& pair, ControllerCommand* record = nullptr);
// Runs body (returning a result code) inside a bracket: start; body when the start succeeded;
// save when the body succeeded, then marks the configuration changed. Returns the first failure
// or 0. record receives the failing command.
template <typename Body>
int inConfigChange(const PairTarget& pair, ControllerCommand* record, Body body);

// After a change the controller may be busy for a few seconds: try a configuration start every
// 3 seconds until one succeeds or limitSeconds passed (at most four tries for the usual 10). The
// start is never saved: it only shows that commands are accepted again. Stops early when the
// module stops. Returns the last try's result. The pause is injectable for tests, and a server
// started with env KESTROVA_BRIVO_READY_POLL_SECONDS = 0-3 uses that many seconds (system tests).
int waitUntilReady(const PairTarget& pair, int limitSeconds = 10);
void setReadyPollSecondsForTesting(int seconds);

// The flag that tells browsers polling the monitor page to reload: set by every saved
// configuration change (and by the monitor when claims change); read and cleared by PingPage.
void markConfigurationChanged();
bool takeConfigurationChanged();

// The record of the first valid controller (A when its state byte is kOn, else B when valid), or
// null when neither is.
const ControllerRecord* firstValidController(const ControllerInformation& info);
// 0 for A, 1 for B, -1 when record is not one of info's.
int controllerIndex(const ControllerInformation& info, const ControllerRecord* record);

// 8 bytes as 16 upper-case hexadecimal digits.
std::string wwnText(const uint8_t wwn[8]);
// The entry of the drive list holding wwn (an array member, a spare, a drive a request names), or
// null. Only the first min(count, kMaxDrives) entries count, whatever the controller reported.
const DriveListEntry* driveWithWwn(const DriveList& drives, const uint8_t wwn[8]);
// 16 hexadecimal digits (either case) to 8 bytes, first digit the high half. False (out left
// alone) for any other text.
bool parseWwn(const char* text, uint8_t out[8]);

// A fixed-width, possibly unterminated and blank- or NUL-padded text field as a string without
// its padding.
std::string fieldText(const char* field, size_t width);

// Request values: the decimal number of key, or fallback when the key is absent, empty, not a
// number, or contains "missing" (pages send that for an unset field).
long requestNumber(VariableTable request, const char* key, long fallback);
// True for "true", "on", "yes" or "1" (any case).
bool requestFlag(VariableTable request, const char* key);

// ---- template ----

template <typename Body>
int inConfigChange(const PairTarget& pair, ControllerCommand* record, Body body) {
  int result = startConfigChange(pair, record);
  if (result != kResultGood) return result;
  result = body();
  if (result != kResultGood) return result;
  result = saveConfigChange(pair, record);
  if (result == kResultGood) markConfigurationChanged();
  return result;
}

}  // namespace brivo
