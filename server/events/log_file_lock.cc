// Ticket lock of the event log file; see log_file_lock.h.
#include "server/events/log_file_lock.h"

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "common/private_file.h"
#include "common/property_file.h"

namespace {

std::atomic<uint32_t> gNextTicket{0};
std::atomic<uint32_t> gNowServing{0};
// Wakes the waiters when the turn passes on, so that a turn is taken as soon as it comes rather
// than at the next 10 ms look; the looks remain as the fallback.
std::mutex gTurnMutex;
std::condition_variable gTurnPassed;

constexpr int kOpenTries = 3;
constexpr auto kTurnPoll = std::chrono::milliseconds(10);

}  // namespace

const char* eventLogPath() { return kServerLogPath; }

LogFileLock::LogFileLock(Mode mode) : ticket_(gNextTicket.fetch_add(1)) {
  if (gNowServing.load() != ticket_) {
    std::unique_lock<std::mutex> lock(gTurnMutex);
    while (gNowServing.load() != ticket_) gTurnPassed.wait_for(lock, kTurnPoll);
  }
  // Binary: the index counts the bytes written, and a text-mode stream on Windows would add a
  // carriage return to every line behind its back.
  const char* openMode = mode == Mode::kAppend ? "a+b" : "rb";
  for (int i = 0; i < kOpenTries && file_ == nullptr; ++i)
    file_ = openPrivateFile(eventLogPath(), openMode, kSharedFileMode);
}

LogFileLock::~LogFileLock() {
  closeFile();
  {
    std::lock_guard<std::mutex> lock(gTurnMutex);
    gNowServing.fetch_add(1);
  }
  gTurnPassed.notify_all();
}

void LogFileLock::closeFile() {
  if (file_ != nullptr) std::fclose(file_);
  file_ = nullptr;
}
