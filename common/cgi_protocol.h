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
// Private names (shared_memory.h): behind the state bytes the status area holds per slot the
// name of its request area and of its reply area when one of them is not the numbered default,
// because another local user had taken that name. The front end writes the request name (empty
// for the default) before it sets 2; the server writes the reply name before it sets 4 and
// empties both before it frees the slot. A front end that knows nothing of the names reads only
// the state bytes and the default names, as before. A status area that another user took is
// given up for a private one as well; the server then names it in kStatusAreaNameFile of its
// working folder, where a front end that knows the folder looks for it.
//
// Thread safety: the helpers are atomic on the state byte; the areas themselves (and the names)
// are handed over by the state changes (release on store, acquire on load).
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

inline constexpr uint32_t kStatusAreaName = 9190;
inline constexpr uint32_t kRequestAreaBase = 9290;
inline constexpr uint32_t kReplyAreaBase = 9390;
inline constexpr int kRequestSlots = 10;

// The status area: the state bytes, then from kSlotNamesOffset two name fields per slot.
inline constexpr size_t kSlotNamesOffset = 16;
inline constexpr size_t kSlotNameField = 32;  // a name and its NUL
inline constexpr size_t kStatusAreaSize = kSlotNamesOffset + 2 * kRequestSlots * kSlotNameField;
// Where the server names a private status area, relative to its working folder.
inline constexpr char kStatusAreaNameFile[] = "temp/cgi-status-area.name";

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

// The name fields of slot in a status area of areaSize bytes; null when the area is too small to
// hold them (a server that knows only the default names).
inline char* requestNameField(uint8_t* area, size_t areaSize, int slot) {
  if (areaSize < kStatusAreaSize || slot < 0 || slot >= kRequestSlots) return nullptr;
  return reinterpret_cast<char*>(area + kSlotNamesOffset + 2 * static_cast<size_t>(slot) * kSlotNameField);
}
inline char* replyNameField(uint8_t* area, size_t areaSize, int slot) {
  char* request = requestNameField(area, areaSize, slot);
  return request != nullptr ? request + kSlotNameField : nullptr;
}

// The name a field holds; empty for an empty field, a null field or one without its NUL.
inline std::string readNameField(const char* field) {
  if (field == nullptr) return std::string();
  const void* end = std::memchr(field, '\0', kSlotNameField);
  return end == nullptr ? std::string() : std::string(field, static_cast<const char*>(end) - field);
}
// Stores name (empty: the default) in a field, NUL-padded; a name too long for it is not stored
// (false).
inline bool writeNameField(char* field, std::string_view name) {
  if (field == nullptr || name.size() >= kSlotNameField) return false;
  std::memset(field, 0, kSlotNameField);
  std::memcpy(field, name.data(), name.size());
  return true;
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
