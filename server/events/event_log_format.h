// The line format of the event log file db/ServerLog.log, which is also its export format: a
// header line and one line per record of six quoted fields (number, concern level, MM/DD/YY,
// HH:MM:SS, device, message), fields 1-5 each followed by a comma.
//
// Texts are escaped so that every record stays on one line: a double quote is doubled, and a
// backslash, carriage return and line feed become \\, \r and \n. The field reader undoes both.
//
// Lines are read the way a 2048-byte line buffer reads them: at most 2047 bytes, ending after a
// newline. The writer keeps every record line within that size so it always reads back whole.
//
// Thread safety: the functions are pure; a LogLineReader belongs to one thread.
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include "server/events/event_record.h"

// Read limit of one line, terminator included.
inline constexpr size_t kLogLineLimit = 2048;
// Longest record line the writer produces, newline included.
inline constexpr size_t kLogRecordMax = kLogLineLimit - 1;
// Longest device text, in escaped bytes, kept in a record line.
inline constexpr size_t kLogDeviceMax = 256;

inline constexpr char kBuiltInLogHeader[] =
    "\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",\n";

// Composes the line of record number `number` (newline included) into line, which holds at least
// kLogLineLimit bytes; the device and message are cut between characters when the line would
// exceed kLogRecordMax. Returns the line's length.
size_t composeLogRecordLine(char* line, int32_t number, const EventRecord& record);

// Finds field k (0-5) of a line: *begin and *end bracket its raw (still escaped) text. Quoting
// follows the usual CSV rule: outside a field a quote opens one, inside a field a doubled quote
// is an escaped quote and a single one closes it. False when the field is not complete.
bool findLogField(const char* line, int k, const char** begin, const char** end);
// Unescaped value of field k into *value. False when the field is not complete.
bool readLogField(const char* line, int k, std::string* value);
// Newly malloc'ed unescaped value of field k, or null when the field is not complete (or memory
// runs out). Caller frees.
char* copyLogField(const char* line, int k);
// The Log Number of a line (atoi of field 1) in *number. False when field 1 is not complete.
bool readLogNumber(const char* line, int32_t* number);

// Reads a log file line by line from its current position, as fgets with a 2048-byte buffer
// would, and knows the file offset of every line.
class LogLineReader {
 public:
  // REQUIRES: file is positioned at offset.
  LogLineReader(FILE* file, uint64_t offset) : file_(file), offset_(offset) {}
  LogLineReader(const LogLineReader&) = delete;
  LogLineReader& operator=(const LogLineReader&) = delete;

  // Next line (NUL-terminated, valid until the next call) and its length and offset. False at end
  // of file or on a read error.
  bool next(const char** line, size_t* length, uint64_t* offset);
  // Offset just behind the last line returned.
  uint64_t offset() const { return offset_; }

 private:
  bool fill();

  FILE* file_;
  uint64_t offset_;
  size_t begin_ = 0;
  size_t end_ = 0;
  char buffer_[16384];
  char line_[kLogLineLimit];
};
