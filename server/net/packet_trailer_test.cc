// The authentication trailer: the MAC is the standard HMAC-SHA256; a signed datagram passes once
// and only once; any altered byte, another key, a time outside the window or a cut datagram
// fails; the second key is accepted; the memory of accepted trailers forgets only what the window
// would refuse anyway.
#include "server/net/packet_trailer.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "server/net/network_packet.h"

namespace {

constexpr uint64_t kNow = 1700000000000;  // ms

NetworkKey derived(const std::string& text) {
  NetworkKey key;
  EXPECT_TRUE(deriveNetworkKey(text, &key));
  return key;
}

std::vector<uint8_t> packet() {
  std::vector<uint8_t> datagram;
  const std::string units = "\nBrivo20000004CF8A1B2C 1";
  EXPECT_EQ(buildNetworkPacket(kAcceptDeviceListRequest, static_cast<uint32_t>(units.size() + 1), 7,
                               0x0A0D000B, units.c_str(), "N/A--0A0D000B", 1700000000, &datagram),
            0);
  return datagram;
}

std::vector<uint8_t> signedPacket(const NetworkKey& key, uint64_t timeMs = kNow) {
  std::vector<uint8_t> datagram = packet();
  EXPECT_TRUE(appendTrailer(&datagram, key, timeMs));
  return datagram;
}

NetworkKeySet keysOf(const NetworkKey& send, const NetworkKey* second = nullptr) {
  NetworkKeySet keys;
  keys.required = true;
  keys.send = send;
  if (second != nullptr) keys.second = *second;
  return keys;
}

TEST(PacketMac, IsHmacSha256) {
  // RFC 4231, test case 2.
  const std::string key = "Jefe";
  const std::string data = "what do ya want for nothing?";
  MacValue mac;
  ASSERT_TRUE(computeMac({reinterpret_cast<const uint8_t*>(key.data()), key.size()},
                         {{reinterpret_cast<const uint8_t*>(data.data()), 10},
                          {reinterpret_cast<const uint8_t*>(data.data()) + 10, data.size() - 10}},
                         &mac));
  const uint8_t expected[] = {0x5b, 0xdc, 0xc1, 0x46, 0xbf, 0x60, 0x75, 0x4e, 0x6a, 0x04, 0x24,
                              0x26, 0x08, 0x95, 0x75, 0xc7, 0x5a, 0x00, 0x3f, 0x08, 0x9d, 0x27,
                              0x39, 0x83, 0x9d, 0xec, 0x58, 0xb9, 0x64, 0xec, 0x38, 0x43};
  EXPECT_EQ(std::memcmp(mac.data(), expected, sizeof(expected)), 0);
  uint8_t random[16] = {};
  ASSERT_TRUE(fillRandomBytes(random, sizeof(random)));
  EXPECT_NE(std::vector<uint8_t>(random, random + 16), std::vector<uint8_t>(16, 0));
}

TEST(PacketTrailer, SignedDatagramPassesOnceAndTwoSendsDiffer) {
  const NetworkKey key = derived("the site key of the test");
  const NetworkKeySet keys = keysOf(key);
  const std::vector<uint8_t> first = signedPacket(key);
  const std::vector<uint8_t> second = signedPacket(key);
  const std::vector<uint8_t> plain = packet();
  ASSERT_EQ(first.size(), plain.size() + kTrailerSize);
  EXPECT_NE(first, second) << "every copy gets its own trailer";
  EXPECT_TRUE(std::equal(plain.begin(), plain.end(), first.begin())) << "the packet itself is unchanged";

  TrailerVerifier verifier;
  size_t length = 0;
  EXPECT_EQ(verifier.verify(first.data(), first.size(), keys, kNow + 500, &length), TrailerCheck::kOk);
  EXPECT_EQ(length, plain.size());
  EXPECT_EQ(verifier.verify(first.data(), first.size(), keys, kNow + 900, &length), TrailerCheck::kReplay);
  EXPECT_EQ(verifier.verify(second.data(), second.size(), keys, kNow + 900, &length), TrailerCheck::kOk);
  EXPECT_EQ(verifier.remembered(), 2u);
}

// A trailer made by another implementation of the format (Python's hmac module, as
// fuzz/make_seeds.py makes them) for packet() at kNow with the nonce 00 01 .. 07.
TEST(PacketTrailer, TrailerOfAnIndependentImplementationPasses) {
  const NetworkKey key = derived("the site key of the test");
  EXPECT_EQ(keyIdText(key.id), "68E28E9D");
  const char* hex =
      "4b4e413168e28e9d0000018bcfe568000001020304050607ff10610c113d611b7df9948c9114f9d808c87e09b26a2043814b5"
      "60f78817b9a";
  std::vector<uint8_t> datagram = packet();
  for (size_t i = 0; hex[i] != '\0'; i += 2)
    datagram.push_back(static_cast<uint8_t>(std::stoi(std::string(hex + i, 2), nullptr, 16)));
  TrailerVerifier verifier;
  EXPECT_EQ(verifier.verify(datagram.data(), datagram.size(), keysOf(key), kNow, nullptr), TrailerCheck::kOk);
}

TEST(PacketTrailer, EveryAlteredByteAndEveryCutFails) {
  const NetworkKey key = derived("the site key of the test");
  const NetworkKeySet keys = keysOf(key);
  const std::vector<uint8_t> good = signedPacket(key);
  for (size_t i = 0; i < good.size(); ++i) {
    std::vector<uint8_t> altered = good;
    altered[i] ^= 0x20;
    TrailerVerifier verifier;
    EXPECT_NE(verifier.verify(altered.data(), altered.size(), keys, kNow, nullptr), TrailerCheck::kOk) << i;
  }
  TrailerVerifier verifier;
  for (size_t length : {size_t{0}, kTrailerSize - 1, kTrailerSize, good.size() - 1}) {
    EXPECT_NE(verifier.verify(good.data(), length, keys, kNow, nullptr), TrailerCheck::kOk) << length;
  }
  std::vector<uint8_t> longer = good;
  longer.push_back(0);
  EXPECT_EQ(verifier.verify(longer.data(), longer.size(), keys, kNow, nullptr), TrailerCheck::kMissing);
  const std::vector<uint8_t> plain = packet();
  EXPECT_EQ(verifier.verify(plain.data(), plain.size(), keys, kNow, nullptr), TrailerCheck::kMissing);
  EXPECT_EQ(verifier.verify(nullptr, 100, keys, kNow, nullptr), TrailerCheck::kMissing);

  // A trailer copied from a valid datagram onto another packet.
  std::vector<uint8_t> forged = packet();
  forged[30] ^= 1;
  forged.insert(forged.end(), good.end() - kTrailerSize, good.end());
  EXPECT_EQ(verifier.verify(forged.data(), forged.size(), keys, kNow, nullptr), TrailerCheck::kBadMac);
  EXPECT_EQ(verifier.remembered(), 0u);
}

TEST(PacketTrailer, OnlyTheKeysOfTheSetAreAccepted) {
  const NetworkKey a = derived("key A of the site, long");
  const NetworkKey b = derived("key B of the site, long");
  const NetworkKey c = derived("key C of the site, long");
  TrailerVerifier verifier;
  const std::vector<uint8_t> byB = signedPacket(b);
  EXPECT_EQ(verifier.verify(byB.data(), byB.size(), keysOf(a), kNow, nullptr), TrailerCheck::kUnknownKey);
  EXPECT_EQ(verifier.verify(byB.data(), byB.size(), keysOf(a, &b), kNow, nullptr), TrailerCheck::kOk);
  // A forger who names an accepted key's id still needs the key.
  NetworkKey impostor = c;
  impostor.id = a.id;
  const std::vector<uint8_t> forged = signedPacket(impostor);
  EXPECT_EQ(verifier.verify(forged.data(), forged.size(), keysOf(a), kNow, nullptr), TrailerCheck::kBadMac);
}

TEST(PacketTrailer, SendTimeMustLieWithinTheWindowBothWays) {
  const NetworkKey key = derived("the site key of the test");
  const NetworkKeySet keys = keysOf(key);
  TrailerVerifier verifier(30000);
  const std::vector<uint8_t> edgeOld = signedPacket(key, kNow - 30000);
  const std::vector<uint8_t> tooOld = signedPacket(key, kNow - 30001);
  const std::vector<uint8_t> edgeNew = signedPacket(key, kNow + 30000);
  const std::vector<uint8_t> tooNew = signedPacket(key, kNow + 30001);
  const std::vector<uint8_t> farFuture = signedPacket(key, ~uint64_t{0} - 5);
  EXPECT_EQ(verifier.verify(tooOld.data(), tooOld.size(), keys, kNow, nullptr), TrailerCheck::kStale);
  EXPECT_EQ(verifier.verify(tooNew.data(), tooNew.size(), keys, kNow, nullptr), TrailerCheck::kStale);
  EXPECT_EQ(verifier.verify(farFuture.data(), farFuture.size(), keys, kNow, nullptr), TrailerCheck::kStale);
  EXPECT_EQ(verifier.verify(edgeOld.data(), edgeOld.size(), keys, kNow, nullptr), TrailerCheck::kOk);
  EXPECT_EQ(verifier.verify(edgeNew.data(), edgeNew.size(), keys, kNow, nullptr), TrailerCheck::kOk);
}

TEST(PacketTrailer, MemoryForgetsOnlyWhatTheWindowRefusesAnyway) {
  const NetworkKey key = derived("the site key of the test");
  const NetworkKeySet keys = keysOf(key);
  TrailerVerifier verifier(30000);
  const std::vector<uint8_t> early = signedPacket(key, kNow);
  const std::vector<uint8_t> later = signedPacket(key, kNow + 20000);
  ASSERT_EQ(verifier.verify(early.data(), early.size(), keys, kNow, nullptr), TrailerCheck::kOk);
  ASSERT_EQ(verifier.verify(later.data(), later.size(), keys, kNow + 20000, nullptr), TrailerCheck::kOk);
  // 30 s after the early one it is still remembered and still a replay.
  EXPECT_EQ(verifier.verify(early.data(), early.size(), keys, kNow + 30000, nullptr), TrailerCheck::kReplay);
  // Later still, the early one is forgotten, and stale if it comes again.
  const std::vector<uint8_t> fresh = signedPacket(key, kNow + 31000);
  EXPECT_EQ(verifier.verify(fresh.data(), fresh.size(), keys, kNow + 31000, nullptr), TrailerCheck::kOk);
  EXPECT_EQ(verifier.remembered(), 2u);
  EXPECT_EQ(verifier.verify(early.data(), early.size(), keys, kNow + 31000, nullptr), TrailerCheck::kStale);
  EXPECT_EQ(verifier.verify(later.data(), later.size(), keys, kNow + 31000, nullptr), TrailerCheck::kReplay);

  // A memory of two keeps the two newest.
  TrailerVerifier small(30000, 2);
  std::vector<std::vector<uint8_t>> sent;
  for (int i = 0; i < 3; ++i) {
    sent.push_back(signedPacket(key));
    ASSERT_EQ(small.verify(sent.back().data(), sent.back().size(), keys, kNow, nullptr), TrailerCheck::kOk);
  }
  EXPECT_EQ(small.remembered(), 2u);
  EXPECT_EQ(small.verify(sent[2].data(), sent[2].size(), keys, kNow, nullptr), TrailerCheck::kReplay);
}

}  // namespace
