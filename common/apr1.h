// The "$apr1$" password hash (the Apache variant of the MD5-based crypt): the format of
// db/password.web. The web front end verifies logins with it; the server verifies the
// verification password and writes new hashes with it (password_file.cc). MD5 comes from the platform (md5.h).
//
// Thread safety: every function is safe to call from any thread at any time.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

inline constexpr const char kApr1Magic[] = "$apr1$";
// Characters of salts and of the hash text.
inline constexpr const char kApr1Alphabet[] =
    "./0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
inline constexpr size_t kApr1MaxSaltLength = 8;

// "$apr1$" + salt + "$" + 22 hash characters, computed with 1000 rounds. Only the salt's first
// 8 characters count, and the salt ends at a "$". Empty when MD5 is unavailable.
std::string apr1Hash(std::string_view password, std::string_view salt);

// An 8-character salt from the low 48 bits of bits, six bits per character from the lowest bits
// up (the caller supplies the randomness).
std::string apr1Salt(uint64_t bits);

// True when password hashes to stored ("$apr1$salt$hash") under stored's salt. Compares in time
// independent of where the texts differ. False for anything that is not an "$apr1$" hash.
bool apr1Verify(std::string_view password, std::string_view stored);
