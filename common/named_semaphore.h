// Named semaphores: the wake-up signals between the server and its web front ends, so that a
// side that waits for the other's state change is woken at once instead of at its next poll.
// Named by a number like the shared memory sections ("/<prefix>sem<number>" under POSIX, same
// prefix and access rights as shared_memory.h).
//
// A semaphore is used as a wake-up flag: post() adds a count only when none is pending, so posts
// that nobody waits for (a front end that only polls) never pile up. A waiter must therefore
// always re-check the state it waits for after waking, and after a time-out.
//
// Used by the server's CGI communicator and the front end's side library (cgi_client.h).
//
// Thread safety: post, wait and drain may be called from any thread and process at once.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <utility>

class NamedSemaphore {
 public:
  // A new semaphore with count 0; a name that exists already is a failure. Null on failure.
  // The creator removes the name when it closes it.
  static std::unique_ptr<NamedSemaphore> create(uint32_t name);
  // The existing semaphore; null when there is none or it cannot be opened.
  static std::unique_ptr<NamedSemaphore> open(uint32_t name);
  ~NamedSemaphore();
  NamedSemaphore(const NamedSemaphore&) = delete;
  NamedSemaphore& operator=(const NamedSemaphore&) = delete;

  // Adds one count unless one is pending already.
  void post();
  // Takes one count, waiting at most timeoutMs (0: only looks). True when a count was taken.
  bool wait(int timeoutMs);
  // Takes every pending count without waiting.
  void drain();

  bool owner() const { return owner_; }
  // False when the name now leads to another semaphore (or none): the one held here was removed,
  // for example by a server that started after the one that made it.
  bool stillNamed() const;

 private:
  NamedSemaphore(void* handle, std::string object, bool owner)
      : handle_(handle), object_(std::move(object)), owner_(owner) {}
  void* handle_;  // the platform's semaphore
  std::string object_;
  bool owner_;
  uint64_t identity_ = 0;  // the platform's identity of the object behind the name when opened
};

// Removes the name of a semaphore left behind by a process that ended without closing it.
// Returns 0 when removed, 1 when there was none or it could not be removed.
int removeNamedSemaphore(uint32_t name);
// The platform object name of semaphore `name`, for messages and tests; empty when the prefix is
// unusable.
std::string namedSemaphoreObjectName(uint32_t name);
