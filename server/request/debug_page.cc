// The diagnostic page; see debug_page.h.
#include "server/request/debug_page.h"

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <vector>

#include "common/date_text.h"
#include "common/thread_manager.h"
#include "server/events/dispatcher.h"
#include "server/events/notifier_stats.h"
#include "server/events/snmp_engine.h"
#include "server/net/network_key_store.h"
#include "server/net/packet_drops.h"
#include "server/request/cgi_communicator.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/request/page_rows.h"
#include "server/server_state.h"

namespace {

std::atomic<DeviceListSource> gDeviceListSource{nullptr};

void addText(VariableTable* reply, const std::string& key, const std::string& value) {
  addVariable(reply, key.c_str(), value.c_str());
}

// Adds a malloc'ed text from the date functions and frees it; a null text leaves the key out.
void addDateText(VariableTable* reply, const char* key, char* text) {
  if (text != nullptr) addVariable(reply, key, text);
  std::free(text);
}

std::string hexByte(uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof(text), "0x%.2X", value);
  return text;
}

// A fixed-width INQUIRY text field; bytes that are not printable ASCII become blanks so that the
// value stays one clean line.
std::string inquiryText(const uint8_t* data, int offset, int length) {
  std::string text;
  for (int i = offset; i < offset + length; ++i) {
    const uint8_t byte = data[i];
    text.push_back(byte >= 0x20 && byte < 0x7F ? static_cast<char>(byte) : ' ');
  }
  return text;
}

std::string boundedText(const char* text, size_t size) {
  size_t length = 0;
  while (length < size && text[length] != '\0') ++length;
  return std::string(text, length);
}

// Row 0 of the "IsScsiLoop" list nested in device row d.
void addScsiFields(VariableTable* reply, const std::string& prefix, const DeviceInfo& info) {
  const std::string row = prefix + "IsScsiLoop0";
  addText(reply, row + "DeviceNumber", "-1");
  addText(reply, row + "DeviceName", boundedText(info.deviceName, sizeof(info.deviceName)));
  addText(reply, row + "PortNumber", std::to_string(info.port));
  addText(reply, row + "TargetId", std::to_string(info.targetId));
  addText(reply, row + "PathId", std::to_string(info.pathId));
  addText(reply, row + "Lun", std::to_string(info.lun));
  addText(reply, row + "IsDeviceClaimed", info.claimed != 0 ? "true" : "false");
  addText(reply, row + "VendorId", inquiryText(info.inquiryData, 8, 8));
  addText(reply, row + "ProductId", inquiryText(info.inquiryData, 16, 16));
  addText(reply, row + "DeviceType", hexByte(info.inquiryData[0] & 0x1F));
  addText(reply, row + "RevisionLevel", inquiryText(info.inquiryData, 32, 4));
  addText(reply, row + "TransferSizeKb", std::to_string(info.maxTransferSize / 1024));
}

void addUnitRows(VariableTable* reply, const std::string& prefix, const ModDeviceItem* units) {
  int m = 0;
  for (const ModDeviceItem* unit = units; unit != nullptr; unit = unit->next, ++m) {
    const std::string row = prefix + "ModLoop" + std::to_string(m);
    addText(reply, row + "DeviceName", boundedText(unit->name, sizeof(unit->name)));
    addText(reply, row + "DeviceStatus", hexByte(static_cast<uint32_t>(unit->deviceStatus)));
    addText(reply, row + "MonitorStatus", hexByte(static_cast<uint32_t>(unit->modStatus)));
    addText(reply, row + "DeviceControllerIp", dottedAddress(unit->ownerAddress));
  }
  addText(reply, prefix + "ModLoop", std::to_string(m));
}

void addBuildFlags(VariableTable* reply) {
  // The flags name the platform this server was built for.
  addVariable(reply, "DefineWin", "false");
  addVariable(reply, "DefineLin", "true");
  addVariable(reply, "DefineSol", "false");
  addVariable(reply, "DefineMac", "false");
  addVariable(reply, "DefineNet", "false");
}

void addServerIdentity(VariableTable* reply) {
  addUnsignedVariable(reply, "GlobalStatus", getGlobalStatus(false));
  addIntVariable(reply, "NumNetworkChanges", static_cast<uint32_t>(serverControl().networkChanges.load()),
                 true);
  ServerSettings& settings = serverSettings();
  for (const auto& [key, setting] :
       {std::pair{"CompanyName", "companyName"}, std::pair{"SerialNumber", "serialNumber"}}) {
    char* value = getVariableCopyShared(&settings.server, setting);
    addVariable(reply, key, value != nullptr ? value : "");
    std::free(value);
  }
}

