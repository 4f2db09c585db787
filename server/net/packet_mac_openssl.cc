// The packet MAC over OpenSSL's libcrypto (EVP_MAC "HMAC" with SHA-256, RAND_bytes); see
// packet_mac.h.
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/params.h>
#include <openssl/rand.h>

#include <climits>
#include <memory>

#include "server/net/packet_mac.h"

namespace {

struct MacFree {
  void operator()(EVP_MAC* mac) const { EVP_MAC_free(mac); }
};
struct MacContextFree {
  void operator()(EVP_MAC_CTX* context) const { EVP_MAC_CTX_free(context); }
};

// Fetched once; an EVP_MAC may be shared by threads, each with a context of its own.
EVP_MAC* hmacAlgorithm() {
  static const std::unique_ptr<EVP_MAC, MacFree> algorithm(EVP_MAC_fetch(nullptr, "HMAC", nullptr));
  return algorithm.get();
}

bool runMac(std::span<const uint8_t> key, std::initializer_list<std::span<const uint8_t>> parts,
            MacValue* mac) {
  EVP_MAC* algorithm = hmacAlgorithm();
  if (algorithm == nullptr) return false;
  std::unique_ptr<EVP_MAC_CTX, MacContextFree> context(EVP_MAC_CTX_new(algorithm));
  if (!context) return false;
  char digest[] = "SHA256";
  const OSSL_PARAM params[] = {OSSL_PARAM_construct_utf8_string(OSSL_MAC_PARAM_DIGEST, digest, 0),
                               OSSL_PARAM_construct_end()};
  // An empty key is still a key to HMAC; OpenSSL wants a non-null pointer for it.
  static const uint8_t kNoKey = 0;
  if (EVP_MAC_init(context.get(), key.empty() ? &kNoKey : key.data(), key.size(), params) != 1) return false;
  for (std::span<const uint8_t> part : parts) {
    if (!part.empty() && EVP_MAC_update(context.get(), part.data(), part.size()) != 1) return false;
  }
  size_t written = 0;
  return EVP_MAC_final(context.get(), mac->data(), &written, mac->size()) == 1 && written == kMacSize;
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
  if (bytes == nullptr || count > static_cast<size_t>(INT_MAX)) return false;
  return RAND_bytes(bytes, static_cast<int>(count)) == 1;
}
