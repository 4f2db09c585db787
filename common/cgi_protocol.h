// The shared-memory slot protocol between the server and its web front ends: the numeric names
// of the status area, the request and reply areas and the wake-up semaphores, the slot states,
// and the atomic access to a state byte that both sides use.
//
// One status area of kRequestSlots state bytes; per slot n a request area (kRequestAreaBase + n,
// written by the front end) and a reply area (kReplyAreaBase + n, written by the server). A slot
// goes 0 -> 1 -> 2 (front end) -> 3 -> 4 (server) -> 5 (front end) -> 0 (server). State 1 is the
// front end's claim while it fills the request area; the server never acts on it.
//
// Wake-ups (named semaphores, see named_semaphore.h): the front end posts kWakeSemaphore after
// setting 2 (or 5); the server posts kReplySemaphoreBase + n after setting 4 or an error or stop
// state; the front end posts kTakenSemaphoreBase + n after setting 5. Every side keeps polling
// as well, so a front end that only polls is served as before.
//
// Thread safety: the helpers are atomic on the state byte; the areas themselves are handed over
// by the state changes (release on store, acquire on load).
#pragma once

#include <atomic>
#include <cstdint>

inline constexpr uint32_t kStatusAreaName = 9190;
inline constexpr uint32_t kRequestAreaBase = 9290;
inline constexpr uint32_t kReplyAreaBase = 9390;
inline constexpr int kRequestSlots = 10;

inline constexpr uint32_t kWakeSemaphore = 9190;
inline constexpr uint32_t kTakenSemaphoreBase = 9290;
inline constexpr uint32_t kReplySemaphoreBase = 9390;

// RequestSlot state bytes.
inline constexpr uint8_t kSlotFree = 0;
inline constexpr uint8_t kSlotClaimed = 1;
inline constexpr uint8_t kSlotRequestReady = 2;
inline constexpr uint8_t kSlotTaken = 3;
inline constexpr uint8_t kSlotReplyReady = 4;
inline constexpr uint8_t kSlotFinished = 5;
inline constexpr uint8_t kSlotStopped = 224;
inline constexpr uint8_t kSlotRestarting = 236;
inline constexpr uint8_t kSlotRescanning = 238;
inline constexpr uint8_t kSlotNoReply = 253;
inline constexpr uint8_t kSlotNoVariables = 254;
inline constexpr uint8_t kSlotNoHandler = 255;

inline bool isSlotStopState(uint8_t state) {
  return state == kSlotStopped || state == kSlotRestarting || state == kSlotRescanning;
}
inline bool isSlotErrorState(uint8_t state) {
  return state == kSlotNoReply || state == kSlotNoVariables || state == kSlotNoHandler;
}

inline uint8_t loadSlotState(uint8_t* byte) {
  return std::atomic_ref<uint8_t>(*byte).load(std::memory_order_acquire);
}
inline void storeSlotState(uint8_t* byte, uint8_t state) {
  std::atomic_ref<uint8_t>(*byte).store(state, std::memory_order_release);
}
// Sets state only when the byte still holds expected. True when it did.
inline bool changeSlotState(uint8_t* byte, uint8_t expected, uint8_t state) {
  return std::atomic_ref<uint8_t>(*byte).compare_exchange_strong(expected, state, std::memory_order_acq_rel);
}
