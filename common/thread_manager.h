// Thread manager: every thread of the process is started here and recorded in one table of 100
// slots with a tag text naming who started it; a reaper ("grand master") frees the slots of
// finished threads every 250 ms; at shutdown terminateAllThreads asks every thread without the
// keep bit to stop and waits, bounded, for it.
//
// Threads cannot be killed safely on Linux, so stopping is cooperative: worker loops watch their
// stop word and sleep with threadSleep(), which returns early once a stop was requested.
// Suspension is cooperative too: a suspended thread pauses at its next threadSleep().
//
// Thread safety: every function may be called from any thread; the table lock is never held
// while a thread is created or while sleeping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef void (*ThreadRoutine)(uintptr_t context);
typedef uint64_t ThreadHandle;  // 0 = none

inline constexpr uint32_t kThreadKeep = 0x1;  // not ended by terminateAllThreads
inline constexpr int kThreadSlots = 100;

// Creates the lock and enables the manager. Returns false when it could not.
bool initThreadManager();
// Starts routine(context) as a recorded thread. tag must live as long as the program.
// Returns the handle, or 0 when the manager is disabled or the thread could not be created.
ThreadHandle startThread(ThreadRoutine routine, uintptr_t context, uint32_t options, const char* tag);
ThreadHandle startThreadNoTag(ThreadRoutine routine, uintptr_t context);
void reapThreads();
// Ends the reaper, requests every thread without the keep bit to stop, waits for them (bounded)
// and reports the ones that did not end.
void terminateAllThreads();
void suspendAllThreads();
void resumeAllThreads();
void closeThreadManager();

// Interruptible sleep for recorded threads: returns false as soon as a stop was requested for
// the calling thread (or all threads), true when the full time passed. Pauses while suspended.
bool threadSleep(int milliseconds);
// True when a stop was requested for the calling thread.
bool threadStopRequested();

struct ThreadListing {
  int index;
  ThreadHandle handle;
  uint32_t options;
  std::string tag;
  bool running;
};
// Snapshot of the recorded threads, for the debug page.
std::vector<ThreadListing> listThreads();
int threadSlotsSeen();
int liveThreadCount();
