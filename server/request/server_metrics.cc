// The server method GetMetrics; see server_metrics.h.
#include "server/request/server_metrics.h"

#include <atomic>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "common/metrics_text.h"
#include "server/device_list_owner.h"
#include "server/events/dispatcher.h"
#include "server/events/event_log.h"
#include "server/events/notifier_stats.h"
#include "server/net/network_communicator.h"
#include "server/net/network_key_store.h"
#include "server/net/packet_drops.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"
#include "server/server_state.h"

namespace {

constexpr char kGauge[] = "gauge";
constexpr char kCounter[] = "counter";

template <typename T>
T loadShared(const T& field) {
  return std::atomic_ref<T>(const_cast<T&>(field)).load(std::memory_order_relaxed);
}

std::string boundedText(const char* text, size_t size) {
  size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return metricLabelText(std::string_view(text, length));
}

void addServerMetrics(VariableTable* reply) {
  const ServerControl& control = serverControl();
  addMetricFamily(reply, "kestrova_server_global_status", kGauge,
                  "Combined status of the enabled modules: 0 OK, 1 warning, 2 error, 255 unknown.");
  addMetricSample(reply, "kestrova_server_global_status", {}, getGlobalStatus(false));
  addMetricFamily(reply, "kestrova_server_start_time_seconds", kGauge,
                  "When the server program started, in seconds since 1970.");
  addMetricSample(reply, "kestrova_server_start_time_seconds", {},
                  static_cast<double>(control.startTime.load()));
  addMetricFamily(
      reply, "kestrova_server_restarts_total", kCounter,
      "Restarts of the server inside its process (configuration changes, rescans, password changes).");
  addMetricSample(reply, "kestrova_server_restarts_total", {}, control.restartCount.load());
}

void addModuleStatusMetrics(VariableTable* reply) {
  addMetricFamily(reply, "kestrova_module_status", kGauge,
                  "Last status the module reported: 0 OK, 1 warning, 2 error, 255 unknown.");
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    addMetricSample(reply, "kestrova_module_status", {{"module", metricLabelText(record->name)}},
                    loadShared(record->globalStatus));
  }
}

void addEventLogMetrics(VariableTable* reply) {
  static constexpr std::pair<uint32_t, const char*> kLevels[] = {
      {0, "information"}, {1, "warning"}, {2, "error"}, {4, "notice"}, {3, "other"}};
  addMetricFamily(reply, "kestrova_event_log_records_total", kCounter,
                  "Records written to the event log since the server program started, by concern level.");
  for (const auto& [level, name] : kLevels) {
    addMetricSample(reply, "kestrova_event_log_records_total", {{"level", name}},
                    static_cast<double>(loggedRecordCount(level)));
  }
  addMetricFamily(reply, "kestrova_event_log_last_record", kGauge,
                  "Log Number of the newest event log record.");
  addMetricSample(reply, "kestrova_event_log_last_record", {}, lastLogEntryNumber());
}

// One sample per channel of the server's table.
template <typename Value>
void addChannelSamples(VariableTable* reply, const char* family, Value value) {
  NotificationDispatcher& dispatcher = notificationDispatcher();
  for (int i = 0; i < dispatcher.channelCount(); ++i) {
    addMetricSample(reply, family, {{"channel", dispatcher.channelName(i)}},
                    static_cast<double>(value(dispatcher, i)));
  }
}

void addNotifierMetrics(VariableTable* reply) {
  const auto counts = [](NotificationDispatcher& dispatcher, int i) {
    return notifierCounts(dispatcher.channelName(i));
  };
  addMetricFamily(reply, "kestrova_notifier_sent_total", kCounter,
                  "Notifications a channel handed to a receiver (per receiver; written, for the logs).");
  addChannelSamples(reply, "kestrova_notifier_sent_total",
                    [&](NotificationDispatcher& d, int i) { return counts(d, i).sent; });
  addMetricFamily(reply, "kestrova_notifier_failed_total", kCounter,
                  "Attempts of a channel that failed: a receiver refused or could not be reached.");
  addChannelSamples(reply, "kestrova_notifier_failed_total",
                    [&](NotificationDispatcher& d, int i) { return counts(d, i).failed; });
  addMetricFamily(reply, "kestrova_notifier_dropped_total", kCounter,
                  "Events a notification channel lost: its queue or its backlog was full.");
  addChannelSamples(reply, "kestrova_notifier_dropped_total",
                    [&](NotificationDispatcher& d, int i) { return d.dropCount(i) + counts(d, i).dropped; });
  addMetricFamily(reply, "kestrova_notifier_suppressed_total", kCounter,
                  "Repeats of a condition that is still unresolved, not notified again.");
  addChannelSamples(reply, "kestrova_notifier_suppressed_total",
                    [&](NotificationDispatcher& d, int i) { return counts(d, i).suppressed; });
  addMetricFamily(reply, "kestrova_notifier_queued", kGauge,
                  "Events waiting in a notification channel's queue and in its own backlog.");
  addChannelSamples(reply, "kestrova_notifier_queued", [&](NotificationDispatcher& d, int i) {
    return d.queuedCount(i) + counts(d, i).waiting;
  });
  addMetricFamily(reply, "kestrova_notifier_running", kGauge,
                  "1 while the notification channel's thread runs.");
  addChannelSamples(reply, "kestrova_notifier_running",
                    [](NotificationDispatcher& d, int i) { return d.channelStarted(i) ? 1 : 0; });
}

