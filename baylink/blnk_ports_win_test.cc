// The exported network, host name and clock functions of the Windows library over a recording
// command runner: the port table from the ipconfig and interface listings, the netsh command line
// of every exported change, the values each setter remembers, refusals that run nothing, failed
// commands that change nothing, and the host name and clock calls.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/blnk_win_test_support.h"

namespace {

using blnktest::HostRecord;
using blnktest::RecordingOps;

using blnktest::kInterfaces;
using blnktest::kIpconfig;

class WinPortsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    record->outputs["ipconfig /all"] = kIpconfig;
    record->outputs["netsh interface ip show interface"] = kInterfaces;
    blnkSetHostForTesting("", std::make_unique<RecordingOps>(record));
  }
  void TearDown() override {
    releasePortCount();
    blnkSetHostForTesting("", nullptr);
  }
  std::shared_ptr<HostRecord> record = std::make_shared<HostRecord>();
};

TEST_F(WinPortsTest, ThePortTableFromTheListings) {
  ASSERT_EQ(getPortCount(), 3);
  EXPECT_STREQ(getIfName(0), "eth0");
  EXPECT_STREQ(getID(1), "1");
  EXPECT_STREQ(getType(0), "Intel(R) PRO/1000 MT Network Connection");
  EXPECT_STREQ(getMac(1), "00:10:18:aa:bb:cc");
  EXPECT_STREQ(getIP(0), "192.0.2.10");
  EXPECT_STREQ(getNetmask(0), "255.255.255.0");
  EXPECT_STREQ(getGateway(0), "192.0.2.1");
  EXPECT_STREQ(getPrimaryDNS(0), "192.0.2.53");
  EXPECT_STREQ(getSecondaryDNS(0), "198.51.100.53");
  EXPECT_STREQ(getIP(1), "x.x.x.x");
  EXPECT_STREQ(getPrimaryDNS(1), "x.x.x.x");
  EXPECT_STREQ(getStatus(0), "Connected");
  EXPECT_STREQ(getStatus(1), "Disconnected");
  EXPECT_EQ(getConnected(1), 0);
  EXPECT_EQ(isDHCP(0), 0);
  EXPECT_EQ(isDHCP(1), 1);
  EXPECT_EQ(getEnabled(0), 1);
  EXPECT_EQ(getSpeed(0), 0);
  EXPECT_STREQ(getIfName(2), "eth2");
  EXPECT_STREQ(getIP(2), "198.51.100.20");
  EXPECT_STREQ(getGateway(2), "198.51.100.1");
  EXPECT_STREQ(getStatus(2), "Disconnected");
  for (int bad : {-1, 3, 1000}) {
    EXPECT_EQ(getIP(bad), BLNK_BAD_PORT);
    EXPECT_EQ(getIfName(bad), BLNK_BAD_PORT);
    EXPECT_EQ(getSpeed(bad), -1);
    EXPECT_EQ(isDHCP(bad), -1);
    EXPECT_EQ(setIP(bad, "192.0.2.1"), -1);
    EXPECT_EQ(enablePort(bad), -1);
  }
  EXPECT_EQ(releasePortCount(), 0);
  EXPECT_EQ(getIP(0), BLNK_BAD_PORT);
  record->statuses["ipconfig /all"] = -1;
  EXPECT_EQ(getPortCount(), BLNK_ERR_PIPE);
}

