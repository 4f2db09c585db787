// The packet MAC over the Windows cryptography (BCrypt: HMAC with SHA-256, the system's
// preferred random generator); see packet_mac.h.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include <climits>

#include "server/net/packet_mac.h"

namespace {

// Opened once; an algorithm handle may be shared by threads, each hash object is the caller's.
BCRYPT_ALG_HANDLE hmacAlgorithm() {
  static const BCRYPT_ALG_HANDLE algorithm = [] {
    BCRYPT_ALG_HANDLE handle = nullptr;
    if (BCryptOpenAlgorithmProvider(&handle, BCRYPT_SHA256_ALGORITHM, nullptr, BCRYPT_ALG_HANDLE_HMAC_FLAG) < 0)
      return static_cast<BCRYPT_ALG_HANDLE>(nullptr);
    return handle;
  }();
  return algorithm;
}

bool runMac(std::span<const uint8_t> key, std::initializer_list<std::span<const uint8_t>> parts,
            MacValue* mac) {
  BCRYPT_ALG_HANDLE algorithm = hmacAlgorithm();
  if (algorithm == nullptr || key.size() > ULONG_MAX) return false;
  // An empty key is still a key to HMAC; the call wants a pointer for it.
  static UCHAR noKey = 0;
  BCRYPT_HASH_HANDLE hash = nullptr;
  if (BCryptCreateHash(algorithm, &hash, nullptr, 0,
                       key.empty() ? &noKey : const_cast<PUCHAR>(key.data()), static_cast<ULONG>(key.size()),
                       0) < 0) {
    return false;
  }
  bool ok = true;
  for (std::span<const uint8_t> part : parts) {
    if (part.empty()) continue;
    if (part.size() > ULONG_MAX ||
        BCryptHashData(hash, const_cast<PUCHAR>(part.data()), static_cast<ULONG>(part.size()), 0) < 0) {
      ok = false;
      break;
    }
  }
  if (ok) ok = BCryptFinishHash(hash, mac->data(), static_cast<ULONG>(mac->size()), 0) >= 0;
  BCryptDestroyHash(hash);
  return ok;
}

}  // namespace

bool computeMac(std::span<const uint8_t> key, std::initializer_list<std::span<const uint8_t>> parts,
                MacValue* mac) {
  if (mac == nullptr) return false;
  if (runMac(key, parts, mac)) return true;
  mac->fill(0);
  return false;
}

bool fillRandomBytes(uint8_t* bytes, size_t count) {
  if (count == 0) return true;
  if (bytes == nullptr || count > ULONG_MAX) return false;
  return BCryptGenRandom(nullptr, bytes, static_cast<ULONG>(count), BCRYPT_USE_SYSTEM_PREFERRED_RNG) >= 0;
}
