// The syslog sender and the "syslog" channel handler; see syslog_sender.h.
#include "server/events/syslog_sender.h"

#include <cstdlib>
#include <cstring>
#include <map>
#include <memory>

#include "common/debug.h"
#include "common/property_file.h"
#include "common/thread_annotations.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/notifier_settings.h"
#include "server/events/notifier_stats.h"
#include "server/events/stream_socket.h"
#include "server/events/syslog_datagram.h"
#include "server/events/syslog_rfc5424.h"
#include "server/events/syslog_stream.h"
#include "server/net/socket_layer.h"
#include "server/server_state.h"

namespace {

constexpr uint32_t kSendDebugCode = 0x1000014;
constexpr uint32_t kErrorDebugCode = 0x1000011;
constexpr int kReaderInUse = 1;
constexpr char kDefaultPort[] = "514";
constexpr char kChannel[] = "syslog";
// How often the idle work looks whether receivers were removed.
constexpr int64_t kPruneIntervalMs = 1000;

// The TCP and TLS receivers' streams, by receiver. Used by the channel thread; tests reach them
// from their own thread while the channel is stopped.
Mutex gStreamsMutex;
std::map<std::string, std::unique_ptr<SyslogStream>> gStreams GUARDED_BY(gStreamsMutex);
int64_t gLastPruneMs GUARDED_BY(gStreamsMutex) = 0;

std::string streamKey(const SyslogReceiver& receiver) {
  return std::string(syslogTransportText(receiver.transport)) + "|" + receiver.server + "|" +
         trimBlanks(receiver.port) + "|" + receiver.caFile;
}

}  // namespace

bool parseSyslogFormat(const char* text, SyslogFormat* format) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "bsd") {
    *format = SyslogFormat::kBsd;
  } else if (value == "rfc5424") {
    *format = SyslogFormat::kRfc5424;
  } else {
    return false;
  }
  return true;
}

bool parseSyslogTransport(const char* text, SyslogTransport* transport) {
  const std::string value = trimBlanks(text != nullptr ? text : "");
  if (value.empty() || value == "udp") {
    *transport = SyslogTransport::kUdp;
  } else if (value == "tcp") {
    *transport = SyslogTransport::kTcp;
  } else if (value == "tls") {
    *transport = SyslogTransport::kTls;
  } else {
    return false;
  }
  return true;
}

const char* syslogFormatText(SyslogFormat format) {
  return format == SyslogFormat::kRfc5424 ? "rfc5424" : "bsd";
}

const char* syslogTransportText(SyslogTransport transport) {
  switch (transport) {
    case SyslogTransport::kTcp:
      return "tcp";
    case SyslogTransport::kTls:
      return "tls";
    case SyslogTransport::kUdp:
      break;
  }
  return "udp";
}

SyslogReceiver syslogReceiverAt(VariableTable settings, int index) {
  SyslogReceiver receiver;
  const char* server = indexedValue(settings, "SyslogServer", index);
  const char* filter = indexedValue(settings, "SyslogIWE", index);
  const char* port = indexedValue(settings, "SyslogPort", index);
  const char* caFile = indexedValue(settings, "SyslogCaFile", index);
  receiver.server = server != nullptr ? trimBlanks(server) : std::string();
  receiver.hasFilter = filter != nullptr;
  if (filter != nullptr) receiver.filter = filter;
  receiver.port = port != nullptr ? port : kDefaultPort;
  receiver.usable =
      parseSyslogFormat(indexedValue(settings, "SyslogFormat", index), &receiver.format) &&
      parseSyslogTransport(indexedValue(settings, "SyslogTransport", index), &receiver.transport);
  receiver.caFile = caFile != nullptr ? trimBlanks(caFile) : std::string();
  return receiver;
}

