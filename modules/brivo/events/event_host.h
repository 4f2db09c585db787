// What the controller event code needs from the module around it, as three small interfaces:
// EventTexts (the string and property tables it looks texts and severities up in), EventModule
// (module-wide services: running flag, sleeping, printing, raising events, the stored bookmark
// times, command result texts) and EventPair (one controller pair: its name, interface types,
// valid-controller flags, event bookmarks and the command transport). module_events.cc implements
// them over the module's tables, ModuleServices and the SCSI transport; the tests use fakes.
//
// Thread safety: the event code calls EventModule and EventTexts from the monitor thread and from
// request threads at once, so implementations must allow concurrent calls. An EventPair is used
// by one call at a time (the event code serialises its bookkeeping, see lockEventBookkeeping).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "common/variable_table.h"

namespace brivo::events {

// The stored count of a bookmark's second that stands for every entry of it (and for a missing
// count): see EventModule::storedEventCount.
inline constexpr uint32_t kWholeSecond = UINT32_MAX;

inline constexpr int kSideA = 0;
inline constexpr int kSideB = 1;

// Key lookups. Each returns the value, or nothing when the key is absent (a string table's
// "(missing)" counts as absent).
class EventTexts {
 public:
  virtual ~EventTexts() = default;
  virtual std::optional<std::string> eventText(const std::string& key) const = 0;   // EventStrings.db
  virtual std::optional<std::string> serverText(const std::string& key) const = 0;  // db/strings.db
  virtual std::optional<std::string> severity(const std::string& key) const = 0;    // EventSeverity.db
  virtual std::optional<std::string> setting(const std::string& key) const = 0;     // BrivoSettings.ini
};

// One event for the server's event log and notifiers (ModuleServices entry 1).
struct RaisedEvent {
  std::string source;     // device text of the log line
  std::string text;       // message
  uint32_t severity = 0;  // 0 information, 1 warning, 2 error
  uint32_t time = 0;      // seconds since 1970; 0 = now
  uint32_t eventId = 0;
  uint8_t syncFlag = 0;  // 1: re-read from the controller's history at start-up
};

class EventModule {
 public:
  virtual ~EventModule() = default;
  virtual const EventTexts& texts() const = 0;
  // False once the module is stopping; long walks end early then.
  virtual bool running() const = 0;
  // Sleeps up to ms milliseconds, returning early when the module stops.
  virtual void sleepMs(int ms) = 0;
  // Operator message on standard output (text ends with its own newline).
  virtual void print(const std::string& text) = 0;
  // Debug line through the server's debug print routine, gated by code.
  virtual void debugPrint(uint32_t code, const std::string& text) = 0;
  virtual void raiseEvent(const RaisedEvent& event) = 0;
  // The bookmark times kept in BrivoConfigurations.db ("%sLastAEventTime", "%sLastBEventTime");
  // 0 when missing. See event_texts.h for helpers over the module's table.
  virtual uint32_t storedEventTime(std::string_view pairName, int side) = 0;
  virtual void storeEventTime(std::string_view pairName, int side, uint32_t seconds) = 0;
  // How many entries of the stored time's second have been recorded ("%sLastAEventCount",
  // "%sLastBEventCount"): a controller logs many events in one second, and a server that stops
  // between two of them must know where to go on. kWholeSecond when missing (a file written
  // before the count was kept, or a bookmark set to the controller's clock).
  virtual uint32_t storedEventCount(std::string_view pairName, int side) = 0;
  virtual void storeEventCount(std::string_view pairName, int side, uint32_t count) = 0;
  // Adds the command result keys ("MessageSummary", "MessageDetails", "MessageImageSrc",
  // "MessageIsSuccess") of commandKey for result; sense holds the command's 32 sense bytes.
  virtual void addCommandResult(VariableTable* reply, const char* commandKey, int result,
                                const uint8_t* sense) = 0;
};

// One READ BUFFER or WRITE BUFFER command as the transport builds it (opcode, mode, buffer ID and
// the three parameter bytes of CDB bytes 3-5); the transport fills offsets and lengths, chunks,
// applies the buffer-ID adjustment and the short-buffer rule. WRITE BUFFER mode 1 data already
// starts with the command signature.
struct PairCommand {
  uint8_t opcode = 0x3C;  // 0x3C READ BUFFER, 0x3B WRITE BUFFER
  uint8_t mode = 2;
  uint8_t bufferId = 0;
  uint8_t p3 = 0, p4 = 0, p5 = 0;
  std::span<uint8_t> data;  // READ: filled by the controller; WRITE: sent
  uint8_t sense[32] = {};   // filled by the transport
};

class EventPair {
 public:
  virtual ~EventPair() = default;
  // ModDeviceName: "Brivo" and 16 hexadecimal digits.
  virtual std::string_view name() const = 0;
  virtual uint8_t driveInterface() const = 0;  // interface word byte 0
  virtual uint8_t hostInterface() const = 0;   // host interface type (low 4 bits of byte 2)
  virtual bool controllerValid(int side) const = 0;
  virtual void setControllersValid(bool a, bool b) = 0;
  // Bookmarks of the pair's state, per side (kSideA, kSideB): the sequence index of the last
  // handled entry (-1 = none yet), the time of the last recorded entry (seconds since 1970) and
  // the flag set while start-up events of that side are replayed.
  virtual int32_t lastIndex(int side) const = 0;
  virtual void setLastIndex(int side, int32_t index) = 0;
  virtual uint32_t lastTime(int side) const = 0;
  virtual void setLastTime(int side, uint32_t seconds) = 0;
  virtual bool replaying(int side) const = 0;
  virtual void setReplaying(int side, bool on) = 0;
  // Sends the command through the pair's current path. Returns 0, the SCSI status, 254 or 255.
  virtual int send(PairCommand& command) = 0;
  // Hands a command result to the monitor's communication-failure counting.
  virtual void noteResult(int result) = 0;
};

}  // namespace brivo::events
