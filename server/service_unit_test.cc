// The parameters of "-start" on their way through the service manager's environment: each one
// arrives whole, blanks and backslashes included, and texts of the older blank-separated form
// still read as they did.
#include "server/service_unit.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

TEST(ServiceParams, EachParameterArrivesWhole) {
  const std::vector<const char*> params = {
      "-f", "/var/log/kestrova debug/server.log", "4011", "a\\b", "tab\there", "line\nend", "-tag"};
  const std::string encoded = encodeServiceParams(params);
  EXPECT_EQ(encoded.find('\n'), std::string::npos) << "one environment line";
  EXPECT_EQ(encoded.find('\t'), std::string::npos);
  const std::vector<std::string> decoded = decodeServiceParams(encoded);
  ASSERT_EQ(decoded.size(), params.size()) << encoded;
  for (size_t i = 0; i < params.size(); ++i) EXPECT_EQ(decoded[i], params[i]) << i;
}

TEST(ServiceParams, PlainTextsAndOddEscapes) {
  EXPECT_EQ(decodeServiceParams("  4011   -tag "), (std::vector<std::string>{"4011", "-tag"}));
  EXPECT_TRUE(decodeServiceParams("").empty());
  EXPECT_EQ(decodeServiceParams("a\\qb c\\"), (std::vector<std::string>{"aqb", "c\\"}));
  EXPECT_EQ(encodeServiceParams({}), "");
  EXPECT_EQ(decodeServiceParams(encodeServiceParams({""})).size(), 0u) << "an empty parameter has no word";
}

}  // namespace
