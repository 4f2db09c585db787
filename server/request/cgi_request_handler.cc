// The handler of one request slot (handleCGIRequest) and the slot waits; see cgi_communicator.h.
//
// Every state change goes through changeSlotState from the state this handler last saw, and only
// while the server runs: a stop state that the communicator wrote at shutdown, or a time-out
// state that the front end wrote, is never overwritten.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>

#include "common/cgi_protocol.h"
#include "common/debug.h"
#include "common/shared_memory.h"
#include "server/main_loop.h"
#include "server/request/cgi_communicator.h"
#include "server/request/cgi_events.h"
#include "server/request/cgi_status_area.h"
#include "server/request/forgery_guard.h"
#include "server/request/request_admission.h"
#include "server/request/router.h"
#include "server/request/settings_pages.h"
#include "server/server_state.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr uint32_t kRequestDebug = 0x200014;
constexpr uint32_t kMethodDebug = 0x200011;

// Changes the slot's state from `from` to `to` while the server runs, and wakes its front end.
bool setSlotState(int slot, uint8_t* state, uint8_t from, uint8_t to) {
  if (!isServerRunning() || !changeSlotState(state, from, to)) return false;
  cgi::postReplySemaphore(slot);
  return true;
}

// Waits while the slot keeps value, at most the reply time-out and while the server runs.
// Returns the state seen last.
uint8_t waitForChange(int slot, uint8_t* state, uint8_t value) {
  const CgiTimings timings = cgiTimings();
  const auto deadline = Clock::now() + std::chrono::milliseconds(timings.replyTimeoutMs);
  uint8_t seen = loadSlotState(state);
  while (seen == value && isServerRunning() && Clock::now() < deadline) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    const int step = static_cast<int>(std::min<long long>(timings.waitStepMs, left.count() + 1));
    cgi::waitTakenSemaphore(slot, step);
    seen = loadSlotState(state);
  }
  return seen;
}

// An error exit: sets the error state and waits while the front end leaves it there.
int failSlot(int slot, uint8_t* state, uint8_t errorState, const char* debugLine) {
  if (setSlotState(slot, state, kSlotTaken, errorState)) waitWhileSlotState(state, errorState);
  debugPrint(kRequestDebug, "%s", debugLine);
  return -1;
}

// The answer to a request: the guard's refusal (or its answer to a front end's report), the
// rescan page while a rescan is under way, the password error page, or the router's answer; null
// when the request is not admitted (it names no "RemoteAddress"). Refused requests and reports
// are no user's activity, so they are not tracked.
VariableTable answerRequest(VariableTable* request) {
  debugPrint(kMethodDebug, "cgi request - method = %s (module=%s)\n",
             getVariableOrMissing(*request, "method"), getVariableOrMissing(*request, "module"));
  if (getVariable(*request, "RemoteAddress") != nullptr) {
    if (VariableTable refused = guardRequest(*request)) return refused;
  }
  requestAdmission().trackUser(request);
  const char* address = getVariable(*request, "RemoteAddress");
  debugPrint(kRequestDebug, "cgi request - pIpAddress = %x\n",
             static_cast<unsigned>(reinterpret_cast<uintptr_t>(address)));
  if (address == nullptr) return nullptr;
  // The loopback addresses of both families and the server's own addresses are this host.
  debugPrint(kRequestDebug, isLocalAddress(address) ? "cgi request - local\n" : "cgi request - not local\n");
  VariableTable reply = nullptr;
  if (serverControl().rescanRequested.load() != 0) {
    reply = GetRescanPage(*request);
  } else if (requestAdmission().verifyPassword(*request, &reply) != kPasswordRefused) {
    freeVariableTable(&reply);
    reply = routeRequest(*request);
  }
  addPageToken(*request, &reply);
  return reply;
}

// Reads the request area the slot names: the default, or the private name a front end chose
// because another user held the default (then reported once).
bool readRequestArea(int slot, std::string* bytes) {
  const uint32_t number = kRequestAreaBase + slot;
  const std::string named = readNameField(cgi::slotRequestName(slot));
  if (named.empty()) return readSharedMemoryNamed(std::to_string(number), bytes) == 0;
  if (!isSectionNameOf(named, number)) return false;
  unsigned owner = 0;
  if (foreignSharedMemory(std::to_string(number), &owner))
    cgi::reportForeignName(std::to_string(number), owner);
  return readSharedMemoryNamed(named, bytes) == 0;
}

