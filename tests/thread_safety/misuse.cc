// Code that breaks a lock promise of common/thread_annotations.h, one fault per FAULT_* macro; the
// tests of CMakeLists.txt here compile it with clang's analysis and expect each fault to be
// refused, and the version without a fault to pass. Never part of a program.
#include <condition_variable>

#include "common/thread_annotations.h"

class Account {
 public:
  void deposit(int amount) {
    MutexLock lock(mu_);
    addLocked(amount);
  }

  int balance() {
#if defined(FAULT_LOCK_ORDER)
    MutexLock guard(mu_);
    ReaderMutexLock lock(rates_);
#else
    ReaderMutexLock lock(rates_);
    MutexLock guard(mu_);
#endif
    return balance_ * rate_;
  }

  void waitForFunds(int amount) {
    MutexLock lock(mu_);
    funds_.wait(lock.native(), [&]() REQUIRES(mu_) { return balance_ >= amount; });
#if defined(FAULT_WRITE_AFTER_UNLOCK)
    lock.unlock();
    balance_ -= amount;
#endif
  }

  void setRate(int rate) {
#if defined(FAULT_SHARED_WRITE)
    ReaderMutexLock lock(rates_);
#else
    WriterMutexLock lock(rates_);
#endif
    rate_ = rate;
  }

  void reset() {
#if defined(FAULT_UNGUARDED_WRITE)
    balance_ = 0;
#elif defined(FAULT_CALL_WITHOUT_LOCK)
    addLocked(-balance());
#else
    MutexLock lock(mu_);
    balance_ = 0;
#endif
  }

 private:
  void addLocked(int amount) REQUIRES(mu_) {
    balance_ += amount;
    funds_.notify_all();
  }

  Mutex mu_;
  std::condition_variable funds_;
  int balance_ GUARDED_BY(mu_) = 0;
  SharedMutex rates_ ACQUIRED_BEFORE(mu_);
  int rate_ GUARDED_BY(rates_) = 1;
};

int main() {
  Account account;
  account.deposit(1);
  account.setRate(2);
  account.waitForFunds(1);
  account.reset();
  return account.balance();
}
