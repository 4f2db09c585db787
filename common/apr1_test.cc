// Tests of the "$apr1$" hash: the hashes must be the ones the openssl command computes for the
// same salt and password (so files written by other tools read here and the other way round),
// and verification must refuse wrong passwords and malformed hash texts.
#include "common/apr1.h"

#include <gtest/gtest.h>
#include <stdio.h>

#include <set>
#include <string>
#include <vector>

namespace {

// The openssl command's hash, or empty when the command is not available.
std::string opensslHash(const std::string& password, const std::string& salt) {
  // Arguments are single-quoted for the shell; the test texts hold no single quote.
  const std::string command = "openssl passwd -apr1 -salt '" + salt + "' '" + password + "' 2>/dev/null";
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return std::string();
  std::string out;
  char buffer[256];
  while (fgets(buffer, sizeof buffer, pipe) != nullptr) out += buffer;
  pclose(pipe);
  while (!out.empty() && (out.back() == '\n' || out.back() == '\r')) out.pop_back();
  return out;
}

struct Sample {
  std::string password;
  std::string salt;
};

// Hashes the openssl command printed for these inputs, so that every platform's MD5 (OpenSSL on
// Linux, the system's on Windows) is held to the same answers where no openssl command runs.
TEST(Apr1, MatchesHashesOfTheOpensslCommand) {
  EXPECT_EQ(apr1Hash("pinecone", "4Ji2vnCg"), "$apr1$4Ji2vnCg$DkKTnXyaDP5UeK9xAMEAV1");
  EXPECT_EQ(apr1Hash("exactly16chars!!", "12345678"), "$apr1$12345678$45rg2MhZ2tJ118sptXOQz1");
  EXPECT_EQ(apr1Hash("a", "s"), "$apr1$s$EpqI6uEp3OR4bun9kSXHW/");
  EXPECT_EQ(apr1Hash("", "saltsalt"), "$apr1$saltsalt$a8ml/vK5HEjiZ5oypDWA7/");
  EXPECT_EQ(apr1Hash("long-salt-password", "zzzzzzzz"), "$apr1$zzzzzzzz$/0DduVhg0zg75Xq5CE4T30");
  EXPECT_TRUE(apr1Verify("pinecone", "$apr1$4Ji2vnCg$DkKTnXyaDP5UeK9xAMEAV1"));
}

TEST(Apr1, MatchesTheOpensslCommand) {
#ifdef _WIN32
  GTEST_SKIP() << "no openssl command on Windows (MatchesHashesOfTheOpensslCommand covers it)";
#endif
  ASSERT_FALSE(opensslHash("x", "abc").empty()) << "openssl command not available";
  const std::vector<Sample> samples = {
      {"pinecone", "4Ji2vnCg"},
      {"", "saltsalt"},  // the empty password
      {"a", "s"},        // one-character salt
      {"exactly16chars!!", "12345678"},
      {"a password longer than sixteen and than thirty-two characters", "./Az09yZ"},
      {"caf\xc3\xa9 \xe2\x82\xac", "utf8salt"},  // bytes above 127
      {"admin:colon", "abcdefgh"},
  };
  for (const Sample& s : samples) {
    const std::string ours = apr1Hash(s.password, s.salt);
    EXPECT_EQ(ours, opensslHash(s.password, s.salt)) << "password \"" << s.password << "\"";
    EXPECT_TRUE(apr1Verify(s.password, ours));
  }
}

TEST(Apr1, SaltIsCutAtEightCharactersAndAtADollar) {
  EXPECT_EQ(apr1Hash("pw", "0123456789"), apr1Hash("pw", "01234567"));
  EXPECT_EQ(apr1Hash("pw", "abc$def"), apr1Hash("pw", "abc"));
  EXPECT_EQ(apr1Hash("pw", "abc$def").substr(0, 10), "$apr1$abc$");
  EXPECT_EQ(apr1Hash("pw", "01234567").size(), 37u);  // the stored length of a full salt
}

TEST(Apr1, VerifyRefusesWrongPasswordsAndMalformedHashes) {
  const std::string stored = apr1Hash("pinecone", "4Ji2vnCg");
  EXPECT_FALSE(apr1Verify("Pinecone", stored));
  EXPECT_FALSE(apr1Verify("pinecone ", stored));
  EXPECT_FALSE(apr1Verify("", stored));
  std::string flipped = stored;
  flipped.back() = flipped.back() == 'A' ? 'B' : 'A';
  EXPECT_FALSE(apr1Verify("pinecone", flipped));
  EXPECT_FALSE(apr1Verify("pinecone", stored.substr(0, stored.size() - 1)));
  EXPECT_FALSE(apr1Verify("pinecone", stored + "x"));
  EXPECT_FALSE(apr1Verify("pinecone", ""));
  EXPECT_FALSE(apr1Verify("pinecone", "$1$4Ji2vnCg$DkKTnXyaDP5UeK9xAMEAV1"));  // plain MD5-crypt
  EXPECT_FALSE(apr1Verify("pinecone", "$apr1$"));
  EXPECT_FALSE(apr1Verify("pinecone", "$apr1$nodollarsalt"));
  EXPECT_FALSE(apr1Verify("pinecone", "$apr1$toolongsalt$DkKTnXyaDP5UeK9xAMEAV1"));
}

TEST(Apr1, SaltTakesSixBitsPerCharacterFromTheLowestUp) {
  EXPECT_EQ(apr1Salt(0), "........");
  EXPECT_EQ(apr1Salt(1), "/.......");
  EXPECT_EQ(apr1Salt(63ULL << 42), ".......z");
  EXPECT_EQ(apr1Salt(~0ULL), "zzzzzzzz");  // bits above 48 are not used
  std::set<std::string> distinct;
  for (uint64_t i = 0; i < 64; ++i) distinct.insert(apr1Salt(i * 0x0410410410ULL));
  EXPECT_EQ(distinct.size(), 64u);
}

}  // namespace
