// storelib loading and the MegaRAID pass-through; see blnk_storelib.h.
#include "baylink/blnk_storelib.h"

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "baylink/blnk_debug.h"

namespace {

struct Loaded {
  std::string path;
  storelib::ProcessLibCommandFn entry = nullptr;
  bool failed = false;  // the last attempt at path failed; not retried until the path changes
};

Loaded& loaded() {
  static Loaded* instance = new Loaded();
  return *instance;
}

std::string libraryPath() {
  const char* env = std::getenv("BAYLINK_STORELIB");
  return env != nullptr && *env != '\0' ? env : kBlnkStorelibDefault;
}

storelib::ProcessLibCommandFn entry() {
  Loaded& l = loaded();
  std::string path = libraryPath();
  // A library loaded before stays mapped: storelib keeps state of its own and is never unloaded.
  if (path != l.path) l = Loaded{path};
  if (l.entry != nullptr || l.failed) return l.entry;
  std::string why;
  l.entry = blnkLoadStorelibEntry(path, &why);
  if (l.entry == nullptr) {
    blnkTrace("storelib %s not usable: %s", path.c_str(), why.c_str());
    l.failed = true;
  }
  return l.entry;
}

bool parseDecimal(const char* begin, const char* end, uint32_t* value) {
  if (begin == end || end - begin > 9) return false;
  uint32_t v = 0;
  for (const char* p = begin; p < end; ++p) {
    if (std::isdigit(static_cast<unsigned char>(*p)) == 0) return false;
    v = v * 10 + static_cast<uint32_t>(*p - '0');
  }
  *value = v;
  return true;
}

void putLe(uint8_t* p, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

void logFailure(uint32_t rc, uint32_t controller, uint32_t device, const uint8_t* cdb, int cdbLength,
                const uint8_t* sense) {
  blnkTrace("StorLib ProcessLibCommand failed! ret = 0x%X ctrl=%d, device = %d\n", rc,
            static_cast<int>(controller), static_cast<int>(device));
  std::string bytes;
  char entry[8];
  for (int i = 0; i < cdbLength; ++i) {
    std::snprintf(entry, sizeof(entry), " %02X", cdb[i]);
    bytes += entry;
  }
  blnkTrace("%s", bytes.c_str());
  blnkTraceDump(sense, static_cast<int>(storelib::kPassSenseBytes));
}

}  // namespace

uint32_t blnkStorelibCall(storelib::LibCommand* command, bool* isLoaded) {
  storelib::ProcessLibCommandFn fn = entry();
  *isLoaded = fn != nullptr;
  return fn != nullptr ? fn(command) : storelib::kNotInitialized;
}

bool blnkParseMegaRaidName(const std::string& name, uint32_t* device, uint32_t* controller) {
  if (name.rfind(kBlnkMegaRaidPrefix, 0) != 0) return false;
  const char* digits = name.c_str() + 4;
  const char* dash = std::strchr(digits, '-');
  if (dash == nullptr) return false;
  return parseDecimal(digits, dash, device) && parseDecimal(dash + 1, name.c_str() + name.size(), controller);
}

int blnkMegaRaidExecute(const std::string& name, int direction, const uint8_t* cdb, int cdbLength,
                        uint8_t* buffer, int bufferLength, uint8_t* sense) {
  uint32_t device = 0;
  uint32_t controller = 0;
  if (!blnkParseMegaRaidName(name, &device, &controller) || cdbLength < 1 || cdbLength > 16 ||
      bufferLength < 0)
    return -1;
  size_t dataLength = buffer != nullptr ? static_cast<size_t>(bufferLength) : 0;
  std::vector<uint8_t> block(storelib::kPassHeaderBytes + dataLength, 0);
  putLe(&block[storelib::kPassDeviceId], device, 2);
  block[storelib::kPassFlag] = 1;
  block[storelib::kPassDirection] = direction == 1 ? storelib::kPassDataIn : storelib::kPassOther;
  putLe(&block[storelib::kPassTimeout], 60, 2);
  block[storelib::kPassCdbLength] = static_cast<uint8_t>(cdbLength);
  std::memcpy(&block[storelib::kPassCdb], cdb, static_cast<size_t>(cdbLength));
  putLe(&block[storelib::kPassDataLength], static_cast<uint32_t>(dataLength), 4);
  if (direction == 2 && dataLength > 0) std::memcpy(&block[storelib::kPassHeaderBytes], buffer, dataLength);

  storelib::LibCommand command;
  command.commandClass = storelib::kClassPassThrough;
  command.controllerId = controller;
  command.deviceId = device;
  command.dataSize = static_cast<uint32_t>(block.size());
  command.data = block.data();
  bool isLoaded = false;
  uint32_t rc = blnkStorelibCall(&command, &isLoaded);
  if (sense != nullptr) std::memcpy(sense, &block[storelib::kPassSense], 16);
  if (rc != storelib::kOk) {
    logFailure(rc, controller, device, cdb, cdbLength, &block[storelib::kPassSense]);
    return static_cast<int>(rc);
  }
  if (direction == 1 && dataLength > 0) std::memcpy(buffer, &block[storelib::kPassHeaderBytes], dataLength);
  blnkTrace("ProcessLibCommand sucessfull\n");
  return 0;
}
