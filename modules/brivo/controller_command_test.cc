// The controller command transport against a fake SCSI transport: block layouts byte for byte,
// chunking and the short-buffer rule, mode 5 to 7, the buffer-ID alias, result codes and sense,
// and that nothing is sent while the module is stopped.
#include "modules/brivo/controller_command.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>
#include <vector>

#include "modules/brivo/brivo_test_support.h"

namespace brivo {
namespace {

using testing::FakeTransportScope;
using testing::SentCommand;
using Cdb = std::array<uint8_t, 10>;

constexpr char kPath[] = "sim:/tmp/x.sock:0:0:0:0";

// A buffer of size bytes whose first word says it holds `available` bytes.
std::vector<uint8_t> lengthBuffer(uint32_t size, uint32_t available) {
  std::vector<uint8_t> buffer(size);
  for (uint32_t i = 0; i < size; ++i) buffer[i] = static_cast<uint8_t>(i * 7);
  std::memcpy(buffer.data(), &available, 4);
  return buffer;
}

class TransportTest : public ::testing::Test {
 protected:
  DeviceRecord* device(uint32_t maxTransfer = 0x10000) { return list_.add(kPath, 0, maxTransfer); }
  std::vector<SentCommand> sent() { return fake_->sent(); }

  FakeTransportScope fake_;
  testing::DeviceList list_;
  testing::RunningModule running_;
};

TEST_F(TransportTest, LargeReadGoesOutInChunksUnlessTheFirstWordEndsIt) {
  DeviceRecord* path = device();
  std::vector<uint8_t> buffer(kEventLogLength);

  fake_->answer(kPath, testing::bufferResponder(lengthBuffer(kEventLogLength, kEventLogLength)));
  ASSERT_EQ(readControllerBuffer(path, kModeData, kOpReadEventLogA, buffer.data(), kEventLogLength), 0);
  std::vector<SentCommand> commands = sent();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].cdb, (Cdb{0x3C, 0x02, 0x46, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(commands[1].cdb, (Cdb{0x3C, 0x02, 0x46, 0x01, 0x00, 0x00, 0x00, 0x80, 0x10, 0x00}));
  EXPECT_EQ(commands[0].length, 0x10000u);
  EXPECT_EQ(commands[1].length, 0x8010u);
  EXPECT_EQ(commands[0].direction, ScsiDirection::kIn);
  EXPECT_EQ(buffer, lengthBuffer(kEventLogLength, kEventLogLength)) << "second chunk lands at its offset";

  for (uint32_t available : {0x10000u, 0x40u}) {
    fake_->clearSent();
    fake_->answer(kPath, testing::bufferResponder(lengthBuffer(kEventLogLength, available)));
    ASSERT_EQ(readControllerBuffer(path, kModeData, kOpReadEventLogB, buffer.data(), kEventLogLength), 0);
    EXPECT_EQ(sent().size(), 1u) << "controller has " << available;
  }
}

TEST_F(TransportTest, CompletionHookSeesTheLengthTheControllerHad) {
  DeviceRecord* path = device();
  fake_->answer(kPath, testing::bufferResponder(lengthBuffer(kEventLogLength, 4000)));
  std::vector<uint8_t> buffer(kEventLogLength);
  uint32_t seen = 0;
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeData, kOpReadEventLogA);
  auto hook = [](uint8_t*, uint32_t length, void* context) { *static_cast<uint32_t*>(context) = length; };
  ASSERT_EQ(transferCommand(path, &command, buffer.data(), kEventLogLength, hook, &seen), 0);
  EXPECT_EQ(seen, 4000u);

  // A write never calls the hook.
  seen = 0;
  buildCommand(&command, kWriteBuffer, kModeData, kOpRestoreConfiguration);
  ASSERT_EQ(transferCommand(path, &command, buffer.data(), 100, hook, &seen), 0);
  EXPECT_EQ(seen, 0u);
}

TEST_F(TransportTest, ModeOneParametersSurviveChunkingAndSesBytesStayUntouched) {
  DeviceRecord* path = device();
  fake_->answer(kPath, testing::bufferResponder(lengthBuffer(0x18000, 0x18000)));
  std::vector<uint8_t> buffer(0x18000);
  ASSERT_EQ(readControllerBuffer(path, kModeCommand, kOpReadArray, buffer.data(), 0x18000, 0x00, 0x07, 0x00),
            0);
  std::vector<SentCommand> commands = sent();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].cdb, (Cdb{0x3C, 0x01, 0x04, 0x00, 0x07, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(commands[1].cdb, (Cdb{0x3C, 0x01, 0x04, 0x00, 0x07, 0x00, 0x00, 0x80, 0x00, 0x00}));

  fake_->clearSent();
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeCommand, kOpReadSesPage, sesAddress(1, 0x7D), kSesReceiveByte4,
               kSesReceiveByte5);
  command.block[6] = 0x02;  // page code
  command.block[7] = 0x01;  // allocation length 0x0100
  command.block[8] = 0x00;
  command.block[9] = 0x5A;
  ASSERT_EQ(transferCommand(path, &command, buffer.data(), 0x100), 0);
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].cdb, (Cdb{0x3C, 0x01, 0xF0, 0xFD, 0x1C, 0x01, 0x02, 0x01, 0x00, 0x5A}));
}

