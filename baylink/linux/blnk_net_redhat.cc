// The Red Hat back end: /etc/sysconfig/network-scripts/ifcfg-ethN, the default gateway in
// /etc/sysconfig/network, and "/etc/init.d/network restart".
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

const char kNetwork[] = "/etc/sysconfig/network";

std::string configFile(const BlnkPort& port) { return "/etc/sysconfig/network-scripts/ifcfg-" + port.name; }

int restart() { return blnkRunRestart({"/etc/init.d/network", "restart"}); }

// /etc/sysconfig/network with its GATEWAY and GATEWAYDEV lines replaced (set) or, when they
// name this port, removed (cleared). Other lines are kept.
int updateDefaultGateway(const BlnkPort& port, const std::string& gateway, bool set) {
  std::string text;
  blnkReadSystemFile(kNetwork, &text);
  bool ours = blnkConfigValue(text, "GATEWAYDEV") == port.name;
  if (!set && !ours) return 0;
  std::istringstream lines(text);
  std::string out;
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind("GATEWAY=", 0) == 0 || line.rfind("GATEWAYDEV=", 0) == 0) continue;
    out += line + "\n";
  }
  if (set) out += "GATEWAY=" + gateway + "\nGATEWAYDEV=" + port.name + "\n";
  return blnkWriteSystemFile(kNetwork, out);
}

class RedHatBackEnd : public BlnkNetBackEnd {
 public:
  int distribution() const override { return kBlnkRedHat; }

  void readConfiguration(BlnkPort* port) override {
    std::string text;
    if (!blnkReadSystemFile(configFile(*port), &text)) return;
    port->method = blnkConfigValue(text, "BOOTPROTO") == "dhcp" ? kBlnkDhcp : kBlnkStatic;
    port->enabled = blnkConfigValue(text, "ONBOOT") == "yes";
  }

  int apply(const BlnkPortChange& c) override {
    const BlnkPort& port = *c.port;
    bool hasGateway = c.gateway != kBlnkNoAddress;
    bool defaultRoute = port.defaultRoute && (hasGateway || c.method == kBlnkDhcp);
    std::string text = "DEVICE=" + port.name + "\n";
    if (c.method == kBlnkDhcp) {
      text += "BOOTPROTO=dhcp\nONBOOT=yes\nTYPE=Ethernet\n";
    } else {
      text += "BOOTPROTO=static\nONBOOT=yes\nTYPE=Ethernet\nIPADDR=" + c.address + "\nNETMASK=" + c.netmask +
              "\n";
      if (hasGateway) text += "GATEWAY=" + c.gateway + "\n";
    }
    text += std::string("DEFROUTE=") + (defaultRoute ? "yes" : "no") + "\n";
    int rc = blnkWriteSystemFile(configFile(port), text);
    if (rc == 0 && c.method == kBlnkStatic)
      rc = updateDefaultGateway(port, c.gateway, hasGateway && port.defaultRoute);
    if (rc == 0 && c.method == kBlnkDhcp) rc = updateDefaultGateway(port, "", false);
    return rc != 0 ? rc : restart();
  }

  int setStartMode(const BlnkPort& port, bool enable) override {
    std::string text;
    if (!blnkReadSystemFile(configFile(port), &text)) return -1;
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("ONBOOT") != std::string::npos) line = enable ? "ONBOOT=yes" : "ONBOOT=no";
      out += line + "\n";
    }
    if (blnkWriteSystemFile(configFile(port), out) != 0) return -1;
    if (restart() == 0 || restart() == 0) return 0;
    return BLNK_ERR_DISTRIBUTION;
  }
};

}  // namespace

std::unique_ptr<BlnkNetBackEnd> blnkMakeRedHatBackEnd() { return std::make_unique<RedHatBackEnd>(); }