void addNetworkMetrics(VariableTable* reply) {
  addMetricFamily(reply, "kestrova_network_packets_dropped_total", kCounter,
                  "Datagrams of the server network that this server dropped, by reason.");
  for (int i = 0; i < kDropReasonCount; ++i) {
    const auto reason = static_cast<DropReason>(i);
    addMetricSample(reply, "kestrova_network_packets_dropped_total", {{"reason", dropReasonName(reason)}},
                    static_cast<double>(packetDropCount(reason)));
  }
  addMetricFamily(reply, "kestrova_network_authenticated", kGauge,
                  "1 when a network key is set: packets between the servers are signed and checked.");
  addMetricSample(reply, "kestrova_network_authenticated", {}, activeNetworkKeys()->required ? 1 : 0);
  addMetricFamily(reply, "kestrova_network_servers", kGauge, "Other servers in this server's server list.");
  addMetricSample(reply, "kestrova_network_servers", {}, static_cast<double>(listedServerCount()));
}

bool isMetricKey(const char* key) {
  for (const char* prefix : {kMetricSamplePrefix, kMetricHelpPrefix, kMetricTypePrefix}) {
    if (std::strncmp(key, prefix, std::strlen(prefix)) == 0) return true;
  }
  return false;
}

// Asks every enabled module for its metrics; keeps the metric keys of each answer, oldest first.
void addModuleMetrics(VariableTable* reply) {
  addMetricFamily(reply, "kestrova_module_metrics_available", kGauge,
                  "1 when the module answered the metrics request.");
  for (ModuleRecord* record = moduleList(); record != nullptr; record = record->next) {
    if (!record->enabled) continue;
    auto getValues =
        reinterpret_cast<ModuleGetValuesFn>(findRecordExport(record, "getValuesForParametersFromMod"));
    TableOwner moduleReply;
    if (getValues != nullptr) {
      TableOwner request;
      addVariable(request.address(), "module", record->name);
      addVariable(request.address(), "method", "GetMetrics");
      moduleReply = TableOwner(getValues(request.get()));
    }
    std::vector<VariableEntry*> entries;
    for (VariableEntry* entry = moduleReply.get(); entry != nullptr; entry = entry->next)
      entries.push_back(entry);
    for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
      if (isMetricKey((*it)->key)) addVariable(reply, (*it)->key, (*it)->value);
    }
    addMetricSample(reply, "kestrova_module_metrics_available", {{"module", metricLabelText(record->name)}},
                    moduleReply ? 1 : 0);
  }
}

}  // namespace

void addUnitMetrics(VariableTable* reply, const DeviceRecord* list) {
  addMetricFamily(reply, "kestrova_unit_claim_status", kGauge,
                  "Which server monitors the unit: 1 this server, 2 another server, 4 nobody yet.");
  for (const DeviceRecord* device = list; device != nullptr; device = device->next) {
    const std::string path = device->info != nullptr
                                 ? boundedText(device->info->deviceName, sizeof(device->info->deviceName))
                                 : std::string();
    for (const ModDeviceItem* unit = device->units; unit != nullptr; unit = unit->next) {
      addMetricSample(reply, "kestrova_unit_claim_status",
                      {{"unit", boundedText(unit->name, sizeof(unit->name))}, {"path", path}},
                      loadShared(unit->modStatus));
    }
  }
}

VariableTable GetMetrics(VariableTable) {
  TableOwner reply;
  addServerMetrics(reply.address());
  addModuleStatusMetrics(reply.address());
  addUnitMetrics(reply.address(), serverDeviceList());
  addEventLogMetrics(reply.address());
  addNotifierMetrics(reply.address());
  addNetworkMetrics(reply.address());
  addModuleMetrics(reply.address());
  // A browser that asks for this method as a page is shown where the metrics are served.
  addVariable(reply.address(), "MessageSummary", "/metrics");
  addVariable(reply.address(), "MessageIsSuccess", "true");
  addVariable(reply.address(), "MessageImageSrc", "/images/popup_info.gif");
  addVariable(reply.address(), "HTMLPath", "../Common/MessagePopupPanel.htm");
  return reply.release();
}
