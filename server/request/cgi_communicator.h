// CGI communicator: the server's side of the shared-memory slot protocol (common/cgi_protocol.h)
// through which the web front end hands in requests. One communicator thread
// ("startAllThreads/requestManager") watches the ten slot states and hands each arriving request
// to a handler thread ("requestManager/handleCGIRequest"): an idle one of the pass, or one it
// starts when none is idle, so that a pass keeps at most one thread per request in flight and an
// idle thread ends after the idle time. The handler reads the request table, has it answered
// (router, rescan page or password error page), publishes the reply and waits for the front end
// to take it.
//
// Besides the polling of the protocol, both threads are woken through named semaphores by a
// front end that posts them (common/named_semaphore.h), and a slot is freed only after its
// handler thread has finished.
//
// Thread safety: requestManager runs once per server pass; handlers run concurrently, each
// writing only its own slot; the timing, starter and debug functions may be called from any
// thread.
#pragma once

#include <cstdint>

#include "common/thread_manager.h"
#include "common/variable_table.h"

// The waits of the protocol. The program runs with the defaults unless the environment gives
// KESTROVA_CGI_REPLY_TIMEOUT_MS, KESTROVA_CGI_POLL_MS, KESTROVA_CGI_WAIT_STEP_MS or
// KESTROVA_CGI_HANDLER_IDLE_MS (tests).
struct CgiTimings {
  int replyTimeoutMs = 40000;  // how long a handler waits for the front end
  int pollIntervalMs = 300;    // the communicator's pass interval (waited in 10 ms steps)
  int waitStepMs = 100;        // the handler's polling step
  int handlerIdleMs = 30000;   // how long a handler thread waits for its next request
};
void setCgiTimings(const CgiTimings& timings);
CgiTimings cgiTimings();
// Overrides the timings named in the environment (positive decimal milliseconds); other values
// are ignored with a debug line.
void applyCgiTimingsFromEnvironment();

// The communicator loop (thread routine; the context word is not used).
void requestManager(uintptr_t context);
// How the communicator starts its handler threads: startThread unless a test installs another
// (null restores it), which sees every start.
using CgiThreadStarter = ThreadHandle (*)(ThreadRoutine routine, uintptr_t context, uint32_t options,
                                          const char* tag);
void setCgiThreadStarter(CgiThreadStarter starter);

// Handles one slot. argument: a malloc'ed one-byte block holding the slot index, freed here.
// Returns 0 on success, -1 on every failure.
int handleCGIRequest(void* argument);
// Waits while *stateByte keeps value, in the handler's polling steps (woken early by the front
// end's semaphore when stateByte is a slot of the status area), at most the reply time-out and
// only while the server runs; when the time runs out with the value unchanged, sets it to 5.
void waitWhileSlotState(uint8_t* stateByte, uint8_t value);

// Life-cycle hooks (components.cc). startCgiCommunicator starts the communicator thread; false
// when it could not be started. releaseCgiCommunicator runs after every thread has ended: on a
// stop it removes the status area and the semaphores, on a restart it keeps them for the next
// pass.
bool startCgiCommunicator();
void releaseCgiCommunicator();

// Debug page rows: "CgiRequestLoop%dRequestStatus" per slot, "CgiRequestLoop",
// "SharedMemoryAddress", "MappedViewMemoryAddress", "SharedMemoryId", "SharedMemoryIsCreator".
void addCgiDebugInfo(VariableTable* reply);
