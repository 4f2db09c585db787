// The site key: what key texts are taken, the derivation and its ids, the key file (private,
// never holding the typed text, a damaged file never read as "no key"), the key actions, and a
// roll-over done server by server in which every server always accepts what every other sends.
#include "server/net/network_key.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "common/test_folder.h"
#include "tests/support/owner_only.h"

namespace {

NetworkKey derived(const std::string& text) {
  NetworkKey key;
  EXPECT_TRUE(deriveNetworkKey(text, &key));
  return key;
}

TEST(NetworkKeyText, LengthAndCharactersAreChecked) {
  EXPECT_STREQ(checkKeyText("fifteen chars.."), "NetworkKeyTooShort");
  EXPECT_EQ(checkKeyText("sixteen chars..."), nullptr);
  EXPECT_EQ(checkKeyText("with spaces and ümlauts é ok"), nullptr);
  EXPECT_EQ(checkKeyText(std::string(256, 'k')), nullptr);
  EXPECT_STREQ(checkKeyText(std::string(257, 'k')), "NetworkKeyTooLong");
  EXPECT_STREQ(checkKeyText("a tab\there is refused"), "NetworkKeyInvalid");
  EXPECT_STREQ(checkKeyText(std::string("a NUL\0in the middle", 20)), "NetworkKeyInvalid");
  EXPECT_STREQ(checkKeyText("line\nbreak in the key"), "NetworkKeyInvalid");
  EXPECT_STREQ(checkKeyText("delete \x7f character"), "NetworkKeyInvalid");
}

TEST(NetworkKeyText, DerivationIsStableAndTellsKeysApart) {
  const NetworkKey a = derived("correct horse battery staple");
  EXPECT_EQ(a, derived("correct horse battery staple"));
  EXPECT_EQ(a.id, derived("correct horse battery staple").id);
  const NetworkKey b = derived("correct horse battery stapler");
  EXPECT_FALSE(a == b);
  EXPECT_NE(a.id, b.id);
  EXPECT_EQ(keyIdText(0x0A1B2C3D), "0A1B2C3D");
  EXPECT_EQ(keyIdText(a.id).size(), 8u);
  NetworkKey recomputed;
  recomputed.bytes = a.bytes;
  ASSERT_TRUE(computeKeyId(&recomputed));
  EXPECT_EQ(recomputed.id, a.id);
}

class NetworkKeyFileTest : public ::testing::Test {
 protected:
  std::string path() const { return folder_.file("network.key"); }
  TestFolder folder_;
};

TEST_F(NetworkKeyFileTest, RoundTripIsPrivateAndHoldsNoKeyText) {
  NetworkKeySet keys;
  keys.send = derived("first site key, long enough");
  keys.second = derived("second site key, long enough");
  keys.version = 7;
  ASSERT_TRUE(writeNetworkKeyFile(path().c_str(), keys));
  test_support::expectOwnerOnly(path());
  const std::string text = readBytes(path());
  EXPECT_EQ(text.find("first site key"), std::string::npos);
  EXPECT_EQ(text.find("second site key"), std::string::npos);

  NetworkKeySet read;
  ASSERT_EQ(readNetworkKeyFile(path().c_str(), &read), KeyFileStatus::kOk);
  EXPECT_TRUE(read.required);
  ASSERT_TRUE(read.send && read.second);
  EXPECT_EQ(*read.send, *keys.send);
  EXPECT_EQ(read.send->id, keys.send->id);
  EXPECT_EQ(*read.second, *keys.second);
  EXPECT_EQ(read.version, 7);
  EXPECT_EQ(read.find(keys.second->id), &*read.second);
  EXPECT_EQ(read.find(keys.send->id ^ 1), nullptr);

  // No key: the file goes, and its absence means no key at all.
  ASSERT_TRUE(writeNetworkKeyFile(path().c_str(), NetworkKeySet()));
  EXPECT_FALSE(std::filesystem::exists(path()));
  EXPECT_EQ(readNetworkKeyFile(path().c_str(), &read), KeyFileStatus::kAbsent);
  EXPECT_FALSE(read.required);
  EXPECT_FALSE(read.send);
}

TEST_F(NetworkKeyFileTest, DamagedFilesRequireAuthenticationWithNoKey) {
  const std::string good = "SendKey = " + std::string(64, 'a') + "\n";
  const std::vector<std::string> damaged = {
      "",                                                 // empty: no sending key
      "SendKey = " + std::string(63, 'a') + "\n",         // short
      "SendKey = " + std::string(63, 'a') + "g\n",        // not hexadecimal
      "AcceptKey = " + std::string(64, 'b') + "\n",       // a second key alone
      good + "Unknown = 1\n",                             // a line this file never holds
      good + "SendKey = " + std::string(64, 'c') + "\n",  // two sending keys
      good + "version = -1\n",                            // a negative counter
      good + "version = 12x\n",                           // not a number
      good + "no equals sign\n",
      good + std::string("\0", 1),                  // a NUL
      good + "# " + std::string(5000, 'x') + "\n",  // far longer than any key file
  };
  for (const std::string& text : damaged) {
    std::ofstream(path(), std::ios::binary | std::ios::trunc) << text;
    NetworkKeySet keys;
    EXPECT_EQ(readNetworkKeyFile(path().c_str(), &keys), KeyFileStatus::kMalformed) << text.substr(0, 80);
    EXPECT_TRUE(keys.required) << text.substr(0, 80);
    EXPECT_FALSE(keys.send || keys.second);
  }
  std::ofstream(path(), std::ios::binary | std::ios::trunc) << "# comment\n\n  " << good << "version = 3\r\n";
  NetworkKeySet keys;
  EXPECT_EQ(readNetworkKeyFile(path().c_str(), &keys), KeyFileStatus::kOk);
  EXPECT_EQ(keys.version, 3);

  // A folder where the file should be cannot be read.
  std::filesystem::remove(path());
  std::filesystem::create_directory(path());
  EXPECT_EQ(readNetworkKeyFile(path().c_str(), &keys), KeyFileStatus::kUnreadable);
  EXPECT_TRUE(keys.required);
  EXPECT_FALSE(keys.send);
}

TEST(NetworkKeyActions, RefusalsLeaveTheKeysAsTheyWere) {
  const NetworkKey a = derived("key A of the site, long");
  const NetworkKey b = derived("key B of the site, long");
  NetworkKeySet keys;
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kAdd, &b), "NoNetworkKey");
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kSwitch, nullptr), "NoNetworkKey");
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kDrop, nullptr), "NoSecondKey");
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kSet, nullptr), "MissingParams");
  EXPECT_EQ(keys.version, 0);
  EXPECT_FALSE(keys.required);

  EXPECT_EQ(applyKeyAction(&keys, KeyAction::kSet, &a), nullptr);
  EXPECT_TRUE(keys.required);
  EXPECT_EQ(keys.version, 1);
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kAdd, &a), "SameNetworkKey");
  EXPECT_STREQ(applyKeyAction(&keys, KeyAction::kSwitch, nullptr), "NoSecondKey");
  EXPECT_EQ(keys.version, 1);
  EXPECT_EQ(applyKeyAction(&keys, KeyAction::kClear, nullptr), nullptr);
  EXPECT_FALSE(keys.required || keys.send || keys.second);

  KeyAction action;
  EXPECT_TRUE(parseKeyAction("SWITCH", &action));
  EXPECT_EQ(action, KeyAction::kSwitch);
  for (const char* bad : {"", "sets", "remove", "set "}) EXPECT_FALSE(parseKeyAction(bad, &action)) << bad;
  EXPECT_TRUE(keyActionNeedsKey(KeyAction::kAdd));
  EXPECT_FALSE(keyActionNeedsKey(KeyAction::kDrop));
}