// Creates the slot's reply area holding the size bytes of reply: under the default name
// (removing a leftover of an earlier server), or under a private name when another user holds
// the default. The slot's reply name field tells the front end which.
bool createReplyArea(int slot, const char* reply, size_t size, SharedMemoryOwner* area) {
  const uint32_t number = kReplyAreaBase + slot;
  const std::string defaultName = std::to_string(number);
  char* field = cgi::slotReplyName(slot);
  if (createSharedMemoryFilled(reply, size, area->address(), defaultName) == 0)
    return writeNameField(field, "") || field == nullptr;
  unsigned owner = 0;
  if (!foreignSharedMemory(defaultName, &owner)) {
    removeSharedMemory(number);
    if (createSharedMemoryFilled(reply, size, area->address(), defaultName) == 0)
      return writeNameField(field, "") || field == nullptr;
    return false;
  }
  cgi::reportForeignName(std::to_string(number), owner);
  if (field == nullptr) return false;  // a status area without names cannot tell the front end
  const std::string name = privateSectionName(number);
  if (name.empty() || createSharedMemoryFilled(reply, size, area->address(), name) != 0) return false;
  return writeNameField(field, name);
}

// Publishes reply (taken over) in the reply area and waits for the front end to take it.
int publishReply(int slot, uint8_t* state, VariableTable reply) {
  TableOwner owner(reply);
  // An empty serialized table still needs its closing NUL to be read back as a table.
  const size_t size = std::max<size_t>(sizeOfSerializedTable(reply), 1);
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size]());
  if (bytes) serializeVariableTable(reply, bytes.get());
  owner = TableOwner();
  SharedMemoryOwner area;
  if (!bytes) setSharedMemoryError("reply of " + std::to_string(size) + " bytes: out of memory");
  if (!bytes || !createReplyArea(slot, bytes.get(), size, &area)) {
    const bool set = setSlotState(slot, state, kSlotTaken, kSlotNoReply);
    raiseCgiEvent("KestrovaEvent_CGIReturnNoMem", kEventCgiReturnNoMem, sharedMemoryError());
    if (set) waitWhileSlotState(state, kSlotNoReply);
    debugPrint(kRequestDebug, "cgi request err 5\n");
    return -1;
  }
  bytes.reset();
  if (!setSlotState(slot, state, kSlotTaken, kSlotReplyReady)) {
    // The front end stopped waiting while the reply was made (or the server is stopping).
    area.reset();
    const uint8_t seen = loadSlotState(state);
    if (isServerRunning()) {
      if (!isSlotStopState(seen)) changeSlotState(state, seen, kSlotFinished);
      raiseCgiEvent("KestrovaEvent_CGITimeOutServer", kEventCgiTimeOutServer);
    }
    debugPrint(kRequestDebug, "cgi request err 6\n");
    return -1;
  }
  const uint8_t seen = waitForChange(slot, state, kSlotReplyReady);
  area.reset();
  if (isServerRunning() && seen != kSlotFree && seen != kSlotFinished && seen != kSlotRestarting &&
      seen != kSlotRescanning) {
    changeSlotState(state, seen, kSlotFinished);
    raiseCgiEvent("KestrovaEvent_CGITimeOutScript", kEventCgiTimeOutScript);
    debugPrint(kRequestDebug, "cgi request err 7\n");
    return -1;
  }
  debugPrint(kRequestDebug, "cgi request done\n");
  return 0;
}

}  // namespace

int handleCGIRequest(void* argument) {
  debugPrint(kRequestDebug, "cgi request\n");
  if (argument == nullptr) {
    logServerError("CGI request handler received a null parameter");
    debugPrint(kRequestDebug, "cgi request err 1\n");
    return -1;
  }
  const int slot = *static_cast<uint8_t*>(argument);
  std::free(argument);
  debugPrint(kRequestDebug, "cgi request - process ID = %d\n", slot);
  uint8_t* state = cgi::slotStateByte(slot);
  if (state == nullptr) return -1;

  std::string requestBytes;
  if (!readRequestArea(slot, &requestBytes)) {
    raiseCgiEvent("KestrovaEvent_CGIRequestMemNotFound", kEventCgiRequestMemNotFound, sharedMemoryError());
    return failSlot(slot, state, kSlotNoReply, "cgi request err 2\n");
  }
  TableOwner request(deserializeVariableTableBounded(requestBytes.data(), requestBytes.size()));
  requestBytes = std::string();
  if (!request) {
    raiseCgiEvent("KestrovaEvent_CGIRequestParamNotFound", kEventCgiRequestParamNotFound);
    return failSlot(slot, state, kSlotNoVariables, "cgi request err 3\n");
  }
  VariableTable reply = answerRequest(request.address());
  request = TableOwner();
  if (reply == nullptr) {
    raiseCgiEvent("KestrovaEvent_CGIReturnParamNotFound", kEventCgiReturnParamNotFound);
    return failSlot(slot, state, kSlotNoReply, "cgi request err 4\n");
  }
  return publishReply(slot, state, reply);
}

void waitWhileSlotState(uint8_t* stateByte, uint8_t value) {
  if (stateByte == nullptr) return;
  const int slot = cgi::slotOfStateByte(stateByte);
  const uint8_t seen = waitForChange(slot, stateByte, value);
  if (seen == value && isServerRunning()) changeSlotState(stateByte, value, kSlotFinished);
}
