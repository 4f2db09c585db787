// The network's configuration from db/IP.db and the choice of its local addresses.
#include "server/net/network_config.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

namespace {

NetworkConfig configOf(const std::vector<std::pair<std::string, std::string>>& entries) {
  VariableTable table = nullptr;
  for (const auto& [key, value] : entries) addVariable(&table, key.c_str(), value.c_str());
  NetworkConfig config = readNetworkConfig(&table);
  freeVariableTable(&table);
  return config;
}

TEST(NetworkConfig, PortAndGroupFallBackToTheirDefaults) {
  NetworkConfig none = readNetworkConfig(nullptr);
  EXPECT_EQ(none.port, 9191);
  EXPECT_TRUE(none.group.empty());
  EXPECT_TRUE(none.unicast.empty());
  EXPECT_EQ(configOf({{"MulticastPort", "0"}}).port, 9191);
  EXPECT_EQ(configOf({{"MulticastPort", "70000"}}).port, 9191);
  EXPECT_EQ(configOf({{"MulticastPort", "nine"}}).port, 9191);
  EXPECT_EQ(configOf({{"MulticastPort", " 9300 "}}).port, 9300);
  EXPECT_EQ(configOf({{"IP0", "239.192.91.91"}}).group, "239.192.91.91");
  EXPECT_TRUE(configOf({{"IP0", "(missing)"}}).group.empty());
  EXPECT_TRUE(configOf({{"IP0", ""}}).group.empty());
}

TEST(NetworkConfig, UnicastPartnersSkipClearedSlots) {
  const NetworkConfig config = configOf({{"IP1", "10.1.0.1"},
                                         {"IP3", "10.1.0.3"},
                                         {"IP4", ""},
                                         {"IP10", "10.1.0.10"},
                                         {"IP11", "10.1.0.11"},
                                         {"IP13", "10.1.0.13"}});
  EXPECT_EQ(config.unicast, (std::vector<std::string>{"10.1.0.1", "10.1.0.3", "10.1.0.10", "10.1.0.11"}))
      << "beyond the page's ten slots the list ends at the first absent key";
}

TEST(NetworkConfig, LocalAddressesPreferTheResolverButOnlyConfiguredOnes) {
  const uint32_t loopbackName = 0x7F000101;  // 127.0.1.1, how many distributions map the host name
  const std::vector<uint32_t> interfaces = {0x0A000001, 0xC0A80105};
  EXPECT_EQ(chooseLocalAddresses({0xC0A80105, loopbackName}, interfaces),
            (std::vector<uint32_t>{0xC0A80105}));
  EXPECT_EQ(chooseLocalAddresses({loopbackName}, interfaces), interfaces);
  EXPECT_EQ(chooseLocalAddresses({}, interfaces), interfaces);
  EXPECT_EQ(chooseLocalAddresses({loopbackName}, {}), (std::vector<uint32_t>{loopbackName}));
  std::vector<uint32_t> many;
  for (uint32_t i = 1; i <= 12; ++i) many.push_back(0x0A000000 + i);
  EXPECT_EQ(chooseLocalAddresses(many, many).size(), 10u);
  EXPECT_EQ(chooseLocalAddresses({}, many).size(), 10u);
  EXPECT_EQ(chooseLocalAddresses({0x0A000001, 0x0A000001}, interfaces), (std::vector<uint32_t>{0x0A000001}));
}

}  // namespace
