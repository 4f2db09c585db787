// The request side's process-wide state: the status area "9190" with its wake-up semaphores, and
// per slot the bookkeeping of its handler thread. Internal to the CGI communicator files.
//
// The status area outlives a restart (the next pass reuses it, as front ends may be waiting on
// it) and is removed on a stop. It is never unmapped while a handler thread still runs, since
// handlers write their slot's byte through it: a close asked for while handlers run is carried
// out by the last handler's end or by the release at shutdown.
//
// Thread safety: every function may be called from any thread. One lock guards the area and
// semaphore pointers and the live-handler count; slot bytes are accessed atomically.
#pragma once

#include <cstdint>
#include <string>

#include "common/thread_manager.h"
#include "common/variable_table.h"

namespace cgi {

// At the start of a communicator pass: reuses the area kept from the previous pass, or creates it, or
// opens an existing one; then the semaphores. False when no status area could be had.
bool acquireStatusArea();
// Closes the area and the semaphores now, or as soon as the last handler has ended.
void releaseStatusArea();
bool statusAreaMapped();

// The slot's state byte; null when no area is mapped or slot is out of range. Valid while the
// caller is a handler of the slot or the communicator.
uint8_t* slotStateByte(int slot);
// The slot of a state byte inside the status area, or -1.
int slotOfStateByte(const uint8_t* byte);
// The slot's request and reply name fields (cgi_protocol.h); null when no area is mapped or it
// has no name fields. Valid while the caller is a handler of the slot or the communicator.
char* slotRequestName(int slot);
char* slotReplyName(int slot);
// Empties both name fields of the slot (before it is freed).
void clearSlotNames(int slot);
// Raises KestrovaEvent_CGIMemForeign for a section name another user holds, once per name in
// the life of the process.
void reportForeignName(const std::string& name, unsigned ownerUid);

// Wake-ups (each does nothing when its semaphore is missing).
void postReplySemaphore(int slot);                 // server -> front end of slot
bool waitTakenSemaphore(int slot, int timeoutMs);  // front end -> handler of slot; false on time-out
bool waitWakeSemaphore(int timeoutMs);             // front end / handler end -> communicator
void postWakeSemaphore();

// Handler bookkeeping. handlerStarting before the thread is started; handlerFinished as the
// handler thread's last act (it wakes the communicator, and may carry out a pending close).
void handlerStarting(int slot);
void setHandlerThread(int slot, ThreadHandle handle);
void handlerFinished(int slot);
bool handlerRunning(int slot);
void forgetHandlerThread(int slot);

// Debug page rows of the status area.
void addStatusAreaRows(VariableTable* reply);

}  // namespace cgi