// Three servers roll from A to B one server at a time, round by round. After every single step,
// whatever any server signs with is accepted by every other server.
TEST(NetworkKeyActions, RollOverServerByServerNeverSplitsTheSite) {
  const NetworkKey a = derived("key A of the site, long");
  const NetworkKey b = derived("key B of the site, long");
  std::vector<NetworkKeySet> servers(3);
  for (NetworkKeySet& keys : servers) ASSERT_EQ(applyKeyAction(&keys, KeyAction::kSet, &a), nullptr);
  auto agree = [&](const std::string& when) {
    for (const NetworkKeySet& sender : servers) {
      for (const NetworkKeySet& receiver : servers) {
        ASSERT_TRUE(sender.send);
        EXPECT_NE(receiver.find(sender.send->id), nullptr) << when;
      }
    }
  };
  agree("all on A");
  const struct {
    KeyAction action;
    const NetworkKey* key;
    const char* name;
  } rounds[] = {{KeyAction::kAdd, &b, "add B"},
                {KeyAction::kSwitch, nullptr, "switch"},
                {KeyAction::kDrop, nullptr, "drop A"}};
  for (const auto& round : rounds) {
    for (size_t i = 0; i < servers.size(); ++i) {
      ASSERT_EQ(applyKeyAction(&servers[i], round.action, round.key), nullptr) << round.name;
      agree(std::string(round.name) + " done on " + std::to_string(i + 1) + " server(s)");
    }
  }
  for (const NetworkKeySet& keys : servers) {
    EXPECT_EQ(*keys.send, b);
    EXPECT_FALSE(keys.second);
    EXPECT_EQ(keys.find(a.id), nullptr) << "A is no longer accepted anywhere";
  }
}

}  // namespace
