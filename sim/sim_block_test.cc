// Block commands of the simulated devices: a sparse store that reads back what was written,
// across its chunks and inside partial blocks, and refuses a write that does not fit whole; the
// lengths a command names (for residuals) when the initiator's buffer is shorter; VERIFY's
// comparison; MODE SENSE; and a controller pair's read-only access volume on its direct-access
// paths, with READ BUFFER reporting the CDB's allocation length.
#include "sim/sim_block.h"

#include <gtest/gtest.h>

#include "sim/controller_pair.h"
#include "sim/pair_models.h"

namespace sim {
namespace {

SimReply run(BlockStore& store, std::vector<uint8_t> cdb, uint32_t inLength = 0, std::vector<uint8_t> out = {}) {
  SimCommand command;
  command.cdb = cdb;
  command.dataInLength = inLength;
  command.dataOut = out;
  command.direction = out.empty() ? (inLength > 0 ? ScsiDirection::kIn : ScsiDirection::kNone) : ScsiDirection::kOut;
  SimReply reply;
  EXPECT_TRUE(handleBlockCommand(store, command, &reply));
  return reply;
}

std::vector<uint8_t> read10(uint32_t lba, uint16_t blocks) {
  std::vector<uint8_t> cdb = {0x28, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  putBe32(&cdb[2], lba);
  putBe16(&cdb[7], blocks);
  return cdb;
}

std::vector<uint8_t> write10(uint32_t lba, uint16_t blocks) {
  std::vector<uint8_t> cdb = read10(lba, blocks);
  cdb[0] = 0x2A;
  return cdb;
}

TEST(SimBlock, SparseStoreReadsBackAcrossChunksAndPartialBlocks) {
  SparseBlocks disk(1 << 20, 512);
  std::vector<uint8_t> data(512 * 200);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 31 + 1);
  // Blocks 100..299 cross the 64 KiB chunk boundary at block 128.
  EXPECT_EQ(run(disk, write10(100, 200), 0, data).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(run(disk, read10(100, 200), static_cast<uint32_t>(data.size())).data, data);
  SimReply around = run(disk, read10(99, 2), 1024);
  EXPECT_EQ(std::vector<uint8_t>(around.data.begin(), around.data.begin() + 512), std::vector<uint8_t>(512, 0));
  EXPECT_EQ(std::vector<uint8_t>(around.data.begin() + 512, around.data.end()),
            std::vector<uint8_t>(data.begin(), data.begin() + 512));
  // The initiator sent 200 bytes for one block: they are written, the rest of the block stays.
  SimReply partial = run(disk, write10(100, 1), 0, std::vector<uint8_t>(200, 0xEE));
  EXPECT_EQ(partial.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(partial.commandLength, 512);
  SimReply back = run(disk, read10(100, 1), 512);
  EXPECT_EQ(back.data[199], 0xEE);
  EXPECT_EQ(back.data[200], data[200]);
  // A buffer shorter than the blocks asked for: the reply fits it, the command names all of it.
  SimReply short1 = run(disk, read10(100, 2), 700);
  EXPECT_EQ(short1.data.size(), 700u);
  EXPECT_EQ(short1.commandLength, 1024);
}

TEST(SimBlock, RangeProtectionAndSpaceAreChecked) {
  SparseBlocks disk(1000, 512, 2 * 65536);  // room for two chunks
  auto expectSense = [](const SimReply& r, uint8_t key, uint8_t asc, uint8_t ascq = 0) {
    ASSERT_EQ(r.outcome, ScsiOutcome::kCheckCondition);
    EXPECT_EQ(r.sense[2] & 0x0F, key);
    EXPECT_EQ(r.sense[12], asc);
    EXPECT_EQ(r.sense[13], ascq);
  };
  expectSense(run(disk, read10(999, 2), 1024), 0x05, 0x21);  // beyond the last block
  expectSense(run(disk, read10(0xFFFFFFFF, 1), 512), 0x05, 0x21);
  std::vector<uint8_t> protect = read10(0, 1);
  protect[1] = 0x20;  // RDPROTECT
  expectSense(run(disk, protect, 512), 0x05, 0x24);
  EXPECT_EQ(run(disk, write10(0, 128), 0, std::vector<uint8_t>(65536, 1)).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(run(disk, write10(128, 128), 0, std::vector<uint8_t>(65536, 2)).outcome, ScsiOutcome::kGood);
  // A third chunk does not fit: nothing of the write is kept, not even its first block.
  expectSense(run(disk, write10(255, 2), 0, std::vector<uint8_t>(1024, 3)), 0x07, 0x27, 0x07);
  EXPECT_EQ(run(disk, read10(255, 1), 512).data, std::vector<uint8_t>(512, 2));
  EXPECT_EQ(disk.storedChunks(), 2u);
  // Rewriting stored chunks needs no room, across their boundary too.
  EXPECT_EQ(run(disk, write10(127, 2), 0, std::vector<uint8_t>(1024, 4)).outcome, ScsiOutcome::kGood);
  EXPECT_EQ(run(disk, read10(128, 1), 512).data, std::vector<uint8_t>(512, 4));
}

TEST(SimBlock, VerifyComparesAndModeSenseDescribesTheDisk) {
  SparseBlocks disk(4096, 512);
  std::vector<uint8_t> data(1024, 0x5A);
  ASSERT_EQ(run(disk, write10(8, 2), 0, data).outcome, ScsiOutcome::kGood);
  std::vector<uint8_t> verify = {0x2F, 0x02, 0, 0, 0, 8, 0, 0, 2, 0};  // BYTCHK 1
  EXPECT_EQ(run(disk, verify, 0, data).outcome, ScsiOutcome::kGood);
  data[700] = 0;
  SimReply mismatch = run(disk, verify, 0, data);
  ASSERT_EQ(mismatch.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(mismatch.sense[2] & 0x0F, 0x0E);
  EXPECT_EQ(be32(&mismatch.sense[3]), 700u);  // where the first difference is
  SimReply mode = run(disk, {0x1A, 0, 0x3F, 0, 255, 0}, 255);
  ASSERT_EQ(mode.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(mode.data[0] + 1u, mode.data.size());
  EXPECT_EQ(mode.data[3], 8);                   // one block descriptor
  EXPECT_EQ(be32(&mode.data[4 + 4]), 512u);     // its block length
  EXPECT_EQ(mode.data[12], 0x08);               // caching page first
  EXPECT_EQ(mode.data[2] & 0x80, 0);            // not write protected
  SimReply saved = run(disk, {0x1A, 0, 0xC8, 0, 255, 0}, 255);
  EXPECT_EQ(saved.outcome, ScsiOutcome::kCheckCondition);  // saved values: none
}

TEST(SimBlock, PairDirectAccessPathsShowAReadOnlyAccessVolume) {
  PairConfig config;
  config.name = "alpha";
  config.wwn = 0x20000004CF8A1B2CULL;
  config.paths = {PairPath{0, 0, 0, 0, 0, 0, true}, PairPath{1, 0, 0, 1, 0, 3, false}};
  ControllerPair pair(config, makePairModel("brivo"), nullptr);
  SimCommand command;
  std::vector<uint8_t> cap = {0x25, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  command.cdb = cap;
  command.dataInLength = 8;
  command.pathTag = 0;
  SimReply reply = pair.execute(command);
  ASSERT_EQ(reply.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(be32(&reply.data[0]), 2047u);
  EXPECT_EQ(be32(&reply.data[4]), 512u);
  command.pathTag = 1;  // the processor path has no capacity
  EXPECT_EQ(pair.execute(command).outcome, ScsiOutcome::kCheckCondition);
  std::vector<uint8_t> write = write10(0, 1);
  std::vector<uint8_t> block(512, 1);
  command.cdb = write;
  command.pathTag = 0;
  command.dataInLength = 0;
  command.dataOut = block;
  SimReply refused = pair.execute(command);
  ASSERT_EQ(refused.outcome, ScsiOutcome::kCheckCondition);
  EXPECT_EQ(refused.sense[2] & 0x0F, 0x07);
  // READ BUFFER of the controller information with a CDB that asks for 64 of its bytes: 64 come
  // back and the command names 64, however large the initiator's buffer.
  std::vector<uint8_t> readBuffer = {0x3C, 0x02, 0x40, 0, 0, 0, 0, 0, 64, 0};
  command.cdb = readBuffer;
  command.dataOut = {};
  command.dataInLength = 4096;
  SimReply info = pair.execute(command);
  ASSERT_EQ(info.outcome, ScsiOutcome::kGood);
  EXPECT_EQ(info.data.size(), 64u);
  EXPECT_EQ(info.commandLength, 64);
}

}  // namespace
}  // namespace sim