namespace {

bool settingIsTrue(const char* key) {
  char* value = getVariableCopyShared(&serverSettings().server, key);
  const bool on = value != nullptr && (std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0);
  std::free(value);
  return on;
}

uint32_t sendDatagram(const SyslogReceiver& receiver, const char* data, size_t size) {
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
  if (writeToSocket(socket.get(), data, size) != 0) {
    debugPrint(kErrorDebugCode, "syslog: Send log: writeToSocket Failed\n");
    return 1;
  }
  return 0;
}

// The datagram of a UDP receiver: the BSD text padded to 1024 bytes, or the RFC 5424 text.
uint32_t sendUdp(const SyslogReceiver& receiver, const EventRecord& record, bool test) {
  if (receiver.format == SyslogFormat::kRfc5424) {
    const std::string text = syslogMessageText(receiver, record, test);
    return sendDatagram(receiver, text.data(), text.size());
  }
  SyslogDatagram datagram;
  if (test) {
    composeSyslogTest(record.device, record.message, &datagram);
  } else {
    composeSyslogEvent(record, &datagram);
  }
  return sendDatagram(receiver, datagram.data(), datagram.size());
}

SyslogStreamTarget streamTarget(const SyslogReceiver& receiver, uint16_t port) {
  SyslogStreamTarget target;
  target.host = receiver.server;
  target.port = port;
  target.tls = receiver.transport == SyslogTransport::kTls;
  target.tlsSettings.caFile = receiver.caFile;
  return target;
}

// Queues an event for a TCP or TLS receiver.
uint32_t submitToStream(const SyslogReceiver& receiver, const EventRecord& record) REQUIRES(gStreamsMutex) {
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port)) return 1;
  std::unique_ptr<SyslogStream>& stream = gStreams[streamKey(receiver)];
  if (!stream) stream = std::make_unique<SyslogStream>(streamTarget(receiver, port));
  stream->submit(octetCounted(syslogMessageText(receiver, record, false)));
  return 0;
}

size_t backlogLocked() REQUIRES(gStreamsMutex) {
  size_t waiting = 0;
  for (const auto& [key, stream] : gStreams) waiting += stream->waiting();
  return waiting;
}

}  // namespace

