// The front end's side of the slot protocol; see cgi_client.h.
#include "common/cgi_client.h"

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <new>
#include <string>
#include <thread>

#include "common/cgi_protocol.h"
#include "common/named_semaphore.h"
#include "common/shared_memory.h"
#include "common/thread_annotations.h"

namespace {

using Clock = std::chrono::steady_clock;

constexpr auto kSlotRetryWait = std::chrono::microseconds(200);

// Spreads the front ends over the slots so that they rarely compete for the same byte.
std::atomic<unsigned> gNextSlot{0};

int resultOfState(uint8_t state) {
  switch (state) {
    case kSlotReplyReady:
      return kCgiOk;
    case kSlotNoReply:
      return kCgiNoReply;
    case kSlotNoVariables:
      return kCgiNoVariables;
    case kSlotNoHandler:
      return kCgiNoHandler;
    case kSlotStopped:
      return kCgiServerStopped;
    case kSlotRestarting:
      return kCgiServerRestarting;
    case kSlotRescanning:
      return kCgiServerRescanning;
    default:
      return kCgiFailed;
  }
}

int millisecondsLeft(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
  return left > 0 ? static_cast<int>(left) : 0;
}

}  // namespace

// The status area and the semaphores of one server, shared by every slot use of this process
// while that server runs.
struct CgiClientSlot::Connection {
  SharedMemoryOwner status;
  bool pollOnly = false;
  std::unique_ptr<NamedSemaphore> wake;
  Mutex lock;
  // Written under the lock when the slot is opened, then only read (openSlot comes first, and
  // its lock orders the write before every read).
  std::unique_ptr<NamedSemaphore> taken[kRequestSlots];
  std::unique_ptr<NamedSemaphore> reply[kRequestSlots];
  bool slotOpened[kRequestSlots] GUARDED_BY(lock) = {};

  uint8_t* view() const { return static_cast<uint8_t*>(status.get()->view); }
  uint8_t* stateByte(int slot) const { return view() + slot; }
  char* requestName(int slot) const { return requestNameField(view(), status.get()->size, slot); }
  char* replyName(int slot) const { return replyNameField(view(), status.get()->size, slot); }
  NamedSemaphore* takenOf(int slot) const { return taken[slot].get(); }
  NamedSemaphore* replyOf(int slot) const { return reply[slot].get(); }
  // Opens the slot's semaphores once; later calls find them (or their absence) as left.
  void openSlot(int slot) {
    if (pollOnly) return;
    MutexLock guard(lock);
    if (slotOpened[slot]) return;
    taken[slot] = NamedSemaphore::open(kTakenSemaphoreBase + slot);
    reply[slot] = NamedSemaphore::open(kReplySemaphoreBase + slot);
    slotOpened[slot] = true;
  }
};

// What one slot use holds besides the shared connection: its request area.
struct CgiClientSlot::SlotAreas {
  SharedMemoryOwner request;
};

namespace {

// The connections kept between round trips, by the status area they map.
struct ConnectionCache {
  Mutex lock;
  std::map<std::string, std::shared_ptr<CgiClientSlot::Connection>> byKey GUARDED_BY(lock);
};

ConnectionCache& connectionCache() {
  static ConnectionCache* const cache = new ConnectionCache;
  return *cache;
}

// The status area's section name from the server's name file, or empty.
std::string statusNameFromFile(const std::string& path) {
  if (path.empty()) return std::string();
  std::ifstream in(path);
  std::string name;
  if (!std::getline(in, name)) return std::string();
  while (!name.empty() && (name.back() == '\r' || name.back() == ' ')) name.pop_back();
  return isSectionNameOf(name, kStatusAreaName) ? name : std::string();
}

}  // namespace

const char* cgiClientResultText(int result) {
  switch (result) {
    case kCgiOk:
      return "ok";
    case kCgiBusy:
      return "busy";
    case kCgiServerNotRunning:
      return "server not running";
    case kCgiNoReply:
      return "no reply";
    case kCgiNoVariables:
      return "no variables";
    case kCgiNoHandler:
      return "no handler";
    case kCgiServerStopped:
      return "server stopped";
    case kCgiServerRestarting:
      return "restarting";
    case kCgiServerRescanning:
      return "rescanning";
    case kCgiTimeOut:
      return "time-out";
    default:
      return "failed";
  }
}

CgiClientSlot::CgiClientSlot(const CgiClientOptions& options) : options_(options) {}

CgiClientSlot::~CgiClientSlot() {
  if (connection_ && slot_ >= 0 && !submitted_) {
    changeSlotState(connection_->stateByte(slot_), kSlotClaimed, kSlotFree);
  }
}

uint8_t CgiClientSlot::state() const {
  return connection_ && slot_ >= 0 ? loadSlotState(connection_->stateByte(slot_)) : kSlotFree;
}

