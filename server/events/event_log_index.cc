// Line index of the event log; see event_log_index.h.
#include "server/events/event_log_index.h"

#include <sys/stat.h>

#include <algorithm>
#include <climits>
#include <cstring>

#include "server/events/event_log_format.h"

namespace {

bool statFile(FILE* file, struct stat* info) { return file != nullptr && fstat(fileno(file), info) == 0; }

}  // namespace

EventLogIndex& eventLogIndex() {
  static EventLogIndex index;
  return index;
}

void EventLogIndex::invalidate() {
  offsets_.clear();
  runningMax_.clear();
  size_ = 0;
  valid_ = false;
  endsWithNewline_ = true;
}

void EventLogIndex::resetEmpty(FILE* file) {
  invalidate();
  struct stat info;
  if (!statFile(file, &info)) return;
  device_ = info.st_dev;
  inode_ = info.st_ino;
  valid_ = true;
}

bool EventLogIndex::matches(FILE* file) const {
  struct stat info;
  if (!valid_ || !statFile(file, &info)) return false;
  return info.st_dev == device_ && info.st_ino == inode_ && static_cast<uint64_t>(info.st_size) == size_;
}

int32_t EventLogIndex::addLine(uint64_t offset, const char* line) {
  int32_t best = runningMax_.empty() ? INT32_MIN : runningMax_.back();
  int32_t number;
  if (!readLogNumber(line, &number)) number = 0;
  // Line 0 is the header, which the pages skip without looking at it.
  else if (!offsets_.empty())
    best = std::max(best, number);
  offsets_.push_back(offset);
  runningMax_.push_back(best);
  return number;
}

bool EventLogIndex::rebuild(FILE* file, int32_t* lastNumber) {
  resetEmpty(file);
  *lastNumber = 0;
  if (!valid_ || fseeko(file, 0, SEEK_SET) != 0) {
    invalidate();
    return false;
  }
  LogLineReader reader(file, 0);
  const char* line;
  size_t length;
  uint64_t offset;
  while (reader.next(&line, &length, &offset)) {
    *lastNumber = addLine(offset, line);
    endsWithNewline_ = line[length - 1] == '\n';
  }
  if (std::ferror(file)) {
    invalidate();
    *lastNumber = 0;
    return false;
  }
  size_ = reader.offset();
  return true;
}

void EventLogIndex::noteAppended(const char* data, size_t length) {
  char line[kLogLineLimit];
  size_t start = 0;
  while (start < length) {
    const size_t room = std::min(length - start, kLogLineLimit - 1);
    const auto* newline = static_cast<const char*>(std::memchr(data + start, '\n', room));
    const size_t take = newline ? static_cast<size_t>(newline - (data + start)) + 1 : room;
    std::memcpy(line, data + start, take);
    line[take] = '\0';
    addLine(size_ + start, line);
    start += take;
  }
  size_ += length;
  if (length > 0) endsWithNewline_ = data[length - 1] == '\n';
}

uint64_t EventLogIndex::offsetAfterFirstAtLeast(int32_t s) const {
  if (offsets_.size() < 2) return size_;
  const auto found = std::lower_bound(runningMax_.begin() + 1, runningMax_.end(), s);
  if (found == runningMax_.end()) return size_;
  return lineOffset(static_cast<size_t>(found - runningMax_.begin()) + 1);
}
