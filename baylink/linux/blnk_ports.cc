// Port discovery and the port getters; see blnk_ports.h.
#include "baylink/linux/blnk_ports.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_safe_file.h"
#include "baylink/linux/blnk_sys_log.h"

namespace {

constexpr int kGetterSlots = 16;

bool readSmallFile(const std::string& absolute, std::string* text) {
  if (!blnkReadFile(blnkHostPath(absolute), text)) return false;
  while (!text->empty() && (text->back() == '\n' || text->back() == ' ')) text->pop_back();
  return true;
}

// Interface numbers of the "ethN" entries of /proc/net/dev, ascending. Other names that merely
// contain "eth" (veth...) are not ports. False when the file does not open.
bool ethernetNumbers(std::vector<int>* numbers) {
  std::ifstream in(blnkHostPath("/proc/net/dev"));
  if (!in) return false;
  std::string line;
  while (std::getline(in, line)) {
    size_t colon = line.find(':');
    if (colon == std::string::npos) continue;
    std::string name = line.substr(0, colon);
    name.erase(0, name.find_first_not_of(' '));
    if (name.size() < 4 || name.compare(0, 3, "eth") != 0 ||
        name.find_first_not_of("0123456789", 3) != std::string::npos)
      continue;
    numbers->push_back(std::atoi(name.c_str() + 3));
  }
  std::sort(numbers->begin(), numbers->end());
  numbers->erase(std::unique(numbers->begin(), numbers->end()), numbers->end());
  return true;
}

// The kernel's routing table in the layout of "netstat -nr", for hosts without netstat.
bool kernelRoutes(std::string* output) {
  std::ifstream in(blnkHostPath("/proc/net/route"));
  if (!in) return false;
  std::string line;
  std::getline(in, line);  // heading
  while (std::getline(in, line)) {
    std::istringstream fields(line);
    std::string iface;
    unsigned destination = 0, gateway = 0, flags = 0, refs = 0, use = 0, metric = 0, mask = 0;
    if (!(fields >> iface >> std::hex >> destination >> gateway >> flags >> std::dec >> refs >> use >>
          metric >> std::hex >> mask))
      continue;
    auto dotted = [](unsigned v) {
      return std::to_string(v & 0xFF) + "." + std::to_string((v >> 8) & 0xFF) + "." +
             std::to_string((v >> 16) & 0xFF) + "." + std::to_string(v >> 24);
    };
    std::string flagText = std::string((flags & 1) != 0 ? "U" : "") + ((flags & 2) != 0 ? "G" : "");
    *output += dotted(destination) + " " + dotted(gateway) + " " + dotted(mask) + " " + flagText + " 0 0 0 " +
               iface + "\n";
  }
  return true;
}

// Gateway and default-route flag of an interface from "netstat -nr" ("%s %s %*s %s ... %s").
bool readRoutes(BlnkPort* port) {
  std::string output;
  if (blnkHostOps().run({"/bin/netstat", "-nr"}, &output) != 0) {
    output.clear();
    if (!kernelRoutes(&output)) return false;
  }
  std::istringstream lines(output);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream fields(line);
    std::string destination, gateway, mask, flags, mss, window, irtt, iface;
    if (!(fields >> destination >> gateway >> mask >> flags >> mss >> window >> irtt >> iface)) continue;
    if (flags != "UG" || iface != port->name) continue;
    port->gateway = gateway;
    port->defaultRoute = destination == "0.0.0.0";
    break;
  }
  return true;
}

std::string lspciPath() {
  struct stat st {};
  return ::stat(blnkHostPath("/sbin/lspci").c_str(), &st) == 0 ? "/sbin/lspci" : "/usr/bin/lspci";
}

