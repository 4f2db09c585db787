// The status area, its semaphores and the handler bookkeeping of the request side; see
// cgi_status_area.h.
#include "server/request/cgi_status_area.h"

#include <atomic>
#include <cinttypes>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "common/cgi_protocol.h"
#include "common/debug.h"
#include "common/named_semaphore.h"
#include "common/private_file.h"
#include "common/shared_memory.h"
#include "common/thread_annotations.h"
#include "server/net/user_events.h"
#include "server/request/cgi_events.h"

namespace cgi {
namespace {

constexpr uint32_t kCgiDebug = 0x200014;
constexpr uint32_t kForeignEventLevel = 2;

struct SlotBook {
  std::atomic<bool> running{false};
  std::atomic<ThreadHandle> thread{0};
};

struct RequestSide {
  Mutex lock;
  SharedMemoryRecord* area GUARDED_BY(lock) = nullptr;
  std::atomic<uint8_t*> states{nullptr};  // the area's view; written under lock
  std::string privateName GUARDED_BY(lock);  // the area's name when not the default
  int liveHandlers GUARDED_BY(lock) = 0;
  bool closePending GUARDED_BY(lock) = false;
  // Replaced only under lock while no handler runs; used without the lock by the communicator
  // and the handlers (their start and end order the accesses).
  std::unique_ptr<NamedSemaphore> wake;
  std::unique_ptr<NamedSemaphore> taken[kRequestSlots];
  std::unique_ptr<NamedSemaphore> reply[kRequestSlots];
  SlotBook slots[kRequestSlots];
};

// Never destroyed: a handler left running at exit may still end and report.
RequestSide& side() {
  static RequestSide* const s = new RequestSide;
  return *s;
}

bool validSlot(int slot) { return slot >= 0 && slot < kRequestSlots; }

// A semaphore of ours: created anew (a leftover of an ended server removed first) when this
// server owns the status area, else the existing one if any.
std::unique_ptr<NamedSemaphore> semaphoreFor(uint32_t name, bool owner) {
  if (!owner) return NamedSemaphore::open(name);
  removeNamedSemaphore(name);
  std::unique_ptr<NamedSemaphore> semaphore = NamedSemaphore::create(name);
  return semaphore ? std::move(semaphore) : NamedSemaphore::open(name);
}

void openSemaphoresLocked(RequestSide& s, bool owner) REQUIRES(s.lock) {
  if (!s.wake) s.wake = semaphoreFor(kWakeSemaphore, owner);
  for (int i = 0; i < kRequestSlots; ++i) {
    if (!s.taken[i]) s.taken[i] = semaphoreFor(kTakenSemaphoreBase + i, owner);
    if (!s.reply[i]) s.reply[i] = semaphoreFor(kReplySemaphoreBase + i, owner);
  }
}

// Remembers that name was found taken by another user, and raises the event once per name in
// the life of the process.
void reportForeign(const std::string& name, unsigned ownerUid) {
  static std::mutex reportedLock;
  static std::set<std::string>* const reported = new std::set<std::string>;
  {
    std::lock_guard<std::mutex> guard(reportedLock);
    if (!reported->insert(name).second) return;
  }
  const std::string object = "/" + sharedObjectPrefix() + name;
  const std::string owner = std::to_string(ownerUid);
  raiseUserEvent("KestrovaEvent_CGIMemForeign", kEventCgiMemForeign, kForeignEventLevel,
                 {object.c_str(), owner.c_str()});
}

// Writes (or, for the default name, removes) the file that names the status area for front ends.
void publishStatusAreaName(const std::string& name) {
  if (name.empty()) {
    std::remove(kStatusAreaNameFile);
    return;
  }
  FILE* file = openPrivateFile(kStatusAreaNameFile, "w", kSharedFileMode);
  if (file == nullptr) {
    debugPrint(kCgiDebug, "cgi: cannot write %s\n", kStatusAreaNameFile);
    return;
  }
  std::fprintf(file, "%s\n", name.c_str());
  std::fclose(file);
}

// Creates the status area, or opens an existing one. An existing area that no live process
// claims was left by a server that ended without removing it: this server adopts it (and removes
// it when it stops), together with that server's reply areas. An area under the default name
// that another user created is never used: the server goes on under a private name, which it
// names in kStatusAreaNameFile.
SharedMemoryRecord* createOrOpenArea(std::string* privateName) {
  SharedMemoryRecord* area = nullptr;
  privateName->clear();
  unsigned owner = 0;
  if (createSharedMemory(kStatusAreaSize, &area, kStatusAreaName) == 0) {
    (void)claimSharedMemory(area);
  } else if (foreignSharedMemory(std::to_string(kStatusAreaName), &owner)) {
    reportForeign(std::to_string(kStatusAreaName), owner);
    *privateName = privateSectionName(kStatusAreaName);
    if (privateName->empty() || createSharedMemoryNamed(kStatusAreaSize, &area, *privateName) != 0)
      return nullptr;
    (void)claimSharedMemory(area);
  } else if (openSharedMemory(&area, kStatusAreaName) == 0) {
    if (area->size < static_cast<size_t>(kRequestSlots)) {
      setSharedMemoryError("status area " + std::to_string(kStatusAreaName) + " is too small (" +
                           std::to_string(area->size) + " bytes)");
      debugPrint(kCgiDebug, "cgi: status area %u is too small (%zu bytes)\n", kStatusAreaName, area->size);
      closeSharedMemory(area);
      return nullptr;
    }
    if (claimSharedMemory(area) != 0) {
      debugPrint(kCgiDebug, "cgi: status area %u is used by another server as well\n", kStatusAreaName);
      return area;
    }
    area->owner = 1;
  } else {
    return nullptr;
  }
  for (int i = 0; i < kRequestSlots; ++i) removeSharedMemory(kReplyAreaBase + i);
  return area;
}

// At process exit the names of an area that a restart kept (or a handler that never ended held)
// are removed all the same; the mappings go with the process.
void removeNamesAtExit() {
  RequestSide& s = side();
  if (!s.lock.try_lock()) return;
  if (s.area != nullptr && s.area->owner != 0) {
    if (s.privateName.empty()) removeSharedMemory(kStatusAreaName);
    removeNamedSemaphore(kWakeSemaphore);
    for (int i = 0; i < kRequestSlots; ++i) {
      removeNamedSemaphore(kTakenSemaphoreBase + i);
      removeNamedSemaphore(kReplySemaphoreBase + i);
    }
  }
  s.lock.unlock();
}

// REQUIRES: no handler running.
void closeLocked(RequestSide& s) REQUIRES(s.lock) {
  s.closePending = false;
  s.wake.reset();
  for (int i = 0; i < kRequestSlots; ++i) {
    s.taken[i].reset();
    s.reply[i].reset();
  }
  s.states.store(nullptr);
  closeSharedMemory(s.area);
  s.area = nullptr;
  if (!s.privateName.empty()) publishStatusAreaName(std::string());
  s.privateName.clear();
}

}  // namespace

bool acquireStatusArea() {
  RequestSide& s = side();
  MutexLock guard(s.lock);
  s.closePending = false;
  if (s.area == nullptr) {
    s.area = createOrOpenArea(&s.privateName);
    if (s.area == nullptr) return false;
    s.states.store(static_cast<uint8_t*>(s.area->view));
    static const bool registered = std::atexit(removeNamesAtExit) == 0;
    (void)registered;
  }
  openSemaphoresLocked(s, s.area->owner != 0);
  // The working folder's temp/ is emptied at every start: the name is written again each time.
  publishStatusAreaName(s.privateName);
  return true;
}

void releaseStatusArea() {
  RequestSide& s = side();
  MutexLock guard(s.lock);
  if (s.area == nullptr) return;
  if (s.liveHandlers > 0) {
    s.closePending = true;
    return;
  }
  closeLocked(s);
}

bool statusAreaMapped() { return side().states.load() != nullptr; }

uint8_t* slotStateByte(int slot) {
  uint8_t* states = side().states.load();
  return states != nullptr && validSlot(slot) ? states + slot : nullptr;
}

char* slotRequestName(int slot) {
  RequestSide& s = side();
  MutexLock guard(s.lock);  // the area's size: a release may close it meanwhile
  uint8_t* states = s.states.load();
  return states != nullptr && s.area != nullptr ? requestNameField(states, s.area->size, slot) : nullptr;
}

char* slotReplyName(int slot) {
  RequestSide& s = side();
  MutexLock guard(s.lock);  // the area's size: a release may close it meanwhile
  uint8_t* states = s.states.load();
  return states != nullptr && s.area != nullptr ? replyNameField(states, s.area->size, slot) : nullptr;
}

void clearSlotNames(int slot) {
  writeNameField(slotRequestName(slot), "");
  writeNameField(slotReplyName(slot), "");
}

void reportForeignName(const std::string& name, unsigned ownerUid) { reportForeign(name, ownerUid); }

int slotOfStateByte(const uint8_t* byte) {
  const uint8_t* states = side().states.load();
  if (states == nullptr || byte < states || byte >= states + kRequestSlots) return -1;
  return static_cast<int>(byte - states);
}

void postReplySemaphore(int slot) {
  if (validSlot(slot) && side().reply[slot]) side().reply[slot]->post();
}

bool waitTakenSemaphore(int slot, int timeoutMs) {
  if (validSlot(slot) && side().taken[slot]) return side().taken[slot]->wait(timeoutMs);
  if (timeoutMs > 0) threadSleep(timeoutMs);
  return false;
}

bool waitWakeSemaphore(int timeoutMs) {
  if (side().wake) return side().wake->wait(timeoutMs);
  if (timeoutMs > 0) threadSleep(timeoutMs);
  return false;
}

void postWakeSemaphore() {
  if (side().wake) side().wake->post();
}

void handlerStarting(int slot) {
  RequestSide& s = side();
  MutexLock guard(s.lock);
  ++s.liveHandlers;
  if (validSlot(slot)) s.slots[slot].running.store(true);
}

void setHandlerThread(int slot, ThreadHandle handle) {
  if (validSlot(slot)) side().slots[slot].thread.store(handle);
}

void handlerFinished(int slot) {
  RequestSide& s = side();
  MutexLock guard(s.lock);
  if (validSlot(slot)) s.slots[slot].running.store(false);
  if (s.wake) s.wake->post();
  if (--s.liveHandlers == 0 && s.closePending) closeLocked(s);
}

bool handlerRunning(int slot) { return validSlot(slot) && side().slots[slot].running.load(); }

void forgetHandlerThread(int slot) {
  if (validSlot(slot)) side().slots[slot].thread.store(0);
}

void addStatusAreaRows(VariableTable* reply) {
  RequestSide& s = side();
  MutexLock guard(s.lock);
  char key[64];
  for (int i = 0; i < kRequestSlots; ++i) {
    std::snprintf(key, sizeof key, "CgiRequestLoop%dRequestStatus", i);
    if (s.area != nullptr) {
      addUnsignedVariable(reply, key, loadSlotState(s.states.load() + i));
    } else {
      addVariable(reply, key, kMissing);
    }
  }
  addIntVariable(reply, "CgiRequestLoop", kRequestSlots, true);
  char text[32];
  std::snprintf(text, sizeof text, "0x%X", s.area != nullptr ? static_cast<unsigned>(s.area->handle) : 0u);
  addVariable(reply, "SharedMemoryAddress", text);
  std::snprintf(text, sizeof text, "0x%" PRIXPTR,
                s.area != nullptr ? reinterpret_cast<uintptr_t>(s.area->view) : uintptr_t{0});
  addVariable(reply, "MappedViewMemoryAddress", text);
  addUnsignedVariable(reply, "SharedMemoryId", kStatusAreaName);
  addBoolVariable(reply, "SharedMemoryIsCreator", s.area != nullptr && s.area->owner != 0);
}

}  // namespace cgi
