// Tests of the login check: Base64 in both alphabets (qcli's URL-safe one and the browsers'
// standard one), the Authorization header, and the password file with its remembered logins
// that must be forgotten when the file changes.
#include "frontend/basic_auth.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <vector>

#include "common/apr1.h"
#include "common/file_platform.h"
#include "common/test_folder.h"
#include "frontend/base64.h"

namespace {

TEST(Base64, DecodesBothAlphabetsWithAndWithoutPadding) {
  std::string out;
  // Bytes 0xfb 0xff 0xbf encode to characters 62 and 63 in every position.
  const std::string special("\xfb\xff\xbf", 3);
  ASSERT_TRUE(decodeBase64Any("+/+/", &out));
  EXPECT_EQ(out, special);
  ASSERT_TRUE(decodeBase64Any("-_-_", &out));
  EXPECT_EQ(out, special);
  ASSERT_TRUE(decodeBase64Any("YWRtaW46cGluZWNvbmU=", &out));
  EXPECT_EQ(out, "admin:pinecone");
  ASSERT_TRUE(decodeBase64Any("YWRtaW46cGluZWNvbmU", &out));
  EXPECT_EQ(out, "admin:pinecone");
  ASSERT_TRUE(decodeBase64Any("YQ==", &out));
  EXPECT_EQ(out, "a");
  ASSERT_TRUE(decodeBase64Any("", &out));
  EXPECT_EQ(out, "");
}

TEST(Base64, RefusesWhatNoEncoderProduces) {
  std::string out;
  for (const char* bad : {"YW*k", "YWRt aW4=", "Y", "YQ=", "YQ===", "=YQ=", "Y=Q=", "YWRtaW4\n"}) {
    EXPECT_FALSE(decodeBase64Any(bad, &out)) << bad;
  }
}

TEST(BasicCredentials, SplitsAtTheFirstColonAndChecksTheScheme) {
  std::string user, password;
  ASSERT_TRUE(parseBasicCredentials("Basic YWRtaW46cGluZTpjb25l", &user, &password));  // admin:pine:cone
  EXPECT_EQ(user, "admin");
  EXPECT_EQ(password, "pine:cone");
  ASSERT_TRUE(parseBasicCredentials("basic   YWRtaW46  ", &user, &password));  // admin: (empty password)
  EXPECT_EQ(password, "");
  EXPECT_FALSE(parseBasicCredentials("Bearer YWRtaW46cGluZWNvbmU=", &user, &password));
  EXPECT_FALSE(parseBasicCredentials("Basic YWRtaW4=", &user, &password));  // no colon
  EXPECT_FALSE(parseBasicCredentials("", &user, &password));
  EXPECT_FALSE(parseBasicCredentials("Basic " + std::string(2000, 'A'), &user, &password));
}

// "Basic " + URL-safe Base64 of text, as qcli builds it.
std::string urlSafeHeader(const std::string& text) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789-_";
  std::string out = "Basic ";
  for (size_t i = 0; i < text.size(); i += 3) {
    uint32_t group = static_cast<uint32_t>(static_cast<unsigned char>(text[i])) << 16;
    if (i + 1 < text.size()) group |= static_cast<uint32_t>(static_cast<unsigned char>(text[i + 1])) << 8;
    if (i + 2 < text.size()) group |= static_cast<unsigned char>(text[i + 2]);
    out += kAlphabet[(group >> 18) & 63];
    out += kAlphabet[(group >> 12) & 63];
    out += i + 1 < text.size() ? kAlphabet[(group >> 6) & 63] : '=';
    out += i + 2 < text.size() ? kAlphabet[group & 63] : '=';
  }
  return out;
}

class PasswordCheckTest : public ::testing::Test {
 protected:
  void writePasswords(const std::string& text) {
    // A new file under a new name moved into place, as the server replaces it.
    const std::string temp = folder_.file("password.new");
    writeBytes(temp, text);
    ASSERT_TRUE(moveFileOver(temp.c_str(), path().c_str()));
  }
  std::string path() const { return folder_.file("password.web"); }
  TestFolder folder_;
};

TEST_F(PasswordCheckTest, AcceptsTheRightPasswordInEitherAlphabet) {
  // "?>?" makes the encoding use characters 62 and 63.
  const std::string password = "pine?>?cone";
  writePasswords("admin:" + apr1Hash(password, "Ab3.xY9/"));
  PasswordCheck check(path());
  std::string user;
  const std::string urlSafe = urlSafeHeader("admin:" + password);
  ASSERT_NE(urlSafe.find_first_of("-_"), std::string::npos);
  EXPECT_EQ(check.check(urlSafe, &user), AuthOutcome::kAccepted);
  EXPECT_EQ(user, "admin");
  std::string standard = urlSafe;
  for (char& c : standard) c = c == '-' ? '+' : c == '_' ? '/' : c;
  EXPECT_EQ(check.check(standard, &user), AuthOutcome::kAccepted);
  EXPECT_EQ(check.check(urlSafeHeader("admin:pinecone"), &user), AuthOutcome::kRefused);
  EXPECT_EQ(check.check(urlSafeHeader("root:" + password), &user), AuthOutcome::kRefused);
  EXPECT_EQ(check.check("", &user), AuthOutcome::kRefused);
}

TEST_F(PasswordCheckTest, TriesEveryLineAndIgnoresLineEnds) {
  writePasswords("admin:" + apr1Hash("first", "salt1") +
                 "\r\n\nbroken line\noperator:" + apr1Hash("second", "salt2") + "\r\n");
  PasswordCheck check(path());
  std::string user;
  EXPECT_EQ(check.check(urlSafeHeader("admin:first"), &user), AuthOutcome::kAccepted);
  EXPECT_EQ(check.check(urlSafeHeader("operator:second"), &user), AuthOutcome::kAccepted);
  EXPECT_EQ(user, "operator");
  EXPECT_EQ(check.check(urlSafeHeader("operator:first"), &user), AuthOutcome::kRefused);
}

