// MD5 digests for the "$apr1$" password hash (apr1.cc): one interface, the platform's
// cryptography behind it (OpenSSL's libcrypto in md5_posix.cc, the Windows cryptography API in
// md5_win.cc).
//
// Thread safety: one Md5 object belongs to one thread; separate objects may run at once.
#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <string_view>

using Md5Digest = std::array<unsigned char, 16>;

class Md5 {
 public:
  Md5();
  ~Md5();
  Md5(const Md5&) = delete;
  Md5& operator=(const Md5&) = delete;

  // False when the platform has no MD5 (then begin/add/end do nothing and end returns zeros).
  bool ok() const;
  // Starts a new digest (also after end()).
  void begin();
  void add(std::string_view bytes);
  void add(const Md5Digest& digest, size_t count = 16);
  // The digest of everything added since begin().
  Md5Digest end();

 private:
  struct State;
  std::unique_ptr<State> state_;
};

// Compares size bytes in time that does not depend on where they differ. True when equal.
bool constantTimeEqual(const void* a, const void* b, size_t size);
