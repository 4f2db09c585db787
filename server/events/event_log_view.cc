// The ViewLogs page of the event log, with the line index or by reading from the top; both give
// the same reply. See event_log.h.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "server/events/event_log.h"
#include "server/events/event_log_format.h"
#include "server/events/event_log_index.h"
#include "server/events/log_file_lock.h"

namespace {

constexpr char kLogPagePath[] = "../Server/other/event_logs.htm";

// Which records a page shows: records S+1..E of a log whose last record is L, N per page.
struct PageBounds {
  int64_t last;  // L
  int64_t end;   // E
  int64_t size;  // N
  int64_t skip;  // S
};

PageBounds pageBounds(VariableTable request) {
  PageBounds page;
  page.last = lastLogEntryNumber();
  const char* endText = getVariable(request, "EndIndex");
  page.end = endText ? std::atoi(endText) : page.last;
  if (page.end < 1) page.end = 1;
  if (page.end > page.last) page.end = page.last;
  const char* sizeText = getVariable(request, "numberToDisplay");
  page.size = sizeText ? std::atoi(sizeText) : kDefaultLogPageSize;
  if (page.size < 1) page.size = kDefaultLogPageSize;
  if (page.size > kMaxLogPageSize) page.size = kMaxLogPageSize;
  page.skip = std::max<int64_t>(page.end - page.size, 1) - 1;
  return page;
}

void addSlotField(VariableTable* reply, int64_t slot, const char* field, const char* value) {
  char key[64];
  std::snprintf(key, sizeof(key), "LogEntries%lld%s", static_cast<long long>(slot), field);
  addVariable(reply, key, value);
}

constexpr const char* kSlotFields[6] = {"logNumber", "errorLevel", "date", "time", "devName", "message"};

// Fills slots wanted-1 down to 0 from the next readable lines, then with placeholders.
void takeRecords(LogLineReader* reader, int64_t wanted, VariableTable* reply) {
  int64_t taken = 0;
  const char* line;
  size_t length;
  uint64_t offset;
  std::string fields[6];
  while (taken < wanted && reader->next(&line, &length, &offset)) {
    bool complete = true;
    for (int k = 0; k < 6 && complete; ++k) complete = readLogField(line, k, &fields[k]);
    if (!complete) continue;
    const int64_t slot = wanted - 1 - taken;
    for (int k = 0; k < 6; ++k) addSlotField(reply, slot, kSlotFields[k], fields[k].c_str());
    ++taken;
  }
  static constexpr const char* kMissingRecord[6] = {"0", "2", "0/0/00", "00:00:00", "", "Missing Logs."};
  for (; taken < wanted; ++taken) {
    const int64_t slot = wanted - 1 - taken;
    for (int k = 0; k < 6; ++k) addSlotField(reply, slot, kSlotFields[k], kMissingRecord[k]);
  }
}

void addInt(VariableTable* reply, const char* key, int64_t value) {
  addVariable(reply, key, std::to_string(value).c_str());
}

// Reads the header and skips to behind the first record line numbered S or more.
void skipByScan(LogLineReader* reader, int64_t skip) {
  const char* line;
  size_t length;
  uint64_t offset;
  if (!reader->next(&line, &length, &offset)) return;  // the header
  int32_t number;
  while (skip > 0 && reader->next(&line, &length, &offset)) {
    if (readLogNumber(line, &number) && number >= skip) return;
  }
}

// Offset where the records of the page begin, from the index; -1 when the index is unusable.
int64_t startByIndex(FILE* file, int64_t skip) {
  EventLogIndex& index = eventLogIndex();
  int32_t ignored;
  if (!index.matches(file) && !index.rebuild(file, &ignored)) return -1;
  if (skip == 0) return static_cast<int64_t>(index.lineOffset(1));
  return static_cast<int64_t>(index.offsetAfterFirstAtLeast(static_cast<int32_t>(skip)));
}

VariableTable viewPage(VariableTable request, bool useIndex) {
  const PageBounds page = pageBounds(request);
  VariableTable reply = nullptr;
  LogFileLock lock(LogFileLock::Mode::kRead);
  FILE* file = lock.file();
  if (file == nullptr) {
    std::printf("Unable to open the log.\n");
    addInt(&reply, "LogEntries", 0);
    addVariable(&reply, "HTMLPath", kLogPagePath);
    return reply;
  }
  addInt(&reply, "LastLogEntryNumber", page.last);
  addVariable(&reply, "IsHostBased", "true");
  addBoolVariable(&reply, "BackEnable", page.end - page.size > 2);
  addBoolVariable(&reply, "ForwardEnable", page.last > page.end);
  int64_t start = useIndex ? startByIndex(file, page.skip) : -1;
  if (start >= 0 && fseeko(file, start, SEEK_SET) != 0) start = -1;
  if (start < 0) std::rewind(file);
  LogLineReader reader(file, start < 0 ? 0 : static_cast<uint64_t>(start));
  if (start < 0) skipByScan(&reader, page.skip);
  addInt(&reply, "StartIndex", page.skip + 1);
  addInt(&reply, "EndIndex", std::min(page.end + page.size, page.last));
  takeRecords(&reader, page.end - page.skip, &reply);
  addInt(&reply, "LogEntries", page.end - page.skip);
  addVariable(&reply, "HTMLPath", kLogPagePath);
  return reply;
}

}  // namespace

VariableTable ViewLogs(VariableTable request) { return viewPage(request, true); }

VariableTable viewLogsFullScan(VariableTable request) { return viewPage(request, false); }
