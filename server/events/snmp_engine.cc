// This installation's SNMP engine; see snmp_engine.h.
#include "server/events/snmp_engine.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <random>

#include "common/property_file.h"
#include "common/thread_annotations.h"

namespace {

constexpr uint8_t kEnginePrefix[] = {0x80, 0x00, 0x07, 0x01, 0x05};
constexpr size_t kRandomOctets = 8;
constexpr char kHeader[] =
    "\\\\\\This installation's SNMP engine: keep its ID, receivers are configured with it.";

Mutex gMutex;
std::optional<SnmpEngine> gEngine GUARDED_BY(gMutex);

uint32_t steadySeconds() {
  return static_cast<uint32_t>(
      std::chrono::duration_cast<std::chrono::seconds>(std::chrono::steady_clock::now().time_since_epoch())
          .count());
}

bool parseHex(const std::string& text, std::vector<uint8_t>* bytes) {
  std::string digits = text.rfind("0x", 0) == 0 ? text.substr(2) : text;
  if (digits.size() != 2 * (sizeof kEnginePrefix + kRandomOctets)) return false;
  bytes->clear();
  for (size_t i = 0; i < digits.size(); i += 2) {
    unsigned value = 0;
    if (std::sscanf(digits.c_str() + i, "%2x", &value) != 1) return false;
    bytes->push_back(static_cast<uint8_t>(value));
  }
  for (size_t i = 0; i < sizeof kEnginePrefix; ++i) {
    if ((*bytes)[i] != kEnginePrefix[i]) return false;
  }
  return true;
}

SnmpEngine loadEngine(const char* path) {
  SnmpEngine engine;
  TableOwner table(readPropertyFile(path));
  const char* id = getVariable(table.get(), "EngineId");
  const char* boots = getVariable(table.get(), "EngineBoots");
  if (id == nullptr || !parseHex(id, &engine.id)) {
    engine.id.assign(std::begin(kEnginePrefix), std::end(kEnginePrefix));
    std::random_device source;
    for (size_t i = 0; i < kRandomOctets; ++i) engine.id.push_back(static_cast<uint8_t>(source() & 0xFF));
  }
  unsigned long previous = boots != nullptr ? std::strtoul(boots, nullptr, 10) : 0;
  // RFC 3414: at 2147483647 the engine would need a new ID; that is a few billion restarts away.
  if (previous >= 2147483646UL) previous = 0;
  engine.boots = static_cast<uint32_t>(previous + 1);
  engine.startTime = steadySeconds();
  TableOwner fresh;
  addVariable(fresh.address(), "EngineId", snmpEngineIdText(engine).c_str());
  addUnsignedVariable(fresh.address(), "EngineBoots", engine.boots);
  TableOwner fileOrder(copyVariableTable(fresh.get()));
  if (writePropertyFile(path, kHeader, fileOrder.get()) != 0) {
    std::printf(
        "The SNMP engine could not be saved to %s: SNMPv3 receivers may refuse traps after a restart\n",
        path);
  }
  return engine;
}

}  // namespace

SnmpEngine snmpEngine(const char* path) {
  MutexLock lock(gMutex);
  if (!gEngine) gEngine = loadEngine(path);
  return *gEngine;
}

uint32_t snmpEngineTime(const SnmpEngine& engine) { return steadySeconds() - engine.startTime; }

std::string snmpEngineIdText(const SnmpEngine& engine) {
  std::string text = "0x";
  char digits[3];
  for (uint8_t byte : engine.id) {
    std::snprintf(digits, sizeof digits, "%02x", byte);
    text += digits;
  }
  return text;
}

std::string storedSnmpEngineId(const char* path) {
  TableOwner table(readPropertyFile(path));
  const char* id = getVariable(table.get(), "EngineId");
  std::vector<uint8_t> bytes;
  return id != nullptr && parseHex(id, &bytes) ? std::string(id) : std::string();
}

void resetSnmpEngine() {
  MutexLock lock(gMutex);
  gEngine.reset();
}
