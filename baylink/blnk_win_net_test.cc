// The Windows network operations: the netsh and ipconfig command lines of every operation as
// Windows receives them (recorded through the command runner's seam, no netsh needed), hostile
// interface names and values refused before any command line exists, and the parse of the
// ipconfig and interface listings.
#include "baylink/blnk_win_net.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "baylink/blnk_win_test_support.h"

namespace {

using blnkwin::Adapter;

using blnktest::RecordingOps;

using blnktest::kInterfaces;
using blnktest::kIpconfig;

TEST(WinNetCommands, EveryOperationRunsItsNetshOrIpconfigCommandLine) {
  RecordingOps ops;
  ops.record->outputs["ipconfig /all"] = kIpconfig;
  ops.record->outputs["netsh interface ip show interface"] = kInterfaces;
  std::vector<Adapter> adapters;
  ASSERT_EQ(blnkwin::discoverAdapters(ops, &adapters), 3);
  Adapter& lan = adapters[0];
  EXPECT_EQ(blnkwin::setAdmin(ops, lan, true), 0);
  EXPECT_EQ(blnkwin::setAdmin(ops, adapters[1], false), 0);
  EXPECT_EQ(blnkwin::setStaticAddress(ops, lan, "192.0.2.11", "255.255.255.128", "192.0.2.1"), 0);
  EXPECT_EQ(blnkwin::setStaticAddress(ops, lan, "192.0.2.11", "255.255.255.128", "x.x.x.x"), 0);
  EXPECT_EQ(blnkwin::setDhcp(ops, adapters[2]), 0);
  EXPECT_EQ(blnkwin::setNameServer(ops, &lan, 2, "203.0.113.53"), 0);  // replaces 198.51.100.53
  EXPECT_EQ(blnkwin::setNameServer(ops, &lan, 3, "203.0.113.54"), 0);  // a new third place
  EXPECT_EQ(blnkwin::setNameServer(ops, &lan, 1, "192.0.2.54"), 0);
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapters[1], 2, "x.x.x.x"), 0);  // none there: nothing to run
  const std::vector<std::string> expected = {
      "ipconfig /all",
      "netsh interface ip show interface",
      "netsh interface set interface name=\"Local Area Connection\" admin=ENABLED",
      "netsh interface set interface name=\"Ethernet 2\" admin=DISABLED",
      "netsh interface ip set address name=\"Local Area Connection\" source=static addr=192.0.2.11 "
      "mask=255.255.255.128 gateway=192.0.2.1 gwmetric=1",
      "netsh interface ip set address name=\"Local Area Connection\" source=static addr=192.0.2.11 "
      "mask=255.255.255.128 gateway=none",
      "netsh interface ip set address name=\"Ethernet 3\" source=dhcp",
      "netsh interface ip delete dns name=\"Local Area Connection\" addr=198.51.100.53",
      "netsh interface ip add dns name=\"Local Area Connection\" addr=203.0.113.53 index=2",
      "netsh interface ip add dns name=\"Local Area Connection\" addr=203.0.113.54 index=3",
      "netsh interface ip set dns name=\"Local Area Connection\" source=static addr=192.0.2.54 "
      "register=PRIMARY",
  };
  EXPECT_EQ(ops.record->lines, expected);
  EXPECT_EQ(lan.nameServers, std::vector<std::string>{"192.0.2.54"}) << "a new primary replaces the list";
}

TEST(WinNetCommands, RemovingNameServersAndTheirOrder) {
  RecordingOps ops;
  Adapter adapter;
  adapter.connection = "Ethernet";
  adapter.nameServers = {"192.0.2.53", "192.0.2.54", "192.0.2.55"};
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 2, "x.x.x.x"), 0);
  EXPECT_EQ(adapter.nameServers, (std::vector<std::string>{"192.0.2.53", "192.0.2.55"}));
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 1, "x.x.x.x"), 0);
  EXPECT_TRUE(adapter.nameServers.empty());
  EXPECT_EQ(ops.record->lines,
            (std::vector<std::string>{
                "netsh interface ip delete dns name=Ethernet addr=192.0.2.54",
                "netsh interface ip set dns name=Ethernet source=static addr=none register=PRIMARY"}));
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 4, "192.0.2.1"), -1);
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 0, "192.0.2.1"), -1);
  EXPECT_EQ(ops.record->lines.size(), 2u);
}

