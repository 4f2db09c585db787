// A fixed pool of threads that run jobs in the order they are posted (urgent jobs first): the
// HTTP mode's work that may wait (password hashing, the round trip to the server, rendering) runs
// here, never on its event loop.
//
// Thread safety: post() from any thread; the destructor waits for the running jobs and drops the
// queued ones.
#pragma once

#include <condition_variable>
#include <deque>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

#include "common/thread_annotations.h"

class WorkQueue {
 public:
  explicit WorkQueue(size_t threads);
  ~WorkQueue();
  WorkQueue(const WorkQueue&) = delete;
  WorkQueue& operator=(const WorkQueue&) = delete;

  // False when the queue is stopping (the job is dropped).
  bool post(std::function<void()> job, bool urgent = false);
  // Jobs waiting to run.
  size_t waiting();

 private:
  void run();

  Mutex mu_;
  std::condition_variable ready_;
  std::deque<std::function<void()>> jobs_ GUARDED_BY(mu_);
  bool stopping_ GUARDED_BY(mu_) = false;
  std::vector<std::thread> threads_;
};
