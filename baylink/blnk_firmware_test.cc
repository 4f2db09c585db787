// Tests of the enclosure firmware upgrade against a raidsim enclosure whose ESIs take the
// report bit from each other as they restart: chunking, both passes, fail-over and fail-back,
// the retry count shared by the whole upgrade, and the single-ESI and failure paths.
#include "baylink/blnk_firmware.h"

#include <map>
#include <random>

#include "baylink/blnk_test_support.h"

namespace {

namespace fs = std::filesystem;
using blnktest::Recorded;

const char kConfig[] = R"(
[enclosure dual]
wwn = 500A0B8000112233
esis = 2
esi_restart_ms = 0
path = 0:0:8:0
[enclosure single]
wwn = 500A0B80000000BB
esis = 1
esi_restart_ms = 0
path = 0:0:9:0
[disk plain]
path = 0:0:10:0
)";

uint64_t fnv(const std::string& bytes) {
  uint64_t hash = 1469598103934665603ULL;
  for (unsigned char b : bytes) hash = (hash ^ b) * 1099511628211ULL;
  return hash;
}

class FirmwareTest : public blnktest::SimFixture {
 protected:
  std::string config() const override { return kConfig; }
  void SetUp() override {
    SimFixture::SetUp();
    ASSERT_FALSE(HasFatalFailure());
    BlnkUpgradeTiming fast;
    fast.settleMs = 5;
    fast.pollMs = 2;
    fast.maxPolls = 20;
    fast.chunkDelayMs = 0;
    blnkSetUpgradeTimingForTesting(fast);
    image = (dir / "image.bin").string();
    std::mt19937 random(7);
    for (int i = 0; i < 1000; ++i) imageBytes.push_back(static_cast<char>(random()));
    std::ofstream(image, std::ios::binary) << imageBytes;
    getSESDevices();
    commands->clear();
  }
  void TearDown() override {
    blnkSetUpgradeTimingForTesting(BlnkUpgradeTiming{});
    SimFixture::TearDown();
  }
  // The download chunks sent, in order.
  std::vector<Recorded> chunks() const {
    std::vector<Recorded> out;
    for (const Recorded& r : sent(0x1D)) {
      if (!r.dataOut.empty() && r.dataOut[0] == 0x04) out.push_back(r);
    }
    return out;
  }
  // Fails the first `count` sends of the chunk at `offset` with a hardware error.
  void failChunk(uint32_t offset, int count) { failures[offset] = count; }
  void installFailures() {
    transport->inject = [this](const ScsiCommand& c) -> std::optional<ScsiResult> {
      if (c.cdb[0] != 0x1D || c.dataLength < 8 || c.data[0] != 0x04) return std::nullopt;
      auto it = failures.find(BytesToU32(c.data + 4));
      if (it == failures.end() || it->second == 0) return std::nullopt;
      --it->second;
      return blnktest::checkCondition(c, 4, 0x44);
    };
  }

  std::string image;
  std::string imageBytes;
  std::map<uint32_t, int> failures;
};

TEST_F(FirmwareTest, TwoEsisGetTheImageInChunksWithFailOverAndFailBack) {
  EXPECT_EQ(upgradeESIFirmware(device(8).c_str(), image.c_str()), 0);
  std::vector<Recorded> sentChunks = chunks();
  ASSERT_EQ(sentChunks.size(), 6u);
  const uint32_t offsets[] = {0, 468, 936, 0, 468, 936};
  const size_t lengths[] = {468, 468, 64, 468, 468, 64};
  for (size_t i = 0; i < sentChunks.size(); ++i) {
    const Recorded& c = sentChunks[i];
    EXPECT_EQ(BytesToU32(&c.dataOut[4]), offsets[i]);
    EXPECT_EQ(c.dataOut.size(), lengths[i] + 8);
    EXPECT_EQ(BytesToU16(&c.dataOut[2]), lengths[i] + 4);
    EXPECT_EQ(BytesToU16(&c.cdb[3]), lengths[i] + 8);
    EXPECT_EQ(std::string(c.dataOut.begin() + 8, c.dataOut.end()), imageBytes.substr(offsets[i], lengths[i]));
  }
  // Each ESI took the image once: the second pass went through the ESI that took over, and the
  // first one reports again at the end.
  char expected[160];
  std::snprintf(expected, sizeof(expected),
                "reporting 0\nesi0 loads 1 bytes 1000 hash %016llX\nesi1 loads 1 bytes 1000 hash %016llX\n",
                static_cast<unsigned long long>(fnv(imageBytes)),
                static_cast<unsigned long long>(fnv(imageBytes)));
  EXPECT_EQ(ctl("firmware dual").rfind(expected, 0), 0u) << ctl("firmware dual");
  std::string debug = readText(dir / "blnkDebug.txt");
  EXPECT_NE(debug.find("Flashing second ESI with new firmware"), std::string::npos);
  EXPECT_NE(debug.find("Failing back ESI"), std::string::npos);
  EXPECT_EQ(debug.find("change not seen"), std::string::npos) << "a fail-over or fail-back was missed";
  EXPECT_NE(debug.find("Exiting iUpgradeESIFirmware - return code = 0"), std::string::npos);
}

TEST_F(FirmwareTest, RetriesAreSharedByTheWholeUpgrade) {
  installFailures();
  failChunk(0, 6);
  failChunk(468, 4);  // ten retries in all: still enough
  EXPECT_EQ(upgradeESIFirmware(device(8).c_str(), image.c_str()), 0);
  EXPECT_EQ(chunks().size(), 16u);

  commands->clear();
  failChunk(0, 6);
  failChunk(468, 4);
  failChunk(936, 1);  // the eleventh failure ends the upgrade
  EXPECT_EQ(upgradeESIFirmware(device(8).c_str(), image.c_str()), 4);
  std::vector<Recorded> sentChunks = chunks();
  ASSERT_EQ(sentChunks.size(), 13u);
  EXPECT_EQ(BytesToU32(&sentChunks.back().dataOut[4]), 936u);
  EXPECT_NE(readText(dir / "blnkDebug.txt").find("iWriteSESToDrive Failed (4) in Update FW, Retrying : 10"),
            std::string::npos);
}

TEST_F(FirmwareTest, SingleEsiIsFlashedOnceAndWatchedToTheEnd) {
  EXPECT_EQ(upgradeESIFirmware(device(9).c_str(), image.c_str()), 0);
  EXPECT_EQ(chunks().size(), 3u);
  EXPECT_EQ(ctl("firmware single").rfind("reporting 0\nesi0 loads 1 bytes 1000", 0), 0u);
  // No ESI can match the fail-back: every poll runs, and that is not an error.
  size_t statusPolls = 0;
  for (const Recorded& r : sent(0x1C)) statusPolls += r.cdb[2] == 0x02 ? 1 : 0;
  EXPECT_EQ(statusPolls, 1u + 20u);  // the first look at the ESIs, then the polls
}

TEST_F(FirmwareTest, EmptyImageMissingFileAndNonEnclosure) {
  std::string empty = (dir / "empty.bin").string();
  std::ofstream(empty).close();
  EXPECT_EQ(upgradeESIFirmware(device(8).c_str(), empty.c_str()), 0);
  EXPECT_TRUE(chunks().empty());
  EXPECT_EQ(upgradeESIFirmware(device(8).c_str(), (dir / "absent.bin").c_str()), 1);
  EXPECT_EQ(upgradeESIFirmware(device(10).c_str(), image.c_str()), 1);
  EXPECT_TRUE(chunks().empty());
}

}  // namespace
