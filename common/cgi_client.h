// The front end's side of the shared-memory slot protocol (cgi_protocol.h): hands one request
// table to the server and brings back its reply. Used by the web front end (cgiloader), the
// system tests and the benchmarks.
//
// A round trip: claim a free slot (compare-and-swap 0 -> 1, so two front ends never take the
// same slot), create and fill the request area, set 2 and wake the server, wait for 4 or an
// error or stop state (woken by the server's semaphore, or by pure polling when asked), copy
// the reply out of the reply area (never past its real size), set 5 and wake the handler.
//
// A request area whose name another local user took is created under a private name, which the
// slot tells the server; the reply is read from the area the slot names (cgi_protocol.h). An
// object of another user is never opened. The mapping of the status area and the semaphores
// are kept between round trips (per shared-memory prefix) and opened again when the server they
// belong to has stopped.
//
// Thread safety: a CgiClientSlot belongs to one thread; any number of slots, threads and
// processes may work on the same server at once. cgiRoundTrip may be called from any thread.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "common/variable_table.h"

struct CgiClientOptions {
  int replyTimeoutMs = 40000;  // wait for the reply; the server gives up on the slot after 40 s
  int slotWaitMs = 5000;       // wait for a free slot; 0 looks once
  bool pollOnly = false;       // never use the wake-up semaphores
  int pollStepMs = 100;        // state check interval while polling (also the semaphore wait step)
  // The server's file that names its status area when another user took the default name
  // (kStatusAreaNameFile in the server's working folder); empty: the default name only.
  std::string statusAreaNameFile;
};

// Results of the client operations.
enum CgiClientResult : int {
  kCgiOk = 0,
  kCgiBusy = 1,              // no slot became free within slotWaitMs
  kCgiServerNotRunning = 2,  // no status area: no server serves this prefix
  kCgiNoReply = 3,           // 253: the server could not produce a reply
  kCgiNoVariables = 4,       // 254: the request area held no variables
  kCgiNoHandler = 5,         // 255: the server could not start a handler
  kCgiServerStopped = 6,     // 224: the server has stopped
  kCgiServerRestarting = 7,  // 236: the server is restarting
  kCgiServerRescanning = 8,  // 238: the server is restarting after a rescan or restart request
  kCgiTimeOut = 9,           // no reply within replyTimeoutMs (the slot was given up)
  kCgiFailed = 10,           // local failure: bad argument, no slot claimed, an area unusable
};

// Short English name of a result, for messages ("busy", "restarting", ...). Never null.
const char* cgiClientResultText(int result);
// True for the three stop results (the front end shows "restart in progress" or "stopped").
inline bool isCgiStopResult(int result) {
  return result == kCgiServerStopped || result == kCgiServerRestarting || result == kCgiServerRescanning;
}

// One request's use of one slot, step by step (tests drive the steps one at a time).
class CgiClientSlot {
 public:
  explicit CgiClientSlot(const CgiClientOptions& options);
  // Gives back a claim that was never submitted and closes this side's mappings; a submitted
  // request is left as it stands (see abandon).
  ~CgiClientSlot();
  CgiClientSlot(const CgiClientSlot&) = delete;
  CgiClientSlot& operator=(const CgiClientSlot&) = delete;

  // Opens the status area (and the semaphores unless pollOnly), or takes the one kept from an
  // earlier round trip. kCgiServerNotRunning when the server has none.
  int connect();
  // Claims `slot`, or any free slot when slot is -1, waiting up to slotWaitMs. A stop state seen
  // on the way is returned as its result.
  int claim(int slot = -1);
  // Creates and fills the request area with the serialized request (or the given bytes), sets 2
  // and wakes the server. REQUIRES: claimed.
  int submit(VariableTable request);
  int submitBytes(const void* bytes, size_t size);
  // Waits for the reply: kCgiOk for state 4, else the result of the error or stop state, or
  // kCgiTimeOut after replyTimeoutMs.
  int awaitReply();
  // Copies the reply into *reply (a new table the caller frees), sets 5 and wakes the handler.
  // REQUIRES: awaitReply returned kCgiOk.
  int takeReply(VariableTable* reply);
  // Gives up the slot: sets 5 from whatever non-stop state it holds, so that the server frees it.
  void abandon();

  int slot() const { return slot_; }
  // The slot's state byte now (0 when no slot is held).
  uint8_t state() const;

  // The status area and semaphores one server's slots share (cgi_client.cc).
  struct Connection;

 private:
  int postSubmit();
  void finish();
  // Creates the request area holding the size bytes under the default name, or under a private
  // one when another user holds the default. *name receives the name used ("" for the default).
  bool createRequestArea(const void* bytes, size_t size, std::string* name);
  CgiClientOptions options_;
  std::shared_ptr<Connection> connection_;
  struct SlotAreas;
  std::unique_ptr<SlotAreas> areas_;
  int slot_ = -1;
  bool submitted_ = false;
};

// One whole round trip. On kCgiOk *reply holds the reply table (caller frees); otherwise it is
// null. Error states are acknowledged (set to 5) so that the server frees the slot at once.
int cgiRoundTrip(VariableTable request, VariableTable* reply, const CgiClientOptions& options);
