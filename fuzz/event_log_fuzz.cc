// Fuzz target: the reader of the server's event log db/ServerLog.log. The file is plain text in
// the server's folder: an administrator may edit it, another program may append to it, a full
// disk may cut its last line. A fuzz input is the file's bytes, a few page requests and a record
// to append.
//
// Checks: the ViewLogs page built through the line index equals the page read from the top of
// the file (before and after an append), every field the line reader finds unescapes within its
// line, and a record line written by the log reads back as the same six fields.
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/variable_table.h"
#include "fuzz/fuzz_support.h"
#include "server/events/event_log.h"
#include "server/events/event_log_format.h"
#include "server/events/event_log_index.h"
#include "server/events/event_record.h"

namespace {

std::vector<std::pair<std::string, std::string>> sortedPairs(VariableTable table) {
  std::vector<std::pair<std::string, std::string>> pairs;
  for (const VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace_back(e->key, e->value);
  std::sort(pairs.begin(), pairs.end());
  return pairs;
}

void checkPages(fuzz::Input* input) {
  for (int page = 0; page < 2; ++page) {
    TableOwner request;
    if (input->flag()) addVariable(request.address(), "EndIndex", std::to_string(input->u16()).c_str());
    if (input->flag())
      addVariable(request.address(), "numberToDisplay", std::to_string(input->byte()).c_str());
    TableOwner indexed(ViewLogs(request.get()));
    TableOwner scanned(viewLogsFullScan(request.get()));
    FUZZ_CHECK(sortedPairs(indexed.get()) == sortedPairs(scanned.get()));
  }
}

// Every line as the reader cuts them: the fields it finds stay inside the line.
void checkLines(const std::string& path) {
  FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return;
  LogLineReader reader(file, 0);
  const char* line;
  size_t length;
  uint64_t offset;
  uint64_t expected = 0;
  while (reader.next(&line, &length, &offset)) {
    FUZZ_CHECK(offset == expected && length > 0 && length < kLogLineLimit);
    expected += length;
    for (int k = 0; k < 6; ++k) {
      const char* begin;
      const char* end;
      if (!findLogField(line, k, &begin, &end)) break;
      FUZZ_CHECK(begin >= line && end >= begin && end < line + length);
      std::string value;
      FUZZ_CHECK(readLogField(line, k, &value) && value.size() <= static_cast<size_t>(end - begin));
      char* copy = copyLogField(line, k);
      FUZZ_CHECK(copy != nullptr && value == copy);
      std::free(copy);
    }
    int32_t number;
    (void)readLogNumber(line, &number);
  }
  std::fclose(file);
}

// A record line written by the log reads back as its fields.
void checkRecordLine(const std::string& device, const std::string& message, uint32_t level, uint32_t when) {
  EventRecord record{};
  record.device = const_cast<char*>(device.c_str());
  record.message = const_cast<char*>(message.c_str());
  record.concernLevel = level;
  record.raiseTime = when;
  char line[kLogLineLimit];
  const size_t length = composeLogRecordLine(line, 42, record);
  FUZZ_CHECK(length < kLogLineLimit && line[length - 1] == '\n' && std::strlen(line) == length);
  std::string field;
  FUZZ_CHECK(readLogField(line, 0, &field) && field == "42");
  FUZZ_CHECK(readLogField(line, 4, &field) && device.compare(0, field.size(), field) == 0);
  FUZZ_CHECK(readLogField(line, 5, &field) && message.compare(0, field.size(), field) == 0);
  if (device.size() <= 100 && message.size() <= 800) {
    FUZZ_CHECK(readLogField(line, 4, &field) && field == device);
    FUZZ_CHECK(readLogField(line, 5, &field) && field == message);
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  fuzz::enterScratchFolder("event_log");
  std::filesystem::create_directories("db");
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  // Layout: device text NUL, message text NUL, 8 bytes of page choices and record numbers, then
  // the file.
  const std::string device(input.until('\0'));
  const std::string message(input.until('\0'));
  const std::string_view choices = input.bytes(8);
  fuzz::Input pick(reinterpret_cast<const uint8_t*>(choices.data()), choices.size());
  fuzz::writeFile(kServerLogPath, input.rest());

  reloadLogCounter();
  checkLines(kServerLogPath);
  checkPages(&pick);
  const uint32_t level = pick.byte() % 5;
  const uint32_t when = pick.u16() * 40000u;
  if (device.find('\0') == std::string::npos && message.find('\0') == std::string::npos) {
    checkRecordLine(device, message, level, when);
    EventRecord record{};
    record.device = strdup(device.c_str());
    record.message = strdup(message.c_str());
    record.concernLevel = level;
    record.raiseTime = when;
    FUZZ_CHECK(writeEventRecord(copyEventRecord(&record)) == 0);
    std::free(record.device);
    std::free(record.message);
    checkPages(&pick);
    checkLines(kServerLogPath);
  }
  return 0;
}
