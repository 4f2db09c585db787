// Tests of the host settings against a scratch root with a recording command runner: port
// discovery and getters, the SuSE, Red Hat and Debian back ends, name servers, host name, date
// and time, the checks on caller text, and the safety of the files written.
#include "baylink/blnk_host.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "baylink/baylink.h"
#include "baylink/linux/blnk_net_backend.h"

namespace {

namespace fs = std::filesystem;

struct FakeState {
  std::vector<std::string> commands;
  std::string hostName;
  std::time_t clock = 0;
  int restartStatus = 0;
};

class FakeHostOps : public BlnkHostOps {
 public:
  explicit FakeHostOps(FakeState* state) : s_(state) {}
  int run(const std::vector<std::string>& argv, std::string* output) override {
    std::string line;
    for (const std::string& a : argv) line += (line.empty() ? "" : " ") + a;
    s_->commands.push_back(line);
    if (argv[0] == "/bin/netstat" && output != nullptr) {
      *output =
          "Kernel IP routing table\nDestination Gateway Genmask Flags MSS Window irtt Iface\n"
          "0.0.0.0 10.0.0.1 0.0.0.0 UG 0 0 0 eth0\n10.0.0.0 0.0.0.0 255.255.255.0 U 0 0 0 eth0\n";
    }
    if (argv[0].find("lspci") != std::string::npos && output != nullptr)
      *output =
          "00:03.0 Ethernet controller: Intel Corporation 82540EM Gigabit Ethernet Controller (rev 02)\n";
    return argv[0].find("init.d") != std::string::npos ? s_->restartStatus : 0;
  }
  int setHostName(const std::string& name) override {
    s_->hostName = name;
    return 0;
  }
  int setClock(std::time_t when) override {
    s_->clock = when;
    return 0;
  }
  bool systemNames(std::string* node, std::string* release, std::string* version) override {
    *node = "kestrel.example.com";
    *release = "6.1.0";
    *version = "#1 SMP";
    return true;
  }
  int interfaceAddresses(const std::string& name, BlnkInterfaceAddresses* out) override {
    const unsigned char mac0[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x55};
    const unsigned char mac1[6] = {0x00, 0x11, 0x22, 0x33, 0x44, 0x66};
    std::memcpy(out->mac, name == "eth0" ? mac0 : mac1, 6);
    out->macKnown = true;
    if (name == "eth0") {
      out->address = "10.0.0.5";
      out->netmask = "255.255.255.0";
    }
    return 0;
  }