TEST_F(WinPortsTest, EveryExportedChangeRunsItsNetshCommandLine) {
  ASSERT_EQ(getPortCount(), 3);
  record->lines.clear();
  EXPECT_EQ(setIP(0, "192.0.2.11"), 0);  // netmask and gateway as discovered
  EXPECT_EQ(setNetmask(0, "255.255.255.128"), 0);
  EXPECT_EQ(setGateway(0, "x.x.x.x"), 0);
  EXPECT_EQ(setDHCP(0), 0);
  EXPECT_EQ(setPrimaryDNS(0, "192.0.2.54"), 0);
  EXPECT_EQ(setSecondaryDNS(0, "203.0.113.53"), 0);
  EXPECT_EQ(enablePort(1), 0);
  EXPECT_EQ(disablePort(1), 0);
  const std::string lan = "name=\"Local Area Connection\"";
  const std::vector<std::string> expected = {
      "netsh interface ip set address " + lan +
          " source=static addr=192.0.2.11 mask=255.255.255.0 gateway=192.0.2.1 gwmetric=1",
      "netsh interface ip set address " + lan +
          " source=static addr=192.0.2.11 mask=255.255.255.128 gateway=192.0.2.1 gwmetric=1",
      "netsh interface ip set address " + lan +
          " source=static addr=192.0.2.11 mask=255.255.255.128 gateway=none",
      "netsh interface ip set address " + lan + " source=dhcp",
      "netsh interface ip set dns " + lan + " source=static addr=192.0.2.54 register=PRIMARY",
      "netsh interface ip add dns " + lan + " addr=203.0.113.53 index=2",
      "netsh interface set interface name=\"Ethernet 2\" admin=ENABLED",
      "netsh interface set interface name=\"Ethernet 2\" admin=DISABLED",
  };
  EXPECT_EQ(record->lines, expected);
  EXPECT_EQ(isDHCP(0), 1);
  EXPECT_STREQ(getPrimaryDNS(0), "192.0.2.54");
  EXPECT_STREQ(getSecondaryDNS(0), "203.0.113.53");
  EXPECT_EQ(setTertiaryDNS(), 0);
}

TEST_F(WinPortsTest, RefusedAndFailedChangesRunNothingAndChangeNothing) {
  ASSERT_EQ(getPortCount(), 3);
  record->lines.clear();
  EXPECT_EQ(setIP(1, "192.0.2.50"), -1) << "a DHCP port without a netmask has no static configuration";
  EXPECT_EQ(setIP(0, "192.0.2.1 & calc"), -1);
  EXPECT_EQ(setIP(0, "x.x.x.x"), -1);
  EXPECT_EQ(setGateway(0, "192.0.2.1\" name=\"x"), -1);
  EXPECT_EQ(setPrimaryDNS(0, "300.0.0.1"), -1);
  EXPECT_EQ(setIP(0, nullptr), -1);
  EXPECT_TRUE(record->lines.empty()) << record->lines.front();
  record->statuses["netsh interface ip set address name=\"Local Area Connection\" source=dhcp"] = 1;
  EXPECT_EQ(setDHCP(0), -1);
  EXPECT_EQ(isDHCP(0), 0);
  record->statuses
      ["netsh interface ip set address name=\"Local Area Connection\" source=static addr=192.0.2.12 "
       "mask=255.255.255.0 gateway=192.0.2.1 gwmetric=1"] = -1;
  EXPECT_EQ(setIP(0, "192.0.2.12"), BLNK_ERR_PIPE);
  EXPECT_STREQ(getIP(0), "192.0.2.10");
}

TEST_F(WinPortsTest, HostNameAndClock) {
  EXPECT_STREQ(getServerName(), "storage-01");
  EXPECT_EQ(getServerNameMaxLength(), 60);
  for (const char* bad : {"", "new.name", "a b", "x&y", "quote\"d"}) EXPECT_EQ(setServerName(bad), -1) << bad;
  EXPECT_EQ(setServerName(nullptr), -1);
  EXPECT_TRUE(record->hostNames.empty());
  EXPECT_EQ(setServerName("storage-02"), 0);
  EXPECT_EQ(record->hostNames, std::vector<std::string>{"storage-02"});
  EXPECT_TRUE(record->lines.empty()) << "no program runs for the name";

  EXPECT_EQ(setDate("13-01-24"), -1);
  EXPECT_EQ(setTime("25:00:00"), -1);
  EXPECT_EQ(setDate("02-30-24"), -1) << "a day that does not exist";
  EXPECT_TRUE(record->clocks.empty());
  EXPECT_EQ(setDate("02-29-24"), 0);
  ASSERT_EQ(record->clocks.size(), 1u);
  std::tm local{};
  localtime_r(&record->clocks[0], &local);
  EXPECT_EQ(local.tm_year, 124);
  EXPECT_EQ(local.tm_mon, 1);
  EXPECT_EQ(local.tm_mday, 29);
  EXPECT_EQ(setTime("07:08:09"), 0);
  ASSERT_EQ(record->clocks.size(), 2u);
  localtime_r(&record->clocks[1], &local);
  EXPECT_EQ(local.tm_hour, 7);
  EXPECT_EQ(local.tm_min, 8);
  EXPECT_EQ(local.tm_sec, 9);
  EXPECT_TRUE(record->lines.empty()) << "no shell's date or time command";
}

}  // namespace
