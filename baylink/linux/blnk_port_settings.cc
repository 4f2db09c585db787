// The port setters: address, netmask, gateway, DHCP, name servers, enabling and disabling.
// Every value is checked before it reaches a configuration file.
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_ports.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

enum Field { kAddress, kNetmask, kGateway, kNone };

int applyChange(int index, int method, Field field, const char* value) {
  BlnkPort* port = blnkPortAt(index);
  if (port == nullptr) return -1;
  bool valid =
      field == kNone || (field == kGateway ? blnkValidAddressOrNone(value) : blnkValidAddress(value));
  if (!valid) {
    blnkSysLog(kBlnkLogErr, "refused value for eth%d: not a dotted address", port->id);
    return -1;
  }
  if (field == kAddress) port->givenAddress = value;
  if (field == kNetmask) port->givenNetmask = value;
  if (field == kGateway) port->givenGateway = value;
  if (method == kBlnkStatic &&
      (!blnkValidAddress(port->givenAddress.c_str()) || !blnkValidAddress(port->givenNetmask.c_str()))) {
    blnkSysLog(kBlnkLogErr, "eth%d needs an address and a netmask before a static configuration", port->id);
    return -1;
  }
  BlnkPortChange change{port, method, port->givenAddress, port->givenNetmask,
                        blnkValidAddress(port->givenGateway.c_str()) ? port->givenGateway : kBlnkNoAddress};
  int rc = blnkNetBackEnd().apply(change);
  if (rc == 0) {
    port->method = method;
    if (method == kBlnkStatic) {
      port->address = change.address;
      port->netmask = change.netmask;
      port->gateway = change.gateway;
    }
  }
  return rc;
}

int rewriteNameServers(const std::string& primary, const std::string& secondary) {
  std::string old;
  blnkReadSystemFile("/etc/resolv.conf", &old);
  std::istringstream lines(old);
  std::string text;
  for (std::string line; std::getline(lines, line);) {
    if (line.substr(0, line.find('#')).find("nameserver") == std::string::npos) text += line + "\n";
  }
  for (const std::string& server : {primary, secondary}) {
    if (blnkValidAddress(server.c_str())) text += "nameserver " + server + "\n";
  }
  int rc = blnkWriteSystemFile("/etc/resolv.conf.webui", old);
  return rc != 0 ? rc : blnkWriteSystemFile("/etc/resolv.conf", text);
}

int setNameServer(int index, const char* address, bool primary) {
  BlnkPort* port = blnkPortAt(index);
  if (port == nullptr) return -1;
  if (!blnkValidAddress(address)) {
    blnkSysLog(kBlnkLogErr, "refused name server for eth%d: not a dotted address", port->id);
    return -1;
  }
  (primary ? port->primaryDns : port->secondaryDns) = address;
  int rc = rewriteNameServers(port->primaryDns, port->secondaryDns);
  if (rc == 0) {
    for (BlnkPort& other : blnkPorts()) {
      other.primaryDns = port->primaryDns;
      other.secondaryDns = port->secondaryDns;
    }
  }
  return rc;
}

int setStart(int index, bool enable) {
  BlnkPort* port = blnkPortAt(index);
  if (port == nullptr) return -1;
  int rc = blnkNetBackEnd().setStartMode(*port, enable);
  if (rc == 0) port->enabled = enable;
  return rc;
}

}  // namespace

extern "C" int setIP(int port, const char* address) {
  return applyChange(port, kBlnkStatic, kAddress, address);
}
extern "C" int setNetmask(int port, const char* netmask) {
  return applyChange(port, kBlnkStatic, kNetmask, netmask);
}
extern "C" int setGateway(int port, const char* gateway) {
  return applyChange(port, kBlnkStatic, kGateway, gateway);
}
extern "C" int setDHCP(int port) { return applyChange(port, kBlnkDhcp, kNone, nullptr); }
extern "C" int setPrimaryDNS(int port, const char* address) { return setNameServer(port, address, true); }
extern "C" int setSecondaryDNS(int port, const char* address) { return setNameServer(port, address, false); }
extern "C" int setTertiaryDNS(void) { return 0; }
extern "C" int enablePort(int port) { return setStart(port, true); }
extern "C" int disablePort(int port) { return setStart(port, false); }
