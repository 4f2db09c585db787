// The iSCSI login negotiator driven PDU by PDU: a plain login through both stages, CHAP with and
// without mutual authentication (right and wrong secrets, replayed challenges), and the failures
// an initiator must see for missing names, unknown targets, skipped security and bad transitions;
// and the operational values it settles.
#include "sim/iscsi_login.h"

#include <gtest/gtest.h>

namespace iscsi {
namespace {

constexpr char kTarget[] = "iqn.2024-01.org.kestrova.raidsim:test.host0";

class Login : public ::testing::Test {
 protected:
  Login() {
    plain_.name = kTarget;
    chap_.name = "iqn.2024-01.org.kestrova.raidsim:test.host1";
    chap_.auth = {"alice", "alicesecret12", "target", "targetsecret1"};
  }

  LoginNegotiator make() {
    return LoginNegotiator(
        [this](std::string_view name) -> const TargetEntry* {
          if (name == plain_.name) return &plain_;
          if (name == chap_.name) return &chap_;
          return nullptr;
        },
        [this](size_t n) {
          std::vector<uint8_t> bytes(n);
          for (uint8_t& b : bytes) b = static_cast<uint8_t>(++counter_);
          return bytes;
        },
        TargetLimits{}, 7, 1000);
  }

  static Pdu request(uint8_t stage, bool transit, uint8_t next, const TextPairs& keys, uint32_t cmdSn = 5) {
    Pdu pdu = makePdu(kLoginRequest | kImmediateBit, 0);
    pdu.bhs[1] = static_cast<uint8_t>((transit ? kTransitBit : 0) | (stage << 2) | (transit ? next : 0));
    pdu.bhs[8] = 0x80;  // ISID
    pdu.setU32(16, 0x1234);
    pdu.setU32(24, cmdSn);
    pdu.data = encodeText(keys);
    return pdu;
  }

  static TextPairs keysOf(const Pdu& response) {
    TextPairs pairs;
    std::string why;
    EXPECT_TRUE(parseText(std::string(response.data.begin(), response.data.end()), &pairs, &why)) << why;
    return pairs;
  }
  static uint16_t statusOf(const Pdu& response) { return static_cast<uint16_t>(response.bhs[36] << 8 | response.bhs[37]); }

