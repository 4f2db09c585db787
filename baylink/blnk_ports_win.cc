// The network ports on Windows: the port table is the "Ethernet adapter" sections of ipconfig
// (with the states of the interface list), every change one checked netsh command through the
// host operations' command runner (blnk_win_net.h). Port N is named "ethN" by the order ipconfig
// lists the adapters in; netsh is given the adapter's connection name.
#include <cstdio>
#include <string>
#include <vector>

#include "baylink/baylink.h"
#include "baylink/blnk_debug.h"
#include "baylink/blnk_host.h"
#include "baylink/blnk_win_net.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

struct Port {
  blnkwin::Adapter adapter;
  // The last address, netmask and gateway given to a setter of this port, starting from what
  // discovery found: a static configuration needs all three, and each setter gives one.
  std::string givenAddress;
  std::string givenNetmask;
  std::string givenGateway;
};

std::vector<Port>& ports() {
  static std::vector<Port>* table = new std::vector<Port>();
  return *table;
}

Port* portAt(int index) {
  std::vector<Port>& table = ports();
  return index >= 0 && static_cast<size_t>(index) < table.size() ? &table[static_cast<size_t>(index)]
                                                                 : nullptr;
}

enum Slot {
  kIfName,
  kId,
  kType,
  kMac,
  kIp,
  kNetmask,
  kGateway,
  kPrimary,
  kSecondary,
  kStatus,
  kFixed,
  kSlots = kFixed + 3
};

char* slotText(int slot, const std::string& text) {
  static char buffers[kSlots][256];
  std::snprintf(buffers[slot], sizeof buffers[slot], "%s", text.c_str());
  return buffers[slot];
}

char* text(int index, Slot slot, std::string (*field)(int index, const Port&)) {
  const Port* port = portAt(index);
  return port != nullptr ? slotText(slot, field(index, *port)) : BLNK_BAD_PORT;
}

std::string nameServer(const Port& port, size_t place) {
  const std::vector<std::string>& servers = port.adapter.nameServers;
  return place < servers.size() ? servers[place] : std::string(kBlnkNoAddress);
}

int applyStatic(int index, std::string Port::*field, const char* value, bool noneAllowed) {
  Port* port = portAt(index);
  if (port == nullptr) return -1;
  if (value == nullptr || !(noneAllowed ? blnkValidAddressOrNone(value) : blnkValidAddress(value))) {
    blnkTrace("refused value for eth%d: not a dotted address", index);
    return -1;
  }
  port->*field = value;
  if (!blnkValidAddress(port->givenAddress.c_str()) || !blnkValidAddress(port->givenNetmask.c_str())) {
    blnkTrace("eth%d needs an address and a netmask before a static configuration", index);
    return -1;
  }
  const std::string gateway =
      blnkValidAddress(port->givenGateway.c_str()) ? port->givenGateway : std::string(kBlnkNoAddress);
  const int rc = blnkwin::setStaticAddress(blnkHostOps(), port->adapter, port->givenAddress,
                                           port->givenNetmask, gateway);
  if (rc == 0) {
    port->adapter.dhcp = false;
    port->adapter.address = port->givenAddress;
    port->adapter.netmask = port->givenNetmask;
    port->adapter.gateway = gateway;
  }
  return rc;
}

int setServer(int index, int which, const char* address) {
  Port* port = portAt(index);
  if (port == nullptr || address == nullptr) return -1;
  return blnkwin::setNameServer(blnkHostOps(), &port->adapter, which, address);
}

int setAdmin(int index, bool enable) {
  Port* port = portAt(index);
  return port != nullptr ? blnkwin::setAdmin(blnkHostOps(), port->adapter, enable) : -1;
}

}  // namespace

