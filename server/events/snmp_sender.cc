// The "snmp" channel's sender; see snmp_sender.h.
#include "server/events/snmp_sender.h"

#include <cstdlib>
#include <cstring>
#include <vector>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_stats.h"
#include "server/events/snmp_engine.h"
#include "server/events/snmp_notification.h"
#include "server/events/snmp_transport.h"
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

bool parseSnmpVersion(const char* text, SnmpVersion* version) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "1") {
    *version = SnmpVersion::kV1;
  } else if (value == "2c") {
    *version = SnmpVersion::kV2c;
  } else if (value == "3") {
    *version = SnmpVersion::kV3;
  } else {
    return false;
  }
  return true;
}

const char* snmpVersionText(SnmpVersion version) {
  switch (version) {
    case SnmpVersion::kV2c:
      return "2c";
    case SnmpVersion::kV3:
      return "3";
    case SnmpVersion::kV1:
      break;
  }
  return "1";
}

std::string snmpAuthKeyName(const std::string& id) { return "SnmpAuthKey" + id; }
std::string snmpPrivKeyName(const std::string& id) { return "SnmpPrivKey" + id; }

SnmpReceiver snmpReceiverAt(VariableTable settings, VariableTable secrets, int index) {
  SnmpReceiver receiver;
  const char* server = indexedValue(settings, "SnmpServer", index);
  const char* community = indexedValue(settings, "SnmpCommunity", index);
  const char* filter = indexedValue(settings, "SnmpIWE", index);
  const char* port = indexedValue(settings, "SnmpPort", index);
  receiver.server = server != nullptr ? trimBlanks(server) : std::string();
  const bool known = parseSnmpVersion(indexedValue(settings, "SnmpVersion", index), &receiver.version);
  const char* protocol = indexedValue(settings, "SnmpAuthProtocol", index);
  const std::string protocolText = trimBlanks(protocol != nullptr ? protocol : "");
  const bool protocolKnown = protocolText.empty() || protocolText == "SHA-256" || protocolText == "SHA-1";
  receiver.sha256 = protocolText != "SHA-1";
  bool credentials = community != nullptr;
  if (receiver.version == SnmpVersion::kV3) {
    const char* user = indexedValue(settings, "SnmpUser", index);
    const char* id = indexedValue(settings, "SnmpId", index);
    const char* auth = id != nullptr ? getVariable(secrets, snmpAuthKeyName(id).c_str()) : nullptr;
    const char* priv = id != nullptr ? getVariable(secrets, snmpPrivKeyName(id).c_str()) : nullptr;
    receiver.user = trimBlanks(user != nullptr ? user : "");
    receiver.authKey = auth != nullptr ? auth : "";
    receiver.privKey = priv != nullptr ? priv : "";
    credentials = !receiver.user.empty() && receiver.authKey.size() >= kMinSnmpPassphrase &&
                  receiver.privKey.size() >= kMinSnmpPassphrase;
  }
  receiver.complete = known && protocolKnown && credentials && !receiver.server.empty() &&
                      filter != nullptr && std::strlen(filter) >= 3 && port != nullptr;
  if (receiver.complete) {
    receiver.community = community != nullptr ? community : "";
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
  const std::string failed = sendSnmpTrapTo(receiver, record, agentAddress);
  if (failed.empty()) {
    countNotifierSent("snmp");
  } else {
    debugPrint(kErrorDebugCode, "snmp: SendTrap: %s port %s: %s\n", receiver.server.c_str(),
               receiver.port.c_str(), failed.c_str());
    countNotifierFailed("snmp");
  }
}

SnmpV2Peer peerOf(const SnmpReceiver& receiver, uint16_t port) {
  SnmpV2Peer peer;
  peer.host = receiver.server;
  peer.port = port;
  peer.v3 = receiver.version == SnmpVersion::kV3;
  peer.community = receiver.community;
  peer.user = receiver.user;
  peer.sha256 = receiver.sha256;
  peer.authPassphrase = receiver.authKey;
  peer.privPassphrase = receiver.privKey;
  return peer;
}

}  // namespace

std::string sendSnmpTrapTo(const SnmpReceiver& receiver, const EventRecord& record, uint32_t agentAddress) {
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) return "invalid port <" + receiver.port + ">";
  if (receiver.version == SnmpVersion::kV1) {
    const uint32_t status = sendSnmpTrap(receiver.server.c_str(), port,
                                         encodeSnmpTrap(trapFields(receiver, record, agentAddress)));
    return status == 0 ? std::string() : "the trap could not be sent (status " + std::to_string(status) + ")";
  }
  return sendSnmpV2Trap(peerOf(receiver, port), snmpEngine(),
                        snmpNotificationBindings(record, programUptimeHundredths()));
}

bool readSnmpReceivers(SnmpReceivers* receivers) {
  ServerSettings& settings = serverSettings();
  TableOwner secrets(readPropertyFile(kSnmpSecretPath));
  if (!acquireReceiverSettings(&settings.snmpInUse, kSenderInUse)) return false;
  for (int i = 0; i < kSnmpReceiverSlots; ++i)
    (*receivers)[i] = snmpReceiverAt(settings.snmp, secrets.get(), i);
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
  if (receiver.version != SnmpVersion::kV1) {
    // The library's socket is its own: no refusal can be waited for; the trap is sent or not.
    result.answer = sendSnmpV2Trap(peerOf(receiver, port), snmpEngine(),
                                   snmpNotificationBindings(record, programUptimeHundredths()));
    if (result.answer.empty()) result.outcome = TestOutcome::kSent;
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
