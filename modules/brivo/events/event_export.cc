// GetAllControllerLogs and ClearControllerLogs; see event_export.h.
#include "modules/brivo/events/event_export.h"

#include <strings.h>

#include <cstdio>
#include <cstring>
#include <mutex>
#include <new>
#include <vector>

#include "common/atomic_file.h"
#include "common/private_file.h"
#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/event_merge.h"
#include "modules/brivo/events/event_reader.h"
#include "modules/brivo/events/event_time.h"

namespace brivo::events {

namespace {

constexpr int kEntriesPerPause = 256;
constexpr int kPauseMs = 100;
constexpr char kBuiltInHeader[] =
    "\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",";

// One CSV field: enclosed in double quotes, quotes doubled, line breaks and other control
// characters turned into blanks so that every record stays on its own line; then a comma.
void appendField(std::string* line, const std::string& value) {
  *line += '"';
  for (char c : value) {
    if (c == '"') {
      *line += "\"\"";
    } else {
      *line += static_cast<unsigned char>(c) < 0x20 ? ' ' : c;
    }
  }
  *line += "\",";
}

// The export file, replaced whole when complete (atomic_file.h), so a reader never sees half of
// it.
class CsvFile {
 public:
  explicit CsvFile(const std::string& folder)
      : file_(folder + "/" + kExportFileName, FileAccess::exact(kSharedFileMode)) {}

  bool open() const { return file_.ok(); }
  void write(const std::string& line) { (void)file_.write(line); }
  // Puts the file in place; false when anything failed.
  bool finish() { return file_.commit(); }
  const std::string& path() const { return file_.path(); }

