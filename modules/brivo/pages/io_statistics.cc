// Performance statistics: the statistics page (GetStatistics), the comma-separated export
// (ExportStatistics, "temp/BrivoStatistics.csv" offered as "ExportText") and clearing
// (ClearStatistics, answered with the statistics page and its command result).
//
// Export rows: "logical drive","controller","port", then for the read and the write record the two
// counters and the 33 size values, each followed by a comma. Only buffers that were read make rows:
// a failed read is not written as a row of zeros. When the last read succeeded, two empty lines,
// the texts "StatsHeader4" to "StatsHeader6" and the summary values of that buffer follow.
//
// Statistics page keys: "ModDeviceName", "SelectedLunNumber" (65535 all drives), "SelectedPortNumber"
// (-1 every selector, else the one shown: 0 both ports, 1 port 0, 2 port 1), "ControllerAValid",
// "ControllerBValid", the list "LunChoiceLoop" (Number, Label, Selected) and the list "StatsLoop"
// (Controller, ControllerNumber, Port, ReadCommands, ReadBlocks, ReadAvgLatencyUs, ReadMaxLatencyUs,
// WriteCommands, WriteBlocks, WriteAvgLatencyUs, WriteMaxLatencyUs, CacheHitPercent, ReadFailed); a failed
// read of the controller information adds "ReadFailed", "LastFailureCode" and "LastFailureSenseData".
//
// Thread safety: request threads under the admission gate in their method's mode; the export file
// is replaced whole (page_files.h).
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/command_result.h"
#include "modules/brivo/module_files.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/pages/page_common.h"
#include "modules/brivo/pages/page_files.h"
#include "modules/brivo/pages/page_methods.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

