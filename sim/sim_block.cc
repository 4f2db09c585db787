// Block commands of simulated direct-access devices; see sim_block.h.
#include "sim/sim_block.h"

#include <algorithm>

#include "sim/sim_target.h"

namespace sim {

namespace {

constexpr uint8_t kSenseDataProtect = 0x07;
constexpr uint8_t kSenseMiscompare = 0x0E;
constexpr uint8_t kAscLbaOutOfRange = 0x21;
constexpr uint8_t kAscWriteProtected = 0x27;
constexpr uint8_t kAscMiscompare = 0x1D;
constexpr uint8_t kAscSavingNotSupported = 0x39;
constexpr uint8_t kAscInvalidInformationUnit = 0x0E;

enum class Kind { kRead, kWrite, kWriteVerify, kVerify, kSync };

struct Transfer {
  Kind kind = Kind::kRead;
  uint64_t lba = 0;
  uint32_t count = 0;
  uint8_t protect = 0;  // RDPROTECT / WRPROTECT / VRPROTECT
  uint8_t byteCheck = 0;
};

// Decodes the transfer commands; false for other opcodes.
bool decodeTransfer(std::span<const uint8_t> cdb, Transfer* t) {
  const uint8_t* c = cdb.data();
  uint8_t op = c[0];
  auto need = [&](size_t n) { return cdb.size() >= n; };
  switch (op) {
    case 0x08: case 0x0A:  // READ(6), WRITE(6)
      if (!need(6)) return false;
      t->kind = op == 0x08 ? Kind::kRead : Kind::kWrite;
      t->lba = be24(c + 1) & 0x1FFFFF;
      t->count = c[4] == 0 ? 256 : c[4];
      return true;
    case 0x28: case 0x2A: case 0x2E: case 0x2F: case 0x35:  // 10-byte forms
      if (!need(10)) return false;
      t->kind = op == 0x28 ? Kind::kRead : op == 0x2A ? Kind::kWrite : op == 0x2E ? Kind::kWriteVerify
                : op == 0x2F ? Kind::kVerify : Kind::kSync;
      t->lba = be32(c + 2);
      t->count = be16(c + 7);
      break;
    case 0xA8: case 0xAA: case 0xAE: case 0xAF:  // 12-byte forms
      if (!need(12)) return false;
      t->kind = op == 0xA8 ? Kind::kRead : op == 0xAA ? Kind::kWrite : op == 0xAE ? Kind::kWriteVerify : Kind::kVerify;
      t->lba = be32(c + 2);
      t->count = be32(c + 6);
      break;
    case 0x88: case 0x8A: case 0x8E: case 0x8F: case 0x91:  // 16-byte forms
      if (!need(16)) return false;
      t->kind = op == 0x88 ? Kind::kRead : op == 0x8A ? Kind::kWrite : op == 0x8E ? Kind::kWriteVerify
                : op == 0x8F ? Kind::kVerify : Kind::kSync;
      t->lba = (static_cast<uint64_t>(be32(c + 2)) << 32) | be32(c + 6);
      t->count = be32(c + 10);
      break;
    default:
      return false;
  }
  if (t->kind != Kind::kSync) t->protect = c[1] >> 5;
  if (t->kind == Kind::kVerify) t->byteCheck = (c[1] >> 1) & 0x03;
  return true;
}

SimReply transferBody(BlockStore& store, const Transfer& t, const SimCommand& command, size_t bytes);

SimReply transfer(BlockStore& store, const Transfer& t, const SimCommand& command) {
  if (t.protect != 0) return illegalRequest();  // no protection information on these devices
  if (t.lba > store.blocks() || t.count > store.blocks() - t.lba) return illegalRequest(kAscLbaOutOfRange);
  if (t.kind == Kind::kSync) return goodReply();
  size_t bytes = static_cast<size_t>(t.count) * store.blockSize();
  SimReply reply = transferBody(store, t, command, bytes);
  reply.commandLength = t.kind == Kind::kVerify && t.byteCheck == 3 ? store.blockSize()
                        : t.kind == Kind::kVerify && t.byteCheck == 0 ? 0
                                                                       : static_cast<int64_t>(bytes);
  return reply;
}

SimReply transferBody(BlockStore& store, const Transfer& t, const SimCommand& command, size_t bytes) {
  if (t.kind == Kind::kRead) {
    // Whole blocks are read; the initiator's buffer may end inside one.
    uint32_t blocks = static_cast<uint32_t>(
        std::min<uint64_t>(t.count, (static_cast<uint64_t>(command.dataInLength) + store.blockSize() - 1) / store.blockSize()));
    std::vector<uint8_t> data;
    store.read(t.lba, blocks, &data);
    data.resize(std::min<size_t>(data.size(), command.dataInLength));
    return goodReply(std::move(data));
  }
  if (t.kind == Kind::kVerify) {
    if (t.byteCheck == 0 || t.count == 0) return goodReply();  // the medium itself is always sound
    if (t.byteCheck == 2) return illegalRequest();
    size_t expected = t.byteCheck == 3 ? store.blockSize() : bytes;
    if (command.dataOut.size() < expected) return checkCondition({kSenseIllegalRequest, kAscInvalidInformationUnit, 0x03});
    std::vector<uint8_t> media;
    store.read(t.lba, t.count, &media);
    for (size_t i = 0; i < media.size(); ++i) {
      uint8_t wanted = command.dataOut[t.byteCheck == 3 ? i % store.blockSize() : i];
      if (media[i] != wanted) {
        SimReply reply = checkCondition({kSenseMiscompare, kAscMiscompare, 0});
        reply.sense[0] |= 0x80;  // VALID: the information field holds the offset of the miscompare
        putBe32(&reply.sense[3], static_cast<uint32_t>(i));
        return reply;
      }
    }
    return goodReply();
  }
  if (store.readOnly()) return checkCondition({kSenseDataProtect, kAscWriteProtected, 0});
  if (t.count == 0) return goodReply();
  // Less data than the command names (the initiator's buffer was shorter): what came is written,
  // nothing beyond it, and the transport reports the overflow.
  size_t written = std::min(bytes, command.dataOut.size());
  if (!store.write(t.lba, command.dataOut.first(written))) {
    return checkCondition({kSenseDataProtect, kAscWriteProtected, 0x07});  // space allocation failed
  }
  return goodReply();
}

// Mode pages 0x08 (caching: write cache off, read cache on) and 0x0A (control). pageControl 1
// asks for the changeable values: none.
std::vector<uint8_t> modePages(uint8_t page, uint8_t pageControl) {
  std::vector<uint8_t> caching(20, 0);
  caching[0] = 0x08;
  caching[1] = 18;
  std::vector<uint8_t> control(12, 0);
  control[0] = 0x0A;
  control[1] = 10;
  if (pageControl != 1) {
    control[2] = 0x02;  // GLTSD: no implicit log saving
    putBe16(&control[10], 30);  // busy timeout period, 100 ms units
  }
  std::vector<uint8_t> out;
  if (page == 0x08 || page == 0x3F) out.insert(out.end(), caching.begin(), caching.end());
  if (page == 0x0A || page == 0x3F) out.insert(out.end(), control.begin(), control.end());
  return out;
}

SimReply modeSense(const BlockStore& store, const SimCommand& command) {
  const uint8_t* c = command.cdb.data();
  bool ten = c[0] == 0x5A;
  if (command.cdb.size() < (ten ? 10u : 6u)) return illegalRequest();
  bool noBlockDescriptor = (c[1] & 0x08) != 0;
  uint8_t pageControl = c[2] >> 6;
  uint8_t page = c[2] & 0x3F;
  if (pageControl == 3) return illegalRequest(kAscSavingNotSupported);
  if (c[3] != 0 && c[3] != 0xFF) return illegalRequest();  // subpages
  std::vector<uint8_t> pages = modePages(page, pageControl);
  if (pages.empty()) return illegalRequest();
  std::vector<uint8_t> descriptor;
  if (!noBlockDescriptor) {
    descriptor.assign(8, 0);
    uint64_t blocks = store.blocks();
    putBe32(&descriptor[0], blocks > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<uint32_t>(blocks));
    putBe32(&descriptor[4], store.blockSize() & 0xFFFFFF);
  }
  uint8_t deviceSpecific = static_cast<uint8_t>((store.readOnly() ? 0x80 : 0x00) | 0x10);  // WP, DPOFUA
  std::vector<uint8_t> data;
  if (ten) {
    data.assign(8, 0);
    data[3] = deviceSpecific;
    putBe16(&data[6], static_cast<uint32_t>(descriptor.size()));
  } else {
    data.assign(4, 0);
    data[2] = deviceSpecific;
    data[3] = static_cast<uint8_t>(descriptor.size());
  }
  data.insert(data.end(), descriptor.begin(), descriptor.end());
  data.insert(data.end(), pages.begin(), pages.end());
  if (ten) {
    putBe16(&data[0], static_cast<uint32_t>(data.size() - 2));
  } else {
    data[0] = static_cast<uint8_t>(data.size() - 1);
  }
  return dataReply(std::move(data), ten ? be16(c + 7) : c[4], command);
}

}  // namespace

void SparseBlocks::read(uint64_t lba, uint32_t count, std::vector<uint8_t>* out) const {
  uint64_t at = lba * blockSize_;
  uint64_t end = at + static_cast<uint64_t>(count) * blockSize_;
  size_t first = out->size();
  out->resize(first + static_cast<size_t>(end - at), 0);
  while (at < end) {
    uint64_t chunk = at / kChunkBytes;
    uint64_t within = at % kChunkBytes;
    uint64_t length = std::min(end - at, kChunkBytes - within);
    auto it = chunks_.find(chunk);
    if (it != chunks_.end()) {
      std::copy_n(it->second.begin() + static_cast<std::ptrdiff_t>(within), length,
                  out->begin() + static_cast<std::ptrdiff_t>(first));
    }
    first += static_cast<size_t>(length);
    at += length;
  }
}

bool SparseBlocks::write(uint64_t lba, std::span<const uint8_t> data) {
  uint64_t at = lba * blockSize_;
  uint64_t end = at + data.size();
  size_t needed = 0;
  for (uint64_t chunk = at / kChunkBytes; chunk * kChunkBytes < end; ++chunk) needed += chunks_.count(chunk) == 0;
  if (chunks_.size() + needed > maxChunks_) return false;  // nothing written: all or nothing
  size_t from = 0;
  while (at < end) {
    uint64_t within = at % kChunkBytes;
    uint64_t length = std::min(end - at, kChunkBytes - within);
    std::vector<uint8_t>& chunk = chunks_[at / kChunkBytes];
    if (chunk.empty()) chunk.assign(kChunkBytes, 0);
    std::copy_n(data.begin() + static_cast<std::ptrdiff_t>(from), length,
                chunk.begin() + static_cast<std::ptrdiff_t>(within));
    from += static_cast<size_t>(length);
    at += length;
  }
  return true;
}

bool handleBlockCommand(BlockStore& store, const SimCommand& command, SimReply* reply) {
  const uint8_t* c = command.cdb.data();
  uint64_t lastBlock = store.blocks() == 0 ? 0 : store.blocks() - 1;
  Transfer t;
  if (decodeTransfer(command.cdb, &t)) {
    *reply = transfer(store, t, command);
    return true;
  }
  switch (c[0]) {
    case 0x25:  // READ CAPACITY(10)
      if (command.cdb.size() < 10) return false;
      {
        std::vector<uint8_t> data(8);
        putBe32(&data[0], lastBlock > 0xFFFFFFFFULL ? 0xFFFFFFFFu : static_cast<uint32_t>(lastBlock));
        putBe32(&data[4], store.blockSize());
        *reply = dataReply(std::move(data), 8, command);
      }
      return true;
    case 0x9E:  // SERVICE ACTION IN(16): READ CAPACITY(16)
      if ((c[1] & 0x1F) != 0x10 || command.cdb.size() < 16) return false;
      {
        std::vector<uint8_t> data(32, 0);
        putBe64(&data[0], lastBlock);
        putBe32(&data[8], store.blockSize());
        *reply = dataReply(std::move(data), be32(c + 10), command);
      }
      return true;
    case 0x1A:  // MODE SENSE(6)
    case 0x5A:  // MODE SENSE(10)
      *reply = modeSense(store, command);
      return true;
    case 0x1B:  // START STOP UNIT: the medium is always there and spinning
      *reply = goodReply();
      return true;
    default:
      return false;
  }
}

}  // namespace sim
