// The front end's side of the slot protocol; see cgi_client.h.
#include "common/cgi_client.h"

#include <atomic>
#include <chrono>
#include <new>
#include <thread>

#include "common/cgi_protocol.h"
#include "common/named_semaphore.h"
#include "common/shared_memory.h"

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

struct CgiClientSlot::Connection {
  SharedMemoryOwner status;
  SharedMemoryOwner request;
  std::unique_ptr<NamedSemaphore> wake;
  std::unique_ptr<NamedSemaphore> taken;  // of the claimed slot
  std::unique_ptr<NamedSemaphore> reply;  // of the claimed slot

  uint8_t* stateByte(int slot) const { return static_cast<uint8_t*>(status.get()->view) + slot; }
};

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
  std::unique_ptr<Connection> connection(new (std::nothrow) Connection);
  if (!connection) return kCgiFailed;
  if (openSharedMemory(connection->status.address(), kStatusAreaName) != 0) return kCgiServerNotRunning;
  if (connection->status.get()->size < static_cast<size_t>(kRequestSlots)) return kCgiServerNotRunning;
  if (!options_.pollOnly) connection->wake = NamedSemaphore::open(kWakeSemaphore);
  connection_ = std::move(connection);
  return kCgiOk;
}

int CgiClientSlot::claim(int slot) {
  if (slot < -1 || slot >= kRequestSlots || slot_ >= 0) return kCgiFailed;
  const int connected = connect();
  if (connected != kCgiOk) return connected;
  const auto deadline = Clock::now() + std::chrono::milliseconds(options_.slotWaitMs);
  const unsigned first = gNextSlot.fetch_add(1);
  for (;;) {
    for (int i = 0; i < kRequestSlots; ++i) {
      const int n = slot >= 0 ? slot : static_cast<int>((first + i) % kRequestSlots);
      uint8_t* byte = connection_->stateByte(n);
      const uint8_t seen = loadSlotState(byte);
      if (isSlotStopState(seen)) return resultOfState(seen);
      if (seen == kSlotFree && changeSlotState(byte, kSlotFree, kSlotClaimed)) {
        slot_ = n;
        if (!options_.pollOnly) {
          connection_->taken = NamedSemaphore::open(kTakenSemaphoreBase + n);
          connection_->reply = NamedSemaphore::open(kReplySemaphoreBase + n);
        }
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

int CgiClientSlot::submitBytes(const void* bytes, size_t size) {
  if (!connection_ || slot_ < 0 || submitted_ || size == 0 || bytes == nullptr) return kCgiFailed;
  const uint32_t name = kRequestAreaBase + slot_;
  if (createSharedMemory(size, connection_->request.address(), name) != 0) {
    // Holding the claim, nobody else uses this name: it was left by a front end that died.
    removeSharedMemory(name);
    if (createSharedMemory(size, connection_->request.address(), name) != 0) return kCgiFailed;
  }
  if (writeSharedMemory(bytes, size, connection_->request.get()) != 0) return kCgiFailed;
  return postSubmit();
}

int CgiClientSlot::postSubmit() {
  if (connection_->reply) connection_->reply->drain();  // wake-ups meant for an earlier request
  uint8_t* byte = connection_->stateByte(slot_);
  if (!changeSlotState(byte, kSlotClaimed, kSlotRequestReady)) {
    // The server stopped or restarted meanwhile and took the slot back.
    const uint8_t seen = loadSlotState(byte);
    connection_->request.reset();
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
    if (connection_->reply) {
      connection_->reply->wait(step);
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
  connection_->request.reset();
  SharedMemoryOwner area;
  int result = kCgiFailed;
  if (openSharedMemory(area.address(), kReplyAreaBase + slot_) == 0) {
    *reply = deserializeVariableTableBounded(static_cast<const char*>(area.get()->view), area.get()->size);
    result = kCgiOk;
  }
  area.reset();
  finish();
  return result;
}

void CgiClientSlot::abandon() {
  if (!connection_ || slot_ < 0) return;
  connection_->request.reset();
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
  if (connection_->taken) connection_->taken->post();
  // A slot without a handler (given up before it started, or 255) is freed by the next pass.
  if (seen != kSlotReplyReady && connection_->wake) connection_->wake->post();
  connection_->taken.reset();
  connection_->reply.reset();
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
