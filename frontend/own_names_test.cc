// The machine's own names, on both platforms: the fixed names, the interfaces' addresses as the
// system lists them (the loopback's among them), and the list's form the request guard relies on.
#include "frontend/own_names.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>

namespace {

bool holds(const std::vector<std::string>& names, const std::string& name) {
  return std::find(names.begin(), names.end(), name) != names.end();
}

TEST(OwnNames, InterfacesIncludeTheLoopback) {
  const std::vector<std::string> addresses = interfaceAddressTexts();
  ASSERT_FALSE(addresses.empty()) << "no interface address could be read";
  EXPECT_TRUE(holds(addresses, "127.0.0.1"));
  for (const std::string& address : addresses) {
    EXPECT_EQ(address.find('%'), std::string::npos) << "an address with its zone: " << address;
  }
}

TEST(OwnNames, AreLowerCaseDistinctAndWithoutTrailingDots) {
  const std::vector<std::string> names = ownHostNames();
  for (const char* fixed : {"localhost", "127.0.0.1", "::1"}) EXPECT_TRUE(holds(names, fixed)) << fixed;
  for (const std::string& address : interfaceAddressTexts()) {
    std::string lower = address;
    std::transform(lower.begin(), lower.end(), lower.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_TRUE(holds(names, lower)) << address;
  }
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "duplicates";
  for (const std::string& name : names) {
    ASSERT_FALSE(name.empty());
    EXPECT_NE(name.back(), '.') << name;
    EXPECT_TRUE(std::none_of(name.begin(), name.end(), [](unsigned char c) { return std::isupper(c); })) << name;
  }
}

}  // namespace
