// The cryptography of the server network's authenticated packets, behind one small interface so
// that each platform brings its own maintained library: HMAC-SHA256 over a sequence of byte
// ranges, and random bytes. packet_mac_openssl.cc implements it with OpenSSL's libcrypto; a
// Windows build supplies the same two functions over BCrypt.
//
// Thread safety: both functions may be called from any thread at any time.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>

inline constexpr size_t kMacSize = 32;
using MacValue = std::array<uint8_t, kMacSize>;

// HMAC-SHA256 under key of the concatenation of parts, into *mac. False when the library failed
// (then *mac is all zeros, which no caller may accept as a valid value).
[[nodiscard]] bool computeMac(std::span<const uint8_t> key,
                              std::initializer_list<std::span<const uint8_t>> parts, MacValue* mac);

// Fills count bytes from the system's cryptographic random source. False when it could not.
[[nodiscard]] bool fillRandomBytes(uint8_t* bytes, size_t count);