TEST(WinNetCommands, HostileInterfaceNamesAreRefusedBeforeAnyCommandLine) {
  const std::vector<std::string> hostile = {
      "",
      "Local\" admin=DISABLED name=\"Other",
      "Ethernet\"",
      "Ethernet & shutdown /s",
      "Ethernet | calc",
      "Ethernet > C:\\boot.ini",
      "Ethernet < in",
      "Ethernet ^& x",
      "%PATH%",
      "Ethernet!x!",
      "Ethernet;x",
      "Ethernet\nnetsh firewall",
      "Ethernet\r",
      "Ethernet\t2",
      " Ethernet",
      "Ethernet ",
      "Ether`net",
      "Ethernet'",
      "C:\\Windows",
      "Ethernet/2",
      std::string("Ether\0net", 9),
      "\xC3\x89thernet",
      std::string(blnkwin::kConnectionNameMax + 1, 'e'),
  };
  RecordingOps ops;
  for (const std::string& name : hostile) {
    SCOPED_TRACE("name: " + name);
    EXPECT_FALSE(blnkwin::validConnectionName(name));
    std::vector<std::string> argv = {"untouched"};
    std::string why;
    EXPECT_EQ(blnkwin::adminCommand(name, true, &argv, &why), -1);
    EXPECT_FALSE(why.empty());
    EXPECT_EQ(blnkwin::staticAddressCommand(name, "192.0.2.1", "255.0.0.0", "x.x.x.x", &argv, &why), -1);
    EXPECT_EQ(blnkwin::dhcpCommand(name, &argv, &why), -1);
    EXPECT_EQ(blnkwin::primaryDnsCommand(name, "192.0.2.1", &argv, &why), -1);
    EXPECT_EQ(blnkwin::addDnsCommand(name, "192.0.2.1", 2, &argv, &why), -1);
    EXPECT_EQ(blnkwin::deleteDnsCommand(name, "192.0.2.1", &argv, &why), -1);
    EXPECT_EQ(argv, std::vector<std::string>{"untouched"});
    Adapter adapter;
    adapter.connection = name;
    adapter.nameServers = {"192.0.2.7", "192.0.2.8"};
    EXPECT_EQ(blnkwin::setAdmin(ops, adapter, false), -1);
    EXPECT_EQ(blnkwin::setStaticAddress(ops, adapter, "192.0.2.1", "255.0.0.0", "192.0.2.254"), -1);
    EXPECT_EQ(blnkwin::setDhcp(ops, adapter), -1);
    EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 2, "192.0.2.9"), -1);
    EXPECT_EQ(adapter.nameServers.size(), 2u);
  }
  EXPECT_TRUE(ops.record->lines.empty()) << ops.record->lines.front();
  std::string why;
  std::vector<std::string> argv;
  blnkwin::adminCommand(std::string(blnkwin::kConnectionNameMax + 1, 'e'), true, &argv, &why);
  EXPECT_NE(why.find("longer than 64"), std::string::npos) << why;
  // The longest name and every allowed character pass.
  EXPECT_TRUE(blnkwin::validConnectionName(std::string(blnkwin::kConnectionNameMax, 'e')));
  EXPECT_TRUE(blnkwin::validConnectionName("Local Area Connection (2) #3 - team_a.b"));
}

TEST(WinNetCommands, HostileAddressesAreRefusedBeforeAnyCommandLine) {
  const std::vector<std::string> hostile = {
      "",
      "192.0.2.1 addr=198.51.100.1",
      "192.0.2.1\"",
      "192.0.2.1&calc",
      "192.0.2.1|x",
      "256.0.0.1",
      "192.0.2",
      "192.0.2.1.5",
      "1921.0.2.1",
      "192.0.2.-1",
      " 192.0.2.1",
      "192.0.2.1\n",
      "none",
      "dhcp",
      "x.x.x.x.x",
      "%SystemRoot%",
      std::string(300, '1'),
  };
  RecordingOps ops;
  Adapter adapter;
  adapter.connection = "Ethernet";
  adapter.nameServers = {"192.0.2.53"};
  for (const std::string& value : hostile) {
    SCOPED_TRACE("value: " + value);
    std::vector<std::string> argv;
    std::string why;
    EXPECT_EQ(blnkwin::staticAddressCommand("Ethernet", value, "255.0.0.0", "x.x.x.x", &argv, &why), -1);
    EXPECT_NE(why.find("the address"), std::string::npos) << why;
    EXPECT_EQ(blnkwin::staticAddressCommand("Ethernet", "192.0.2.1", value, "x.x.x.x", &argv, &why), -1);
    EXPECT_NE(why.find("the netmask"), std::string::npos) << why;
    EXPECT_EQ(blnkwin::staticAddressCommand("Ethernet", "192.0.2.1", "255.0.0.0", value, &argv, &why), -1);
    EXPECT_NE(why.find("the gateway"), std::string::npos) << why;
    EXPECT_EQ(blnkwin::primaryDnsCommand("Ethernet", value, &argv, &why), -1);
    EXPECT_EQ(blnkwin::addDnsCommand("Ethernet", value, 2, &argv, &why), -1);
    EXPECT_EQ(blnkwin::deleteDnsCommand("Ethernet", value, &argv, &why), -1);
    EXPECT_TRUE(argv.empty());
    EXPECT_EQ(blnkwin::setStaticAddress(ops, adapter, value, "255.0.0.0", "x.x.x.x"), -1);
    for (int which = 1; which <= 3; ++which)
      EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, which, value), -1);
  }
  // "x.x.x.x" (none) is a gateway or a removal, never an address or a netmask.
  std::vector<std::string> argv;
  EXPECT_EQ(blnkwin::staticAddressCommand("Ethernet", "x.x.x.x", "255.0.0.0", "x.x.x.x", &argv, nullptr), -1);
  EXPECT_EQ(blnkwin::staticAddressCommand("Ethernet", "192.0.2.1", "x.x.x.x", "x.x.x.x", &argv, nullptr), -1);
  EXPECT_EQ(blnkwin::addDnsCommand("Ethernet", "x.x.x.x", 2, &argv, nullptr), -1);
  EXPECT_EQ(blnkwin::addDnsCommand("Ethernet", "192.0.2.1", 1, &argv, nullptr), -1);
  EXPECT_TRUE(ops.record->lines.empty()) << ops.record->lines.front();
  EXPECT_EQ(adapter.nameServers, std::vector<std::string>{"192.0.2.53"});
}

