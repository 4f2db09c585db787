// The controller command transport; see controller_command.h.
//
// Transfer rules, in order:
//   1. Nothing is sent while the module is not running (255).
//   2. READ BUFFER of buffer IDs 1-5 on a pair whose drive and host interface types are both 2
//      uses the alias IDs (ID OR 0x20).
//   3. Chunks are at most the device's transfer limit (0x10000 when it reports none). A firmware
//      download (mode 5) larger than one chunk goes out in mode 7, with offsets.
//   4. Each chunk carries its offset in bytes 3-5 (except in mode 1, where those bytes are the
//      operation's parameters) and its length in bytes 6-8 (except for the SES pass-through IDs
//      0xF0-0xF2, whose bytes 6-8 are parameters).
//   5. After the first chunk of a READ BUFFER, the buffer's first word (little-endian) is the
//      length the controller really has; a smaller value ends the transfer early.
#include "modules/brivo/controller_command.h"

#include <cstring>
#include <vector>

#include "common/scsi/scsi_transport.h"
#include "modules/brivo/controller_traits.h"
#include "modules/brivo/module_state.h"
#include "modules/brivo/protocol.h"

namespace brivo {

namespace {

constexpr uint32_t kMaxOffset = 0xFFFFFF;  // bytes 3-5

void putBigEndian24(uint8_t* out, uint32_t value) {
  out[0] = static_cast<uint8_t>(value >> 16);
  out[1] = static_cast<uint8_t>(value >> 8);
  out[2] = static_cast<uint8_t>(value);
}

bool isSesPassThrough(uint8_t bufferId) { return bufferId >= 0xF0 && bufferId <= 0xF2; }

uint32_t maxChunkOf(const DeviceRecord* device) {
  const uint32_t limit = device->info->maxTransferSize;
  if (limit == 0) return kDefaultMaxTransfer;
  return limit > kLargestChunk ? kLargestChunk : limit;
}

int resultOf(const ScsiResult& outcome) {
  switch (outcome.outcome) {
    case ScsiOutcome::kGood:
    case ScsiOutcome::kCheckCondition:
    case ScsiOutcome::kStatus:
      return outcome.status;
    case ScsiOutcome::kInvalid:
      return kResultBadArguments;
    case ScsiOutcome::kNoAnswer:
    case ScsiOutcome::kTimeout:
      break;
  }
  return kResultNoAnswer;
}

uint32_t firstWord(const uint8_t* data) {
  return static_cast<uint32_t>(data[0]) | static_cast<uint32_t>(data[1]) << 8 |
         static_cast<uint32_t>(data[2]) << 16 | static_cast<uint32_t>(data[3]) << 24;
}

}  // namespace

bool decodeSense(const uint8_t* sense, SenseCodes* codes) {
  *codes = SenseCodes{};
  if (sense == nullptr) return false;
  const uint8_t response = sense[0] & 0x7F;
  if (response == 0x70 || response == 0x71) {
    *codes = SenseCodes{static_cast<uint8_t>(sense[2] & 0x0F), sense[12], sense[13]};
    return true;
  }
  if (response == 0x72 || response == 0x73) {
    *codes = SenseCodes{static_cast<uint8_t>(sense[1] & 0x0F), sense[2], sense[3]};
    return true;
  }
  return false;
}

SenseCodes senseCodes(const ControllerCommand& command) {
  SenseCodes codes;
  decodeSense(command.sense, &codes);
  return codes;
}

void buildCommand(ControllerCommand* command, uint8_t opcode, uint8_t mode, uint8_t bufferId, uint8_t p3,
                  uint8_t p4, uint8_t p5) {
  std::memset(command, 0, sizeof(*command));
  command->block[0] = opcode;
  command->block[1] = mode;
  command->block[2] = bufferId;
  command->block[3] = p3;
  command->block[4] = p4;
  command->block[5] = p5;
  command->blockLength = kCommandBlockLength;
  command->dataIn = opcode == kReadBuffer ? 1 : 0;
  command->timeoutSeconds = kCommandTimeoutSeconds;
}

int sendCommand(const DeviceRecord* device, ControllerCommand* command, uint8_t* data) {
  if (command == nullptr) return kResultBadArguments;
  if (device == nullptr || device->info == nullptr || device->info->deviceName[0] == '\0' ||
      (command->dataLength != 0 && data == nullptr)) {
    return kResultBadArguments;
  }
  const DeviceInfo& info = *device->info;
  ScsiCommand scsi;
  scsi.device = std::string_view(info.deviceName, strnlen(info.deviceName, sizeof(info.deviceName)));
  scsi.path = info.pathId;
  scsi.target = info.targetId;
  scsi.lun = info.lun;
  scsi.cdb = command->block;
  scsi.cdbLength = command->blockLength;
  scsi.direction = command->dataLength == 0 ? ScsiDirection::kNone
                   : command->dataIn != 0   ? ScsiDirection::kIn
                                            : ScsiDirection::kOut;
  scsi.data = data;
  scsi.dataLength = command->dataLength;
  scsi.timeoutMs = command->timeoutSeconds * 1000;
  std::memset(command->sense, 0, sizeof(command->sense));
  scsi.sense = command->sense;
  scsi.senseCapacity = sizeof(command->sense);
  const ScsiResult outcome = scsiExecute(scsi);
  const int result = resultOf(outcome);
  if (result == kResultNoAnswer || result == kResultBadArguments) {
    std::memset(command->sense, 0, sizeof(command->sense));
  }
  return result;
}

int transferCommand(const DeviceRecord* device, ControllerCommand* command, void* buffer, uint32_t total,
                    CompletionHook hook, void* hookContext) {
  return transferCommandFor(device, stateOf(findBrivoItem(device)), command, buffer, total, hook,
                            hookContext);
}

int transferCommandFor(const DeviceRecord* device, const BrivoDeviceState* pair, ControllerCommand* command,
                       void* buffer, uint32_t total, CompletionHook hook, void* hookContext) {
  if (!moduleState().running.load(std::memory_order_acquire)) return kResultNoAnswer;
  if (command == nullptr || device == nullptr || device->info == nullptr ||
      (total != 0 && buffer == nullptr)) {
    return kResultBadArguments;
  }
  std::memset(command->sense, 0, sizeof(command->sense));
  command->blockLength = kCommandBlockLength;
  command->dataIn = command->block[0] == kReadBuffer ? 1 : 0;
  // A caller may shorten the limit (what is left of a request's own deadline), never lengthen it.
  if (command->timeoutSeconds == 0 || command->timeoutSeconds > kCommandTimeoutSeconds)
    command->timeoutSeconds = kCommandTimeoutSeconds;
  uint8_t& bufferId = command->block[2];
  if (command->dataIn != 0 && bufferId >= 1 && bufferId <= 5 && usesAliasBufferIds(pair))
    bufferId |= kAliasBit;

  const uint32_t maxChunk = maxChunkOf(device);
  uint8_t& mode = command->block[1];
  if (mode == kModeFirmware && total > maxChunk) mode = kModeFirmwareOffsets;
  // Offsets beyond 24 bits would wrap in the block and overwrite the start of the buffer.
  if (mode != kModeCommand && total != 0 && (total - 1) / maxChunk * maxChunk > kMaxOffset) {
    return kResultBadArguments;
  }

  auto* data = static_cast<uint8_t*>(buffer);
  for (uint32_t offset = 0; offset < total;) {
    const uint32_t chunk = total - offset < maxChunk ? total - offset : maxChunk;
    if (mode != kModeCommand) putBigEndian24(&command->block[3], offset);
    if (!isSesPassThrough(bufferId)) {
      putBigEndian24(&command->block[6], chunk);
      command->block[9] = 0;
    }
    command->dataLength = chunk;
    const int result = sendCommand(device, command, data + offset);
    if (result != kResultGood) return result;
    if (offset == 0 && command->dataIn != 0 && chunk >= 4) {
      const uint32_t available = firstWord(data);
      if (available < total) total = available;
    }
    offset += chunk;
  }
  if (hook != nullptr && command->dataIn != 0) hook(data, total, hookContext);
  return kResultGood;
}

int readControllerBuffer(const DeviceRecord* device, uint8_t mode, uint8_t bufferId, void* buffer,
                         uint32_t length, uint8_t p3, uint8_t p4, uint8_t p5, ControllerCommand* record) {
  ControllerCommand local;
  ControllerCommand* command = record != nullptr ? record : &local;
  buildCommand(command, kReadBuffer, mode, bufferId, p3, p4, p5);
  return transferCommand(device, command, buffer, length);
}

int writeControllerOperation(const DeviceRecord* device, uint8_t bufferId, uint8_t p3, uint8_t p4, uint8_t p5,
                             const void* block, uint32_t blockLength, ControllerCommand* record) {
  if (blockLength != 0 && block == nullptr) return kResultBadArguments;
  std::vector<uint8_t> data(kSignatureLength + blockLength);
  std::memcpy(data.data(), kCommandSignature, kSignatureLength);
  if (blockLength != 0) std::memcpy(data.data() + kSignatureLength, block, blockLength);
  ControllerCommand local;
  ControllerCommand* command = record != nullptr ? record : &local;
  buildCommand(command, kWriteBuffer, kModeCommand, bufferId, p3, p4, p5);
  return transferCommand(device, command, data.data(), static_cast<uint32_t>(data.size()));
}

int parameterCommand(const DeviceRecord* device, uint8_t bufferId, uint8_t value, ControllerCommand* record) {
  return writeControllerOperation(device, bufferId, value, 0, 0, nullptr, 0, record);
}

}  // namespace brivo
