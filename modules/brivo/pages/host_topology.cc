// Host port topology: GetHostPortTopologies shows each host port's settings (configuration header
// bytes 224-239) beside what the port runs at now and the host initiators it sees (0x42);
// SetHostPortTopologies saves changed settings with one 0x98 per port inside a configuration
// bracket and answers with the page and the command result of "SetHostPortTopologies".
//
// Page keys: "ModDeviceName", "ConfigurationTime", the list "HostPortLoop" (Index 0-3 = C0P0, C0P1,
// C1P0, C1P1, Name, Controller, PortNumber, DataRate 0 auto/1/2/4 with the flags DataRateIs0 ...
// DataRateIs4, Connection 0 auto/1 point-to-point/2 loop with ConnectionIs0 ... ConnectionIs2, HardId (empty
// for soft addressing), SoftAddressing, State, CurrentRate, CurrentTopology, LoopId, Wwpn) and the list
// "InitiatorLoop" (Controller, Port, Wwpn, Wwnn, State). Save keys: "DataRate%d", "Connection%d", "HardId%d"
// by port index (a port without any of them keeps its setting; an empty "HardId%d" means soft addressing) and
// the optional "ConfigurationTime" (stale: 253). Values out of range send nothing (254).
//
// Thread safety: request threads under the admission gate in their method's mode.
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kTopologyTemplate[] = "../../html/Brivo/controller/host_topology.htm";
constexpr uint8_t kSoftAddress = 0xFF;

const HostTopologyEntry* portEntry(const HostTopology* topology, int controller, int port) {
  if (topology == nullptr) return nullptr;
  const int count = topology->count < 256 ? topology->count : 256;
  for (int i = 0; i < count; ++i) {
    const HostTopologyEntry& e = topology->entries[i];
    if (e.kind == kTopologyHostPort && e.controller == controller && e.port == port) return &e;
  }
  return nullptr;
}

std::string stateText(uint8_t state) { return state == kOn ? "Up" : state == kOff ? "Failed" : "Unknown"; }

void addPortRow(VariableTable* reply, int row, int index, const HostPortSetting& s,
                const HostTopologyEntry* now) {
  const char* list = "HostPortLoop";
  const int controller = index / 2, port = index % 2;
  addRowNumber(reply, list, row, "Index", index);
  addRowText(reply, list, row, "Name", "C" + std::to_string(controller) + "P" + std::to_string(port));
  addRowText(reply, list, row, "Controller", controller == 0 ? "A" : "B");
  addRowNumber(reply, list, row, "PortNumber", port);
  addRowNumber(reply, list, row, "DataRate", s.dataRate);
  addRowNumber(reply, list, row, "Connection", s.connection);
  // The form's choices, so that the page selects the saved one without a script.
  for (int rate : {0, 1, 2, 4})
    addRowFlag(reply, list, row, ("DataRateIs" + std::to_string(rate)).c_str(), s.dataRate == rate);
  for (int kind : {0, 1, 2})
    addRowFlag(reply, list, row, ("ConnectionIs" + std::to_string(kind)).c_str(), s.connection == kind);
  addRowText(reply, list, row, "HardId", s.hardId == kSoftAddress ? "" : std::to_string(s.hardId));
  addRowFlag(reply, list, row, "SoftAddressing", s.hardId == kSoftAddress);
  addRowText(reply, list, row, "State", now != nullptr ? stateText(now->state) : "Unknown");
  addRowText(reply, list, row, "CurrentRate", now != nullptr ? std::to_string(now->dataRate) + " Gb/s" : "");
  addRowText(reply, list, row, "CurrentTopology",
             now == nullptr ? ""
                            : statusTextByte("HostTopology", now->topology,
                                             now->topology == 2 ? "Loop" : "Point-to-point"));
  addRowText(reply, list, row, "LoopId",
             now != nullptr && now->loopId != 255 ? std::to_string(now->loopId) : "");
  addRowText(reply, list, row, "Wwpn", now != nullptr ? wwnText(now->wwpn) : "");
}

void addInitiators(VariableTable* reply, const HostTopology* topology) {
  int rows = 0;
  const int count = topology == nullptr ? 0 : topology->count < 256 ? topology->count : 256;
  for (int i = 0; i < count; ++i) {
    const HostTopologyEntry& e = topology->entries[i];
    if (e.kind != kTopologyInitiator) continue;
    addRowText(reply, "InitiatorLoop", rows, "Controller", e.controller == 0 ? "A" : "B");
    addRowNumber(reply, "InitiatorLoop", rows, "Port", e.port);
    addRowText(reply, "InitiatorLoop", rows, "Wwpn", wwnText(e.wwpn));
    addRowText(reply, "InitiatorLoop", rows, "Wwnn", wwnText(e.wwnn));
    addRowText(reply, "InitiatorLoop", rows, "State", stateText(e.state));
    ++rows;
  }
  setCount(reply, "InitiatorLoop", rows);
}

