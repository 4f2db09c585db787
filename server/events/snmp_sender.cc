// The "snmp" channel's sender; see snmp_sender.h.
#include "server/events/snmp_sender.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/debug.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/notifier_settings.h"
#include "server/events/stream_socket.h"
#include "server/net/socket_layer.h"
#include "server/request/local_addresses.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kSendDebugCode = 0x400014;
constexpr uint32_t kErrorDebugCode = 0x400011;
constexpr int kSenderInUse = 5;
constexpr uint32_t kLevelPassingEveryFilter = 4;

}  // namespace

SnmpReceiver snmpReceiverAt(VariableTable settings, int index) {
  SnmpReceiver receiver;
  const char* server = indexedValue(settings, "SnmpServer", index);
  const char* community = indexedValue(settings, "SnmpCommunity", index);
  const char* filter = indexedValue(settings, "SnmpIWE", index);
  const char* port = indexedValue(settings, "SnmpPort", index);
  receiver.server = server != nullptr ? trimBlanks(server) : std::string();
  receiver.complete = !receiver.server.empty() && community != nullptr && filter != nullptr &&
                      std::strlen(filter) >= 3 && port != nullptr;
  if (receiver.complete) {
    receiver.community = community;
    receiver.filter = filter;
    receiver.port = port;
  }
  return receiver;
}

namespace {

SnmpTrapFields trapFields(const SnmpReceiver& receiver, const EventRecord& record, uint32_t agentAddress) {
  SnmpTrapFields fields;
  fields.community = receiver.community;
  fields.agentAddress = agentAddress;
  fields.specificTrap = record.concernLevel;
  fields.timeStamp = programUptimeHundredths();
  fields.device = record.device;
  fields.message = record.message;
  return fields;
}

void sendToReceiver(const SnmpReceiver& receiver, const EventRecord& record, uint32_t agentAddress) {
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) {
    debugPrint(kErrorDebugCode, "snmp: SendTrap: Invalid port <%s> for server %s\n", receiver.port.c_str(),
               receiver.server.c_str());
    return;
  }
  sendSnmpTrap(receiver.server.c_str(), port, encodeSnmpTrap(trapFields(receiver, record, agentAddress)));
}

}  // namespace

bool readSnmpReceivers(SnmpReceivers* receivers) {
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.snmpInUse, kSenderInUse)) return false;
  for (int i = 0; i < kSnmpReceiverSlots; ++i) (*receivers)[i] = snmpReceiverAt(settings.snmp, i);
  // Freed only if still ours: the word is never taken from its holder.
  int expected = kSenderInUse;
  settings.snmpInUse.compare_exchange_strong(expected, 0);
  return true;
}

bool snmpReceiverWants(const SnmpReceiver& receiver, uint32_t concernLevel) {
  if (!receiver.complete) return false;
  return concernLevel == kLevelPassingEveryFilter || filterSelects(receiver.filter, concernLevel);
}

uint32_t sendSnmpTrap(const char* server, uint16_t port, const ByteString& message) {
  if (server == nullptr || server[0] == '\0' || message.empty()) {
    debugPrint(kErrorDebugCode, "snmp: SendTrap: Invalid parameters \n");
    return 1;
  }
  debugPrint(kSendDebugCode, "snmp: SendTrap: Server %s on port %d\n", server, port);
  SocketOwner socket;
  const uint32_t status = connectToHost(server, nullptr, port, socket.address(), kUdpSpecifier);
  if (status != kNetNoError) {
    char* text = socketStatusText(status);
    debugPrint(kErrorDebugCode, "snmp: SendTrap: Connect error: %s \n", text != nullptr ? text : "");
    std::free(text);
    return status;
  }
  if (writeToSocket(socket.get(), message.data(), message.size()) != 0) {
    debugPrint(kErrorDebugCode, "snmp: SendTrap: writeToSocket Failed\n");
    return 1;
  }
  return 0;
}

uint32_t snmpAgentAddress() {
  // The server's first address as the network chose it, not the resolver's first answer for the
  // host name (127.0.1.1 on many hosts, which tells a receiver nothing).
  const std::vector<uint32_t> addresses = localAddresses();
  return addresses.empty() ? 0 : addresses.front();
}

int sendSnmpNotification(EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr) {
    freeEventRecord(record);
    return 2;
  }
  SnmpReceivers receivers;
  if (!readSnmpReceivers(&receivers)) {
    freeEventRecord(record);
    return 1;
  }
  bool haveAgentAddress = false;
  uint32_t agentAddress = 0;
  for (const SnmpReceiver& receiver : receivers) {
    if (!snmpReceiverWants(receiver, record->concernLevel)) continue;
    if (!haveAgentAddress) {
      agentAddress = snmpAgentAddress();
      haveAgentAddress = true;
    }
    sendToReceiver(receiver, *record, agentAddress);
  }
  freeEventRecord(record);
  return 0;
}

ReceiverOutcome sendSnmpTestTrap(const SnmpReceiver& receiver, const EventRecord& record, int waitMs) {
  ReceiverOutcome result{receiver.server + ":" + trimBlanks(receiver.port), TestOutcome::kConnectFailed, ""};
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) {
    result.outcome = TestOutcome::kInvalidSettings;
    return result;
  }
  SocketOwner socket;
  const uint32_t status = connectToHost(receiver.server.c_str(), nullptr, port, socket.address(), kUdpSpecifier);
  if (status != kNetNoError) {
    char* text = socketStatusText(status);
    result.answer = text != nullptr ? text : "";
    std::free(text);
    return result;
  }
  const ByteString message = encodeSnmpTrap(trapFields(receiver, record, snmpAgentAddress()));
  if (writeToSocket(socket.get(), message.data(), message.size()) != 0) {
    result.answer = "the datagram could not be sent";
    return result;
  }
  if (datagramRefused(socket.get(), waitMs)) {
    result.answer = "nothing listens on that port";
    return result;
  }
  result.outcome = TestOutcome::kSent;
  return result;
}
