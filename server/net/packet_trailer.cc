// The authentication trailer; see packet_trailer.h.
#include "server/net/packet_trailer.h"

#include <chrono>
#include <cstring>

#include "common/thread_annotations.h"
#include "server/net/network_packet.h"

namespace {

constexpr size_t kKeyIdOffset = 4;
constexpr size_t kTimeOffset = 8;
constexpr size_t kNonceOffset = 16;
constexpr size_t kMacOffset = 24;
constexpr size_t kNonceSize = 8;

void writeBigEndian64(uint8_t* p, uint64_t value) {
  writeBigEndian32(p, static_cast<uint32_t>(value >> 32));
  writeBigEndian32(p + 4, static_cast<uint32_t>(value));
}

uint64_t readBigEndian64(const uint8_t* p) {
  return uint64_t{readBigEndian32(p)} << 32 | readBigEndian32(p + 4);
}

// Compares without an early exit, so that the time taken tells nothing about where a forged MAC
// first differs.
bool macsEqual(const uint8_t* a, const uint8_t* b) {
  uint8_t difference = 0;
  for (size_t i = 0; i < kMacSize; ++i) difference |= static_cast<uint8_t>(a[i] ^ b[i]);
  return difference == 0;
}

bool macOf(const NetworkKey& key, const uint8_t* packet, size_t packetLength, const uint8_t* trailerHead,
           MacValue* mac) {
  return computeMac(key.bytes, {{packet, packetLength}, {trailerHead, kMacOffset}}, mac);
}

}  // namespace

bool appendTrailer(std::vector<uint8_t>* datagram, const NetworkKey& key, uint64_t sendTimeMs) {
  if (datagram == nullptr) return false;
  uint8_t trailer[kTrailerSize] = {};
  std::memcpy(trailer, kTrailerMagic, sizeof(kTrailerMagic));
  writeBigEndian32(trailer + kKeyIdOffset, key.id);
  writeBigEndian64(trailer + kTimeOffset, sendTimeMs);
  if (!fillRandomBytes(trailer + kNonceOffset, kNonceSize)) return false;
  MacValue mac;
  if (!macOf(key, datagram->data(), datagram->size(), trailer, &mac)) return false;
  std::memcpy(trailer + kMacOffset, mac.data(), kMacSize);
  datagram->insert(datagram->end(), trailer, trailer + kTrailerSize);
  return true;
}

size_t TrailerVerifier::MacHash::operator()(const MacValue& mac) const {
  // The MAC is already uniformly distributed; its first bytes make a fine hash.
  size_t hash = 0;
  std::memcpy(&hash, mac.data(), sizeof(hash));
  return hash;
}

TrailerVerifier::TrailerVerifier(int64_t windowMs, size_t capacity)
    : windowMs_(windowMs), capacity_(capacity == 0 ? 1 : capacity) {}

TrailerCheck TrailerVerifier::verify(const uint8_t* datagram, size_t length, const NetworkKeySet& keys,
                                     uint64_t nowMs, size_t* packetLength) {
  if (datagram == nullptr || length < kTrailerSize) return TrailerCheck::kMissing;
  const size_t packetSize = length - kTrailerSize;
  const uint8_t* trailer = datagram + packetSize;
  if (std::memcmp(trailer, kTrailerMagic, sizeof(kTrailerMagic)) != 0) return TrailerCheck::kMissing;
  const NetworkKey* key = keys.find(readBigEndian32(trailer + kKeyIdOffset));
  if (key == nullptr) return TrailerCheck::kUnknownKey;
  MacValue mac;
  if (!macOf(*key, datagram, packetSize, trailer, &mac) || !macsEqual(mac.data(), trailer + kMacOffset)) {
    return TrailerCheck::kBadMac;
  }
  const uint64_t sendTimeMs = readBigEndian64(trailer + kTimeOffset);
  const uint64_t window = static_cast<uint64_t>(windowMs_);
  if (sendTimeMs + window < nowMs || sendTimeMs > nowMs + window) return TrailerCheck::kStale;
  MutexLock lock(mutex_);
  forgetOld(nowMs);
  if (!macs_.insert(mac).second) return TrailerCheck::kReplay;
  order_.push_back(Seen{mac, sendTimeMs});
  if (order_.size() > capacity_) {
    macs_.erase(order_.front().mac);
    order_.pop_front();
  }
  if (packetLength != nullptr) *packetLength = packetSize;
  return TrailerCheck::kOk;
}

void TrailerVerifier::forgetOld(uint64_t nowMs) {
  const uint64_t window = static_cast<uint64_t>(windowMs_);
  while (!order_.empty() && order_.front().sendTimeMs + window < nowMs) {
    macs_.erase(order_.front().mac);
    order_.pop_front();
  }
}

void TrailerVerifier::clear() {
  MutexLock lock(mutex_);
  order_.clear();
  macs_.clear();
}

size_t TrailerVerifier::remembered() {
  MutexLock lock(mutex_);
  return order_.size();
}

uint64_t wallClockMs() {
  return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                   std::chrono::system_clock::now().time_since_epoch())
                                   .count());
}
