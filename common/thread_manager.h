// Thread manager: every thread of the process is started here and recorded in one table of 100
// slots with a tag text naming who started it; a reaper ("grand master") frees the slots of
// finished threads every 250 ms; at shutdown terminateAllThreads asks every thread without the
// keep bit to stop and waits, bounded, for it.
//
// Threads cannot be killed safely on Linux, so stopping is cooperative: worker loops watch their
// stop word and sleep with threadSleep(), which returns early once a stop was requested.
// Suspension is cooperative too: a suspended thread pauses at its next threadSleep().
//
// A started thread runs its routine at once, before its slot is recorded (as the table may be
// full for a while); a routine that ends before it is recorded is reaped at the next sweep.
// A thread that could not be recorded (table full for 100 attempts) runs untracked: it is not
// listed and not waited for, but terminateAllThreads still requests it to stop.
//
// Thread safety: every function may be called from any thread; the table lock is never held
// while a thread is created, joined or while sleeping.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

typedef void (*ThreadRoutine)(uintptr_t context);
typedef uint64_t ThreadHandle;  // 0 = none

inline constexpr uint32_t kThreadKeep = 0x1;  // not ended by terminateAllThreads
inline constexpr int kThreadSlots = 100;

// Enables the manager (called at each start of the server's main loop). Returns false when it
// could not.
bool initThreadManager();
// Starts routine(context) as a recorded thread. tag must live as long as the program (it is
// not copied); null stands for "nofrom". Starts the reaper first when it is not running.
// Returns the handle, or 0 when the manager is disabled, routine is null or the thread could
// not be created. May take up to about 20 s when the table is full (see the retry rule).
ThreadHandle startThread(ThreadRoutine routine, uintptr_t context, uint32_t options, const char* tag);
// startThread with options 0 and the tag "nofrom".
ThreadHandle startThreadNoTag(ThreadRoutine routine, uintptr_t context);
// Frees (and joins) the slots of threads whose routine has returned.
void reapThreads();
// Ends the reaper, requests every thread without the keep bit to stop, waits for them (bounded,
// about 2 s in all) and reports the ones that did not end; those are left running untracked.
// Keep-bit threads stay recorded and untouched.
void terminateAllThreads();
// Raises the suspend count of every recorded thread but the caller's own.
void suspendAllThreads();
// Clears the suspend count of every recorded thread and wakes it.
void resumeAllThreads();
// Disables the manager (startThread returns 0 until the next initThreadManager), stops the reaper
// when it runs and reaps once. Keep-bit threads stay recorded.
void closeThreadManager();

// Interruptible sleep for recorded threads: returns false as soon as a stop was requested for
// the calling thread (or all threads), true when the full time passed. Pauses while suspended.
// A thread not started by the manager simply sleeps and gets true.
bool threadSleep(int milliseconds);
// True when a stop was requested for the calling thread.
bool threadStopRequested();
// The calling thread's handle; 0 for a thread the manager did not start.
ThreadHandle currentThreadHandle();

struct ThreadListing {
  int index;
  ThreadHandle handle;
  uint32_t options;
  std::string tag;
  bool running;  // false once the routine returned (the slot waits for the next reap)
};
// Snapshot of the recorded threads, for the debug page.
std::vector<ThreadListing> listThreads();
// Number of slots ever used, from the start of the table (0-100); kept across restarts.
int threadSlotsSeen();

// Frees the table's storage. Only for a plug-in library about to be unloaded, whose own copy of
// the table would otherwise be lost; nothing may use the thread manager afterwards.
void releaseThreadManagerStorage();
// Threads started by the manager (recorded or untracked, the reaper not counted) whose routine
// has not returned yet.
int liveThreadCount();