namespace {

constexpr char kExportFile[] = "temp/BrivoStatistics.csv";
constexpr char kExportPath[] = "../../temp/BrivoStatistics.csv";
constexpr char kStatisticsTemplate[] = "../../html/Brivo/statistics/statistics.htm";
constexpr uint8_t kPortOrder[3] = {kPort0, kPort1, kPortBoth};
constexpr int kAllDrivesRow = kAllLogicalDrives;

std::string portText(uint8_t selector) {
  if (selector == kPort0) return "0";
  if (selector == kPort1) return "1";
  if (selector == kPortBoth) return "Both";
  return std::to_string(selector);
}

std::string eventText(const char* key) { return ModuleFiles::text(StringTable::kEvent, key); }

// The selection of one export.
struct ExportPlan {
  bool include[2] = {false, false};
  std::vector<uint8_t> ports;
  std::vector<int> drives;
};

ExportPlan planExport(const PairTarget& pair, VariableTable request) {
  ExportPlan plan;
  const long controller = requestNumber(request, "Controller", -1);
  if (controller >= 0) {
    plan.include[0] = controller == 1;
    plan.include[1] = controller == 2;
  } else {
    ControllerInformation info{};
    if (readControllerInformation(pair, &info) == kResultGood) {
      plan.include[0] = info.stateA == kOn;
      plan.include[1] = info.stateB == kOn;
    }
  }
  const long port = requestNumber(request, "PortNumber", -1);
  if (port >= 0) {
    plan.ports.push_back(static_cast<uint8_t>(port));
  } else {
    plan.ports.assign(kPortOrder, kPortOrder + 3);
  }
  const long lun = requestNumber(request, "LunNumber", -1);
  int count = kMaxLogicalDrives;
  if (lun != kAllDrivesRow) {
    ConfigurationHeader header{};
    if (readConfigHeader(pair, &header) == kResultGood)
      count = header.logicalDriveCount < kMaxLogicalDrives ? header.logicalDriveCount : kMaxLogicalDrives;
  }
  if (lun < 0 || lun == kAllDrivesRow) plan.drives.push_back(kAllDrivesRow);
  if (lun < 0) {
    for (int d = 0; d < count; ++d) plan.drives.push_back(d);
  } else if (lun != kAllDrivesRow && lun < count) {
    plan.drives.push_back(static_cast<int>(lun));
  }
  return plan;
}

void writeRecord(std::string* line, const StatisticsRecord& record) {
  *line += std::to_string(record.commands) + "," + std::to_string(record.blocks) + ",";
  for (uint8_t value : record.sizeDistribution) *line += std::to_string(value) + ",";
}

void writeSummary(ReplacingFile* out, const StatisticsBuffer& stats) {
  std::string text = "\n\n";
  for (const char* key : {"StatsHeader4", "StatsHeader5", "StatsHeader6"}) text += eventText(key) + "\n";
  for (uint8_t value : stats.alignment) text += std::to_string(value) + ",";
  text += std::to_string(stats.cacheHitPercent) + ",";
  for (uint8_t value : stats.queueDepth) text += std::to_string(value) + ",";
  text += "\n";
  out->write(text.data(), text.size());
}

// Statistics of one controller and port selector in the page's list.
void addStatsRow(VariableTable* reply, int row, int controller, uint8_t port, const StatisticsBuffer* stats) {
  const char* list = "StatsLoop";
  addRowText(reply, list, row, "Controller", controller == 0 ? "A" : "B");
  addRowNumber(reply, list, row, "ControllerNumber", controller + 1);
  addRowText(reply, list, row, "Port", portText(port));
  addRowFlag(reply, list, row, "ReadFailed", stats == nullptr);
  if (stats == nullptr) return;
  static const char* const kSides[2] = {"Read", "Write"};
  for (int r = 0; r < 2; ++r) {
    const StatisticsRecord& record = stats->records[r];
    const std::string side = kSides[r];
    addRowText(reply, list, row, (side + "Commands").c_str(), std::to_string(record.commands));
    addRowText(reply, list, row, (side + "Blocks").c_str(), std::to_string(record.blocks));
    const uint64_t average = record.commands != 0 ? record.latencyTotalUs / record.commands : 0;
    addRowText(reply, list, row, (side + "AvgLatencyUs").c_str(), std::to_string(average));
    addRowNumber(reply, list, row, (side + "MaxLatencyUs").c_str(), record.latencyMaxUs);
  }
  addRowNumber(reply, list, row, "CacheHitPercent", stats->cacheHitPercent);
}

void addLunChoices(VariableTable* reply, const ConfigurationBlock* config, long selected) {
  int rows = 0;
  addRowNumber(reply, "LunChoiceLoop", rows, "Number", kAllDrivesRow);
  addRowText(reply, "LunChoiceLoop", rows, "Label", "All logical drives");
  addRowFlag(reply, "LunChoiceLoop", rows++, "Selected", selected == kAllDrivesRow);
  for (int d = 0; config != nullptr && d < kMaxLogicalDrives; ++d) {
    const LogicalDriveRecord& drive = config->logicalDrives[d];
    if (drive.valid != kOn) continue;
    const std::string name = fieldText(drive.name, sizeof(drive.name));
    addRowNumber(reply, "LunChoiceLoop", rows, "Number", d);
    addRowText(reply, "LunChoiceLoop", rows, "Label", std::to_string(d) + (name.empty() ? "" : " " + name));
    addRowFlag(reply, "LunChoiceLoop", rows++, "Selected", selected == d);
  }
  setCount(reply, "LunChoiceLoop", rows);
}

}  // namespace

VariableTable exportStatisticsMethod(VariableTable request) {
  ReplacingFile out(kExportFile, false);
  if (out.ok()) {
    for (const char* key : {"StatsHeader1", "StatsHeader2", "StatsHeader3"}) {
      const std::string line = eventText(key) + "\n";
      out.write(line.data(), line.size());
    }
    const PairTarget pair = pairOfRequest(request);
    const ExportPlan plan = planExport(pair, request);
    auto stats = std::make_unique<StatisticsBuffer>();
    int last = kResultBadArguments;
    for (int drive : plan.drives) {
      for (int c = 0; c < 2; ++c) {
        if (!plan.include[c]) continue;
        for (uint8_t port : plan.ports) {
          last = readStatistics(pair, c, port, static_cast<uint16_t>(drive), stats.get());
          if (last != kResultGood) continue;
          std::string line = "\"" + (drive == kAllDrivesRow ? std::string("All") : std::to_string(drive)) +
                             "\",\"" + (c == 0 ? "0" : "1") + "\",\"" + portText(port) + "\",";
          writeRecord(&line, stats->records[0]);
          writeRecord(&line, stats->records[1]);
          line += "\n";
          out.write(line.data(), line.size());
        }
      }
    }
    if (last == kResultGood) writeSummary(&out, *stats);
    if (!out.commit()) consolePrint("The statistics export file could not be written.\n");
  }
  VariableTable reply = nullptr;
  addVariable(&reply, "ExportText", kExportPath);
  return reply;
}

