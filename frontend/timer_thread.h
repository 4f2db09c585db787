// One thread that runs short jobs at given moments (a delayed login answered, the deadline
// sweep, the report of quiet login bursts). Jobs must not block: what waits goes to a WorkQueue.
//
// Thread safety: at() and every() from any thread; the destructor ends the thread and drops the
// jobs not yet due.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <thread>

#include "common/thread_annotations.h"

class TimerThread {
 public:
  using Clock = std::chrono::steady_clock;

  TimerThread();
  ~TimerThread();
  TimerThread(const TimerThread&) = delete;
  TimerThread& operator=(const TimerThread&) = delete;

  // Runs job once at when (at once when it is past).
  void at(Clock::time_point when, std::function<void()> job);
  // Runs job every period, the first time one period from now.
  void every(std::chrono::milliseconds period, std::function<void()> job);

 private:
  void run();

  Mutex mu_;
  std::condition_variable changed_;
  struct Job {
    std::function<void()> run;
    std::chrono::milliseconds period{0};  // 0: once
  };
  std::multimap<Clock::time_point, Job> jobs_ GUARDED_BY(mu_);
  bool stopping_ GUARDED_BY(mu_) = false;
  std::thread thread_;
};