 private:
  AtomicFile file_;
};

VariableTable failureReply(EventModule& module, VariableTable reply, const char* commandKey, int result,
                           const uint8_t* sense) {
  uint8_t none[32] = {};
  module.addCommandResult(&reply, commandKey, result, sense != nullptr ? sense : none);
  addVariable(&reply, "HTMLPath", kPopupPage);
  return reply;
}

// Writes both files: header, then every entry of the selected sides in merged order.
bool writeExport(EventModule& module, EventPair& pair, const EventRead& read, int sides,
                 const ExportFolders& folders) {
  CsvFile files[2] = {CsvFile(folders.temp), CsvFile(folders.archive)};
  if (!files[0].open()) {
    module.print("GetAllControllerLogs: cannot create " + files[0].path() + "\n");
    return false;
  }
  if (!files[1].open()) module.print("GetAllControllerLogs: cannot create " + files[1].path() + "\n");
  const EventTexts& texts = module.texts();
  std::string header = texts.eventText("LogHeader").value_or(kBuiltInHeader) + "\n";
  for (CsvFile& file : files) file.write(header);
  const EventLog* logs[2] = {(sides & 1) != 0 ? read.side[0].log.get() : nullptr,
                             (sides & 2) != 0 ? read.side[1].log.get() : nullptr};
  int first[2] = {0, 0};
  int end[2] = {logs[0] != nullptr ? logs[0]->count : 0, logs[1] != nullptr ? logs[1]->count : 0};
  std::string sources[2] = {controllerSource(texts, pair.name(), kSideA),
                            controllerSource(texts, pair.name(), kSideB)};
  DecodeOptions options;
  options.driveInterface = pair.driveInterface();
  options.hostInterface = pair.hostInterface();
  options.exporting = true;
  int number = 0;
  walkMerged(logs, first, end, false, [&](int side, const EventEntry& entry) {
    if (!module.running()) return false;
    DecodedEvent event;
    try {
      event = decodeEvent(texts, options, entry);
    } catch (const std::bad_alloc&) {
      return true;  // skipped, as while recording
    }
    std::string line;
    appendField(&line, std::to_string(++number));
    appendField(&line, std::to_string(event.severity));
    appendField(&line, eventDateText(entry.time));
    appendField(&line, eventTimeText(entry.time));
    appendField(&line, event.source.empty() ? sources[side] : event.source);
    appendField(&line, event.text);
    line += '\n';
    for (CsvFile& file : files) file.write(line);
    if (number % kEntriesPerPause == 0) module.sleepMs(kPauseMs);
    return true;
  });
  if (files[1].open() && !files[1].finish())
    module.print("GetAllControllerLogs: cannot write " + files[1].path() + "\n");
  if (!files[0].finish()) {
    module.print("GetAllControllerLogs: cannot write " + files[0].path() + "\n");
    return false;
  }
  return true;
}

void addClock(VariableTable* reply, const EventLog& log, char side) {
  std::string prefix = std::string("Controller") + side;
  addVariable(reply, (prefix + "Time").c_str(), controllerClockText(log.time).c_str());
  addVariable(reply, (prefix + "Weekday").c_str(), std::to_string(log.time.weekday).c_str());
}

}  // namespace

uint8_t controllerSelector(const char* text) {
  if (text == nullptr) return 0;
  if (strcasecmp(text, "Both") == 0) return kSelectBoth;
  if (std::strlen(text) != 1 || text[0] < '1' || text[0] > '3') return 0;
  return static_cast<uint8_t>(text[0] - '0');
}

int selectedSides(const char* text) {
  int sides = text != nullptr && text[0] != '\0' ? text[0] & 3 : 3;
  return sides == 0 ? 3 : sides;
}

VariableTable getAllControllerLogs(EventModule& module, EventPair* pair, VariableTable request,
                                   const ExportFolders& folders) {
  static std::mutex oneExport;
  std::lock_guard<std::mutex> exportLock(oneExport);
  VariableTable reply = nullptr;
  const char* name = getVariable(request, "ModDeviceName");
  if (name != nullptr) addVariable(&reply, "ModDeviceName", name);
  if (pair == nullptr) return failureReply(module, reply, "GetAllControllerLogs", 254, nullptr);
  EventRead read;
  {
    std::unique_lock<std::mutex> lock = lockEventBookkeeping();
    read = readEvents(module, *pair);
    const EventLog* logs[2] = {read.side[0].log.get(), read.side[1].log.get()};
    int first[2] = {0, 0};
    for (int side : {kSideA, kSideB}) {
      if (logs[side] != nullptr) first[side] = logs[side]->count - read.side[side].newCount;
    }
    recordEntries(module, *pair, logs, first);
  }
  if (!read.anyRead()) {
    return failureReply(module, reply, "GetAllControllerLogs", read.result != 0 ? read.result : 255, nullptr);
  }
  if (read.side[0].log) addClock(&reply, *read.side[0].log, 'A');
  if (read.side[1].log) addClock(&reply, *read.side[1].log, 'B');
  addIntVariable(&reply, "LogEntries", static_cast<uint32_t>(read.side[0].newCount + read.side[1].newCount),
                 false);
  if (!writeExport(module, *pair, read, selectedSides(getVariable(request, "qcliControllers")), folders)) {
    return failureReply(module, reply, "GetAllControllerLogs", 255, nullptr);
  }
  addVariable(&reply, "ExportText", (std::string("../../temp/") + kExportFileName).c_str());
  return reply;
}

VariableTable clearControllerLogs(EventModule& module, EventPair* pair, VariableTable request) {
  VariableTable reply = nullptr;
  const char* name = getVariable(request, "ModDeviceName");
  if (name != nullptr) addVariable(&reply, "ModDeviceName", name);
  uint8_t selector = controllerSelector(getVariable(request, "ControllerId"));
  PairCommand command;
  int result = 254;
  if (pair != nullptr && selector != 0) {
    uint8_t signature[kSignatureLength];
    std::memcpy(signature, kCommandSignature, sizeof signature);
    command.opcode = 0x3B;
    command.mode = kModeCommand;
    command.bufferId = kOpClearEventLog;
    command.p3 = selector;
    command.data = {signature, sizeof signature};
    result = pair->send(command);
    pair->noteResult(result);
  }
  module.addCommandResult(&reply, "ClearControllerLogs", result, command.sense);
  addVariable(&reply, "HTMLPath", kPopupPage);
  return reply;
}

}  // namespace brivo::events