int CgiClientSlot::connect() {
  if (connection_) return kCgiOk;
  const std::string key = sharedMemoryObjectName(kStatusAreaName) +
                          (options_.pollOnly ? "|poll|" : "|wake|") + options_.statusAreaNameFile;
  ConnectionCache& cache = connectionCache();
  {
    MutexLock guard(cache.lock);
    auto found = cache.byKey.find(key);
    // A kept area (or wake-up semaphore) whose name was removed meanwhile (a server that ended,
    // another that started and made its own) is given up for the one under the name now.
    if (found != cache.byKey.end() && sharedMemoryStillNamed(found->second->status.get()) &&
        (!found->second->wake || found->second->wake->stillNamed())) {
      connection_ = found->second;
      return kCgiOk;
    }
    if (found != cache.byKey.end()) cache.byKey.erase(found);
  }
  auto connection = std::make_shared<Connection>();
  connection->pollOnly = options_.pollOnly;
  // The default name first; the named private area when another user holds the default.
  if (openSharedMemory(connection->status.address(), kStatusAreaName) != 0) {
    const std::string name = statusNameFromFile(options_.statusAreaNameFile);
    if (name.empty() || openSharedMemoryNamed(connection->status.address(), name) != 0)
      return kCgiServerNotRunning;
  }
  if (connection->status.get()->size < static_cast<size_t>(kRequestSlots)) return kCgiServerNotRunning;
  if (!options_.pollOnly) connection->wake = NamedSemaphore::open(kWakeSemaphore);
  MutexLock guard(cache.lock);
  auto [slot, inserted] = cache.byKey.emplace(key, connection);
  connection_ = inserted ? connection : slot->second;
  return kCgiOk;
}

namespace {

// Forgets the kept connection (the server it belonged to has stopped) and opens the current one.
int reconnectAfterStop(std::shared_ptr<CgiClientSlot::Connection>* connection,
                       const std::function<int()>& connect) {
  ConnectionCache& cache = connectionCache();
  {
    MutexLock guard(cache.lock);
    for (auto it = cache.byKey.begin(); it != cache.byKey.end(); ++it) {
      if (it->second == *connection) {
        cache.byKey.erase(it);
        break;
      }
    }
  }
  connection->reset();
  return connect();
}

}  // namespace

int CgiClientSlot::claim(int slot) {
  if (slot < -1 || slot >= kRequestSlots || slot_ >= 0) return kCgiFailed;
  int connected = connect();
  if (connected != kCgiOk) return connected;
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.slotWaitMs);
  const unsigned first = gNextSlot.fetch_add(1);
  bool reconnected = false;
  for (;;) {
    for (int i = 0; i < kRequestSlots; ++i) {
      const int n = slot >= 0 ? slot : static_cast<int>((first + i) % kRequestSlots);
      uint8_t* byte = connection_->stateByte(n);
      const uint8_t seen = loadSlotState(byte);
      if (isSlotStopState(seen)) {
        // A kept mapping may belong to a server that has stopped since; look once for a new one.
        if (reconnected) return resultOfState(seen);
        reconnected = true;
        connected = reconnectAfterStop(&connection_, [this] { return connect(); });
        if (connected != kCgiOk) return connected;
        i = -1;
        continue;
      }
      if (seen == kSlotFree && changeSlotState(byte, kSlotFree, kSlotClaimed)) {
        slot_ = n;
        connection_->openSlot(n);
        return kCgiOk;
      }
      if (slot >= 0) break;
    }
    if (Clock::now() >= deadline) return kCgiBusy;
    std::this_thread::sleep_for(kSlotRetryWait);
  }
}

int CgiClientSlot::submit(VariableTable request) {
  const size_t size = sizeOfSerializedTable(request);
  if (size == 0) return submitBytes("", 1);  // an empty table is its closing NUL
  std::unique_ptr<char[]> bytes(new (std::nothrow) char[size]);
  if (!bytes) return kCgiFailed;
  serializeVariableTable(request, bytes.get());
  return submitBytes(bytes.get(), size);
}

bool CgiClientSlot::createRequestArea(const void* bytes, size_t size, std::string* name) {
  const uint32_t number = kRequestAreaBase + slot_;
  const std::string defaultName = std::to_string(number);
  name->clear();
  // Filled at its creation: POSIX writes the bytes through the descriptor, which spares this
  // many-threaded process a mapping and, at its unmapping, the flush of every processor's
  // address translations.
  if (createSharedMemoryFilled(bytes, size, areas_->request.address(), defaultName) == 0) return true;
  const bool canName = connection_->requestName(slot_) != nullptr;
  if (!foreignSharedMemory(defaultName, nullptr)) {
    // Holding the claim, nobody else uses this name: it was left by a front end that died.
    removeSharedMemory(number);
    if (createSharedMemoryFilled(bytes, size, areas_->request.address(), defaultName) == 0) return true;
  }
  // Another user holds the name: a private one, which the slot tells the server.
  for (int attempt = 0; canName && attempt < 3; ++attempt) {
    *name = privateSectionName(number);
    if (!name->empty() && createSharedMemoryFilled(bytes, size, areas_->request.address(), *name) == 0)
      return true;
  }
  name->clear();
  return false;
}