TEST_F(TransportTest, FirmwareLargerThanOneChunkGoesInModeSevenWithOffsets) {
  DeviceRecord* path = device(0x10000);
  fake_->answer(kPath, testing::bufferResponder({}));
  std::vector<uint8_t> image(0x24000);
  for (size_t i = 0; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i ^ (i >> 8));
  ControllerCommand command;
  buildCommand(&command, kWriteBuffer, kModeFirmware, kFirmwareController);
  ASSERT_EQ(transferCommand(path, &command, image.data(), static_cast<uint32_t>(image.size())), 0);
  std::vector<SentCommand> commands = sent();
  ASSERT_EQ(commands.size(), 3u);
  EXPECT_EQ(commands[0].cdb, (Cdb{0x3B, 0x07, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(commands[1].cdb, (Cdb{0x3B, 0x07, 0x00, 0x01, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}));
  EXPECT_EQ(commands[2].cdb, (Cdb{0x3B, 0x07, 0x00, 0x02, 0x00, 0x00, 0x00, 0x40, 0x00, 0x00}));
  std::vector<uint8_t> joined;
  for (const SentCommand& c : commands) joined.insert(joined.end(), c.data.begin(), c.data.end());
  EXPECT_EQ(joined, image);

  fake_->clearSent();
  buildCommand(&command, kWriteBuffer, kModeFirmware, kFirmwareDiskIo);
  ASSERT_EQ(transferCommand(path, &command, image.data(), 0x8000), 0);
  ASSERT_EQ(sent().size(), 1u);
  EXPECT_EQ(sent()[0].cdb, (Cdb{0x3B, 0x05, 0x02, 0x00, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00}));
}

TEST_F(TransportTest, WriteOperationsCarryTheSignatureFirst) {
  DeviceRecord* path = device();
  fake_->answer(kPath, testing::bufferResponder({}));
  ASSERT_EQ(parameterCommand(path, kOpClearEventLog, kSelectB), 0);
  const uint8_t block[4] = {0x05, 0x00, 0x1F, 0x00};
  ASSERT_EQ(writeControllerOperation(path, kOpSetHostLun, 0, 0, 0, block, sizeof(block)), 0);
  std::vector<SentCommand> commands = sent();
  ASSERT_EQ(commands.size(), 2u);
  EXPECT_EQ(commands[0].cdb, (Cdb{0x3B, 0x01, 0xC1, 0x02, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00}));
  EXPECT_EQ(commands[0].data, std::vector<uint8_t>(kCommandSignature, kCommandSignature + 16));
  EXPECT_EQ(commands[0].direction, ScsiDirection::kOut);
  EXPECT_EQ(commands[1].cdb, (Cdb{0x3B, 0x01, 0xA9, 0x00, 0x00, 0x00, 0x00, 0x00, 0x14, 0x00}));
  std::vector<uint8_t> expected(kCommandSignature, kCommandSignature + 16);
  expected.insert(expected.end(), block, block + 4);
  EXPECT_EQ(commands[1].data, expected);
  EXPECT_EQ(commands[1].timeoutMs, 120000u);
}

TEST_F(TransportTest, AliasBufferIdsOnlyForPairsWithBothInterfaceTypesTwo) {
  DeviceRecord* path = device();
  fake_->answer(kPath, testing::bufferResponder(lengthBuffer(512, 512)));
  std::vector<uint8_t> buffer(512);
  BrivoDeviceState* sata = newDeviceState();
  sata->controllerInfo = 0x81;
  const uint8_t sataScsi[4] = {2, 1, 0x22, 0};
  std::memcpy(sata->interfaceWord, sataScsi, 4);
  BrivoDeviceState* older = newDeviceState();
  older->controllerInfo = 0x02;
  std::memcpy(older->interfaceWord, sataScsi, 4);  // ignored: the older family is FC/FC

  ControllerCommand command;
  for (uint8_t id : {uint8_t{0x01}, uint8_t{0x03}, uint8_t{0x05}, uint8_t{0x06}, uint8_t{0x40}}) {
    buildCommand(&command, kReadBuffer, kModeCommand, id);
    ASSERT_EQ(transferCommandFor(path, sata, &command, buffer.data(), 512), 0);
    buildCommand(&command, kReadBuffer, kModeCommand, id);
    ASSERT_EQ(transferCommandFor(path, older, &command, buffer.data(), 512), 0);
  }
  buildCommand(&command, kWriteBuffer, kModeCommand, 0x03);
  ASSERT_EQ(transferCommandFor(path, sata, &command, buffer.data(), 16), 0);
  std::vector<uint8_t> ids;
  for (const SentCommand& c : sent()) ids.push_back(c.cdb[2]);
  EXPECT_EQ(ids, (std::vector<uint8_t>{0x21, 0x01, 0x23, 0x03, 0x25, 0x05, 0x06, 0x06, 0x40, 0x40, 0x03}));
  freeDeviceState(sata);
  freeDeviceState(older);
}

TEST_F(TransportTest, ResultCodesAndSense) {
  DeviceRecord* path = device();
  std::vector<uint8_t> buffer(kEventLogLength);
  ControllerCommand command;

  int calls = 0;
  fake_->answer(kPath, [&calls](const ScsiCommand& c) {
    if (++calls == 1) return testing::bufferResponder(lengthBuffer(kEventLogLength, kEventLogLength))(c);
    return testing::checkCondition(c, kSenseIllegalRequest, kAscInvalidCdbField, 0x01);
  });
  buildCommand(&command, kReadBuffer, kModeData, kOpReadEventLogA);
  EXPECT_EQ(transferCommand(path, &command, buffer.data(), kEventLogLength), kResultCheckCondition);
  EXPECT_EQ(calls, 2) << "the first failing chunk ends the transfer";
  const SenseCodes codes = senseCodes(command);
  EXPECT_EQ(codes.key, kSenseIllegalRequest);
  EXPECT_EQ(codes.asc, kAscInvalidCdbField);
  EXPECT_EQ(codes.ascq, 0x01);

  fake_->answer(kPath, [](const ScsiCommand&) {
    ScsiResult busy;
    busy.outcome = ScsiOutcome::kStatus;
    busy.status = 0x08;
    return busy;
  });
  EXPECT_EQ(parameterCommand(path, kOpCancelRebuild, 0), 0x08);

  fake_->answer(kPath, [](const ScsiCommand& c) {
    c.sense[0] = 0x70;  // stale bytes must not survive a failed pass-through
    return testing::noAnswer();
  });
  buildCommand(&command, kReadBuffer, kModeData, kOpReadControllerInfo);
  EXPECT_EQ(transferCommand(path, &command, buffer.data(), kControllerInfoLength), kResultNoAnswer);
  EXPECT_EQ(command.sense[0], 0);

  fake_->answer(kPath, [](const ScsiCommand&) {
    ScsiResult timeout;
    timeout.outcome = ScsiOutcome::kTimeout;
    return timeout;
  });
  EXPECT_EQ(parameterCommand(path, kOpCancelRebuild, 0), kResultNoAnswer);
}

TEST_F(TransportTest, BadArgumentsAndAStoppedModuleSendNothing) {
  DeviceRecord* path = device();
  fake_->answer(kPath, testing::bufferResponder({}));
  ControllerCommand command;
  buildCommand(&command, kReadBuffer, kModeData, kOpReadControllerInfo);
  EXPECT_EQ(transferCommand(nullptr, &command, nullptr, 0), kResultBadArguments);
  EXPECT_EQ(transferCommand(path, nullptr, nullptr, 0), kResultBadArguments);
  EXPECT_EQ(transferCommand(path, &command, nullptr, 100), kResultBadArguments);
  DeviceRecord* unnamed = list_.add("", 0);
  std::vector<uint8_t> buffer(kControllerInfoLength);
  EXPECT_EQ(transferCommand(unnamed, &command, buffer.data(), kControllerInfoLength), kResultBadArguments);
  EXPECT_TRUE(sent().empty());

  moduleState().running.store(false);
  EXPECT_EQ(transferCommand(path, &command, buffer.data(), kControllerInfoLength), kResultNoAnswer);
  EXPECT_EQ(parameterCommand(path, kOpCancelRebuild, 0), kResultNoAnswer);
  EXPECT_TRUE(sent().empty());
}

TEST_F(TransportTest, AddressingTimeoutAndTransferLimits) {
  testing::DeviceList::Spec spec;
  spec.name = "sim:/tmp/x.sock:1:";  // an adapter name: the command carries the address
  spec.target = 9;
  spec.maxTransfer = 0x4000000;  // beyond the 24-bit length field
  DeviceRecord* adapterPath = list_.add(spec);
  adapterPath->info->pathId = 2;
  adapterPath->info->lun = 3;
  fake_->answer(spec.name,
                testing::bufferResponder(lengthBuffer(kConfigurationLength, kConfigurationLength)));
  std::vector<uint8_t> buffer(kConfigurationLength);
  ASSERT_EQ(
      readControllerBuffer(adapterPath, kModeData, kOpReadConfiguration, buffer.data(), kConfigurationLength),
      0);
  std::vector<SentCommand> commands = sent();
  ASSERT_EQ(commands.size(), 1u);
  EXPECT_EQ(commands[0].path, 2);
  EXPECT_EQ(commands[0].target, 9);
  EXPECT_EQ(commands[0].lun, 3);
  EXPECT_EQ(commands[0].timeoutMs, 120000u);
  EXPECT_EQ(commands[0].cdb, (Cdb{0x3C, 0x02, 0x01, 0x00, 0x00, 0x00, 0x0E, 0x58, 0x00, 0x00}));
}

}  // namespace
}  // namespace brivo
