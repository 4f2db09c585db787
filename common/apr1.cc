// The "$apr1$" hash over the platform's MD5 (md5.h); see apr1.h.
#include "common/apr1.h"

#include <algorithm>
#include <array>

#include "common/md5.h"

namespace {

using Digest = Md5Digest;

// Appends count characters of the hash alphabet, lowest six bits first.
// 64-bit: a salt takes 48 bits, more than a Windows long holds.
void appendBase64(std::string* out, uint64_t value, int count) {
  while (count-- > 0) {
    *out += kApr1Alphabet[value & 0x3f];
    value >>= 6;
  }
}

std::string_view effectiveSalt(std::string_view salt) {
  const size_t end = salt.find('$');
  if (end != std::string_view::npos) salt = salt.substr(0, end);
  return salt.substr(0, std::min(salt.size(), kApr1MaxSaltLength));
}

// The first digest and the thousand rounds of the published algorithm.
Digest apr1Digest(Md5& md, std::string_view password, std::string_view salt) {
  md.begin();
  md.add(password);
  md.add(salt);
  md.add(password);
  const Digest alternate = md.end();

  md.begin();
  md.add(password);
  md.add(kApr1Magic);
  md.add(salt);
  for (size_t left = password.size(); left > 0; left -= std::min<size_t>(left, 16)) {
    md.add(alternate, std::min<size_t>(left, 16));
  }
  for (size_t bits = password.size(); bits != 0; bits >>= 1) {
    // A NUL for a set bit, the password's first character for a clear one.
    md.add((bits & 1) != 0 ? std::string_view("\0", 1) : password.substr(0, 1));
  }
  Digest digest = md.end();

  for (int round = 0; round < 1000; ++round) {
    md.begin();
    if ((round & 1) != 0) {
      md.add(password);
    } else {
      md.add(digest);
    }
    if (round % 3 != 0) md.add(salt);
    if (round % 7 != 0) md.add(password);
    if ((round & 1) != 0) {
      md.add(digest);
    } else {
      md.add(password);
    }
    digest = md.end();
  }
  return digest;
}

}  // namespace

std::string apr1Hash(std::string_view password, std::string_view salt) {
  Md5 md;
  if (!md.ok()) return std::string();
  salt = effectiveSalt(salt);
  const Digest d = apr1Digest(md, password, salt);

  std::string out(kApr1Magic);
  out.append(salt);
  out += '$';
  // The digest bytes in the published interleaved order, three at a time.
  static constexpr int kGroups[5][3] = {{0, 6, 12}, {1, 7, 13}, {2, 8, 14}, {3, 9, 15}, {4, 10, 5}};
  for (const auto& g : kGroups) {
    appendBase64(
        &out,
        (static_cast<uint64_t>(d[g[0]]) << 16) | (static_cast<uint64_t>(d[g[1]]) << 8) | d[g[2]],
        4);
  }
  appendBase64(&out, d[11], 2);
  return out;
}

std::string apr1Salt(uint64_t bits) {
  std::string salt;
  appendBase64(&salt, bits & 0xffffffffffffULL,
               static_cast<int>(kApr1MaxSaltLength));
  return salt;
}

bool apr1Verify(std::string_view password, std::string_view stored) {
  const std::string_view magic(kApr1Magic);
  if (!stored.starts_with(magic)) return false;
  const std::string_view rest = stored.substr(magic.size());
  const size_t dollar = rest.find('$');
  if (dollar == std::string_view::npos || dollar > kApr1MaxSaltLength) return false;
  const std::string computed = apr1Hash(password, rest.substr(0, dollar));
  if (computed.empty() || computed.size() != stored.size()) return false;
  return constantTimeEqual(computed.data(), stored.data(), computed.size());
}
