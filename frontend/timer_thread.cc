// The timer thread; see timer_thread.h.
#include "frontend/timer_thread.h"

#include "common/thread_annotations.h"

TimerThread::TimerThread() : thread_([this] { run(); }) {}

TimerThread::~TimerThread() {
  {
    MutexLock lock(mu_);
    stopping_ = true;
  }
  changed_.notify_all();
  thread_.join();
}

void TimerThread::at(Clock::time_point when, std::function<void()> job) {
  {
    MutexLock lock(mu_);
    if (stopping_) return;
    jobs_.emplace(when, Job{std::move(job), std::chrono::milliseconds(0)});
  }
  changed_.notify_all();
}

void TimerThread::every(std::chrono::milliseconds period, std::function<void()> job) {
  {
    MutexLock lock(mu_);
    if (stopping_) return;
    jobs_.emplace(Clock::now() + period, Job{std::move(job), period});
  }
  changed_.notify_all();
}

void TimerThread::run() {
  MutexLock lock(mu_);
  while (!stopping_) {
    if (jobs_.empty()) {
      changed_.wait(lock.native());
      continue;
    }
    const auto next = jobs_.begin()->first;
    if (Clock::now() < next) {
      changed_.wait_until(lock.native(), next);
      continue;
    }
    Job job = std::move(jobs_.begin()->second);
    jobs_.erase(jobs_.begin());
    lock.unlock();
    job.run();
    lock.lock();
    if (job.period.count() > 0 && !stopping_) jobs_.emplace(Clock::now() + job.period, std::move(job));
  }
}