void addTimes(VariableTable* reply) {
  const ServerControl& control = serverControl();
  const time_t now = std::time(nullptr);
  time_t start = control.startTime.load();
  if (start == 0) start = now;
  time_t restart = control.restartTime.load();
  if (restart == 0) restart = start;  // no restart yet: the latest start is the first one
  addDateText(reply, "ServerCurrentDate", longDateTextAt(now));
  addDateText(reply, "ServerCurrentTime", timeTextAt(now));
  addDateText(reply, "ServerStartDate", dateText(start));
  addDateText(reply, "ServerStartTime", timeTextAt(start));
  addText(reply, "ServerUpTime", upTimeText(static_cast<long long>(now - start)));
  addText(reply, "RescanUpTime", upTimeText(static_cast<long long>(now - restart)));
  addDateText(reply, "ServerLastRestartStartDate", dateText(restart));
  addDateText(reply, "ServerLastRestartStartTime", timeTextAt(restart));
  addIntVariable(reply, "ServerNumberOfResets", static_cast<uint32_t>(control.restartCount.load()), true);
}

void addNotifierRows(VariableTable* reply) {
  const int count = notificationChannelCount();
  for (int i = 0; i < count; ++i) {
    const char* name = notificationChannelName(i);
    const std::string row = "NotifierLoop" + std::to_string(i);
    addText(reply, row + "Name", name != nullptr ? name : "");
    const NotifierCounts counts = notifierCounts(name);
    addText(reply, row + "DropCount", std::to_string(notificationDropCount(i) + counts.dropped));
    addText(reply, row + "SentCount", std::to_string(counts.sent));
    addText(reply, row + "FailedCount", std::to_string(counts.failed));
    addText(reply, row + "SuppressedCount", std::to_string(counts.suppressed));
    addText(reply, row + "WaitingCount",
            std::to_string(notificationDispatcher().queuedCount(i) + counts.waiting));
  }
  addText(reply, "NotifierLoop", std::to_string(count));
  const std::string engine = storedSnmpEngineId();
  addText(reply, "SnmpEngineId", engine.empty() ? "(made with the first SNMPv3 trap)" : engine);
}

// The network's authentication state and what it dropped, by reason.
void addNetworkRows(VariableTable* reply) {
  const std::shared_ptr<const NetworkKeySet> keys = activeNetworkKeys();
  addVariable(reply, "NetworkAuthenticated", keys->required ? "true" : "false");
  addText(reply, "NetworkSendKeyId", keys->send ? keyIdText(keys->send->id) : "");
  addText(reply, "NetworkSecondKeyId", keys->second ? keyIdText(keys->second->id) : "");
  addPacketDropRows(reply);
}

void addThreadRows(VariableTable* reply) {
  const std::vector<ThreadListing> threads = listThreads();
  int i = 0;
  for (const ThreadListing& thread : threads) {
    const std::string row = "ThreadLoop" + std::to_string(i++);
    addText(reply, row + "Index", std::to_string(thread.index));
    addText(reply, row + "Handle", std::to_string(thread.handle));
    addText(reply, row + "Options", hexByte(thread.options));
    addText(reply, row + "Tag", thread.tag);
    addText(reply, row + "Running", thread.running ? "true" : "false");
  }
  addText(reply, "ThreadLoop", std::to_string(i));
}

}  // namespace

std::string upTimeText(long long seconds) {
  if (seconds < 0) seconds = 0;
  char text[64];
  std::snprintf(text, sizeof(text), "%lldD %lldH %lldM %lldS", seconds / 86400, seconds / 3600 % 24,
                seconds / 60 % 60, seconds % 60);
  return text;
}

void setDeviceListSource(DeviceListSource source) { gDeviceListSource.store(source); }

void addDeviceRows(VariableTable* reply, const DeviceRecord* list) {
  int d = 0;
  for (const DeviceRecord* device = list; device != nullptr; device = device->next, ++d) {
    const std::string prefix = "DeviceLoop" + std::to_string(d);
    addText(reply, prefix + "DeviceHandle", std::to_string(device->handle));
    const bool scsi = device->valid == DEVICE_RECORD_VALID && device->info != nullptr;
    addText(reply, prefix + "IsScsiLoop", scsi ? "1" : "0");
    if (scsi) addScsiFields(reply, prefix, *device->info);
    addUnitRows(reply, prefix, device->units);
  }
  addText(reply, "DeviceLoop", std::to_string(d));
}

VariableTable GetDebugInfo(VariableTable) {
  VariableTable reply = nullptr;
  addBuildFlags(&reply);
  addServerIdentity(&reply);
  addTimes(&reply);
  addPageRows(PageRows::kUserList, &reply);
  addPageRows(PageRows::kServerList, &reply);
  DeviceListSource source = gDeviceListSource.load();
  addDeviceRows(&reply, source != nullptr ? source() : nullptr);
  addCgiDebugInfo(&reply);
  addNotifierRows(&reply);
  addNetworkRows(&reply);
  addThreadRows(&reply);
  addVariable(&reply, "HTMLPath", "../Server/other/server_debug.htm");
  return reply;
}
