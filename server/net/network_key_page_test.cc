// The network key page: every change needs the administrator password and the page's current
// edit counter; a key is refused unless typed twice alike and long enough; a change is written
// privately and used at once; the page shows key ids and never a key; the roll-over steps in
// order; a damaged key file can be replaced or removed from the page.
#include "server/net/network_key_page.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "common/apr1.h"
#include "server/net/network_events.h"
#include "server/net/network_key_store.h"
#include "server/net/password_file.h"
#include "server/request/request_test_fixture.h"
#include "tests/support/owner_only.h"

namespace {

constexpr char kKeyA[] = "key A of the storage site";
constexpr char kKeyB[] = "key B of the storage site";

int gChangeEvents = 0;
int countChangeEvent(const char*, const char*, uint32_t, uint32_t, uint32_t id, uint8_t) {
  if (id == 0x205) ++gChangeEvents;
  return 0;
}

std::string idOf(const char* text) {
  NetworkKey key;
  EXPECT_TRUE(deriveNetworkKey(text, &key));
  return keyIdText(key.id);
}

class NetworkKeyPageTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    writeBytes(
        "db/strings.db",
        "CommandOK = %s worked.\nCommandFail = %s failed.\nCmdSetNetworkKey = Key change\n"
        "MissingParams = missing fields\nOldVersionMsg = stale page\nPasswordNotValid = wrong password\n"
        "NetworkKeyMismatch = keys differ\nNetworkKeyTooShort = too short\n");
    ASSERT_EQ(writePasswordFile(kPasswordPath, "admin", apr1Hash("pinecone", "saltsalt")), kPasswordFileOk);
    gChangeEvents = 0;
    setNetworkEventRaiser(countChangeEvent);
    unloadNetworkKeys();
  }
  void TearDown() override {
    setNetworkEventRaiser(nullptr);
    unloadNetworkKeys();
    RequestFolderTest::TearDown();
  }

  // SetNetworkKeyConfig with action and the page's current version, the key twice and the right
  // password unless given otherwise; the reply's values.
  static std::map<std::string, std::string> change(const char* action, const char* key = nullptr,
                                                   const char* confirm = nullptr,
                                                   const char* password = "pinecone",
                                                   const char* version = nullptr) {
    const std::string current = page()["version"];
    TableOwner request = RequestFolderTest::request({{"KeyAction", action}});
    addVariable(request.address(), "version", version != nullptr ? version : current.c_str());
    if (password != nullptr) addVariable(request.address(), "Password", password);
    if (key != nullptr) addVariable(request.address(), "NetworkKey", key);
    if (key != nullptr || confirm != nullptr) {
      addVariable(request.address(), "NetworkKeyConfirm", confirm != nullptr ? confirm : key);
    }
    TableOwner reply(SetNetworkKeyConfig(request.get()));
    return mapOf(reply.get());
  }
  static std::map<std::string, std::string> page() {
    TableOwner reply(GetNetworkKeyConfig(nullptr));
    return mapOf(reply.get());
  }
  static bool failedWith(const std::map<std::string, std::string>& reply, const std::string& details) {
    return reply.at("MessageIsSuccess") == "false" && reply.at("MessageDetails") == details;
  }
};

TEST_F(NetworkKeyPageTest, RefusalsChangeNothing) {
  auto shown = page();
  EXPECT_EQ(shown["HTMLPath"], "../Server/other/setting_netkey.htm");
  EXPECT_EQ(shown["NetworkKeyFile"], "false");
  EXPECT_EQ(shown["NetworkKeySet"], "false");
  EXPECT_EQ(shown["version"], "0");

  EXPECT_TRUE(failedWith(change("set", kKeyA, nullptr, "wrong"), "wrong password"));
  EXPECT_TRUE(failedWith(change("set", kKeyA, nullptr, nullptr), "missing fields"));
  EXPECT_TRUE(failedWith(change("set", kKeyA, "key A of the storage sitE"), "keys differ"));
  EXPECT_TRUE(failedWith(change("set", "short key"), "too short"));
  EXPECT_TRUE(failedWith(change("set", nullptr), "missing fields"));
  EXPECT_TRUE(failedWith(change("rotate", kKeyA), "missing fields"));
  EXPECT_TRUE(failedWith(change("set", kKeyA, nullptr, "pinecone", "7"), "stale page"));
  EXPECT_TRUE(failedWith(change("set", kKeyA, nullptr, "pinecone", "x"), "missing fields"));
  const auto noSecond = change("switch");
  EXPECT_EQ(noSecond.at("MessageIsSuccess"), "false");
  EXPECT_FALSE(std::filesystem::exists("db/network.key"));
  EXPECT_FALSE(activeNetworkKeys()->required);
  EXPECT_EQ(gChangeEvents, 0);
  // The password file is needed to check the password at all.
  std::filesystem::remove(kPasswordPath);
  EXPECT_EQ(change("set", kKeyA).at("MessageIsSuccess"), "false");
  EXPECT_FALSE(std::filesystem::exists("db/network.key"));
}