  TargetEntry plain_;
  TargetEntry chap_;
  int counter_ = 0;
};

TEST_F(Login, PlainLoginNegotiatesBothStagesAndReachesFullFeature) {
  LoginNegotiator n = make();
  Pdu r1 = n.handle(request(0, true, 1,
                            {{"InitiatorName", "iqn.2024-01.test:init"},
                             {"TargetName", kTarget},
                             {"SessionType", "Normal"},
                             {"AuthMethod", "None"}}));
  EXPECT_EQ(statusOf(r1), kLoginSuccess);
  EXPECT_EQ(r1.flags(), kTransitBit | 0x01);  // CSG 0, NSG 1
  EXPECT_EQ(*findKey(keysOf(r1), "AuthMethod"), "None");
  EXPECT_EQ(*findKey(keysOf(r1), "TargetPortalGroupTag"), "1");
  EXPECT_EQ(r1.u32(24), 1000u);  // the first StatSN
  EXPECT_EQ(r1.u32(28), 5u);     // ExpCmdSN = the login's CmdSN
  EXPECT_EQ(r1.u16(14), 0u);     // no TSIH before the last response
  Pdu r2 = n.handle(request(1, true, 3,
                            {{"HeaderDigest", "CRC32C,None"},
                             {"DataDigest", "None"},
                             {"MaxRecvDataSegmentLength", "65536"},
                             {"MaxBurstLength", "16776192"},
                             {"FirstBurstLength", "2097152"},
                             {"InitialR2T", "No"},
                             {"ImmediateData", "Yes"},
                             {"MaxOutstandingR2T", "1"},
                             {"ErrorRecoveryLevel", "2"},
                             {"X-com.example.Unknown", "1"}}));
  ASSERT_TRUE(n.complete());
  EXPECT_EQ(statusOf(r2), kLoginSuccess);
  EXPECT_EQ(r2.flags(), kTransitBit | (1 << 2) | 0x03);
  EXPECT_EQ(r2.u16(14), 7u);  // TSIH handed out
  EXPECT_EQ(r2.u32(24), 1001u);
  TextPairs keys = keysOf(r2);
  EXPECT_EQ(*findKey(keys, "HeaderDigest"), "None");
  EXPECT_EQ(*findKey(keys, "MaxBurstLength"), "1048576");   // the target's maximum
  EXPECT_EQ(*findKey(keys, "FirstBurstLength"), "262144");
  EXPECT_EQ(*findKey(keys, "ErrorRecoveryLevel"), "0");
  EXPECT_EQ(*findKey(keys, "X-com.example.Unknown"), "NotUnderstood");
  EXPECT_EQ(*findKey(keys, "MaxRecvDataSegmentLength"), "262144");  // ours, declared
  const SessionParams& p = n.params();
  EXPECT_EQ(p.theirMaxRecvData, 65536u);
  EXPECT_EQ(p.maxBurst, 1048576u);
  EXPECT_FALSE(p.initialR2T);
  EXPECT_TRUE(p.immediateData);
  EXPECT_EQ(p.initialCmdSn, 5u);
  EXPECT_EQ(p.initialStatSn, 1002u);
  EXPECT_EQ(p.targetName, kTarget);
}

TEST_F(Login, DiscoveryNeedsNoTargetAndNoAuthentication) {
  LoginNegotiator n = make();
  Pdu r = n.handle(request(0, true, 3,
                           {{"InitiatorName", "iqn.2024-01.test:init"}, {"SessionType", "Discovery"},
                            {"AuthMethod", "CHAP,None"}}));
  EXPECT_EQ(statusOf(r), kLoginSuccess);
  EXPECT_TRUE(n.complete());
  EXPECT_TRUE(n.params().discovery);
  EXPECT_EQ(findKey(keysOf(r), "TargetPortalGroupTag"), nullptr);
}

TEST_F(Login, ChapWithMutualAuthenticationSucceedsWithTheRightSecrets) {
  LoginNegotiator n = make();
  Pdu r1 = n.handle(request(0, true, 1,
                            {{"InitiatorName", "iqn.2024-01.test:init"},
                             {"TargetName", chap_.name},
                             {"AuthMethod", "CHAP,None"}}));
  EXPECT_EQ(*findKey(keysOf(r1), "AuthMethod"), "CHAP");
  EXPECT_EQ(r1.flags() & kTransitBit, 0);  // not through security yet
  Pdu r2 = n.handle(request(0, true, 1, {{"CHAP_A", "7,5"}}));
  TextPairs challenge = keysOf(r2);
  ASSERT_NE(findKey(challenge, "CHAP_C"), nullptr);
  EXPECT_EQ(*findKey(challenge, "CHAP_A"), "5");
  uint8_t id = static_cast<uint8_t>(*parseNumber(*findKey(challenge, "CHAP_I")));
  std::vector<uint8_t> c = *decodeBinary(*findKey(challenge, "CHAP_C"), 1024);
  std::vector<uint8_t> mine = {9, 8, 7, 6, 5, 4, 3, 2, 1, 0, 9, 8, 7, 6, 5, 4};
  Pdu r3 = n.handle(request(0, true, 1,
                            {{"CHAP_N", "alice"},
                             {"CHAP_R", encodeHex(chapResponse(id, "alicesecret12", c))},
                             {"CHAP_I", "77"},
                             {"CHAP_C", encodeHex(mine)}}));
  EXPECT_EQ(statusOf(r3), kLoginSuccess);
  EXPECT_EQ(r3.flags(), kTransitBit | 0x01);
  TextPairs proof = keysOf(r3);
  EXPECT_EQ(*findKey(proof, "CHAP_N"), "target");
  EXPECT_EQ(*decodeBinary(*findKey(proof, "CHAP_R"), 64), chapResponse(77, "targetsecret1", mine));
  n.handle(request(1, true, 3, {}));
  EXPECT_TRUE(n.complete());
}

TEST_F(Login, ChapRefusesWrongSecretsNamesReflectionAndNoChap) {
  auto challengeFor = [&](LoginNegotiator& n, uint8_t* id, std::vector<uint8_t>* c) {
    n.handle(request(0, false, 0,
                     {{"InitiatorName", "iqn.2024-01.test:init"}, {"TargetName", chap_.name}, {"AuthMethod", "CHAP"}}));
    TextPairs keys = keysOf(n.handle(request(0, false, 0, {{"CHAP_A", "5"}})));
    *id = static_cast<uint8_t>(*parseNumber(*findKey(keys, "CHAP_I")));
    *c = *decodeBinary(*findKey(keys, "CHAP_C"), 1024);
  };
  uint8_t id = 0;
  std::vector<uint8_t> c;
  {
    LoginNegotiator n = make();
    challengeFor(n, &id, &c);
    Pdu r = n.handle(request(0, true, 1, {{"CHAP_N", "alice"}, {"CHAP_R", encodeHex(chapResponse(id, "wrong", c))}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
    EXPECT_TRUE(n.failed());
  }
  {
    LoginNegotiator n = make();
    challengeFor(n, &id, &c);
    Pdu r = n.handle(request(0, true, 1, {{"CHAP_N", "mallory"}, {"CHAP_R", encodeHex(chapResponse(id, "alicesecret12", c))}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
  }
  {
    LoginNegotiator n = make();
    challengeFor(n, &id, &c);
    // Asking the target to answer its own challenge would let a caller replay the answer.
    Pdu r = n.handle(request(0, true, 1,
                             {{"CHAP_N", "alice"},
                              {"CHAP_R", encodeHex(chapResponse(id, "alicesecret12", c))},
                              {"CHAP_I", std::to_string(id)},
                              {"CHAP_C", encodeHex(c)}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
  }
  {
    LoginNegotiator n = make();
    Pdu r = n.handle(request(0, true, 1,
                             {{"InitiatorName", "iqn.2024-01.test:init"}, {"TargetName", chap_.name}, {"AuthMethod", "None"}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
  }
  {
    LoginNegotiator n = make();  // skipping the security stage of a target that needs CHAP
    Pdu r = n.handle(request(1, true, 3, {{"InitiatorName", "iqn.2024-01.test:init"}, {"TargetName", chap_.name}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
  }
  {
    LoginNegotiator n = make();
    challengeFor(n, &id, &c);
    Pdu r = n.handle(request(0, true, 1, {{"CHAP_N", "alice"}, {"CHAP_R", "0xnothex"}}));
    EXPECT_EQ(statusOf(r), kLoginAuthFailure);
  }
}

TEST_F(Login, RefusesMissingNamesUnknownTargetsAndBadTransitions) {
  struct Case {
    Pdu pdu;
    uint16_t status;
  };
  Pdu adding = request(0, true, 1, {{"InitiatorName", "i"}, {"TargetName", kTarget}});
  adding.setU16(14, 3);  // a TSIH: adding a connection to a session
  Pdu newer = request(0, true, 1, {{"InitiatorName", "i"}, {"TargetName", kTarget}});
  newer.bhs[3] = 1;  // version-min above what the target speaks
  Pdu both = request(0, true, 1, {{"InitiatorName", "i"}, {"TargetName", kTarget}});
  both.bhs[1] |= kContinueBit;
  std::vector<Case> cases = {
      {request(0, true, 1, {{"TargetName", kTarget}}), kLoginMissingParameter},
      {request(0, true, 1, {{"InitiatorName", "i"}}), kLoginMissingParameter},
      {request(0, true, 1, {{"InitiatorName", "i"}, {"TargetName", "iqn.2024-01.nowhere:x"}}), kLoginTargetNotFound},
      {request(0, true, 1, {{"InitiatorName", "i"}, {"SessionType", "Other"}}), kLoginSessionTypeUnsupported},
      {request(0, true, 2, {{"InitiatorName", "i"}, {"TargetName", kTarget}}), kLoginInvalidRequest},
      {request(3, true, 3, {{"InitiatorName", "i"}, {"TargetName", kTarget}}), kLoginInvalidRequest},
      {adding, kLoginNoSuchSession},
      {newer, kLoginUnsupportedVersion},
      {both, kLoginInvalidRequest},
  };
  for (size_t i = 0; i < cases.size(); ++i) {
    LoginNegotiator n = make();
    Pdu r = n.handle(cases[i].pdu);
    EXPECT_EQ(statusOf(r), cases[i].status) << "case " << i;
    EXPECT_TRUE(n.failed()) << "case " << i;
    EXPECT_FALSE(n.complete());
  }
}

TEST_F(Login, TextSentInPiecesIsJoinedBeforeItIsRead) {
  LoginNegotiator n = make();
  std::vector<uint8_t> text = encodeText({{"InitiatorName", "iqn.2024-01.test:init"}, {"TargetName", kTarget}});
  Pdu first = request(0, false, 0, {});
  first.bhs[1] |= kContinueBit;
  first.data.assign(text.begin(), text.begin() + 10);
  Pdu ack = n.handle(first);
  EXPECT_EQ(statusOf(ack), kLoginSuccess);
  EXPECT_TRUE(ack.data.empty());
  Pdu rest = request(0, true, 1, {});
  rest.data.assign(text.begin() + 10, text.end());
  Pdu r = n.handle(rest);
  EXPECT_EQ(statusOf(r), kLoginSuccess);
  EXPECT_EQ(n.params().initiatorName, "iqn.2024-01.test:init");
}

}  // namespace
}  // namespace iscsi
