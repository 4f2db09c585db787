// The Windows build has no SNMP library (Net-SNMP has no Windows build here): SNMPv2c and SNMPv3
// receivers are refused with a clear reason on every send and test. SNMPv1 traps have their own
// encoder and are sent as on every platform.
#include "server/events/snmp_transport.h"

std::string sendSnmpV2Trap(const SnmpV2Peer&, const SnmpEngine&, const std::vector<SnmpBinding>&) {
  return "SNMPv2c and SNMPv3 traps are not available in this build";
}