int CgiClientSlot::submitBytes(const void* bytes, size_t size) {
  if (!connection_ || slot_ < 0 || submitted_ || size == 0 || bytes == nullptr) return kCgiFailed;
  if (!areas_) areas_ = std::make_unique<SlotAreas>();
  std::string name;
  if (!createRequestArea(bytes, size, &name)) return kCgiFailed;
  writeNameField(connection_->requestName(slot_), name);
  return postSubmit();
}

int CgiClientSlot::postSubmit() {
  NamedSemaphore* reply = connection_->replyOf(slot_);
  if (reply != nullptr) reply->drain();  // wake-ups meant for an earlier request
  uint8_t* byte = connection_->stateByte(slot_);
  if (!changeSlotState(byte, kSlotClaimed, kSlotRequestReady)) {
    // The server stopped or restarted meanwhile and took the slot back.
    const uint8_t seen = loadSlotState(byte);
    areas_->request.reset();
    slot_ = -1;
    return isSlotStopState(seen) ? resultOfState(seen) : kCgiFailed;
  }
  submitted_ = true;
  if (connection_->wake) connection_->wake->post();
  return kCgiOk;
}

int CgiClientSlot::awaitReply() {
  if (!connection_ || slot_ < 0 || !submitted_) return kCgiFailed;
  uint8_t* byte = connection_->stateByte(slot_);
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.replyTimeoutMs);
  for (;;) {
    const uint8_t seen = loadSlotState(byte);
    if (seen == kSlotReplyReady || isSlotErrorState(seen) || isSlotStopState(seen))
      return resultOfState(seen);
    if (seen != kSlotRequestReady && seen != kSlotTaken) return kCgiFailed;  // not ours any more
    const int left = millisecondsLeft(deadline);
    if (left == 0) return kCgiTimeOut;
    const int step = left < options_.pollStepMs ? left : options_.pollStepMs;
    if (NamedSemaphore* reply = connection_->replyOf(slot_)) {
      reply->wait(step);
    } else {
      std::this_thread::sleep_for(std::chrono::milliseconds(step));
    }
  }
}

int CgiClientSlot::takeReply(VariableTable* reply) {
  if (reply == nullptr) return kCgiFailed;
  *reply = nullptr;
  if (!connection_ || slot_ < 0 || !submitted_) return kCgiFailed;
  // The server has read the request: its area goes before the slot is handed back, so that the
  // next front end in this slot can create it anew.
  if (areas_) areas_->request.reset();
  // The reply area the slot names (a private one when another user held the default name).
  std::string name = readNameField(connection_->replyName(slot_));
  const uint32_t number = kReplyAreaBase + slot_;
  if (name.empty() || !isSectionNameOf(name, number)) name = std::to_string(number);
  // Copied out through the descriptor (no mapping), never past the area's real size.
  std::string bytes;
  int result = kCgiFailed;
  if (readSharedMemoryNamed(name, &bytes) == 0) {
    *reply = deserializeVariableTableBounded(bytes.data(), bytes.size());
    result = kCgiOk;
  }
  finish();
  return result;
}

void CgiClientSlot::abandon() {
  if (!connection_ || slot_ < 0) return;
  if (areas_) areas_->request.reset();
  finish();
}

// Sets 5 from the state the slot holds (unless the server stopped) and wakes the server side.
void CgiClientSlot::finish() {
  uint8_t* byte = connection_->stateByte(slot_);
  uint8_t seen = loadSlotState(byte);
  while (!isSlotStopState(seen) && seen != kSlotFree && seen != kSlotFinished &&
         !changeSlotState(byte, seen, kSlotFinished)) {
    seen = loadSlotState(byte);
  }
  if (NamedSemaphore* taken = connection_->takenOf(slot_)) taken->post();
  // A slot without a handler (given up before it started, or 255) is freed by the next pass.
  if (seen != kSlotReplyReady && connection_->wake) connection_->wake->post();
  slot_ = -1;
  submitted_ = false;
}

int cgiRoundTrip(VariableTable request, VariableTable* reply, const CgiClientOptions& options) {
  if (reply == nullptr) return kCgiFailed;
  *reply = nullptr;
  CgiClientSlot slot(options);
  int result = slot.claim();
  if (result != kCgiOk) return result;
  result = slot.submit(request);
  if (result != kCgiOk) return result;
  result = slot.awaitReply();
  if (result == kCgiOk) return slot.takeReply(reply);
  if (!isCgiStopResult(result)) slot.abandon();
  return result;
}
