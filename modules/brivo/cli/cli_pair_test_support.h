// Helpers for the unit tests of the controller-level handlers (clock, config, controller, drive,
// enclosure, events, statistics): one fake pair behind the fake transport that records every
// command, refuses the next WRITE BUFFER of a buffer ID with the sense a test names, and answers
// READ BUFFERs from buffers the test sets by buffer ID; a captured context holding the pair with
// its configuration, drive list and controller information; and a temporary working folder (the
// test changes into it) for the files the handlers take and give.
//
// Thread safety: test thread only.
#pragma once

#include <gtest/gtest.h>

#include <cstring>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "modules/brivo/brivo_test_support.h"
#include "modules/brivo/cli/cli_test_support.h"
#include "modules/brivo/module_state.h"

namespace brivo::cli::testing {

inline constexpr char kFakePairPath[] = "sim:/tmp/cli-pair.sock:0:0:0:0";
inline constexpr char kFakePairName[] = "Brivo20000004CF8A1B2C";

struct SentWrite {
  uint8_t mode = 0, id = 0;
  uint8_t p3 = 0, p4 = 0, p5 = 0;
  uint32_t length = 0;
  std::vector<uint8_t> data;  // mode 1: the block after the signature; other modes: everything sent

  template <typename T>
  T as() const {
    T value{};
    std::memcpy(&value, data.data(), std::min(sizeof(T), data.size()));
    return value;
  }
};

class PairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    DeviceRecord* device = list_.add(kFakePairPath, 0, 64 * 1024);
    list_.hangItem(device, kFakePairName);
    moduleState().deviceList.store(list_.head());
    fake_->answer(kFakePairPath, [this](const ScsiCommand& c) { return respond(c); });
    setReadyPollSecondsForTesting(0);
    captured_.ctx.pair = findPair(kFakePairName);
    ctx().config = newConfigurationBlock();
    ctx().drives = std::make_unique<DriveList>();
    ctx().info = std::make_unique<ControllerInformation>();
    ctx().info->stateA = kOn;
    ctx().info->stateB = kOn;
  }
  void TearDown() override {
    moduleState().deviceList.store(nullptr);
    setReadyPollSecondsForTesting(3);
  }

  CliContext& ctx() { return captured_.ctx; }
  std::string text() const { return captured_.text(); }
  VariableTable reply() const { return captured_.reply.get(); }
  void modifiers(std::vector<ParsedModifier> list) { ctx().modifiers = std::move(list); }
  void global(GlobalOption option, const std::string& value) {
    ctx().globals[option] = value;
    ctx().globalGiven[option] = true;
  }

  // READ BUFFERs of this buffer ID answer with these bytes (offsets in modes other than 1).
  void serve(uint8_t id, std::vector<uint8_t> bytes) { served_[id] = std::move(bytes); }
  template <typename T>
  void serveStruct(uint8_t id, const T& value) {
    const auto* p = reinterpret_cast<const uint8_t*>(&value);
    serve(id, std::vector<uint8_t>(p, p + sizeof(T)));
  }
  // The next WRITE BUFFER of this buffer ID is refused with CHECK CONDITION and this sense.
  void refuse(uint8_t id, uint8_t key = kSenseIllegalRequest, uint8_t asc = kAscInvalidParameter,
              uint8_t ascq = 0) {
    refused_[id] = {key, asc, ascq};
  }

  // WRITE BUFFERs in order; the pieces of one mode 2/5/7 transfer are joined into one.
  std::vector<SentWrite> writes() {
    std::vector<SentWrite> out;
    for (const auto& sent : fake_->sent()) {
      if (sent.cdb[0] != kWriteBuffer) continue;
      const uint8_t mode = sent.cdb[1];
      if (mode != kModeCommand && !out.empty() && out.back().id == sent.cdb[2] && out.back().mode == mode &&
          (sent.cdb[3] << 16 | sent.cdb[4] << 8 | sent.cdb[5]) != 0) {
        out.back().data.insert(out.back().data.end(), sent.data.begin(), sent.data.end());
        out.back().length += sent.length;
        continue;
      }
      SentWrite w;
      w.mode = mode;
      w.id = sent.cdb[2];
      w.p3 = sent.cdb[3], w.p4 = sent.cdb[4], w.p5 = sent.cdb[5];
      w.length = sent.length;
      if (mode != kModeCommand)
        w.data = sent.data;
      else if (sent.data.size() > kSignatureLength)
        w.data.assign(sent.data.begin() + kSignatureLength, sent.data.end());
      out.push_back(std::move(w));
    }
    return out;
  }
  std::vector<uint8_t> writeIds() {
    std::vector<uint8_t> ids;
    for (const SentWrite& w : writes()) ids.push_back(w.id);
    return ids;
  }
  size_t sentCount() { return fake_->sent().size(); }

  // n good free drives, drive i with drive ID i + 10 on both loops, in enclosure 0 slot i.
  void addDrives(int n) {
    DriveList& list = *ctx().drives;
    for (int i = 0; i < n; ++i) {
      DriveListEntry& e = list.entries[list.count++];
      e = DriveListEntry{};
      e.loop1Id = e.loop2Id = e.driveId = static_cast<uint8_t>(i + 10);
      e.slot = static_cast<uint8_t>(i);
      e.hotSpareNumber = 0xFF;
      e.usage = kUsageFree;
      e.array = e.member = 0xFF;
      e.blocks = 1953525168ULL;
      e.blockSize = 512;
      std::memcpy(e.revision, "0002", 4);
      std::memcpy(e.product, "ST1000NM0001    ", 16);
      ::brivo::testing::putWwn(0x5000C50000000100ULL + static_cast<uint64_t>(i), e.wwn);
    }
  }

  ::brivo::testing::ModuleFolder folder_;

 private:
  ScsiResult respond(const ScsiCommand& c) {
    if (c.direction == ScsiDirection::kOut) {
      auto armed = refused_.find(c.cdb[2]);
      if (armed != refused_.end()) {
        const SenseCodes sense = armed->second;
        refused_.erase(armed);
        return ::brivo::testing::checkCondition(c, sense.key, sense.asc, sense.ascq);
      }
      return ::brivo::testing::goodResult(c.dataLength);
    }
    std::memset(c.data, 0, c.dataLength);
    auto found = served_.find(c.cdb[2]);
    if (found == served_.end())
      return ::brivo::testing::checkCondition(c, kSenseIllegalRequest, kAscUnknownBuffer, 0);
    const std::vector<uint8_t>& bytes = found->second;
    const uint32_t offset = c.cdb[1] == kModeCommand ? 0 : ::brivo::testing::cdbOffset(c);
    if (offset < bytes.size())
      std::memcpy(c.data, bytes.data() + offset, std::min<size_t>(c.dataLength, bytes.size() - offset));
    return ::brivo::testing::goodResult(c.dataLength);
  }

  ::brivo::testing::RunningModule running_;
  ::brivo::testing::FakeTransportScope fake_;
  ::brivo::testing::DeviceList list_;
  std::map<uint8_t, std::vector<uint8_t>> served_;
  std::map<uint8_t, SenseCodes> refused_;
  CapturedContext captured_;
};

}  // namespace brivo::cli::testing
