// The lock of the event log file: a first-come-first-served ticket lock (next-ticket and
// now-serving counters) that every open of db/ServerLog.log goes through, so the channel thread
// that appends and the request threads that read or clear the log take turns in arrival order.
//
// Acquiring waits for its turn (woken when the turn passes on, and looking every 10 ms besides),
// then opens the file (up to three tries); the turn is held whether or not the open succeeded,
// until the owner is destroyed.
//
// Thread safety: any number of threads; a LogFileLock object belongs to the thread that made it.
#pragma once

#include <cstdint>
#include <cstdio>

class LogFileLock {
 public:
  enum class Mode { kAppend, kRead };

  // Waits for the turn, then opens the log in append-and-read ("a+") or read-only mode.
  explicit LogFileLock(Mode mode);
  // Closes the file when open and passes the turn on.
  ~LogFileLock();
  LogFileLock(const LogFileLock&) = delete;
  LogFileLock& operator=(const LogFileLock&) = delete;

  // Borrowed; null when all three opens failed or after closeFile.
  FILE* file() const { return file_; }
  // Closes the file but keeps the turn.
  void closeFile();

 private:
  uint32_t ticket_;
  FILE* file_ = nullptr;
};

// Path of the log, relative to the working folder.
const char* eventLogPath();
