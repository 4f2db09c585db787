// Appending to, counting, exporting and clearing the event log; the pages are in
// event_log_view.cc. See event_log.h.
#include "server/events/event_log.h"

#include <sys/stat.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "common/private_file.h"
#include "common/property_file.h"
#include "common/string_tables.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log_format.h"
#include "server/events/event_log_index.h"
#include "server/events/log_file_lock.h"
#include "server/events/notifier_stats.h"
#include "server/request/command_result.h"
#include "server/server_state.h"

namespace {

// Written only while holding the log file's ticket; read by pages without it.
std::atomic<int32_t> gLastLogEntryNumber{0};
// Records written since the program started, by concern level (index 3: unknown levels).
std::atomic<uint64_t> gLoggedRecords[5];

size_t levelIndex(uint32_t concernLevel) { return concernLevel <= 4 ? concernLevel : 3; }

struct RecordDeleter {
  void operator()(EventRecord* record) const { freeEventRecord(record); }
};
using RecordOwner = std::unique_ptr<EventRecord, RecordDeleter>;

struct CharDeleter {
  void operator()(char* text) const { std::free(text); }
};
using TextOwner = std::unique_ptr<char, CharDeleter>;

// The header line: "LogHeader" of the string table, or the built-in one when it is missing.
std::string logHeader() {
  TextOwner text(lookupString(kStringsDbPath, "LogHeader"));
  if (!text || std::strstr(text.get(), "missing") != nullptr) return kBuiltInLogHeader;
  return std::string(text.get()) + "\n";
}

// Bytes to append for one record: a newline that ends a cut-off last line, the header in front
// of the first record of an empty log, and the record line.
std::string recordBytes(const EventRecord& record, int32_t number, uint64_t fileSize, bool endsWithNewline,
                        bool withHeader) {
  std::string bytes;
  if (fileSize > 0 && !endsWithNewline) bytes += '\n';
  if (withHeader) bytes += logHeader();
  char line[kLogLineLimit];
  bytes.append(line, composeLogRecordLine(line, number, record));
  return bytes;
}

}  // namespace

int32_t lastLogEntryNumber() { return gLastLogEntryNumber.load(); }

void setLastLogEntryNumber(int32_t number) { gLastLogEntryNumber.store(number); }

uint64_t loggedRecordCount(uint32_t concernLevel) {
  return gLoggedRecords[levelIndex(concernLevel)].load(std::memory_order_relaxed);
}

int appendEventRecord(EventRecord* record) {
  if (!isServerRunning()) {
    freeEventRecord(record);
    return 0;
  }
  return writeEventRecord(record);
}

namespace {

int writeRecordLine(EventRecord* record) {
  RecordOwner owner(record);
  if (record == nullptr || record->message == nullptr || record->device == nullptr) return 2;
  LogFileLock lock(LogFileLock::Mode::kAppend);
  FILE* file = lock.file();
  if (file == nullptr) return 1;
  EventLogIndex& index = eventLogIndex();
  int32_t ignored;
  if (!index.matches(file)) index.rebuild(file, &ignored);
  struct stat info;
  if (fstat(fileno(file), &info) != 0) return 1;
  const uint64_t size = static_cast<uint64_t>(info.st_size);
  // Without a valid index a cut-off last line cannot be seen; the record is written as it is.
  const bool endsWithNewline = !index.valid() || index.endsWithNewline();
  // A log edited by hand can end with any Log Number: at the largest one the counter starts over
  // at 1 instead of overflowing.
  const int32_t last = lastLogEntryNumber();
  const int32_t number = last < INT32_MAX ? last + 1 : 1;
  // The header goes in front of the first record of an empty file only: a counter of 0 over a
  // file that still holds lines must not put a header between records, and a file emptied
  // behind the counter's back still needs one (the pages skip the first line as the header).
  const bool withHeader = size == 0;
  const std::string bytes = recordBytes(*record, number, size, endsWithNewline, withHeader);
  // The index may have read the file: a write after a read needs a seek in between.
  if (fseeko(file, 0, SEEK_END) != 0 || std::fwrite(bytes.data(), 1, bytes.size(), file) != bytes.size() ||
      std::fflush(file) != 0) {
    std::printf("Unable to write the log.\n");
    index.invalidate();  // a part of the line may have reached the file
    return 1;
  }
  setLastLogEntryNumber(number);
  gLoggedRecords[levelIndex(record->concernLevel)].fetch_add(1, std::memory_order_relaxed);
  if (index.valid() && endsWithNewline) {
    index.noteAppended(bytes.data(), bytes.size());
  } else {
    index.invalidate();
  }
  return 0;
}

}  // namespace

int writeEventRecord(EventRecord* record) {
  const int result = writeRecordLine(record);
  if (result == 0) {
    countNotifierSent("kvlog");
  } else {
    countNotifierFailed("kvlog");
  }
  return result;
}

void reloadLogCounter() {
  LogFileLock lock(LogFileLock::Mode::kRead);
  EventLogIndex& index = eventLogIndex();
  int32_t last = 0;
  if (lock.file() == nullptr) {
    index.invalidate();
  } else {
    index.rebuild(lock.file(), &last);
  }
  setLastLogEntryNumber(last);
}

VariableTable ExportLogs(VariableTable /*request*/) {
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportText", "../../db/ServerLog.log");
  return reply;
}

namespace {

// Empties the file under the ticket. False when it cannot be opened for writing.
bool truncateLog() {
  LogFileLock lock(LogFileLock::Mode::kRead);
  lock.closeFile();
  // Binary, like every open of the log: the index counts bytes (see log_file_lock.cc).
  FILE* file = openPrivateFile(eventLogPath(), "wb", kSharedFileMode);
  if (file == nullptr) return false;
  setLastLogEntryNumber(0);
  eventLogIndex().resetEmpty(file);
  std::fclose(file);
  return true;
}

void raiseClearEvent() {
  TextOwner text(lookupString(kStringsDbPath, "KestrovaEvent_ClearServerLog"));
  const char* message =
      (text && std::strcmp(text.get(), kMissing) != 0) ? text.get() : "KestrovaEvent_ClearServerLog";
  const std::string device = serverDeviceName();
  raiseEvent(device.c_str(), message, 0, 0, kEventClearServerLog, 0);
}

}  // namespace

VariableTable ClearEventLogs(VariableTable /*request*/) {
  const bool cleared = truncateLog();
  reloadLogCounter();
  if (cleared) raiseClearEvent();
  VariableTable reply = ViewLogs(nullptr);
  addCommandResult(&reply, !cleared, "CmdClearLogs", nullptr);
  return reply;
}
