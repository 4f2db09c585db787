// Pair look-up, buffer reads and configuration brackets for request-side code; see
// pair_access.h.
#include "modules/brivo/pair_access.h"

#include <strings.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <new>

#include "common/thread_manager.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/module_status.h"
#include "modules/brivo/pair_paths.h"

namespace brivo {

namespace {

// System tests shorten the pause of a server they start (0-3 seconds); anything else keeps 3.
int initialReadyPollSeconds() {
  const char* text = std::getenv("KESTROVA_BRIVO_READY_POLL_SECONDS");
  if (text == nullptr || text[0] < '0' || text[0] > '3' || text[1] != '\0') return 3;
  return text[0] - '0';
}

std::atomic<int> gReadyPollSeconds{initialReadyPollSeconds()};

int noted(const PairTarget& pair, int result, Counting counting) {
  noteCommandResult(result, pair.device, counting == Counting::kCount);
  return result;
}

int readInto(const PairTarget& pair, uint8_t mode, uint8_t bufferId, void* out, uint32_t length, uint8_t p3,
             uint8_t p4, uint8_t p5, ControllerCommand* record, Counting counting) {
  if (!pair.found() || out == nullptr) return kResultBadArguments;
  ControllerCommand local;
  ControllerCommand* command = record != nullptr ? record : &local;
  buildCommand(command, kReadBuffer, mode, bufferId, p3, p4, p5);
  const auto started = std::chrono::steady_clock::now();
  const int result = noted(pair, transferCommandFor(pair.device, pair.state, command, out, length), counting);
  // A path that stopped answering is not the pair: a read (which changes nothing) goes once more
  // through the best of its other paths, so the request still gets its answer. That path may have
  // more failures on its count than this one, from a fault it has recovered from unused; its
  // answer clears them, and the next request starts there.
  if (result != kResultNoAnswer || counting != Counting::kCount || pair.name.empty()) return result;
  const PairTarget other = findPair(pair.name.c_str(), pair.device);
  if (!other.found()) return result;
  // The request keeps the one command limit it had: the second path gets what the first left.
  const auto spent =
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now() - started);
  const long left = static_cast<long>(kCommandTimeoutSeconds) - static_cast<long>(spent.count());
  if (left < 1) return result;
  buildCommand(command, kReadBuffer, mode, bufferId, p3, p4, p5);
  command->timeoutSeconds = static_cast<uint32_t>(left);
  return noted(other, transferCommandFor(other.device, other.state, command, out, length), counting);
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

}  // namespace

PairTarget findPair(const char* name, const DeviceRecord* avoid) {
  PairTarget pair;
  if (name == nullptr || *name == '\0') return pair;
  pair.name = name;
  pair.device = findControllerPair(name, &pair.item, avoid);
  if (pair.device != nullptr && pair.item != nullptr) pair.state = stateOf(pair.item);
  if (pair.state == nullptr) pair.device = nullptr;
  return pair;
}

PairTarget pairOfRequest(VariableTable request) { return findPair(getVariable(request, "ModDeviceName")); }

int readConfiguration(const PairTarget& pair, ConfigurationBlock* block, ControllerCommand* record,
                      Counting counting) {
  return readInto(pair, kModeData, kOpReadConfiguration, block, kConfigurationLength, 0, 0, 0, record,
                  counting);
}

int readConfigHeader(const PairTarget& pair, ConfigurationHeader* header, ControllerCommand* record,
                     Counting counting) {
  return readInto(pair, kModeCommand, kOpReadConfigHeader, header, kConfigHeaderLength, 0, 0, 0, record,
                  counting);
}

int readControllerInformation(const PairTarget& pair, ControllerInformation* info, ControllerCommand* record,
                              Counting counting) {
  return readInto(pair, kModeData, kOpReadControllerInfo, info, kControllerInfoLength, 0, 0, 0, record,
                  counting);
}

int readDriveList(const PairTarget& pair, DriveList* list, ControllerCommand* record, Counting counting) {
  return readInto(pair, kModeData, kOpReadDriveList, list, sizeof(DriveList), 0, 0, 0, record, counting);
}

int readArrayRecord(const PairTarget& pair, int array, ArrayRecord* out, ControllerCommand* record,
                    Counting counting) {
  if (array < 0 || array >= kMaxArrays) return kResultBadArguments;
  return readInto(pair, kModeCommand, kOpReadArray, out, sizeof(ArrayRecord), 0, static_cast<uint8_t>(array),
                  0, record, counting);
}

int readLogicalDriveRecord(const PairTarget& pair, int drive, LogicalDriveRecord* out,
                           ControllerCommand* record, Counting counting) {
  if (drive < 0 || drive >= kMaxLogicalDrives) return kResultBadArguments;
  return readInto(pair, kModeCommand, kOpReadLogicalDrive, out, sizeof(LogicalDriveRecord), 0,
                  static_cast<uint8_t>(drive >> 8), static_cast<uint8_t>(drive & 0xFF), record, counting);
}

int readFreeRegions(const PairTarget& pair, RegionInformation* out, ControllerCommand* record,
                    Counting counting) {
  return readInto(pair, kModeCommand, kOpReadRegions, out, sizeof(RegionInformation), kRegionsFreeByte3,
                  kRegionsFreeByte4, 0, record, counting);
}

int readHostTopology(const PairTarget& pair, HostTopology* out, ControllerCommand* record,
                     Counting counting) {
  return readInto(pair, kModeData, kOpReadTopology, out, sizeof(HostTopology), 0, 0, 0, record, counting);
}

int readJobProgress(const PairTarget& pair, JobProgress* out, ControllerCommand* record, Counting counting) {
  return readInto(pair, kModeCommand, kOpReadJobProgress, out, sizeof(JobProgress), 0, 0, 0, record,
                  counting);
}

int readStatistics(const PairTarget& pair, int controller, uint8_t port, uint16_t logicalDrive,
                   StatisticsBuffer* out, ControllerCommand* record, Counting counting) {
  if (controller != 0 && controller != 1) return kResultBadArguments;
  const uint8_t id = controller == 0 ? kOpReadStatisticsA : kOpReadStatisticsB;
  return readInto(pair, kModeCommand, id, out, sizeof(StatisticsBuffer), port,
                  static_cast<uint8_t>(logicalDrive >> 8), static_cast<uint8_t>(logicalDrive & 0xFF), record,
                  counting);
}

int readDataBuffer(const PairTarget& pair, uint8_t bufferId, void* out, uint32_t length,
                   ControllerCommand* record, Counting counting) {
  return readInto(pair, kModeData, bufferId, out, length, 0, 0, 0, record, counting);
}

int writeDataBuffer(const PairTarget& pair, uint8_t mode, uint8_t bufferId, const void* data, uint32_t length,
                    ControllerCommand* record, Counting counting) {
  if (!pair.found() || (data == nullptr && length != 0) || (mode != kModeData && mode != kModeFirmware))
    return kResultBadArguments;
  ControllerCommand local;
  ControllerCommand* command = record != nullptr ? record : &local;
  buildCommand(command, kWriteBuffer, mode, bufferId);
  // The transport only reads from the buffer of a WRITE BUFFER.
  const int result = transferCommandFor(pair.device, pair.state, command, const_cast<void*>(data), length);
  return noted(pair, result, counting);
}

std::unique_ptr<ConfigurationBlock> newConfigurationBlock() {
  return std::unique_ptr<ConfigurationBlock>(new (std::nothrow) ConfigurationBlock());
}

int sendOperation(const PairTarget& pair, uint8_t bufferId, uint8_t p3, uint8_t p4, uint8_t p5,
                  const void* block, uint32_t blockLength, ControllerCommand* record, Counting counting) {
  if (!pair.found()) return kResultBadArguments;
  const int result = writeControllerOperation(pair.device, bufferId, p3, p4, p5, block, blockLength, record);
  return noted(pair, result, counting);
}

int startConfigChange(const PairTarget& pair, ControllerCommand* record) {
  return sendOperation(pair, kOpConfigStart, 0, 0, 0, nullptr, 0, record);
}

int saveConfigChange(const PairTarget& pair, ControllerCommand* record) {
  return sendOperation(pair, kOpConfigSave, 0, 0, 0, nullptr, 0, record);
}

int waitUntilReady(const PairTarget& pair, int limitSeconds) {
  if (!pair.found()) return kResultBadArguments;
  const int pause = gReadyPollSeconds.load();
  int result = kResultNoAnswer;
  for (int attempt = 1;; ++attempt) {
    if (pause > 0 && !threadSleep(pause * 1000)) return result;
    if (!moduleState().running.load()) return result;
    result = sendOperation(pair, kOpConfigStart, 0, 0, 0, nullptr, 0, nullptr, Counting::kDoNotCount);
    if (result == kResultGood || 3 * attempt >= limitSeconds || attempt >= 4) return result;
  }
}

void setReadyPollSecondsForTesting(int seconds) { gReadyPollSeconds.store(seconds); }

void markConfigurationChanged() { moduleState().configurationChanged.store(true); }

bool takeConfigurationChanged() { return moduleState().configurationChanged.exchange(false); }

const ControllerRecord* firstValidController(const ControllerInformation& info) {
  if (info.stateA == kOn) return &info.controllers[0];
  if (info.stateB == kOn) return &info.controllers[1];
  return nullptr;
}

int controllerIndex(const ControllerInformation& info, const ControllerRecord* record) {
  if (record == &info.controllers[0]) return 0;
  if (record == &info.controllers[1]) return 1;
  return -1;
}

const DriveListEntry* driveWithWwn(const DriveList& drives, const uint8_t wwn[8]) {
  const int count = std::min<int>(drives.count, kMaxDrives);
  for (int i = 0; i < count; ++i) {
    if (std::memcmp(drives.entries[i].wwn, wwn, 8) == 0) return &drives.entries[i];
  }
  return nullptr;
}

std::string wwnText(const uint8_t wwn[8]) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text(16, '0');
  for (int i = 0; i < 8; ++i) {
    text[2 * i] = kDigits[wwn[i] >> 4];
    text[2 * i + 1] = kDigits[wwn[i] & 0x0F];
  }
  return text;
}