void readAdapter(BlnkPort* port) {
  char target[512] = {};
  std::string link = blnkHostPath("/sys/class/net/" + port->name + "/device");
  ssize_t n = ::readlink(link.c_str(), target, sizeof(target) - 1);
  if (n <= 0) return;
  std::string pci(target, static_cast<size_t>(n));
  port->pciAddress = pci.substr(pci.rfind('/') + 1);
  std::string output;
  if (blnkHostOps().run({lspciPath(), "-s", port->pciAddress}, &output) != 0) return;
  std::string line = output.substr(0, output.find('\n'));
  size_t start = line.find("controller: ");
  start = start != std::string::npos ? start + 12 : line.find(": ");
  if (start != std::string::npos && start < line.size())
    port->type = line.substr(start + (line[start] == ':' ? 2 : 0));
}

void readLink(BlnkPort* port) {
  std::string text;
  if (readSmallFile("/sys/class/net/" + port->name + "/speed", &text))
    port->speed = std::max(0, std::atoi(text.c_str()));
  port->connected = readSmallFile("/sys/class/net/" + port->name + "/carrier", &text) && text == "1";
}

// One record; 0 or the error code of the interface query.
int discoverPort(int number, BlnkPort* port) {
  port->id = number;
  port->name = "eth" + std::to_string(number);
  BlnkInterfaceAddresses addresses;
  int rc = blnkHostOps().interfaceAddresses(port->name, &addresses);
  if (rc != 0) return rc;
  if (!addresses.address.empty()) port->address = addresses.address;
  if (!addresses.netmask.empty()) port->netmask = addresses.netmask;
  if (addresses.macKnown) {
    char mac[18];
    const unsigned char* m = addresses.mac;
    std::snprintf(mac, sizeof(mac), "%02x:%02x:%02x:%02x:%02x:%02x", m[0], m[1], m[2], m[3], m[4], m[5]);
    port->mac = mac;
    port->macId = mac;
  }
  if (!readRoutes(port)) return BLNK_ERR_PIPE;
  readAdapter(port);
  blnkNetBackEnd().readConfiguration(port);
  readLink(port);
  blnkReadNameServers(&port->primaryDns, &port->secondaryDns);
  if (!port->connected) {
    if (!port->enabled) port->method = kBlnkDisabled;
    port->address = port->netmask = port->gateway = "x.x.x.x";
  }
  port->givenAddress = port->address;
  port->givenNetmask = port->netmask;
  port->givenGateway = port->gateway;
  return 0;
}

}  // namespace

std::vector<BlnkPort>& blnkPorts() {
  static std::vector<BlnkPort>* ports = new std::vector<BlnkPort>();
  return *ports;
}

BlnkPort* blnkPortAt(int index) {
  std::vector<BlnkPort>& ports = blnkPorts();
  return index >= 0 && static_cast<size_t>(index) < ports.size() ? &ports[static_cast<size_t>(index)]
                                                                 : nullptr;
}

char* blnkGetterText(int slot, const std::string& text) {
  static char buffers[kGetterSlots][256];
  char* buffer = buffers[slot % kGetterSlots];
  std::snprintf(buffer, sizeof(buffers[0]), "%s", text.c_str());
  return buffer;
}

void blnkReadNameServers(std::string* primary, std::string* secondary) {
  std::ifstream in(blnkHostPath("/etc/resolv.conf"));
  std::string line;
  int found = 0;
  while (found < 2 && std::getline(in, line)) {
    std::istringstream fields(line.substr(0, line.find('#')));
    std::string keyword, value;
    if (!(fields >> keyword >> value) || keyword != "nameserver") continue;
    *(found++ == 0 ? primary : secondary) = value;
  }
}

extern "C" int getPortCount(void) {
  std::vector<BlnkPort>& ports = blnkPorts();
  ports.clear();
  std::vector<int> numbers;
  if (!ethernetNumbers(&numbers)) {
    blnkSysLog(kBlnkLogErr, "cannot open /proc/net/dev");
    return BLNK_ERR_FILE_OPEN;
  }
  for (int number : numbers) {
    BlnkPort port;
    int rc = discoverPort(number, &port);
    if (rc != 0) {
      blnkSysLog(kBlnkLogErr, "discovery of eth%d failed (%d)", number, rc);
      ports.clear();
      return rc;
    }
    ports.push_back(std::move(port));
  }
  return static_cast<int>(ports.size());
}

extern "C" int releasePortCount(void) {
  blnkPorts().clear();
  return 0;
}