extern "C" int getPortCount(void) {
  std::vector<blnkwin::Adapter> adapters;
  const int count = blnkwin::discoverAdapters(blnkHostOps(), &adapters);
  ports().clear();
  // The listing's limit (kAdaptersMax) keeps a real count below 103, the code of a command that
  // could not be started.
  static_assert(blnkwin::kAdaptersMax < 103);
  if (count == 103) return count;
  for (blnkwin::Adapter& adapter : adapters) {
    Port port;
    port.givenAddress = adapter.address;
    port.givenNetmask = adapter.netmask;
    port.givenGateway = adapter.gateway;
    port.adapter = std::move(adapter);
    ports().push_back(std::move(port));
  }
  return static_cast<int>(ports().size());
}

extern "C" int releasePortCount(void) {
  ports().clear();
  return 0;
}

extern "C" char* getIfName(int port) {
  return text(port, kIfName, [](int index, const Port&) { return "eth" + std::to_string(index); });
}
extern "C" char* getID(int port) {
  return text(port, kId, [](int index, const Port&) { return std::to_string(index); });
}
extern "C" char* getType(int port) {
  return text(port, kType, [](int, const Port& p) { return p.adapter.description; });
}
extern "C" char* getMac(int port) {
  return text(port, kMac, [](int, const Port& p) { return p.adapter.mac; });
}
extern "C" char* getIP(int port) {
  return text(port, kIp, [](int, const Port& p) { return p.adapter.address; });
}
extern "C" char* getNetmask(int port) {
  return text(port, kNetmask, [](int, const Port& p) { return p.adapter.netmask; });
}
extern "C" char* getGateway(int port) {
  return text(port, kGateway, [](int, const Port& p) { return p.adapter.gateway; });
}
extern "C" char* getPrimaryDNS(int port) {
  return text(port, kPrimary, [](int, const Port& p) { return nameServer(p, 0); });
}
extern "C" char* getSecondaryDNS(int port) {
  return text(port, kSecondary, [](int, const Port& p) { return nameServer(p, 1); });
}
extern "C" char* getStatus(int port) {
  return text(port, kStatus, [](int, const Port& p) {
    return std::string(p.adapter.connected ? "Connected" : "Disconnected");
  });
}

// ipconfig does not tell the link speed.
extern "C" int getSpeed(int port) { return portAt(port) != nullptr ? 0 : -1; }

extern "C" int getConnected(int port) {
  const Port* p = portAt(port);
  return p != nullptr ? (p->adapter.connected ? 1 : 0) : -1;
}

// ipconfig lists only enabled adapters: a disabled one is not in the table at all.
extern "C" int getEnabled(int port) { return portAt(port) != nullptr ? 1 : -1; }

extern "C" int isDHCP(int port) {
  const Port* p = portAt(port);
  return p != nullptr ? (p->adapter.dhcp ? 1 : 0) : -1;
}

extern "C" char* getTertiaryDNS(void) { return slotText(kFixed, kBlnkNoAddress); }
extern "C" char* getDHCP(void) { return slotText(kFixed + 1, kBlnkNoAddress); }
extern "C" char* getEthVersion(void) { return slotText(kFixed + 2, "0.13"); }

extern "C" int setIP(int port, const char* address) {
  return applyStatic(port, &Port::givenAddress, address, false);
}
extern "C" int setNetmask(int port, const char* netmask) {
  return applyStatic(port, &Port::givenNetmask, netmask, false);
}
extern "C" int setGateway(int port, const char* gateway) {
  return applyStatic(port, &Port::givenGateway, gateway, true);
}

extern "C" int setDHCP(int port) {
  Port* p = portAt(port);
  if (p == nullptr) return -1;
  const int rc = blnkwin::setDhcp(blnkHostOps(), p->adapter);
  if (rc == 0) p->adapter.dhcp = true;
  return rc;
}

extern "C" int setPrimaryDNS(int port, const char* address) { return setServer(port, 1, address); }
extern "C" int setSecondaryDNS(int port, const char* address) { return setServer(port, 2, address); }
extern "C" int setTertiaryDNS(void) { return 0; }
extern "C" int enablePort(int port) { return setAdmin(port, true); }
extern "C" int disablePort(int port) { return setAdmin(port, false); }
