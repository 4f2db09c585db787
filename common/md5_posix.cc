// MD5 on OpenSSL's libcrypto; see md5.h.
#include "common/md5.h"

#include <openssl/crypto.h>
#include <openssl/evp.h>

namespace {

struct MdDeleter {
  void operator()(EVP_MD* md) const { EVP_MD_free(md); }
};
struct CtxDeleter {
  void operator()(EVP_MD_CTX* ctx) const { EVP_MD_CTX_free(ctx); }
};

// MD5 fetched once per process: an implicit fetch on every one of the thousand rounds of a
// password hash would cost more than the digests themselves.
const EVP_MD* md5() {
  static const std::unique_ptr<EVP_MD, MdDeleter> md(EVP_MD_fetch(nullptr, "MD5", nullptr));
  return md.get();
}

}  // namespace

struct Md5::State {
  std::unique_ptr<EVP_MD_CTX, CtxDeleter> ctx{EVP_MD_CTX_new()};
};

Md5::Md5() : state_(std::make_unique<State>()) {}
Md5::~Md5() = default;

bool Md5::ok() const { return state_->ctx != nullptr && md5() != nullptr; }

void Md5::begin() {
  if (ok()) EVP_DigestInit_ex(state_->ctx.get(), md5(), nullptr);
}

void Md5::add(std::string_view bytes) {
  if (ok()) EVP_DigestUpdate(state_->ctx.get(), bytes.data(), bytes.size());
}

void Md5::add(const Md5Digest& digest, size_t count) {
  if (ok()) EVP_DigestUpdate(state_->ctx.get(), digest.data(), count);
}

Md5Digest Md5::end() {
  Md5Digest digest{};
  unsigned int size = 0;
  if (ok()) EVP_DigestFinal_ex(state_->ctx.get(), digest.data(), &size);
  return digest;
}

bool constantTimeEqual(const void* a, const void* b, size_t size) { return CRYPTO_memcmp(a, b, size) == 0; }