TEST_F(NetworkKeyPageTest, SetIsPrivateUsedAtOnceAndNeverShown) {
  const auto reply = change("set", kKeyA);
  EXPECT_EQ(reply.at("MessageIsSuccess"), "true");
  EXPECT_EQ(reply.at("NetworkKeySet"), "true");
  EXPECT_EQ(reply.at("SendKeyId"), idOf(kKeyA));
  EXPECT_EQ(reply.at("SecondKeySet"), "false");
  EXPECT_EQ(reply.at("version"), "1");
  for (const auto& [key, value] : reply) {
    EXPECT_EQ(value.find("storage site"), std::string::npos) << key << " shows the key";
  }
  test_support::expectOwnerOnly("db/network.key");
  EXPECT_EQ(readBytes("db/network.key").find("storage site"), std::string::npos);
  ASSERT_TRUE(activeNetworkKeys()->send);
  EXPECT_EQ(keyIdText(activeNetworkKeys()->send->id), idOf(kKeyA));
  EXPECT_EQ(gChangeEvents, 1);
}

TEST_F(NetworkKeyPageTest, RollOverStepsAndRemoval) {
  ASSERT_EQ(change("set", kKeyA).at("MessageIsSuccess"), "true");
  EXPECT_EQ(change("add", kKeyA).at("MessageIsSuccess"), "false") << "the same key twice";
  auto reply = change("add", kKeyB);
  EXPECT_EQ(reply.at("SecondKeyId"), idOf(kKeyB));
  EXPECT_EQ(reply.at("SendKeyId"), idOf(kKeyA));
  reply = change("switch");
  EXPECT_EQ(reply.at("SendKeyId"), idOf(kKeyB));
  EXPECT_EQ(reply.at("SecondKeyId"), idOf(kKeyA));
  EXPECT_NE(activeNetworkKeys()->find(std::stoul(idOf(kKeyA), nullptr, 16)), nullptr);
  reply = change("drop");
  EXPECT_EQ(reply.at("SecondKeySet"), "false");
  EXPECT_EQ(activeNetworkKeys()->find(std::stoul(idOf(kKeyA), nullptr, 16)), nullptr)
      << "A is no longer accepted";
  EXPECT_EQ(reply.at("version"), "4");
  EXPECT_EQ(gChangeEvents, 4);

  reply = change("clear");
  EXPECT_EQ(reply.at("MessageIsSuccess"), "true");
  EXPECT_EQ(reply.at("NetworkKeyFile"), "false");
  EXPECT_FALSE(std::filesystem::exists("db/network.key"));
  EXPECT_FALSE(activeNetworkKeys()->required);
}

TEST_F(NetworkKeyPageTest, DamagedKeyFileIsShownAndCanBeReplaced) {
  writeBytes("db/network.key", "SendKey = 1234\n");
  auto shown = page();
  EXPECT_EQ(shown["NetworkKeyFile"], "true");
  EXPECT_EQ(shown["NetworkKeyUnusable"], "true");
  EXPECT_EQ(shown["NetworkKeySet"], "false");
  const auto reply = change("set", kKeyB);
  EXPECT_EQ(reply.at("MessageIsSuccess"), "true");
  EXPECT_EQ(reply.at("NetworkKeyUnusable"), "false");
  EXPECT_EQ(reply.at("SendKeyId"), idOf(kKeyB));
}

}  // namespace