VariableTable clearStatisticsMethod(VariableTable request) {
  const PairTarget pair = pairOfRequest(request);
  ControllerCommand failed{};
  int result = kResultBadArguments;
  if (pair.found()) {
    const long lun = requestNumber(request, "ClearLunNumber", kAllLogicalDrives);
    const uint8_t port = static_cast<uint8_t>(requestNumber(request, "ClearPort", kPortBoth));
    const long which = requestNumber(request, "ClearController", 3);
    ControllerInformation info{};
    const bool read = readControllerInformation(pair, &info) == kResultGood;
    const bool valid[2] = {!read || info.stateA == kOn, !read || info.stateB == kOn};
    int first = kResultGood;
    bool sent = false;
    for (int c = 0; c < 2; ++c) {
      if (!((valid[c] && which == 3) || which == c + 1)) continue;
      ControllerCommand command{};
      const int one =
          sendOperation(pair, c == 0 ? kOpClearStatisticsA : kOpClearStatisticsB, port,
                        static_cast<uint8_t>(lun >> 8), static_cast<uint8_t>(lun), nullptr, 0, &command);
      sent = true;
      // A controller that refused is reported even when the other one cleared.
      if (one != kResultGood && first == kResultGood) {
        first = one;
        failed = command;
      }
    }
    if (sent) result = first;
  }
  VariableTable reply = getStatisticsMethod(request);
  addControllerCommandResult(&reply, "ClearStatistics", result, failed);
  return reply;
}

VariableTable getStatisticsMethod(VariableTable request) {
  VariableTable reply = nullptr;
  echoDeviceName(&reply, request);
  const PairTarget pair = pairOfRequest(request);
  const long lun = requestNumber(request, "LunNumber", kAllDrivesRow);
  const long port = requestNumber(request, "PortNumber", -1);
  addNumber(&reply, "SelectedLunNumber", lun);
  addNumber(&reply, "SelectedPortNumber", port);
  ControllerInformation info{};
  ControllerCommand failed{};
  const int result = pair.found() ? readControllerInformation(pair, &info, &failed) : kResultBadArguments;
  const bool valid[2] = {result == kResultGood && info.stateA == kOn,
                         result == kResultGood && info.stateB == kOn};
  addFlag(&reply, "ControllerAValid", valid[0]);
  addFlag(&reply, "ControllerBValid", valid[1]);
  if (result != kResultGood) {
    const SenseCodes codes = senseCodes(failed);
    char sense[16];
    std::snprintf(sense, sizeof(sense), "%.2X/%.2X/%.2X", codes.key, codes.asc, codes.ascq);
    addFlag(&reply, "ReadFailed", true);
    addNumber(&reply, "LastFailureCode", result);
    addText(&reply, "LastFailureSenseData", sense);
  }
  std::unique_ptr<ConfigurationBlock> config = result == kResultGood ? newConfigurationBlock() : nullptr;
  if (config != nullptr && readConfiguration(pair, config.get()) != kResultGood) config.reset();
  addLunChoices(&reply, config.get(), lun);
  auto stats = std::make_unique<StatisticsBuffer>();
  int rows = 0;
  for (int c = 0; c < 2; ++c) {
    for (uint8_t selector : kPortOrder) {
      if (!valid[c] || (port >= 0 && selector != port)) continue;
      const bool read =
          readStatistics(pair, c, selector, static_cast<uint16_t>(lun), stats.get()) == kResultGood;
      addStatsRow(&reply, rows++, c, selector, read ? stats.get() : nullptr);
    }
  }
  setCount(&reply, "StatsLoop", rows);
  addVariable(&reply, kHtmlPathKey, kStatisticsTemplate);
  return reply;
}

}  // namespace brivo
