// Fuzz target: raidsim's iSCSI target reading what an initiator sends. The input is the byte
// stream of one connection: PDUs one after another, decoded as the target decodes them (login
// segments at most 8192 bytes, then the target's declared 262144); login requests go through the
// login negotiator (one plain target and one with CHAP), and every data segment through the
// key=value text reader.
//
// Checks: a decoded PDU consumes its header, header segments and padded data and no more than
// the input; it encodes back to the same header and data; text that parses encodes and parses
// back to the same pairs; the negotiator never reports a login both failed and complete, answers
// every request with a login response carrying the request's task tag, and its answers parse as
// text.
//
// Thread safety: one input at a time.
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "sim/iscsi_login.h"
#include "sim/iscsi_pdu.h"
#include "sim/iscsi_text.h"

namespace {

using namespace iscsi;

void checkText(const std::vector<uint8_t>& data) {
  TextPairs pairs;
  std::string why;
  if (!parseText(std::string(data.begin(), data.end()), &pairs, &why)) return;
  std::vector<uint8_t> encoded = encodeText(pairs);
  TextPairs again;
  FUZZ_CHECK(parseText(std::string(encoded.begin(), encoded.end()), &again, &why));
  FUZZ_CHECK(again == pairs);
  for (const auto& [key, value] : pairs) {
    (void)parseNumber(value);
    std::optional<std::vector<uint8_t>> binary = decodeBinary(value, 1024);
    if (binary && !binary->empty() && (value[1] == 'x' || value[1] == 'X') && value.size() % 2 == 0) {
      FUZZ_CHECK(decodeBinary(encodeHex(*binary), 1024) == binary);
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  TargetEntry plain{"iqn.2024-01.org.kestrova.raidsim:fuzz.host0", {}};
  TargetEntry chap{"iqn.2024-01.org.kestrova.raidsim:fuzz.host1", {"alice", "alicesecret12", "bay", "baysecret123"}};
  uint8_t counter = 0;
  LoginNegotiator login(
      [&](std::string_view name) -> const TargetEntry* {
        if (name == plain.name) return &plain;
        if (name == chap.name) return &chap;
        return nullptr;
      },
      [&](size_t n) { return std::vector<uint8_t>(n, ++counter); }, TargetLimits{}, 1, 100);
  std::span<const uint8_t> rest(data, size);
  while (!rest.empty()) {
    Pdu pdu;
    uint32_t limit = login.complete() ? TargetLimits{}.maxRecvData : 8192;
    DecodeResult decoded = decodeIscsiPdu(rest, limit, &pdu);
    if (decoded.status != DecodeStatus::kComplete) break;
    FUZZ_CHECK(decoded.consumed >= kBhsLength && decoded.consumed <= rest.size());
    FUZZ_CHECK(decoded.consumed == kBhsLength + pdu.ahs.size() + ((pdu.data.size() + 3) & ~size_t{3}));
    std::vector<uint8_t> again = encodeIscsiPdu(pdu);
    Pdu back;
    FUZZ_CHECK(decodeIscsiPdu(again, limit, &back).status == DecodeStatus::kComplete);
    FUZZ_CHECK(back.bhs == pdu.bhs && back.data == pdu.data && back.ahs == pdu.ahs);
    rest = rest.subspan(decoded.consumed);
    checkText(pdu.data);
    if (pdu.opcode() == kLoginRequest && !login.done()) {
      Pdu response = login.handle(pdu);
      FUZZ_CHECK(response.opcode() == kLoginResponse);
      FUZZ_CHECK(response.initiatorTaskTag() == pdu.initiatorTaskTag());
      FUZZ_CHECK(!(login.failed() && login.complete()));
      FUZZ_CHECK(login.failed() == (response.bhs[36] != 0));
      TextPairs pairs;
      std::string why;
      FUZZ_CHECK(parseText(std::string(response.data.begin(), response.data.end()), &pairs, &why));
    }
  }
  return 0;
}