TEST(WinNetCommands, FailedAndUnstartableCommandsAreReportedAndChangeNothing) {
  RecordingOps ops;
  Adapter adapter;
  adapter.connection = "Ethernet";
  adapter.nameServers = {"192.0.2.53", "192.0.2.54"};
  ops.record->statuses["netsh interface set interface name=Ethernet admin=DISABLED"] = 1;
  ops.record->statuses["netsh interface ip set address name=Ethernet source=dhcp"] = -1;
  ops.record->statuses["netsh interface ip delete dns name=Ethernet addr=192.0.2.54"] = 1;
  EXPECT_EQ(blnkwin::setAdmin(ops, adapter, false), -1);
  EXPECT_EQ(blnkwin::setDhcp(ops, adapter), 103);
  EXPECT_EQ(blnkwin::setNameServer(ops, &adapter, 2, "192.0.2.99"), -1);
  EXPECT_EQ(adapter.nameServers, (std::vector<std::string>{"192.0.2.53", "192.0.2.54"}));
  EXPECT_EQ(ops.record->lines.size(), 3u) << "no add after a failed delete";
  ops.record->statuses["ipconfig /all"] = -1;
  std::vector<Adapter> adapters;
  EXPECT_EQ(blnkwin::discoverAdapters(ops, &adapters), 103);
}

// What CreateProcess receives: quotes only where the parse needs them, backslashes doubled only
// before a quote, quotes around the value of key=value, and no shell character touched. The
// Windows build proves the parse gives the arguments back (blnk_run_win_test).
TEST(WinNetCommandLine, QuotingFollowsTheWindowsParseRules) {
  const std::vector<std::pair<std::vector<std::string>, std::string>> cases = {
      {{"netsh", "interface", "set", "interface", "name=Local Area Connection", "admin=ENABLED"},
       "netsh interface set interface name=\"Local Area Connection\" admin=ENABLED"},
      {{"netsh", "name=Ethernet"}, "netsh name=Ethernet"},
      {{"C:\\Program Files\\x.exe", "a b", ""}, "\"C:\\Program Files\\x.exe\" \"a b\" \"\""},
      {{"p", "say \"hi\""}, "p \"say \\\"hi\\\"\""},
      {{"p", "C:\\dir\\", "C:\\dir with blank\\"}, "p C:\\dir\\ \"C:\\dir with blank\\\\\""},
      {{"p", "a\\\"b c"}, "p \"a\\\\\\\"b c\""},
      {{"p", "a&b|c>d<e^f%g%"}, "p a&b|c>d<e^f%g%"},
      {{"p", "x=\"q\" y", "-k=v w"}, "p x=\"\\\"q\\\" y\" \"-k=v w\""},
      {{"p", "tab\there"}, "p \"tab\there\""},
  };
  for (const auto& [argv, expected] : cases) {
    ASSERT_TRUE(blnkwin::passableArguments(argv)) << expected;
    EXPECT_EQ(blnkwin::commandLine(argv), expected);
  }
  EXPECT_FALSE(blnkwin::passableArguments({}));
  EXPECT_FALSE(blnkwin::passableArguments({""}));
  EXPECT_FALSE(blnkwin::passableArguments({"a\"b"}));
  EXPECT_FALSE(blnkwin::passableArguments({"p", std::string("a\0b", 3)}));
}