std::string syslogMessageText(const SyslogReceiver& receiver, const EventRecord& record, bool test) {
  if (receiver.format == SyslogFormat::kRfc5424) {
    if (!test) return composeRfc5424(record, currentSyslogIdentity(), false);
    // The test form's text is the message; the test's device goes into the structured data.
    const std::string text = std::string(record.device) + ": " + record.message;
    EventRecord copy = record;
    copy.message = const_cast<char*>(text.c_str());
    return composeRfc5424(copy, currentSyslogIdentity(), true);
  }
  SyslogDatagram datagram;
  if (test) {
    composeSyslogTest(record.device, record.message, &datagram);
  } else {
    composeSyslogEvent(record, &datagram);
  }
  return std::string(datagram.data());
}

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
  const bool test = mode == SyslogMode::kTest;
  for (const SyslogReceiver& receiver : receivers) {
    if (receiver.server.empty()) continue;
    debugPrint(kSendDebugCode, "syslog: Listening Syslog Server IP address: %s\n", receiver.server.c_str());
    if (!test && !syslogReceiverWants(receiver, record.concernLevel)) continue;
    uint32_t status = 1;
    if (!receiver.usable) {
      debugPrint(kErrorDebugCode, "syslog: receiver %s has an unknown format or transport\n",
                 receiver.server.c_str());
    } else if (receiver.transport == SyslogTransport::kUdp) {
      debugPrint(kSendDebugCode, "syslog: Send out Syslog UDP packet\n");
      status = sendUdp(receiver, record, test);
    } else if (test) {
      status = testSucceeded(sendSyslogTestMessage(receiver, record, 0).outcome) ? 0 : 1;
    } else {
      MutexLock lock(gStreamsMutex);
      status = submitToStream(receiver, record);
      setNotifierWaiting(kChannel, backlogLocked());
      if (status == 0) continue;  // counted by the stream when it goes out
    }
    if (status == 0) {
      countNotifierSent(kChannel);
    } else {
      countNotifierFailed(kChannel);
    }
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

void syslogChannelIdle() {
  MutexLock lock(gStreamsMutex);
  if (gStreams.empty()) return;
  const int64_t now = syslogClockMs();
  if (now - gLastPruneMs >= kPruneIntervalMs) {
    gLastPruneMs = now;
    // One look at the settings, without waiting: a page that holds them delays the pruning only.
    ServerSettings& settings = serverSettings();
    if (acquireFileInUse(&settings.syslogInUse, 0, kReaderInUse, 1)) {
      std::map<std::string, bool> configured;
      for (int i = 0; i < kSyslogReceiverSlots; ++i) {
        const SyslogReceiver receiver = syslogReceiverAt(settings.syslog, i);
        if (!receiver.server.empty() && receiver.transport != SyslogTransport::kUdp)
          configured[streamKey(receiver)] = true;
      }
      releaseFileInUse(&settings.syslogInUse);
      for (auto it = gStreams.begin(); it != gStreams.end();) {
        it = configured.count(it->first) != 0 ? std::next(it) : gStreams.erase(it);
      }
    }
  }
  for (auto& [key, stream] : gStreams) stream->pump();
  setNotifierWaiting(kChannel, backlogLocked());
}

void closeSyslogStreams() {
  MutexLock lock(gStreamsMutex);
  gStreams.clear();
  setNotifierWaiting(kChannel, 0);
}

size_t syslogStreamBacklog() {
  MutexLock lock(gStreamsMutex);
  return backlogLocked();
}

namespace {

// A test message over a connection of its own.
ReceiverOutcome streamTest(const SyslogReceiver& receiver, uint16_t port, const EventRecord& record,
                           ReceiverOutcome result) {
  const int timeoutMs = syslogStreamTuning().ioTimeoutMs.load();
  StreamConnection connection;
  StreamStatus status = connection.connect(receiver.server, port, timeoutMs);
  if (status == StreamStatus::kOk && receiver.transport == SyslogTransport::kTls) {
    status = connection.startTls(receiver.server, streamTarget(receiver, port).tlsSettings, timeoutMs);
  }
  if (status == StreamStatus::kOk) {
    status = connection.sendAll(octetCounted(syslogMessageText(receiver, record, true)), timeoutMs);
  }
  switch (status) {
    case StreamStatus::kOk:
      connection.close();
      result.outcome = TestOutcome::kSent;
      return result;
    case StreamStatus::kCertificateRejected:
      result.outcome = TestOutcome::kCertificateRejected;
      break;
    case StreamStatus::kTlsFailed:
      result.outcome = TestOutcome::kTlsFailed;
      break;
    default:
      result.outcome = TestOutcome::kConnectFailed;
      break;
  }
  result.answer = connection.failure();
  return result;
}

}  // namespace

ReceiverOutcome sendSyslogTestMessage(const SyslogReceiver& receiver, const EventRecord& record, int waitMs) {
  ReceiverOutcome result{receiver.server + ":" + trimBlanks(receiver.port), TestOutcome::kConnectFailed, ""};
  uint16_t port = 0;
  if (!parsePortText(trimBlanks(receiver.port), &port) || !receiver.usable) {
    result.outcome = TestOutcome::kInvalidSettings;
    return result;
  }
  if (receiver.transport != SyslogTransport::kUdp) return streamTest(receiver, port, record, result);
  SocketOwner socket;
  const uint32_t status = connectToHost(nullptr, receiver.server.c_str(), port, socket.address(), kUdpSpecifier);
  if (status != kNetNoError) {
    char* text = socketStatusText(status);
    result.answer = text != nullptr ? text : "";
    std::free(text);
    return result;
  }
  std::string bytes;
  if (receiver.format == SyslogFormat::kRfc5424) {
    bytes = syslogMessageText(receiver, record, true);
  } else {
    SyslogDatagram datagram;
    composeSyslogTest(record.device, record.message, &datagram);
    bytes.assign(datagram.data(), datagram.size());
  }
  if (writeToSocket(socket.get(), bytes.data(), bytes.size()) != 0) {
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