 private:
  FakeState* s_;
};

const char kSuseEth0[] = "ifcfg-eth-id-00:11:22:33:44:55";
const char kSuseEth1[] = "ifcfg-eth-id-00:11:22:33:44:66";

class HostTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "blnk-host-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    root = pattern;
    write("proc/net/dev",
          "Inter-|   Receive\n face |bytes\n    lo: 1 2\n  eth0: 10 20\n  eth1: 0 0\nveth12ab: 5 5\n");
    write("sys/class/net/eth0/speed", "1000\n");
    write("sys/class/net/eth0/carrier", "1\n");
    write("sys/class/net/eth1/carrier", "0\n");
    fs::create_directories(root / "sys/devices/pci0000:00/0000:00:03.0");
    fs::create_directory_symlink(root / "sys/devices/pci0000:00/0000:00:03.0",
                                 root / "sys/class/net/eth0/device");
    write(std::string("etc/sysconfig/network/") + kSuseEth0, "BOOTPROTO='static'\nSTARTMODE='onboot'\n");
    write(std::string("etc/sysconfig/network/") + kSuseEth1, "BOOTPROTO='dhcp'\nSTARTMODE='manual'\n");
    write("etc/sysconfig/network/routes",
          "default 10.0.0.1 - eth0\n192.168.9.0 10.0.0.7 255.255.255.0 eth0\n");
    write("etc/resolv.conf", "search example.com\nnameserver 10.0.0.53\nnameserver 10.0.0.54 # second\n");
    write("etc/hosts", "127.0.0.1 localhost\n10.0.0.5   kestrel.example.com\tkestrel\n");
    write("proc/cpuinfo", "processor\t: 0\nmodel name\t:   Intel(R) Xeon(R) CPU\n");
    write("proc/meminfo", "MemTotal:        2097152 kB\nMemFree: 1 kB\n");
    fs::create_directories(root / "tmp");
    blnkSetHostForTesting(root.string(), std::make_unique<FakeHostOps>(&state));
    blnkSetNetBackEndForTesting(kBlnkSuse);
  }
  void TearDown() override {
    releasePortCount();
    blnkSetNetBackEndForTesting(kBlnkBuildDistribution);
    blnkSetHostForTesting("", nullptr);
    fs::remove_all(root);
  }
  void write(const std::string& path, const std::string& text) {
    fs::create_directories((root / path).parent_path());
    std::ofstream(root / path, std::ios::binary) << text;
  }
  std::string read(const std::string& path) {
    std::ifstream in(root / path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  // Contents of every file under the root, to prove that nothing changed.
  std::map<std::string, std::string> snapshot() {
    std::map<std::string, std::string> files;
    for (const auto& e : fs::recursive_directory_iterator(root)) {
      if (e.is_regular_file() && e.path().filename() != "sys_info_log")
        files[e.path().string()] = read(fs::relative(e.path(), root));
    }
    return files;
  }

  fs::path root;
  FakeState state;
};

TEST_F(HostTest, DiscoveryAndGetters) {
  ASSERT_EQ(getPortCount(), 2);  // veth12ab is not an Ethernet port
  EXPECT_STREQ(getIfName(0), "eth0");
  EXPECT_STREQ(getID(1), "1");
  EXPECT_STREQ(getType(0), "Intel Corporation 82540EM Gigabit Ethernet Controller (rev 02)");
  EXPECT_STREQ(getType(1), "Unknown");
  EXPECT_STREQ(getMac(1), "00:11:22:33:44:66");
  EXPECT_STREQ(getIP(0), "10.0.0.5");
  EXPECT_STREQ(getNetmask(0), "255.255.255.0");
  EXPECT_STREQ(getGateway(0), "10.0.0.1");
  EXPECT_STREQ(getPrimaryDNS(0), "10.0.0.53");
  EXPECT_STREQ(getSecondaryDNS(1), "10.0.0.54");
  EXPECT_EQ(getSpeed(0), 1000);
  EXPECT_STREQ(getStatus(0), "Connected");
  EXPECT_STREQ(getStatus(1), "Disconnected");
  EXPECT_EQ(getConnected(1), 0);
  EXPECT_EQ(isDHCP(0), 0);
  EXPECT_EQ(getEnabled(0), 1);
  EXPECT_EQ(getEnabled(1), 0);  // down and not started at boot: disabled
  EXPECT_EQ(isDHCP(1), 0);
  EXPECT_STREQ(getIP(1), "x.x.x.x");
  for (int bad : {2, -1}) {
    EXPECT_EQ(getIP(bad), BLNK_BAD_PORT);
    EXPECT_EQ(getMac(bad), BLNK_BAD_PORT);
    EXPECT_EQ(getSpeed(bad), -1);
    EXPECT_EQ(setIP(bad, "10.0.0.9"), -1);
  }
  EXPECT_EQ(releasePortCount(), 0);
  EXPECT_EQ(getIP(0), BLNK_BAD_PORT);
  fs::remove(root / "proc/net/dev");
  EXPECT_EQ(getPortCount(), BLNK_ERR_FILE_OPEN);
}

TEST_F(HostTest, SuseStaticAddressWithDefaultRouteAndItsRemoval) {
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(setIP(0, "10.0.0.9"), 0);
  EXPECT_EQ(read(std::string("etc/sysconfig/network/") + kSuseEth0),
            "BOOTPROTO='static'\nBROADCAST=''\nIPADDR='10.0.0.9'\nMTU=''\nNETMASK='255.255.255.0'\n"
            "NETWORK='10.0.0.0'\nREMOTE_IPADDR=''\nSTARTMODE='onboot'\nUNIQUE=qvrx.netmodifyAPI\n"
            "_nm_name='bus-pci-0000:00:03.0'\n");
  EXPECT_EQ(read("etc/sysconfig/network/routes"),
            "192.168.9.0 10.0.0.7 255.255.255.0 eth0\ndefault 10.0.0.1 - eth0\n");  // other routes kept
  EXPECT_EQ(read("etc/sysconfig/network/ifroute-eth-id-00:11:22:33:44:55"), "");
  std::vector<std::string> expected = {"/sbin/route del default", "/etc/init.d/network restart"};
  EXPECT_EQ(std::vector<std::string>(state.commands.end() - 2, state.commands.end()), expected);
  EXPECT_STREQ(getIP(0), "10.0.0.9");

  EXPECT_EQ(setGateway(0, "x.x.x.x"), 0);
  EXPECT_EQ(read("etc/sysconfig/network/routes"), "192.168.9.0 10.0.0.7 255.255.255.0 eth0\n");
  EXPECT_FALSE(fs::exists(root / "etc/sysconfig/network/ifroute-eth-id-00:11:22:33:44:55"));
  EXPECT_STREQ(getGateway(0), "x.x.x.x");

  EXPECT_EQ(setDHCP(0), 0);
  EXPECT_EQ(isDHCP(0), 1);
  EXPECT_NE(read(std::string("etc/sysconfig/network/") + kSuseEth0).find("BOOTPROTO='dhcp'\n"),
            std::string::npos);
}

TEST_F(HostTest, CallerTextCannotAddLinesToSystemFiles) {
  ASSERT_EQ(getPortCount(), 2);
  std::map<std::string, std::string> before = snapshot();
  state.commands.clear();
  EXPECT_EQ(setIP(0, "10.0.0.9'\nSTARTMODE='manual"), -1);
  EXPECT_EQ(setNetmask(0, "255.255.255.0\n"), -1);
  EXPECT_EQ(setGateway(0, "10.0.0.1 "), -1);
  EXPECT_EQ(setIP(0, "256.1.1.1"), -1);
  EXPECT_EQ(setPrimaryDNS(0, "1.2.3.4\nnameserver 6.6.6.6"), -1);
  EXPECT_EQ(setSecondaryDNS(0, nullptr), -1);
  EXPECT_EQ(setServerName("evil\nhost"), -1);
  EXPECT_EQ(setServerName("new.name"), -1);
  EXPECT_EQ(setServerName(""), -1);
  EXPECT_EQ(setServerName(std::string(61, 'a').c_str()), -1);
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(state.commands.empty());
  EXPECT_NE(read("tmp/sys_info_log").find("\n LOG_ERR: refused"), std::string::npos);
}

TEST_F(HostTest, NameServersHostNameDateAndTime) {
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(setPrimaryDNS(0, "10.1.1.1"), 0);
  EXPECT_EQ(read("etc/resolv.conf"), "search example.com\nnameserver 10.1.1.1\nnameserver 10.0.0.54\n");
  EXPECT_EQ(read("etc/resolv.conf.webui"),
            "search example.com\nnameserver 10.0.0.53\nnameserver 10.0.0.54 # second\n");
  EXPECT_STREQ(getPrimaryDNS(1), "10.1.1.1");

  EXPECT_STREQ(getServerName(), "kestrel");
  EXPECT_EQ(setServerName("heron"), 0);
  EXPECT_EQ(read("etc/hosts"), "127.0.0.1 localhost\n10.0.0.5 heron.example.com heron \n");
  EXPECT_EQ(read("etc/HOSTNAME"), "heron\n");
  EXPECT_EQ(state.hostName, "heron");

  EXPECT_EQ(setDate("02-29-24"), 0);
  std::tm set{};
  localtime_r(&state.clock, &set);
  EXPECT_EQ(set.tm_year, 124);
  EXPECT_EQ(set.tm_mon, 1);
  EXPECT_EQ(set.tm_mday, 29);
  EXPECT_EQ(setTime("13:45:30"), 0);
  localtime_r(&state.clock, &set);
  EXPECT_EQ(set.tm_hour * 10000 + set.tm_min * 100 + set.tm_sec, 134530);
  for (const char* bad : {"02-30-23", "2-3-24", "13-01-24", "02/03/24", "02-03-2024"})
    EXPECT_EQ(setDate(bad), -1) << bad;
  for (const char* bad : {"24:00:00", "12:60:00", "1:02:03", "12-00-00"}) EXPECT_EQ(setTime(bad), -1) << bad;

  EXPECT_STREQ(getSystemInfo(), "CPU Intel(R) Xeon(R) CPU Linux Kernel 6.1.0 #1 SMP Total Ram 2048 MB");
  EXPECT_EQ(getServerNameMaxLength(), 60);
  EXPECT_STREQ(getEthVersion(), "0.13");
  EXPECT_STREQ(getTertiaryDNS(), "x.x.x.x");
}

TEST_F(HostTest, EnableDisableAndRestartFailures) {
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(enablePort(1), 0);
  EXPECT_EQ(read(std::string("etc/sysconfig/network/") + kSuseEth1),
            "BOOTPROTO='dhcp'\nSTARTMODE='onboot'\n");
  EXPECT_EQ(state.commands.back(), "/etc/init.d/network restart");
  state.restartStatus = 1;
  state.commands.clear();
  EXPECT_EQ(disablePort(0), BLNK_ERR_DISTRIBUTION);  // both restarts failed
  EXPECT_EQ(state.commands.size(), 2u);
  EXPECT_NE(read(std::string("etc/sysconfig/network/") + kSuseEth0).find("STARTMODE='manual'"),
            std::string::npos);
  fs::remove(root / "etc/sysconfig/network" / kSuseEth1);
  EXPECT_EQ(disablePort(1), -1);
}

TEST_F(HostTest, RedHatAndDebianBackEnds) {
  fs::remove_all(root / "etc/sysconfig/network");  // SuSE's folder is Red Hat's file
  write("etc/sysconfig/network-scripts/ifcfg-eth0", "DEVICE=eth0\nBOOTPROTO=static\nONBOOT=yes\n");
  write("etc/sysconfig/network", "NETWORKING=yes\nGATEWAY=10.0.0.254\nGATEWAYDEV=eth0\n");
  blnkSetNetBackEndForTesting(kBlnkRedHat);
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(getEnabled(0), 1);
  EXPECT_EQ(setNetmask(0, "255.255.0.0"), 0);
  EXPECT_EQ(read("etc/sysconfig/network-scripts/ifcfg-eth0"),
            "DEVICE=eth0\nBOOTPROTO=static\nONBOOT=yes\nTYPE=Ethernet\nIPADDR=10.0.0.5\nNETMASK=255.255.0.0\n"
            "GATEWAY=10.0.0.1\nDEFROUTE=yes\n");
  EXPECT_EQ(read("etc/sysconfig/network"), "NETWORKING=yes\nGATEWAY=10.0.0.1\nGATEWAYDEV=eth0\n");
  EXPECT_EQ(disablePort(0), 0);
  EXPECT_NE(read("etc/sysconfig/network-scripts/ifcfg-eth0").find("ONBOOT=no\n"), std::string::npos);
  EXPECT_EQ(state.commands.back(), "/etc/init.d/network restart");

  write("etc/network/interfaces",
        "auto lo\niface lo inet loopback\n\niface eth0 inet dhcp\n  hostname x\nauto eth1\n");
  blnkSetNetBackEndForTesting(kBlnkDebian);
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(isDHCP(0), 1);
  EXPECT_EQ(setIP(0, "10.0.0.8"), 0);
  EXPECT_EQ(
      read("etc/network/interfaces"),
      "auto lo\niface lo inet loopback\n\niface eth0 inet static\naddress 10.0.0.8\nnetmask 255.255.255.0\n"
      "gateway 10.0.0.1\nauto eth1\n");
  EXPECT_EQ(read("etc/network/interfaces.webui"),
            "auto lo\niface lo inet loopback\n\niface eth0 inet dhcp\n  hostname x\nauto eth1\n");
  EXPECT_EQ(state.commands.back(), "/etc/init.d/networking restart");
  EXPECT_EQ(disablePort(0), BLNK_ERR_DISTRIBUTION);
  EXPECT_NE(read("tmp/sys_info_log").find("Distribution Not Support"), std::string::npos);
}

TEST_F(HostTest, LinksPlantedInPlaceOfFilesAreNeverWrittenThrough) {
  fs::path victim = root / "victim";
  { std::ofstream(victim) << "precious\n"; }
  fs::create_symlink(victim, root / "tmp/sys_info_log");
  fs::remove(root / "etc/hosts");
  fs::create_symlink(victim, root / "etc/hosts");
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(setIP(0, "bad"), -1);  // logs an error
  EXPECT_EQ(setServerName("heron"), 0);
  EXPECT_EQ(read("victim"), "precious\n");
  EXPECT_FALSE(fs::is_symlink(root / "etc/hosts"));
  // No temporary file is left behind.
  for (const auto& e : fs::directory_iterator(root / "etc"))
    EXPECT_EQ(e.path().filename().string().find(".XXX"), std::string::npos);
  size_t files = std::distance(fs::directory_iterator(root / "etc"), fs::directory_iterator());
  EXPECT_EQ(files, 4u);  // sysconfig, resolv.conf, hosts and the new HOSTNAME
}

TEST_F(HostTest, SusePortWithoutTheDefaultRouteGetsItsOwnRouteFile) {
  ASSERT_EQ(getPortCount(), 2);
  // eth1 has no address yet: the first setter only remembers its value.
  EXPECT_EQ(setIP(1, "10.0.1.5"), -1);
  EXPECT_EQ(setNetmask(1, "255.255.255.0"), 0);
  EXPECT_EQ(setGateway(1, "10.0.1.1"), 0);
  EXPECT_EQ(read("etc/sysconfig/network/ifroute-eth-id-00:11:22:33:44:66"), "10.0.1.0 10.0.1.1 255.255.255.0 eth1\n");
  EXPECT_EQ(read("etc/sysconfig/network/routes"),
            "default 10.0.0.1 - eth0\n192.168.9.0 10.0.0.7 255.255.255.0 eth0\n")
      << "eth0's default route is not this port's to touch";
  EXPECT_EQ(state.commands.back(), "/etc/init.d/network restart");
  EXPECT_EQ(std::count(state.commands.begin(), state.commands.end(), "/sbin/route del default"), 0);
  EXPECT_STREQ(getGateway(1), "10.0.1.1");
  EXPECT_EQ(setGateway(1, "x.x.x.x"), 0);
  EXPECT_FALSE(fs::exists(root / "etc/sysconfig/network/ifroute-eth-id-00:11:22:33:44:66"));
  EXPECT_EQ(read("etc/sysconfig/network/routes"),
            "default 10.0.0.1 - eth0\n192.168.9.0 10.0.0.7 255.255.255.0 eth0\n");
}

TEST_F(HostTest, SuseDhcpLinesSayWhetherThePortCarriesTheDefaultRoute) {
  ASSERT_EQ(getPortCount(), 2);
  EXPECT_EQ(setDHCP(1), 0);
  EXPECT_EQ(read(std::string("etc/sysconfig/network/") + kSuseEth1),
            "BOOTPROTO='dhcp'\nMTU=''\nREMOTE_IPADDR=''\nSTARTMODE='onboot'\nUNIQUE=qvrx.netmodifyAPI\n"
            "_nm_name='bus-pci-'\nDHCLIENT_SET_DEFAULT_ROUTE=\"no\"\n");
  EXPECT_EQ(read("etc/sysconfig/network/routes"),
            "default 10.0.0.1 - eth0\n192.168.9.0 10.0.0.7 255.255.255.0 eth0\n")
      << "a port without the default route leaves the routes alone";
  EXPECT_EQ(state.commands.back(), "/etc/init.d/network restart");

  EXPECT_EQ(setDHCP(0), 0);
  EXPECT_EQ(read(std::string("etc/sysconfig/network/") + kSuseEth0),
            "BOOTPROTO='dhcp'\nMTU=''\nREMOTE_IPADDR=''\nSTARTMODE='onboot'\nUNIQUE=qvrx.netmodifyAPI\n"
            "_nm_name='bus-pci-0000:00:03.0'\nDHCLIENT_SET_DEFAULT_ROUTE=\"yes\"\n");
  EXPECT_EQ(read("etc/sysconfig/network/routes"), "192.168.9.0 10.0.0.7 255.255.255.0 eth0\n")
      << "the default route now comes from DHCP";
  EXPECT_EQ(isDHCP(0), 1);
}

TEST_F(HostTest, UnknownDistributionAnswers108AndChangesNothing) {
  blnkSetNetBackEndForTesting(7);
  ASSERT_EQ(getPortCount(), 2);
  const std::map<std::string, std::string> before = snapshot();
  state.commands.clear();
  EXPECT_EQ(setIP(0, "10.0.0.9"), BLNK_ERR_DISTRIBUTION);
  EXPECT_EQ(setGateway(0, "x.x.x.x"), BLNK_ERR_DISTRIBUTION);
  EXPECT_EQ(setDHCP(1), BLNK_ERR_DISTRIBUTION);
  EXPECT_EQ(enablePort(1), BLNK_ERR_DISTRIBUTION);
  EXPECT_EQ(disablePort(0), BLNK_ERR_DISTRIBUTION);
  EXPECT_EQ(BLNK_ERR_DISTRIBUTION, 108);
  EXPECT_EQ(snapshot(), before);
  EXPECT_TRUE(state.commands.empty());
  EXPECT_STREQ(getIP(0), "10.0.0.5") << "the port keeps what it had";
  EXPECT_NE(read("tmp/sys_info_log").find("\n LOG_ERR: Unknown Distribution"), std::string::npos);
}

}  // namespace
