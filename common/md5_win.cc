// MD5 on the Windows cryptography API (bcrypt.dll, Windows Vista and later); see md5.h.
#include <windows.h>
// windows.h first: bcrypt.h needs its types.
#include <bcrypt.h>

#include "common/md5.h"

namespace {

// The algorithm provider, opened once per process and kept: opening it is the costly part.
BCRYPT_ALG_HANDLE md5Provider() {
  static const BCRYPT_ALG_HANDLE provider = [] {
    BCRYPT_ALG_HANDLE h = nullptr;
    if (BCryptOpenAlgorithmProvider(&h, BCRYPT_MD5_ALGORITHM, nullptr, 0) < 0) return BCRYPT_ALG_HANDLE{};
    return h;
  }();
  return provider;
}

}  // namespace

struct Md5::State {
  BCRYPT_HASH_HANDLE hash = nullptr;
  void close() {
    if (hash != nullptr) BCryptDestroyHash(hash);
    hash = nullptr;
  }
};

Md5::Md5() : state_(std::make_unique<State>()) {}
Md5::~Md5() { state_->close(); }

bool Md5::ok() const { return md5Provider() != nullptr; }

void Md5::begin() {
  state_->close();
  if (!ok()) return;
  if (BCryptCreateHash(md5Provider(), &state_->hash, nullptr, 0, nullptr, 0, 0) < 0) state_->hash = nullptr;
}

void Md5::add(std::string_view bytes) {
  if (state_->hash == nullptr) return;
  // BCryptHashData takes a non-const pointer but does not write through it.
  BCryptHashData(state_->hash, reinterpret_cast<PUCHAR>(const_cast<char*>(bytes.data())),
                 static_cast<ULONG>(bytes.size()), 0);
}

void Md5::add(const Md5Digest& digest, size_t count) {
  add(std::string_view(reinterpret_cast<const char*>(digest.data()), count));
}

Md5Digest Md5::end() {
  Md5Digest digest{};
  if (state_->hash != nullptr) BCryptFinishHash(state_->hash, digest.data(), static_cast<ULONG>(digest.size()), 0);
  state_->close();
  return digest;
}

bool constantTimeEqual(const void* a, const void* b, size_t size) {
  const auto* x = static_cast<const volatile unsigned char*>(a);
  const auto* y = static_cast<const volatile unsigned char*>(b);
  unsigned char diff = 0;
  for (size_t i = 0; i < size; ++i) diff = static_cast<unsigned char>(diff | (x[i] ^ y[i]));
  return diff == 0;
}
