// The block commands of a simulated direct-access device (SBC): READ and WRITE (6, 10, 12, 16),
// WRITE AND VERIFY, VERIFY (with byte comparison), SYNCHRONIZE CACHE, READ CAPACITY (10, 16),
// MODE SENSE (6, 10: caching and control pages) and START STOP UNIT, over a block store.
//
// Stores: SparseBlocks keeps what was written in 64 KiB chunks (unwritten blocks read as zeros)
// up to a limit, past which writes are refused as a thin-provisioned device out of space refuses
// them; a read-only store of zeros stands for the small access volume a RAID controller presents
// on a direct-access command path, so that initiators that insist on a capacity (the kernel's
// disk driver, QEMU, libiscsi) find one.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <cstdint>
#include <map>
#include <span>
#include <vector>

#include "sim/sim_scsi.h"

namespace sim {

class BlockStore {
 public:
  virtual ~BlockStore() = default;
  virtual uint64_t blocks() const = 0;
  virtual uint32_t blockSize() const = 0;
  virtual bool readOnly() const { return false; }
  // REQUIRES: lba + count <= blocks(). Appends count blocks to out.
  virtual void read(uint64_t lba, uint32_t count, std::vector<uint8_t>* out) const = 0;
  // REQUIRES: the range fits. data may end inside a block, whose rest keeps its contents. False
  // (and nothing written) when out of space.
  virtual bool write(uint64_t lba, std::span<const uint8_t> data) = 0;
};

class SparseBlocks : public BlockStore {
 public:
  SparseBlocks(uint64_t blocks, uint32_t blockSize, uint64_t maxStoredBytes = 256ULL << 20)
      : blocks_(blocks), blockSize_(blockSize), maxChunks_(maxStoredBytes / kChunkBytes) {}
  uint64_t blocks() const override { return blocks_; }
  uint32_t blockSize() const override { return blockSize_; }
  void read(uint64_t lba, uint32_t count, std::vector<uint8_t>* out) const override;
  bool write(uint64_t lba, std::span<const uint8_t> data) override;
  size_t storedChunks() const { return chunks_.size(); }

 private:
  static constexpr uint64_t kChunkBytes = 65536;
  uint64_t blocks_;
  uint32_t blockSize_;
  size_t maxChunks_;
  std::map<uint64_t, std::vector<uint8_t>> chunks_;  // by byte offset / kChunkBytes
};

class ZeroBlocks : public BlockStore {
 public:
  ZeroBlocks(uint64_t blocks, uint32_t blockSize) : blocks_(blocks), blockSize_(blockSize) {}
  uint64_t blocks() const override { return blocks_; }
  uint32_t blockSize() const override { return blockSize_; }
  bool readOnly() const override { return true; }
  void read(uint64_t, uint32_t count, std::vector<uint8_t>* out) const override {
    out->resize(out->size() + static_cast<size_t>(count) * blockSize_, 0);
  }
  bool write(uint64_t, std::span<const uint8_t>) override { return false; }

 private:
  uint64_t blocks_;
  uint32_t blockSize_;
};

// Answers a block command on store. False when the opcode is not one of the above.
bool handleBlockCommand(BlockStore& store, const SimCommand& command, SimReply* reply);

}  // namespace sim
