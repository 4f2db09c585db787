// Test double of the host operations for the Windows network and host-setting tests: records
// every command line as Windows would receive it (blnkwin::commandLine) and answers from tables
// keyed by that line (unknown commands print nothing and exit 0); host name and clock changes
// are recorded and succeed. The record is shared, so a test keeps reading it after handing the
// operations to the library (blnkSetHostForTesting).
//
// Thread safety: one test at a time.
#pragma once

#include <ctime>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "baylink/blnk_host.h"
#include "baylink/blnk_win_net.h"

namespace blnktest {

struct HostRecord {
  std::vector<std::string> lines;
  std::map<std::string, std::string> outputs;
  std::map<std::string, int> statuses;
  std::vector<std::string> hostNames;
  std::vector<std::time_t> clocks;
};

// "ipconfig /all" of a host with three Ethernet adapters ("Local Area Connection" static with two
// name servers, "Ethernet 2" without media, "Ethernet 3" by DHCP) and a wireless one, and the
// interface list that goes with it.
inline constexpr char kIpconfig[] =
    "\r\nWindows IP Configuration\r\n\r\n"
    "   Host Name . . . . . . . . . . . . : storage-01\r\n"
    "   Primary Dns Suffix  . . . . . . . : \r\n\r\n"
    "Ethernet adapter Local Area Connection:\r\n\r\n"
    "   Connection-specific DNS Suffix  . : example.net\r\n"
    "   Description . . . . . . . . . . . : Intel(R) PRO/1000 MT Network Connection\r\n"
    "   Physical Address. . . . . . . . . : 00-0C-29-3A-4B-5C\r\n"
    "   DHCP Enabled. . . . . . . . . . . : No\r\n"
    "   IP Address. . . . . . . . . . . . : 192.0.2.10\r\n"
    "   Subnet Mask . . . . . . . . . . . : 255.255.255.0\r\n"
    "   Default Gateway . . . . . . . . . : 192.0.2.1\r\n"
    "   DNS Servers . . . . . . . . . . . : 192.0.2.53\r\n"
    "                                       198.51.100.53\r\n\r\n"
    "Wireless LAN adapter Wi-Fi:\r\n\r\n"
    "   Description . . . . . . . . . . . : Some Wireless Card\r\n"
    "   IPv4 Address. . . . . . . . . . . : 203.0.113.9(Preferred)\r\n\r\n"
    "Ethernet adapter Ethernet 2:\r\n\r\n"
    "   Media State . . . . . . . . . . . : Media disconnected\r\n"
    "   Description . . . . . . . . . . . : Broadcom NetXtreme Gigabit Ethernet\r\n"
    "   Physical Address. . . . . . . . . : 00-10-18-AA-BB-CC\r\n"
    "   DHCP Enabled. . . . . . . . . . . : Yes\r\n\r\n"
    "Ethernet adapter Ethernet 3:\r\n\r\n"
    "   Description . . . . . . . . . . . : Virtual Adapter\r\n"
    "   Physical Address. . . . . . . . . : 00-15-5D-01-02-03\r\n"
    "   DHCP Enabled. . . . . . . . . . . : Yes\r\n"
    "   Link-local IPv6 Address . . . . . : fe80::1%12(Preferred)\r\n"
    "   IPv4 Address. . . . . . . . . . . : 198.51.100.20(Preferred)\r\n"
    "   Subnet Mask . . . . . . . . . . . : 255.255.254.0\r\n"
    "   Default Gateway . . . . . . . . . : fe80::5%12\r\n"
    "                                       198.51.100.1\r\n";

inline constexpr char kInterfaces[] =
    "\r\nIdx     Met         MTU          State                Name\r\n"
    "---  ----------  ----------  ------------  ---------------------------\r\n"
    "  1          50  4294967295  connected     Loopback Pseudo-Interface 1\r\n"
    " 11          10        1500  connected     Local Area Connection\r\n"
    " 12          20        1500  disconnected  Ethernet 2\r\n"
    " 14          25        1500  disconnected  Ethernet 3\r\n";

class RecordingOps : public BlnkHostOps {
 public:
  explicit RecordingOps(std::shared_ptr<HostRecord> shared = std::make_shared<HostRecord>())
      : record(std::move(shared)) {}
  int run(const std::vector<std::string>& argv, std::string* output) override {
    const std::string line = blnkwin::commandLine(argv);
    record->lines.push_back(line);
    if (output != nullptr) *output = record->outputs[line];
    auto status = record->statuses.find(line);
    return status == record->statuses.end() ? 0 : status->second;
  }
  int setHostName(const std::string& name) override {
    record->hostNames.push_back(name);
    return 0;
  }
  int setClock(std::time_t when) override {
    record->clocks.push_back(when);
    return 0;
  }
  bool systemNames(std::string* node, std::string* release, std::string* version) override {
    *node = "storage-01.example.net";
    release->clear();
    version->clear();
    return true;
  }
  int interfaceAddresses(const std::string&, BlnkInterfaceAddresses*) override { return 102; }

  std::shared_ptr<HostRecord> record;
};

}  // namespace blnktest
