// The storelib substitute: ProcessLibCommand answered from the MegaRAID controllers of a raidsim
// daemon through its "megaraid" control commands. The daemon's socket comes from env
// KESTROVA_STORELIB_SIM, else the first socket of KESTROVA_SCSI_SIM; without one every request
// fails as a missing controller stack would.
//
// Thread safety: requests may come from any thread; each one is a self-contained exchange with
// the daemon.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include "baylink/storelib_abi.h"
#include "common/scsi/scsi_sim.h"
#include "common/scsi/scsi_transport.h"

namespace {

constexpr uint8_t kTypeMegaRaid = 2;

std::string socketPath() {
  const char* own = std::getenv("KESTROVA_STORELIB_SIM");
  if (own != nullptr && *own != '\0') return own;
  const char* shared = std::getenv("KESTROVA_SCSI_SIM");
  std::vector<std::string> sockets = splitSimulatorList(shared != nullptr ? shared : "");
  return sockets.empty() ? "" : sockets.front();
}

// Runs a control command; 0 with the reply, 1 refused, -1 no daemon.
int control(const std::string& command, std::string* reply) {
  std::string socket = socketPath();
  if (socket.empty()) return -1;
  return simControl(socket, command, reply);
}

std::string hex(const uint8_t* bytes, size_t length) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string text;
  for (size_t i = 0; i < length; ++i) {
    text += kDigits[bytes[i] >> 4];
    text += kDigits[bytes[i] & 0x0F];
  }
  return text.empty() ? "-" : text;
}

int digit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

// Hexadecimal text ("-" for none); stops at the first pair that is not hexadecimal.
std::vector<uint8_t> unhex(const std::string& text) {
  std::vector<uint8_t> bytes;
  for (size_t i = 0; i + 1 < text.size() && digit(text[i]) >= 0 && digit(text[i + 1]) >= 0; i += 2)
    bytes.push_back(static_cast<uint8_t>(digit(text[i]) << 4 | digit(text[i + 1])));
  return bytes;
}

void putLe(uint8_t* p, uint64_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<uint8_t>(value >> (8 * i));
}

uint32_t initialise() {
  std::string reply;
  return control("megaraid list", &reply) == 0 ? storelib::kOk : storelib::kNotInitialized;
}

uint32_t controllerList(uint8_t* buffer, uint32_t size) {
  if (size < storelib::kControllerListBytes) return storelib::kNotInitialized;
  std::string reply;
  if (control("megaraid list", &reply) != 0) return storelib::kNotInitialized;
  std::memset(buffer, 0, size);
  std::istringstream lines(reply);
  uint16_t count = 0;
  unsigned id = 0, type = 0;
  std::string name;
  while (count < storelib::kMaxControllers && lines >> id >> type >> name) {
    uint32_t entry =
        (id & 0xFFFFFF) |
        (static_cast<uint32_t>(type == 1 ? storelib::kControllerTypeSasItIr : kTypeMegaRaid) << 24);
    putLe(buffer + storelib::kControllerEntriesOffset + 4 * count++, entry, 4);
  }
  putLe(buffer, count, 2);
  return storelib::kOk;
}

uint32_t driveList(uint32_t controller, uint8_t* buffer, uint32_t size) {
  if (size < storelib::kDriveListBytes) return storelib::kNotInitialized;
  std::string reply;
  int rc = control("megaraid drives " + std::to_string(controller), &reply);
  if (rc == 1) return storelib::kInvalidController;
  if (rc != 0) return storelib::kNotInitialized;
  std::memset(buffer, 0, size);
  std::istringstream lines(reply);
  uint32_t count = 0;
  unsigned device = 0, enclosure = 0, index = 0, slot = 0, type = 0;
  while (count < storelib::kMaxDrives && lines >> device >> enclosure >> index >> slot >> type) {
    storelib::DriveEntry entry{};
    entry.deviceId = static_cast<uint16_t>(device);
    entry.enclosureDeviceId = static_cast<uint16_t>(enclosure);
    entry.enclosureIndex = static_cast<uint8_t>(index);
    entry.slot = static_cast<uint8_t>(slot);
    entry.scsiType = static_cast<uint8_t>(type);
    entry.portMap = 1;
    entry.sasAddress[0] = 0x5000C50A00000000ULL | (static_cast<uint64_t>(controller) << 16) | device;
    std::memcpy(buffer + storelib::kDriveEntriesOffset + count++ * sizeof(entry), &entry, sizeof(entry));
  }
  putLe(buffer + 4, count, 4);
  return storelib::kOk;
}

uint32_t passThrough(const storelib::LibCommand& command, uint8_t* block, uint32_t size) {
  if (size < storelib::kPassHeaderBytes) return storelib::kNotInitialized;
  uint32_t dataLength = block[storelib::kPassDataLength] | (block[storelib::kPassDataLength + 1] << 8) |
                        (block[storelib::kPassDataLength + 2] << 16) |
                        (static_cast<uint32_t>(block[storelib::kPassDataLength + 3]) << 24);
  uint8_t cdbLength = block[storelib::kPassCdbLength];
  if (cdbLength < 1 || cdbLength > 16 || dataLength > size - storelib::kPassHeaderBytes)
    return storelib::kNotInitialized;
  uint8_t* data = block + storelib::kPassHeaderBytes;
  bool in = block[storelib::kPassDirection] == storelib::kPassDataIn;
  const char* direction = in ? "in" : dataLength > 0 ? "out" : "none";
  char head[96];
  std::snprintf(head, sizeof(head), "megaraid exec %u %u %s %u ", command.controllerId, command.deviceId,
                direction, in ? dataLength : 0u);
  std::string request = head;
  request += hex(block + storelib::kPassCdb, cdbLength);
  if (!in && dataLength > 0) request.append(" ").append(hex(data, dataLength));
  std::string reply;
  int rc = control(request, &reply);
  if (rc == 1)
    return reply == "invalid controller" ? storelib::kInvalidController : storelib::kDeviceNotFound;
  if (rc != 0) return storelib::kNotInitialized;
  std::istringstream fields(reply);
  unsigned status = 0;
  std::string sense, answer;
  if (!(fields >> status >> sense >> answer)) return storelib::kNotInitialized;
  block[storelib::kPassStatus] = static_cast<uint8_t>(status);
  std::vector<uint8_t> senseBytes = unhex(sense);
  std::copy_n(senseBytes.begin(), std::min(senseBytes.size(), storelib::kPassSenseBytes),
              block + storelib::kPassSense);
  if (status != 0) return storelib::kScsiError;
  std::vector<uint8_t> bytes = unhex(answer);
  if (in) std::copy_n(bytes.begin(), std::min<size_t>(bytes.size(), dataLength), data);
  return storelib::kOk;
}

}  // namespace

extern "C" __attribute__((visibility("default"))) uint32_t ProcessLibCommand(storelib::LibCommand* command) {
  if (command == nullptr || (command->data == nullptr && command->dataSize != 0))
    return storelib::kNotInitialized;
  auto* buffer = static_cast<uint8_t*>(command->data);
  switch (command->commandClass) {
    case storelib::kClassLibrary:
      if (command->command == storelib::kCommandInit) return initialise();
      if (command->command == storelib::kCommandControllerList)
        return controllerList(buffer, command->dataSize);
      break;
    case storelib::kClassController:
      if (command->command == storelib::kCommandPhysicalDriveList)
        return driveList(command->controllerId, buffer, command->dataSize);
      break;
    case storelib::kClassPassThrough:
      return passThrough(*command, buffer, command->dataSize);
    default:
      break;
  }
  return storelib::kNotInitialized;
}
