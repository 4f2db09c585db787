// Fuzz target: the check of the authentication trailer that every datagram to a server with a
// network key must carry (anyone on the network can send one). A fuzz input is a byte of which
// keys the receiver accepts (bit 0: key A as sending key, bit 1: key B as second key; neither:
// a damaged key file, no key at all), then a burst of datagrams, each a mode byte, a 16-bit
// little-endian send time offset in tenths of a second, a 16-bit little-endian length and the
// bytes. Mode 0 sends the bytes as they are; 1, 2 and 3 first sign them with key A, B or a key
// the receiver never accepts; 4 signs with A and then flips the bit named by the next two bytes.
// The receiver's clock stands still at one moment; inputs may carry trailers made for it.
//
// Checks: whatever passes is refused when it comes again; a datagram the target signed itself
// passes exactly when its key is accepted and its time lies within the window, and then yields
// the bytes that were signed; an altered signed datagram never passes; no other datagram passes
// unless its trailer was made with a key of the receiver (only the seeds have those).
//
// Thread safety: one input at a time.
#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "server/net/network_packet.h"
#include "server/net/packet_trailer.h"

namespace {

constexpr uint64_t kNowMs = 1700000000000;

NetworkKey keyOf(const char* text) {
  NetworkKey key;
  FUZZ_CHECK(deriveNetworkKey(text, &key));
  return key;
}

const NetworkKey& keyA() {
  static const NetworkKey key = keyOf("fuzz site key A, sixteen+");
  return key;
}
const NetworkKey& keyB() {
  static const NetworkKey key = keyOf("fuzz site key B, sixteen+");
  return key;
}
const NetworkKey& keyC() {
  static const NetworkKey key = keyOf("a key no receiver accepts");
  return key;
}

NetworkKeySet receiverKeys(uint8_t flags) {
  NetworkKeySet keys;
  keys.required = true;
  if (flags & 1) keys.send = keyA();
  if (flags & 2) keys.second = keyB();
  return keys;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  fuzz::quietStandardOutput();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input input(data, size);
  const NetworkKeySet keys = receiverKeys(input.byte());
  TrailerVerifier verifier(kTrailerWindowMs, 16);
  for (int datagrams = 0; datagrams < 32 && !input.empty(); ++datagrams) {
    const uint8_t mode = input.byte() % 5;
    const int64_t offsetMs = static_cast<int16_t>(input.u16()) * int64_t{100};
    const std::string_view piece = input.bytes(input.u16() % (kMaxDatagramSize + 64));
    const std::vector<uint8_t> original(piece.begin(), piece.end());
    std::vector<uint8_t> datagram = original;
    const NetworkKey* signer = mode == 1 || mode == 4 ? &keyA()
                               : mode == 2            ? &keyB()
                               : mode == 3            ? &keyC()
                                                      : nullptr;
    if (signer != nullptr) FUZZ_CHECK(appendTrailer(&datagram, *signer, kNowMs + offsetMs));
    if (mode == 4) {
      const size_t bit = input.u16() % (datagram.size() * 8);
      datagram[bit / 8] ^= static_cast<uint8_t>(1u << (bit % 8));
    }
    size_t packetLength = 0;
    // An exact-size copy: a read past the datagram is caught by ASan.
    const std::vector<uint8_t> received(datagram);
    const TrailerCheck check = verifier.verify(received.data(), received.size(), keys, kNowMs, &packetLength);
    const NetworkKey* known = signer != nullptr ? keys.find(signer->id) : nullptr;
    const bool accepted = known != nullptr && *known == *signer;
    const bool inWindow = offsetMs >= -kTrailerWindowMs && offsetMs <= kTrailerWindowMs;
    if (mode == 1 || mode == 2 || mode == 3) {
      FUZZ_CHECK((check == TrailerCheck::kOk) == (accepted && inWindow));
      if (!accepted) FUZZ_CHECK(check == TrailerCheck::kUnknownKey);
      if (accepted && !inWindow) FUZZ_CHECK(check == TrailerCheck::kStale);
    }
    if (mode == 4) FUZZ_CHECK(check != TrailerCheck::kOk);
    if (check != TrailerCheck::kOk) continue;
    FUZZ_CHECK(packetLength + kTrailerSize == received.size());
    if (signer != nullptr) {
      FUZZ_CHECK(packetLength == original.size());
      FUZZ_CHECK(std::equal(original.begin(), original.end(), received.begin()));
    }
    FUZZ_CHECK(verifier.verify(received.data(), received.size(), keys, kNowMs, nullptr) ==
               TrailerCheck::kReplay);
    std::unique_ptr<NetworkPacket> packet;
    (void)decodeNetworkPacket(received.data(), packetLength, &packet);
  }
  return 0;
}
