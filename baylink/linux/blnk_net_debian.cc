// The Debian back end: the port's stanza in /etc/network/interfaces (the previous file kept as
// interfaces.webui) and "/etc/init.d/networking restart". Enabling and disabling ports is not
// supported there.
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/linux/blnk_net_backend.h"
#include "baylink/linux/blnk_sys_log.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

const char kInterfaces[] = "/etc/network/interfaces";

bool startsStanza(const std::string& line) {
  std::istringstream fields(line);
  std::string word;
  fields >> word;
  return word == "iface" || word == "auto" || word == "mapping" || word == "source" ||
         word.rfind("allow-", 0) == 0;
}

bool isOurIface(const std::string& line, const std::string& name) {
  std::istringstream fields(line);
  std::string keyword, iface;
  return (fields >> keyword >> iface) && keyword == "iface" && iface == name;
}

// The file with the port's iface stanza replaced by stanza (appended when there was none).
std::string replaceStanza(const std::string& text, const std::string& name, const std::string& stanza) {
  std::istringstream lines(text);
  std::string out;
  bool inOurs = false;
  bool replaced = false;
  for (std::string line; std::getline(lines, line);) {
    if (startsStanza(line)) inOurs = false;
    if (isOurIface(line, name)) {
      inOurs = true;
      if (!replaced) out += stanza;
      replaced = true;
    }
    if (!inOurs) out += line + "\n";
  }
  if (!replaced) out += stanza;
  return out;
}

class DebianBackEnd : public BlnkNetBackEnd {
 public:
  int distribution() const override { return kBlnkDebian; }

  void readConfiguration(BlnkPort* port) override {
    std::string text;
    if (!blnkReadSystemFile(kInterfaces, &text)) return;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
      std::istringstream fields(line);
      std::string keyword, iface, family, method;
      if ((fields >> keyword >> iface >> family >> method) && keyword == "iface" && iface == port->name)
        port->method = method == "dhcp" ? kBlnkDhcp : kBlnkStatic;
    }
  }

  int apply(const BlnkPortChange& c) override {
    std::string old;
    blnkReadSystemFile(kInterfaces, &old);
    std::string stanza =
        "iface " + c.port->name + (c.method == kBlnkDhcp ? " inet dhcp\n" : " inet static\n");
    if (c.method != kBlnkDhcp) {
      stanza += "address " + c.address + "\nnetmask " + c.netmask + "\n";
      if (c.gateway != kBlnkNoAddress) stanza += "gateway " + c.gateway + "\n";
    }
    int rc = blnkWriteSystemFile(std::string(kInterfaces) + ".webui", old);
    if (rc == 0) rc = blnkWriteSystemFile(kInterfaces, replaceStanza(old, c.port->name, stanza));
    return rc != 0 ? rc : blnkRunRestart({"/etc/init.d/networking", "restart"});
  }

  int setStartMode(const BlnkPort&, bool) override {
    blnkSysLog(kBlnkLogErr, "Distribution Not Support");
    return BLNK_ERR_DISTRIBUTION;
  }
};

}  // namespace

std::unique_ptr<BlnkNetBackEnd> blnkMakeDebianBackEnd() { return std::make_unique<DebianBackEnd>(); }