// The setting a save asks for on port index; false when a value is out of range.
bool requestedSetting(VariableTable request, int index, HostPortSetting* setting) {
  const std::string n = std::to_string(index);
  const long rate = requestNumber(request, ("DataRate" + n).c_str(), setting->dataRate);
  const long connection = requestNumber(request, ("Connection" + n).c_str(), setting->connection);
  const char* id = getVariable(request, ("HardId" + n).c_str());
  long hardId = setting->hardId;
  if (id != nullptr) hardId = *id == '\0' ? kSoftAddress : requestNumber(request, ("HardId" + n).c_str(), -1);
  if ((rate != 0 && rate != 1 && rate != 2 && rate != 4) || connection < 0 || connection > 2 ||
      (hardId != kSoftAddress && (hardId < 0 || hardId > 127))) {
    return false;
  }
  setting->dataRate = static_cast<uint8_t>(rate);
  setting->connection = static_cast<uint8_t>(connection);
  setting->hardId = static_cast<uint8_t>(hardId);
  return true;
}

int saveSettings(const PairTarget& pair, VariableTable request, const ConfigurationHeader& header,
                 ControllerCommand* failed) {
  std::vector<int> changed;
  HostPortSetting wanted[4];
  for (int i = 0; i < 4; ++i) {
    wanted[i] = header.hostPorts[i];
    if (!requestedSetting(request, i, &wanted[i])) return kResultBadArguments;
    const HostPortSetting& now = header.hostPorts[i];
    if (wanted[i].dataRate != now.dataRate || wanted[i].connection != now.connection ||
        wanted[i].hardId != now.hardId)
      changed.push_back(i);
  }
  if (changed.empty()) return kResultGood;
  const int result = inConfigChange(pair, failed, [&] {
    for (int i : changed) {
      const HostPortSetting& s = wanted[i];
      const int sent =
          sendOperation(pair, kOpHostPortSettings, static_cast<uint8_t>(s.dataRate << 4 | s.connection),
                        static_cast<uint8_t>(1 << i), s.hardId, nullptr, 0, failed);
      if (sent != kResultGood) return sent;
    }
    return kResultGood;
  });
  waitUntilReady(pair);
  return result;
}

}  // namespace

VariableTable getHostPortTopologiesMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  ConfigurationHeader header{};
  auto topology = std::make_unique<HostTopology>();
  ControllerCommand failed{};
  const int result = pair.found() ? readConfigHeader(pair, &header, &failed) : kResultBadArguments;
  const bool topologyRead = result == kResultGood && readHostTopology(pair, topology.get()) == kResultGood;
  if (result != kResultGood) {
    addControllerCommandResult(&reply, "GetHostPortTopologies", result, failed);
    addFlag(&reply, "ReadFailed", true);
  } else {
    addNumber(&reply, "ConfigurationTime", header.configurationTime);
    const int ports = traitsOf(*pair.state).hostPorts;
    int rows = 0;
    for (int index = 0; index < 4; ++index) {
      if (index % 2 >= ports) continue;
      addPortRow(&reply, rows++, index, header.hostPorts[index],
                 portEntry(topologyRead ? topology.get() : nullptr, index / 2, index % 2));
    }
    setCount(&reply, "HostPortLoop", rows);
    addInitiators(&reply, topologyRead ? topology.get() : nullptr);
    addFlag(&reply, "TopologyRead", topologyRead);
  }
  addVariable(&reply, kHtmlPathKey, kTopologyTemplate);
  return reply;
}

VariableTable setHostPortTopologiesMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    ConfigurationHeader header{};
    result = readConfigHeader(pair, &header, &failed);
    const long shown = requestNumber(request, "ConfigurationTime", -1);
    if (result == kResultGood && shown >= 0 && shown != static_cast<long>(header.configurationTime)) {
      result = kResultStale;
    } else if (result == kResultGood) {
      result = saveSettings(pair, request, header, &failed);
    }
  }
  VariableTable reply = getHostPortTopologiesMethod(request);
  addControllerCommandResult(&reply, "SetHostPortTopologies", result, failed);
  return reply;
}

}  // namespace brivo
