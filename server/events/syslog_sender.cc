// The syslog sender and the "syslog" channel handler; see syslog_sender.h.
#include "server/events/syslog_sender.h"

#include <cstdlib>
#include <cstring>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/notifier_settings.h"
#include "server/events/syslog_datagram.h"
#include "server/events/stream_socket.h"
#include "server/net/socket_layer.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kSendDebugCode = 0x1000014;
constexpr uint32_t kErrorDebugCode = 0x1000011;
constexpr int kReaderInUse = 1;
constexpr char kDefaultPort[] = "514";

}  // namespace

SyslogReceiver syslogReceiverAt(VariableTable settings, int index) {
  SyslogReceiver receiver;
  const char* server = indexedValue(settings, "SyslogServer", index);
  const char* filter = indexedValue(settings, "SyslogIWE", index);
  const char* port = indexedValue(settings, "SyslogPort", index);
  receiver.server = server != nullptr ? trimBlanks(server) : std::string();
  receiver.hasFilter = filter != nullptr;
  if (filter != nullptr) receiver.filter = filter;
  receiver.port = port != nullptr ? port : kDefaultPort;
  return receiver;
}

namespace {

bool settingIsTrue(const char* key) {
  char* value = getVariableCopyShared(&serverSettings().server, key);
  const bool on = value != nullptr && (std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0);
  std::free(value);
  return on;
}

uint32_t sendDatagram(const SyslogReceiver& receiver, const SyslogDatagram& datagram) {
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) {
    debugPrint(kErrorDebugCode, "syslog: Send log: Invalid port <%s>\n", receiver.port.c_str());
    return 1;
  }
  SocketOwner socket;
  const uint32_t status =
      connectToHost(nullptr, receiver.server.c_str(), port, socket.address(), kUdpSpecifier);
  if (status != kNetNoError) {
    char* text = socketStatusText(status);
    debugPrint(kErrorDebugCode, "syslog: Send log: Connect error: %s \n", text != nullptr ? text : "");
    std::free(text);
    return status;
  }
  if (writeToSocket(socket.get(), datagram.data(), datagram.size()) != 0) {
    debugPrint(kErrorDebugCode, "syslog: Send log: writeToSocket Failed\n");
    return 1;
  }
  return 0;
}

}  // namespace

bool readSyslogReceivers(SyslogReceivers* receivers) {
  ServerSettings& settings = serverSettings();
  if (!acquireReceiverSettings(&settings.syslogInUse, kReaderInUse)) return false;
  for (int i = 0; i < kSyslogReceiverSlots; ++i) (*receivers)[i] = syslogReceiverAt(settings.syslog, i);
  releaseFileInUse(&settings.syslogInUse);
  return true;
}

bool syslogReceiverWants(const SyslogReceiver& receiver, uint32_t concernLevel) {
  return receiver.hasFilter && receiver.filter.size() == 3 &&
         filterSelects(receiver.filter, syslogFilterPosition(concernLevel));
}

uint32_t sendSyslogMessages(const SyslogReceivers& receivers, const EventRecord& record, SyslogMode mode) {
  uint32_t result = 0;
  SyslogDatagram datagram;
  for (const SyslogReceiver& receiver : receivers) {
    if (receiver.server.empty()) continue;
    debugPrint(kSendDebugCode, "syslog: Listening Syslog Server IP address: %s\n", receiver.server.c_str());
    if (mode == SyslogMode::kEvent && !syslogReceiverWants(receiver, record.concernLevel)) continue;
    debugPrint(kSendDebugCode, "syslog: Send out Syslog UDP packet\n");
    if (mode == SyslogMode::kEvent) {
      composeSyslogEvent(record, &datagram);
    } else {
      composeSyslogTest(record.device, record.message, &datagram);
    }
    const uint32_t status = sendDatagram(receiver, datagram);
    if (status != 0) result = status;
  }
  return result;
}

int sendSyslogNotification(EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr) {
    freeEventRecord(record);
    return 2;
  }
  int result = 0;
  if (settingIsTrue("UseOsEventLog")) {
    SyslogReceivers receivers;
    if (!readSyslogReceivers(&receivers)) {
      result = 1;
    } else {
      result = sendSyslogMessages(receivers, *record, SyslogMode::kEvent) == 0 ? 0 : 1;
    }
  }
  freeEventRecord(record);
  return result;
}

ReceiverOutcome sendSyslogTestMessage(const SyslogReceiver& receiver, const EventRecord& record, int waitMs) {
  ReceiverOutcome result{receiver.server + ":" + trimBlanks(receiver.port), TestOutcome::kConnectFailed, ""};
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) {
    result.outcome = TestOutcome::kInvalidSettings;
    return result;
  }
  SocketOwner socket;
  const uint32_t status = connectToHost(nullptr, receiver.server.c_str(), port, socket.address(), kUdpSpecifier);
  if (status != kNetNoError) {
    char* text = socketStatusText(status);
    result.answer = text != nullptr ? text : "";
    std::free(text);
    return result;
  }
  SyslogDatagram datagram;
  composeSyslogTest(record.device, record.message, &datagram);
  if (writeToSocket(socket.get(), datagram.data(), datagram.size()) != 0) {
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
