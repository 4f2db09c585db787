// The controller command transport: every conversation with a Brivo controller pair is a SCSI
// READ BUFFER (0x3C) or WRITE BUFFER (0x3B) whose buffer-ID byte carries the operation code
// (modules/brivo/protocol.h lists them). This file builds the 10-byte command block, sends large
// transfers in chunks no bigger than the path allows, and maps the pass-through outcome to the
// module's result codes.
//
// Result codes: 0 good; 2 check condition (the record's sense data is valid); any other SCSI
// status byte as returned; 254 bad arguments (no record, no device, a length without data, a
// transfer too large for the block's 24-bit fields); 255 the module is stopping, the device
// could not be opened, or the pass-through failed (sense cleared).
//
// Usage: build the record (buildCommand), then transferCommand with the buffer and its length.
// For the SES pass-through IDs 0xF0-0xF2 the caller fills bytes 6-8 itself after buildCommand;
// the transfer leaves them alone.
//
// Thread safety: any number of threads may send at once; each command lives on its caller's
// stack and each send opens its own path to the device.
#pragma once

#include <cstdint>

#include "common/device_list.h"
#include "modules/brivo/device_state.h"

namespace brivo {

inline constexpr uint8_t kReadBuffer = 0x3C;
inline constexpr uint8_t kWriteBuffer = 0x3B;
inline constexpr uint8_t kCommandBlockLength = 10;
inline constexpr uint32_t kCommandTimeoutSeconds = 120;
inline constexpr uint32_t kSenseLength = 32;
// Chunk size when the device reports no transfer limit.
inline constexpr uint32_t kDefaultMaxTransfer = 0x10000;
// Largest chunk the 24-bit length field can carry, kept 4 KB aligned.
inline constexpr uint32_t kLargestChunk = 0xFFF000;

inline constexpr int kResultGood = 0;
inline constexpr int kResultCheckCondition = 2;
inline constexpr int kResultBadArguments = 254;
inline constexpr int kResultNoAnswer = 255;

struct ControllerCommand {
  uint8_t block[16];            // command block; the first 10 bytes are used
  uint8_t blockLength;          // always 10
  uint8_t dataIn;               // 1 READ BUFFER (controller to host), 0 WRITE BUFFER
  uint8_t sense[kSenseLength];  // filled by the send
  uint32_t timeoutSeconds;      // always 120
  uint32_t dataLength;          // length of the current chunk
};

// Sense key, additional sense code and qualifier of a record's sense data.
struct SenseCodes {
  uint8_t key = 0;
  uint8_t asc = 0;
  uint8_t ascq = 0;
};
// Decodes fixed-format sense (response code 0x70/0x71: key in byte 2, codes in bytes 12 and 13)
// and descriptor-format sense (0x72/0x73: bytes 1, 2 and 3). False (codes 0) when sense is null
// or holds no sense data.
bool decodeSense(const uint8_t* sense, SenseCodes* codes);
SenseCodes senseCodes(const ControllerCommand& command);

// Clears the record and fills bytes 0-5 of the block: opcode, mode, buffer ID and the three
// parameter bytes (the transfer writes the offset over bytes 3-5 unless the mode is 1).
void buildCommand(ControllerCommand* command, uint8_t opcode, uint8_t mode, uint8_t bufferId, uint8_t p3 = 0,
                  uint8_t p4 = 0, uint8_t p5 = 0);

// Called with the buffer after a successful READ BUFFER transfer (length = bytes the controller
// had, after the short-buffer rule).
using CompletionHook = void (*)(uint8_t* buffer, uint32_t length, void* context);

// Sends the command built in *command with total bytes of buffer, in chunks (see the .cc for the
// rules). pair, when given, is the pair whose interface types decide the buffer-ID adjustment;
// without it the first Brivo item of the device supplies it. Returns 0 or the first non-zero
// result.
[[nodiscard]] int transferCommand(const DeviceRecord* device, ControllerCommand* command, void* buffer,
                                  uint32_t total, CompletionHook hook = nullptr, void* hookContext = nullptr);
[[nodiscard]] int transferCommandFor(const DeviceRecord* device, const BrivoDeviceState* pair,
                                     ControllerCommand* command, void* buffer, uint32_t total,
                                     CompletionHook hook = nullptr, void* hookContext = nullptr);

// One pass-through of the record's block with command->dataLength bytes at data. Returns the
// result code; copies the sense data into the record (cleared on 255).
[[nodiscard]] int sendCommand(const DeviceRecord* device, ControllerCommand* command, uint8_t* data);

// READ BUFFER of length bytes into buffer. record (optional) receives the command with its sense.
[[nodiscard]] int readControllerBuffer(const DeviceRecord* device, uint8_t mode, uint8_t bufferId,
                                       void* buffer, uint32_t length, uint8_t p3 = 0, uint8_t p4 = 0,
                                       uint8_t p5 = 0, ControllerCommand* record = nullptr);
// WRITE BUFFER mode 1: the command signature followed by block (blockLength bytes; none when 0).
[[nodiscard]] int writeControllerOperation(const DeviceRecord* device, uint8_t bufferId, uint8_t p3,
                                           uint8_t p4, uint8_t p5, const void* block, uint32_t blockLength,
                                           ControllerCommand* record = nullptr);
// WRITE BUFFER mode 1 with value in byte 3 and the signature alone as data.
[[nodiscard]] int parameterCommand(const DeviceRecord* device, uint8_t bufferId, uint8_t value,
                                   ControllerCommand* record = nullptr);

}  // namespace brivo