TEST_F(PasswordCheckTest, ForgetsRememberedLoginsWhenTheFileChanges) {
  writePasswords("admin:" + apr1Hash("old", "saltsalt"));
  PasswordCheck check(path());
  std::string user;
  ASSERT_EQ(check.check(urlSafeHeader("admin:old"), &user), AuthOutcome::kAccepted);
  ASSERT_EQ(check.check(urlSafeHeader("admin:old"), &user), AuthOutcome::kAccepted);  // remembered
  writePasswords("admin:" + apr1Hash("new", "saltsalt"));
  EXPECT_EQ(check.check(urlSafeHeader("admin:old"), &user), AuthOutcome::kRefused);
  EXPECT_EQ(check.check(urlSafeHeader("admin:new"), &user), AuthOutcome::kAccepted);
}

TEST_F(PasswordCheckTest, MissingFileLetsNobodyIn) {
  PasswordCheck check(path());
  std::string user;
  EXPECT_EQ(check.check(urlSafeHeader("admin:pinecone"), &user), AuthOutcome::kNoPasswordFile);
  writePasswords("admin:" + apr1Hash("pinecone", "saltsalt"));
  EXPECT_EQ(check.check(urlSafeHeader("admin:pinecone"), &user), AuthOutcome::kAccepted);
  ASSERT_EQ(unlink(path().c_str()), 0);
  EXPECT_EQ(check.check(urlSafeHeader("admin:pinecone"), &user), AuthOutcome::kNoPasswordFile);
}

TEST_F(PasswordCheckTest, TheShippedDefaultIsAdminPinecone) {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  const std::string root =
      source != nullptr ? source : std::filesystem::path(__FILE__).parent_path().parent_path().string();
  PasswordCheck check(root + "/data/db/password.web");
  std::string user;
  EXPECT_EQ(check.check(urlSafeHeader("admin:pinecone"), &user), AuthOutcome::kAccepted);
  EXPECT_EQ(check.check(urlSafeHeader("admin:Pinecone"), &user), AuthOutcome::kRefused);
}

}  // namespace

namespace {

std::string basic(const std::string& credentials) {
  static const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  size_t i = 0;
  for (; i + 2 < credentials.size(); i += 3) {
    const unsigned v = (static_cast<unsigned char>(credentials[i]) << 16) |
                       (static_cast<unsigned char>(credentials[i + 1]) << 8) |
                       static_cast<unsigned char>(credentials[i + 2]);
    for (int shift : {18, 12, 6, 0}) out.push_back(kAlphabet[(v >> shift) & 63]);
  }
  if (i < credentials.size()) {
    unsigned v = static_cast<unsigned char>(credentials[i]) << 16;
    if (i + 1 < credentials.size()) v |= static_cast<unsigned char>(credentials[i + 1]) << 8;
    out.push_back(kAlphabet[(v >> 18) & 63]);
    out.push_back(kAlphabet[(v >> 12) & 63]);
    out.push_back(i + 1 < credentials.size() ? kAlphabet[(v >> 6) & 63] : '=');
    out.push_back('=');
  }
  return "Basic " + out;
}

TEST(PasswordTiming, KnownAndUnknownUsersCostTheSameHashing) {
  TestFolder folder;
  const std::string file = folder.file("password.web");
  writeBytes(file, "admin:" + apr1Hash("pinecone", "timing01"));
  PasswordCheck check(file);
  std::string user;
  ASSERT_EQ(check.check(basic("admin:pinecone"), &user), AuthOutcome::kAccepted);
  // Interleaved, so that a busy machine slows both the same; the median of each. Up to three
  // rounds: other programs' load can tilt one round, while an unknown user that skipped the
  // hashing would cost a fraction of a known one in every round.
  double difference = 1.0;
  for (int round = 0; round < 3 && difference >= 0.10; ++round) {
    std::vector<double> known;
    std::vector<double> unknown;
    for (int i = 0; i < 200; ++i) {
      for (const char* who : {"admin", "nobody-here"}) {
        const std::string header = basic(std::string(who) + ":guess" + std::to_string(i));
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(check.check(header, &user), AuthOutcome::kRefused);
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        (std::string(who) == "admin" ? known : unknown).push_back(seconds);
      }
    }
    std::nth_element(known.begin(), known.begin() + 100, known.end());
    std::nth_element(unknown.begin(), unknown.begin() + 100, unknown.end());
    const double a = known[100];
    const double b = unknown[100];
    difference = std::abs(a - b) / std::max(a, b);
    std::cout << "round " << round << ": known " << a << " s, unknown " << b << " s\n";
  }
  EXPECT_LT(difference, 0.10);
}

TEST(DefaultLogin, IsSeenWhileTheFileHoldsItAndNotAfterAChange) {
  TestFolder folder;
  const std::string file = folder.file("password.web");
  writeBytes(file, "admin:" + apr1Hash("pinecone", "defaultx"));
  PasswordCheck check(file);
  EXPECT_TRUE(check.defaultLoginInUse());
  TestFolder other;
  const std::string changed = other.file("password.web");
  writeBytes(changed, "admin:" + apr1Hash("something-else", "defaultx"));
  EXPECT_FALSE(PasswordCheck(changed).defaultLoginInUse());
  writeBytes(changed, "root:" + apr1Hash("pinecone", "defaultx"));
  EXPECT_FALSE(PasswordCheck(changed).defaultLoginInUse());
}

}  // namespace
