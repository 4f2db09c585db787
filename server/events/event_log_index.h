// EventLogIndex: where each line of db/ServerLog.log starts, and the running maximum of the Log
// Numbers up to each line, so that a page of the log can be found without reading every earlier
// line. It answers exactly what a scan from the top would find: "the first record line whose Log
// Number is at least S" is the first line where the running maximum reaches S.
//
// The index is built when the record counter is reloaded, extended on every append and emptied
// when the log is cleared. It remembers which file (device, inode) and size it describes; a file
// changed behind its back (replaced, truncated, appended to by another program) no longer
// matches and is indexed again before use.
//
// Thread safety: none of its own; the one process-wide index is used only while holding the log
// file's ticket (LogFileLock).
#pragma once

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <vector>

class EventLogIndex {
 public:
  // Forgets the file; the next use indexes it again.
  void invalidate();
  // Describes the empty file `file` (just truncated or created).
  void resetEmpty(FILE* file);
  // True when the index describes `file` at its present size.
  bool matches(FILE* file) const;
  // Indexes the whole file from its start. *lastNumber gets the Log Number of its last line, or
  // 0 when the file is empty or that line has none. False on a read error (index invalid).
  bool rebuild(FILE* file, int32_t* lastNumber);
  // Extends the index by `length` bytes just appended at the end of the indexed file.
  // REQUIRES: the file ended with a newline (or was empty) before the append.
  void noteAppended(const char* data, size_t length);

  bool valid() const { return valid_; }
  bool endsWithNewline() const { return endsWithNewline_; }
  uint64_t fileSize() const { return size_; }
  size_t lineCount() const { return offsets_.size(); }
  // Offset of line i; lineCount() gives the file size.
  uint64_t lineOffset(size_t i) const { return i < offsets_.size() ? offsets_[i] : size_; }
  // Offset just behind the first record line (the header line 0 excluded) whose Log Number can
  // be read and is at least s; the file size when there is none.
  uint64_t offsetAfterFirstAtLeast(int32_t s) const;

 private:
  // Adds line; returns its Log Number, or 0 when it has none.
  int32_t addLine(uint64_t offset, const char* line);

  std::vector<uint64_t> offsets_;
  std::vector<int32_t> runningMax_;  // INT32_MIN until a record line with a number was seen
  uint64_t size_ = 0;
  dev_t device_ = 0;
  ino_t inode_ = 0;
  bool valid_ = false;
  bool endsWithNewline_ = true;
};

// The index of db/ServerLog.log. REQUIRES: the caller holds the log file's ticket.
EventLogIndex& eventLogIndex();
