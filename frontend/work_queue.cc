// The job pool; see work_queue.h.
#include "frontend/work_queue.h"

#include "common/thread_annotations.h"

WorkQueue::WorkQueue(size_t threads) {
  for (size_t i = 0; i < threads; ++i) threads_.emplace_back([this] { run(); });
}

WorkQueue::~WorkQueue() {
  {
    MutexLock lock(mu_);
    stopping_ = true;
    jobs_.clear();
  }
  ready_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

bool WorkQueue::post(std::function<void()> job, bool urgent) {
  {
    MutexLock lock(mu_);
    if (stopping_) return false;
    if (urgent) {
      jobs_.push_front(std::move(job));
    } else {
      jobs_.push_back(std::move(job));
    }
  }
  ready_.notify_one();
  return true;
}

size_t WorkQueue::waiting() {
  MutexLock lock(mu_);
  return jobs_.size();
}

void WorkQueue::run() {
  for (;;) {
    std::function<void()> job;
    {
      MutexLock lock(mu_);
      ready_.wait(lock.native(), [this]() REQUIRES(mu_) { return stopping_ || !jobs_.empty(); });
      if (stopping_) return;
      job = std::move(jobs_.front());
      jobs_.pop_front();
    }
    job();
  }
}
