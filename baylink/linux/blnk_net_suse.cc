// The SuSE back end: /etc/sysconfig/network/ifcfg-eth-id-<mac>, the per-port route file
// ifroute-eth-id-<mac>, the default route in /etc/sysconfig/network/routes, and
// "/etc/init.d/network restart".
#include <unistd.h>

#include <cerrno>
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/blnk_host.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

const char kFolder[] = "/etc/sysconfig/network/";
const char kRoutes[] = "/etc/sysconfig/network/routes";

std::string configFile(const BlnkPort& port) { return kFolder + std::string("ifcfg-eth-id-") + port.macId; }
std::string routeFile(const BlnkPort& port) { return kFolder + std::string("ifroute-eth-id-") + port.macId; }

bool isDefaultFor(const std::string& line, const std::string& iface) {
  std::istringstream fields(line.substr(0, line.find('#')));
  bool isDefault = false;
  bool names = false;
  for (std::string token; fields >> token;) {
    isDefault = isDefault || token == "default";
    names = names || token == iface;
  }
  return isDefault && names;
}

// The routes file without default-route lines (those naming this port, or every one when
// allDefaults is set), other routes kept, plus replacement. An empty result removes the file.
int rewriteRoutes(const BlnkPort& port, const std::string& replacement, bool allDefaults) {
  std::string text;
  blnkReadSystemFile(kRoutes, &text);
  std::istringstream lines(text);
  std::string kept;
  for (std::string line; std::getline(lines, line);) {
    bool anyDefault = line.substr(0, line.find('#')).find("default") != std::string::npos;
    if (!isDefaultFor(line, port.name) && !(allDefaults && anyDefault)) kept += line + "\n";
  }
  kept += replacement;
  if (!kept.empty()) return blnkWriteSystemFile(kRoutes, kept);
  if (::unlink(blnkHostPath(kRoutes).c_str()) != 0 && errno != ENOENT) return -1;
  return 0;
}

class SuseBackEnd : public BlnkNetBackEnd {
 public:
  int distribution() const override { return kBlnkSuse; }

  void readConfiguration(BlnkPort* port) override {
    std::string text;
    if (!blnkReadSystemFile(configFile(*port), &text)) return;
    port->method = blnkConfigValue(text, "BOOTPROTO") == "dhcp" ? kBlnkDhcp : kBlnkStatic;
    port->enabled = blnkConfigValue(text, "STARTMODE") == "onboot";
  }

  int apply(const BlnkPortChange& change) override {
    const BlnkPort& port = *change.port;
    int rc = change.method == kBlnkDhcp ? writeDhcp(port) : writeStatic(change);
    if (rc != 0) return rc;
    return blnkRunRestart({"/etc/init.d/network", "restart"});
  }

  int setStartMode(const BlnkPort& port, bool enable) override {
    std::string text;
    if (!blnkReadSystemFile(configFile(port), &text)) return -1;
    std::istringstream lines(text);
    std::string out;
    for (std::string line; std::getline(lines, line);) {
      if (line.find("STARTMODE") != std::string::npos)
        line = enable ? "STARTMODE='onboot'" : "STARTMODE='manual'";
      out += line + "\n";
    }
    if (blnkWriteSystemFile(configFile(port), out) != 0) return -1;
    if (blnkRunRestart({"/etc/init.d/network", "restart"}) == 0) return 0;
    if (blnkRunRestart({"/etc/init.d/network", "restart"}) == 0) return 0;
    return BLNK_ERR_DISTRIBUTION;
  }

 private:
  static std::string nmName(const BlnkPort& port) { return "_nm_name='bus-pci-" + port.pciAddress + "'\n"; }

  int writeStatic(const BlnkPortChange& c) {
    const BlnkPort& port = *c.port;
    std::string network = blnkNetworkOf(c.address, c.netmask);
    std::string text = "BOOTPROTO='static'\nBROADCAST=''\nIPADDR='" + c.address + "'\nMTU=''\nNETMASK='" +
                       c.netmask + "'\nNETWORK='" + network +
                       "'\nREMOTE_IPADDR=''\nSTARTMODE='onboot'\nUNIQUE=qvrx.netmodifyAPI\n" + nmName(port);
    int rc = blnkWriteSystemFile(configFile(port), text);
    if (rc != 0) return rc;
    if (c.gateway == kBlnkNoAddress) {
      if (::unlink(blnkHostPath(routeFile(port)).c_str()) != 0 && errno != ENOENT) return -1;
      return rewriteRoutes(port, "", false);
    }
    if (port.defaultRoute) {
      rc = rewriteRoutes(port, "default " + c.gateway + " - " + port.name + "\n", true);
      if (rc != 0) return rc;
      blnkHostOps().run({"/sbin/route", "del", "default"}, nullptr);
      return blnkWriteSystemFile(routeFile(port), "");
    }
    return blnkWriteSystemFile(routeFile(port),
                               network + " " + c.gateway + " " + c.netmask + " " + port.name + "\n");
  }

  int writeDhcp(const BlnkPort& port) {
    std::string text =
        "BOOTPROTO='dhcp'\nMTU=''\nREMOTE_IPADDR=''\nSTARTMODE='onboot'\nUNIQUE=qvrx.netmodifyAPI\n" +
        nmName(port) + "DHCLIENT_SET_DEFAULT_ROUTE=\"" + (port.defaultRoute ? "yes" : "no") + "\"\n";
    int rc = blnkWriteSystemFile(configFile(port), text);
    if (rc != 0 || !port.defaultRoute) return rc;
    return rewriteRoutes(port, "", true);
  }
};

}  // namespace

std::unique_ptr<BlnkNetBackEnd> blnkMakeSuseBackEnd() { return std::make_unique<SuseBackEnd>(); }