bool parseWwn(const char* text, uint8_t out[8]) {
  if (text == nullptr || std::strlen(text) != 16) return false;
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) {
    const int high = hexDigit(text[2 * i]);
    const int low = hexDigit(text[2 * i + 1]);
    if (high < 0 || low < 0) return false;
    bytes[i] = static_cast<uint8_t>(high << 4 | low);
  }
  std::memcpy(out, bytes, 8);
  return true;
}

std::string fieldText(const char* field, size_t width) {
  size_t length = strnlen(field, width);
  while (length > 0 && field[length - 1] == ' ') --length;
  return std::string(field, length);
}

long requestNumber(VariableTable request, const char* key, long fallback) {
  const char* text = getVariable(request, key);
  if (text == nullptr || *text == '\0' || std::strstr(text, "missing") != nullptr) return fallback;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (end == text || errno != 0) return fallback;
  while (*end != '\0' && std::isspace(static_cast<unsigned char>(*end))) ++end;
  return *end == '\0' ? value : fallback;
}

bool requestFlag(VariableTable request, const char* key) {
  const char* text = getVariable(request, key);
  if (text == nullptr) return false;
  return strcasecmp(text, "true") == 0 || strcasecmp(text, "on") == 0 || strcasecmp(text, "yes") == 0 ||
         std::strcmp(text, "1") == 0;
}

}  // namespace brivo
