// The port table: one record per Ethernet port "ethN", built by getPortCount from the host
// (interface list, addresses, routes, adapter, configured method, link) and dropped by
// releasePortCount. The getters and setters of the network settings work on it.
//
// Thread safety: none; callers serialise.
#pragma once

#include <string>
#include <vector>

enum BlnkMethod { kBlnkDhcp = 1, kBlnkStatic = 2, kBlnkDisabled = 3 };

struct BlnkPort {
  std::string name;  // "eth" and the number
  int id = 0;
  std::string type = "Unknown";
  int speed = 0;  // Mb/s, 0 when unknown
  std::string mac = "xx:xx:xx:xx:xx:xx";
  std::string macId;  // the same in lower case without a placeholder, for SuSE file names
  std::string pciAddress;
  bool connected = false;
  int method = kBlnkStatic;
  bool enabled = true;  // the configuration starts the port at boot
  std::string address = "x.x.x.x";
  std::string netmask = "x.x.x.x";
  std::string gateway = "x.x.x.x";
  bool defaultRoute = false;
  std::string primaryDns = "x.x.x.x";
  std::string secondaryDns = "x.x.x.x";
  // The last address, netmask and gateway given to a setter for this port, starting from what
  // discovery found. Kept per port: one port's values never reach another port's files.
  std::string givenAddress;
  std::string givenNetmask;
  std::string givenGateway;
};

// The discovered ports; empty before getPortCount.
std::vector<BlnkPort>& blnkPorts();
// The port at index, or null (the getters then answer -1).
BlnkPort* blnkPortAt(int index);
// Copies text into a library-owned buffer of the named getter and returns it.
char* blnkGetterText(int slot, const std::string& text);

// Reads "nameserver" lines of /etc/resolv.conf (first two). Absent ones stay "x.x.x.x".
void blnkReadNameServers(std::string* primary, std::string* secondary);
