// Lock annotations that clang checks (-Wthread-safety, the `clang` preset) and the mutex types
// that carry them. A member written `int n_ GUARDED_BY(mu_);` can then only be touched with mu_
// held, and a function declared `REQUIRES(mu_)` only called with it held: the comment "guarded
// by mu_" becomes a promise the compiler keeps. Other compilers (gcc, mingw-w64) see the macros
// expand to nothing and the types behave as the std ones they wrap.
//
// Use Mutex with MutexLock (or SharedMutex with WriterMutexLock / ReaderMutexLock), not
// std::lock_guard: the standard library's guards carry no annotations, so the analysis would not
// see the lock taken. A std::condition_variable waits on MutexLock::native(); a wait gives the
// mutex up and takes it back before it returns, so for the analysis the lock stays held. A wait
// predicate that reads guarded data says so with REQUIRES on the lambda:
//   cv_.wait(lock.native(), [this]() REQUIRES(mu_) { return ready_; });
//
// Thread safety: the types are what they wrap (std::mutex, std::shared_mutex); a lock object
// belongs to the thread that made it.
#pragma once

#include <mutex>
#include <shared_mutex>

#if defined(__clang__)
#define KESTROVA_THREAD_ANNOTATION(x) __attribute__((x))
#else
#define KESTROVA_THREAD_ANNOTATION(x)
#endif

// A type that is a lock; the argument names its kind in the messages ("mutex").
#define CAPABILITY(x) KESTROVA_THREAD_ANNOTATION(capability(x))
// An RAII type that holds a capability from its construction to its destruction.
#define SCOPED_CAPABILITY KESTROVA_THREAD_ANNOTATION(scoped_lockable)
// The data member or global is read and written only with the lock held.
#define GUARDED_BY(x) KESTROVA_THREAD_ANNOTATION(guarded_by(x))
// What the pointer points to is guarded (the pointer itself is not).
#define PT_GUARDED_BY(x) KESTROVA_THREAD_ANNOTATION(pt_guarded_by(x))
// Lock order: this lock is taken before / after the named ones.
#define ACQUIRED_BEFORE(...) KESTROVA_THREAD_ANNOTATION(acquired_before(__VA_ARGS__))
#define ACQUIRED_AFTER(...) KESTROVA_THREAD_ANNOTATION(acquired_after(__VA_ARGS__))
// The caller holds the lock (exclusively / at least shared) when it calls the function.
#define REQUIRES(...) KESTROVA_THREAD_ANNOTATION(requires_capability(__VA_ARGS__))
#define REQUIRES_SHARED(...) KESTROVA_THREAD_ANNOTATION(requires_shared_capability(__VA_ARGS__))
// The function takes / gives up the lock and returns with it so.
#define ACQUIRE(...) KESTROVA_THREAD_ANNOTATION(acquire_capability(__VA_ARGS__))
#define ACQUIRE_SHARED(...) KESTROVA_THREAD_ANNOTATION(acquire_shared_capability(__VA_ARGS__))
#define RELEASE(...) KESTROVA_THREAD_ANNOTATION(release_capability(__VA_ARGS__))
#define RELEASE_SHARED(...) KESTROVA_THREAD_ANNOTATION(release_shared_capability(__VA_ARGS__))
#define RELEASE_GENERIC(...) KESTROVA_THREAD_ANNOTATION(release_generic_capability(__VA_ARGS__))
// The function takes the lock when it returns the first argument.
#define TRY_ACQUIRE(...) KESTROVA_THREAD_ANNOTATION(try_acquire_capability(__VA_ARGS__))
#define TRY_ACQUIRE_SHARED(...) KESTROVA_THREAD_ANNOTATION(try_acquire_shared_capability(__VA_ARGS__))
// The caller must not hold the lock (the function takes it itself).
#define EXCLUDES(...) KESTROVA_THREAD_ANNOTATION(locks_excluded(__VA_ARGS__))
// The function checks at run time that the lock is held; the analysis takes it as held after.
#define ASSERT_CAPABILITY(x) KESTROVA_THREAD_ANNOTATION(assert_capability(x))
// The function returns (a reference to) the named lock.
#define RETURN_CAPABILITY(x) KESTROVA_THREAD_ANNOTATION(lock_returned(x))
// Leaves the function out of the analysis; say beside it why it is safe.
#define NO_THREAD_SAFETY_ANALYSIS KESTROVA_THREAD_ANNOTATION(no_thread_safety_analysis)

class MutexLock;

// std::mutex with annotations.
class CAPABILITY("mutex") Mutex {
 public:
  Mutex() = default;
  Mutex(const Mutex&) = delete;
  Mutex& operator=(const Mutex&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }
  bool try_lock() TRY_ACQUIRE(true) { return mu_.try_lock(); }

  // Tells the analysis the lock is held where it cannot follow (a callback run under the lock);
  // checks nothing at run time.
  void assertHeld() const ASSERT_CAPABILITY(this) {}

 private:
  friend class MutexLock;
  std::mutex mu_;
};

// Holds a Mutex for its scope (std::unique_lock<std::mutex> underneath); unlock() and lock() give
// it up and take it back within the scope.
class SCOPED_CAPABILITY MutexLock {
 public:
  explicit MutexLock(Mutex& mu) ACQUIRE(mu) : lock_(mu.mu_) {}
  ~MutexLock() RELEASE() {}
  MutexLock(const MutexLock&) = delete;
  MutexLock& operator=(const MutexLock&) = delete;

  void lock() ACQUIRE() { lock_.lock(); }
  void unlock() RELEASE() { lock_.unlock(); }

  // For std::condition_variable's waits (see the head of this file).
  std::unique_lock<std::mutex>& native() { return lock_; }

 private:
  std::unique_lock<std::mutex> lock_;
};

// std::shared_mutex with annotations: many readers or one writer.
class CAPABILITY("mutex") SharedMutex {
 public:
  SharedMutex() = default;
  SharedMutex(const SharedMutex&) = delete;
  SharedMutex& operator=(const SharedMutex&) = delete;

  void lock() ACQUIRE() { mu_.lock(); }
  void unlock() RELEASE() { mu_.unlock(); }
  void lock_shared() ACQUIRE_SHARED() { mu_.lock_shared(); }
  void unlock_shared() RELEASE_SHARED() { mu_.unlock_shared(); }

 private:
  std::shared_mutex mu_;
};

// Holds a SharedMutex exclusively for its scope.
class SCOPED_CAPABILITY WriterMutexLock {
 public:
  explicit WriterMutexLock(SharedMutex& mu) ACQUIRE(mu) : mu_(mu) { mu_.lock(); }
  ~WriterMutexLock() RELEASE() { mu_.unlock(); }
  WriterMutexLock(const WriterMutexLock&) = delete;
  WriterMutexLock& operator=(const WriterMutexLock&) = delete;

 private:
  SharedMutex& mu_;
};

// Holds a SharedMutex shared for its scope.
class SCOPED_CAPABILITY ReaderMutexLock {
 public:
  explicit ReaderMutexLock(SharedMutex& mu) ACQUIRE_SHARED(mu) : mu_(mu) { mu_.lock_shared(); }
  ~ReaderMutexLock() RELEASE() { mu_.unlock_shared(); }
  ReaderMutexLock(const ReaderMutexLock&) = delete;
  ReaderMutexLock& operator=(const ReaderMutexLock&) = delete;

 private:
  SharedMutex& mu_;
};
