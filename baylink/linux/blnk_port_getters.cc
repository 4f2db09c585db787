// The port getters: each checks the index and answers from the port table; texts come back in
// library-owned buffers, BLNK_BAD_PORT (or -1) for an index outside the table.
#include "baylink/baylink.h"
#include "baylink/linux/blnk_ports.h"
#include "baylink/linux/blnk_text_check.h"

namespace {

enum Slot { kIfName, kId, kType, kMac, kIp, kNetmask, kGateway, kPrimary, kSecondary, kStatus, kFixed };

char* text(int index, Slot slot, std::string BlnkPort::*field) {
  BlnkPort* port = blnkPortAt(index);
  return port != nullptr ? blnkGetterText(slot, port->*field) : BLNK_BAD_PORT;
}

}  // namespace

extern "C" char* getIfName(int port) { return text(port, kIfName, &BlnkPort::name); }
extern "C" char* getType(int port) { return text(port, kType, &BlnkPort::type); }
extern "C" char* getMac(int port) { return text(port, kMac, &BlnkPort::mac); }
extern "C" char* getIP(int port) { return text(port, kIp, &BlnkPort::address); }
extern "C" char* getNetmask(int port) { return text(port, kNetmask, &BlnkPort::netmask); }
extern "C" char* getGateway(int port) { return text(port, kGateway, &BlnkPort::gateway); }
extern "C" char* getPrimaryDNS(int port) { return text(port, kPrimary, &BlnkPort::primaryDns); }
extern "C" char* getSecondaryDNS(int port) { return text(port, kSecondary, &BlnkPort::secondaryDns); }

extern "C" char* getID(int port) {
  BlnkPort* p = blnkPortAt(port);
  return p != nullptr ? blnkGetterText(kId, std::to_string(p->id)) : BLNK_BAD_PORT;
}

extern "C" char* getStatus(int port) {
  BlnkPort* p = blnkPortAt(port);
  return p != nullptr ? blnkGetterText(kStatus, p->connected ? "Connected" : "Disconnected") : BLNK_BAD_PORT;
}

extern "C" int getSpeed(int port) {
  BlnkPort* p = blnkPortAt(port);
  return p != nullptr ? p->speed : -1;
}

extern "C" int getConnected(int port) {
  BlnkPort* p = blnkPortAt(port);
  return p != nullptr ? (p->connected ? 1 : 0) : -1;
}

extern "C" int getEnabled(int port) {
  BlnkPort* p = blnkPortAt(port);
  if (p == nullptr) return -1;
  return p->method != kBlnkDisabled && p->enabled ? 1 : 0;
}

extern "C" int isDHCP(int port) {
  BlnkPort* p = blnkPortAt(port);
  return p != nullptr ? (p->method == kBlnkDhcp ? 1 : 0) : -1;
}

extern "C" char* getTertiaryDNS(void) { return blnkGetterText(kFixed, kBlnkNoAddress); }
extern "C" char* getDHCP(void) { return blnkGetterText(kFixed + 1, kBlnkNoAddress); }
extern "C" char* getEthVersion(void) { return blnkGetterText(kFixed + 2, "0.13"); }