TEST(WinNetParse, IpconfigSectionsAndInterfaceStates) {
  std::vector<Adapter> adapters = blnkwin::parseIpconfig(kIpconfig);
  ASSERT_EQ(adapters.size(), 3u) << "the wireless adapter is not an Ethernet port";
  const Adapter& lan = adapters[0];
  EXPECT_EQ(lan.connection, "Local Area Connection");
  EXPECT_EQ(lan.description, "Intel(R) PRO/1000 MT Network Connection");
  EXPECT_EQ(lan.mac, "00:0c:29:3a:4b:5c");
  EXPECT_FALSE(lan.dhcp);
  EXPECT_EQ(lan.address, "192.0.2.10");
  EXPECT_EQ(lan.netmask, "255.255.255.0");
  EXPECT_EQ(lan.gateway, "192.0.2.1");
  EXPECT_EQ(lan.nameServers, (std::vector<std::string>{"192.0.2.53", "198.51.100.53"}));
  const Adapter& unplugged = adapters[1];
  EXPECT_EQ(unplugged.connection, "Ethernet 2");
  EXPECT_TRUE(unplugged.dhcp);
  EXPECT_FALSE(unplugged.connected);
  EXPECT_EQ(unplugged.address, "x.x.x.x");
  EXPECT_EQ(unplugged.gateway, "x.x.x.x");
  const Adapter& modern = adapters[2];
  EXPECT_EQ(modern.address, "198.51.100.20") << "(Preferred) is not part of the address";
  EXPECT_EQ(modern.netmask, "255.255.254.0");
  EXPECT_EQ(modern.gateway, "198.51.100.1") << "the IPv4 gateway on the continuation line";
  EXPECT_TRUE(modern.connected) << "no media state line: connected until the interface list says otherwise";
  blnkwin::applyInterfaceStates(kInterfaces, &adapters);
  EXPECT_TRUE(adapters[0].connected);
  EXPECT_FALSE(adapters[1].connected);
  EXPECT_FALSE(adapters[2].connected);
}

TEST(WinNetParse, MalformedAndHostileListingsKeepPlaceholders) {
  const std::string listing =
      "Ethernet adapter Bad\" admin=DISABLED:\n"
      "   Physical Address. . . . . . . . . : 00-0C-29-3A-4B\n"
      "   IP Address. . . . . . . . . . . . : 999.0.2.10\n"
      "   Subnet Mask . . . . . . . . . . . : 255.255.255.0 & calc\n"
      "   Default Gateway . . . . . . . . . : \n"
      "   DNS Servers . . . . . . . . . . . : none\n"
      "                                       192.0.2.300\n"
      "Ethernet adapter Second:\n"
      "   Physical Address. . . . . . . . . : ZZ-0C-29-3A-4B-5C\n"
      "   Description . . . . . . . . . . . : \n"
      "Ethernet adapter :\n"
      "   garbage without a colon\n"
      "Ethernet adapter NoColon\n";
  std::vector<Adapter> adapters = blnkwin::parseIpconfig(listing);
  ASSERT_EQ(adapters.size(), 3u);
  EXPECT_EQ(adapters[0].connection, "Bad\" admin=DISABLED");
  EXPECT_EQ(adapters[0].mac, "xx:xx:xx:xx:xx:xx");
  EXPECT_EQ(adapters[0].address, "x.x.x.x");
  EXPECT_EQ(adapters[0].netmask, "255.255.255.0") << "the address before the junk";
  EXPECT_EQ(adapters[0].gateway, "x.x.x.x");
  EXPECT_TRUE(adapters[0].nameServers.empty());
  EXPECT_EQ(adapters[1].mac, "xx:xx:xx:xx:xx:xx");
  EXPECT_EQ(adapters[1].description, "Unknown");
  EXPECT_EQ(adapters[2].connection, "");
  // A name read from the system is checked like a caller's before it reaches netsh.
  RecordingOps ops;
  EXPECT_EQ(blnkwin::setAdmin(ops, adapters[0], false), -1);
  EXPECT_EQ(blnkwin::setDhcp(ops, adapters[2]), -1);
  EXPECT_TRUE(ops.record->lines.empty());

  std::string many;
  for (size_t i = 0; i < blnkwin::kAdaptersMax + 10; ++i)
    many += "Ethernet adapter Ethernet " + std::to_string(i) + ":\n";
  EXPECT_EQ(blnkwin::parseIpconfig(many).size(), blnkwin::kAdaptersMax);
  EXPECT_TRUE(blnkwin::parseIpconfig("").empty());
  EXPECT_TRUE(blnkwin::parseIpconfig(std::string(100000, ':')).empty());
  std::vector<Adapter> none;
  blnkwin::applyInterfaceStates("Idx Met\n1 2\nx y z w v\n", &none);
  EXPECT_TRUE(none.empty());
}

}  // namespace
