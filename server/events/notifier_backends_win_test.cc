// The notifier channels the Windows build has no library for must refuse with a reason the user
// sees (the test-send result, the failure line), never report success or send in plain text.
#include <gtest/gtest.h>

#include "server/events/http_client.h"
#include "server/events/snmp_transport.h"
#include "server/events/tls_channel.h"

TEST(NotifierBackendsWinTest, WebhookPostIsRefusedWithReason) {
  HttpPost post;
  post.url = "http://127.0.0.1:9/hook";
  post.body = "{}";
  const HttpAnswer answer = postHttp(post);
  EXPECT_EQ(answer.outcome, HttpOutcome::kFailed);
  EXPECT_EQ(answer.status, 0);
  EXPECT_NE(answer.detail.find("webhooks are not available"), std::string::npos) << answer.detail;
}

TEST(NotifierBackendsWinTest, SnmpV2AndV3TrapsAreRefusedWithReason) {
  SnmpV2Peer peer;
  peer.host = "127.0.0.1";
  peer.community = "public";
  const SnmpEngine engine{};
  EXPECT_NE(sendSnmpV2Trap(peer, engine, {}).find("not available"), std::string::npos);
  peer.v3 = true;
  peer.user = "admin";
  peer.authPassphrase = peer.privPassphrase = "passphrase";
  EXPECT_NE(sendSnmpV2Trap(peer, engine, {}).find("SNMPv2c and SNMPv3"), std::string::npos);
}

TEST(NotifierBackendsWinTest, TlsChannelIsRefusedWithReason) {
  std::string error;
  EXPECT_EQ(createTlsChannel(kInvalidSocket, "example.test", TlsSettings{}, &error), nullptr);
  EXPECT_EQ(error, "TLS is not available in this build");
}
