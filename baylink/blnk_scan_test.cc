// Tests of the device scan's limits and defaults against a raidsim world: more enclosures than
// the scan's table holds, and devices that do not answer INQUIRY (their line keeps the default
// identity, an SES device its enclosure and slot).
#include <string>

#include "baylink/blnk_test_support.h"

namespace {

constexpr int kEnclosures = 42;  // two more than the scan's enclosure table holds
constexpr int kRepeatTarget = kEnclosures + 1;
constexpr int kSilentDisk = kEnclosures + 2;
constexpr int kSilentEnclosure = kEnclosures + 3;

// Enclosure n (0 .. kEnclosures - 1) at target n + 1 with its own identifier; then a second
// expander of enclosure 5, a disk and an expander of enclosure 2 that the test keeps from
// answering INQUIRY.
std::string manyEnclosures() {
  std::string config;
  const auto enclosure = [&config](const std::string& name, int wwn, int target) {
    char text[160];
    std::snprintf(text, sizeof text, "[enclosure %s]\nwwn = 500A0B80%08X\nself_slot = 1\npath = 0:0:%d:0\n",
                  name.c_str(), wwn, target);
    config += text;
  };
  for (int n = 0; n < kEnclosures; ++n) enclosure("bay" + std::to_string(n), 0x1000 + n, n + 1);
  enclosure("bay5b", 0x1000 + 5, kRepeatTarget);
  config += "[disk quiet]\nvendor = SEAGATE\nserial = QUIET01\npath = 0:0:" + std::to_string(kSilentDisk) + ":0\n";
  enclosure("bay2b", 0x1000 + 2, kSilentEnclosure);
  return config;
}

class ScanLimitsTest : public blnktest::SimFixture {
 protected:
  std::string config() const override { return manyEnclosures(); }
  // Standard INQUIRY (not a vital product data page) to either silent device fails.
  void silenceInquiry() {
    const std::string disk = device(kSilentDisk);
    const std::string expander = device(kSilentEnclosure);
    transport->inject = [disk, expander](const ScsiCommand& c) -> std::optional<ScsiResult> {
      const bool standardInquiry = c.cdbLength > 1 && c.cdb[0] == 0x12 && (c.cdb[1] & 0x01) == 0;
      if (standardInquiry && (c.device == disk || c.device == expander)) {
        return blnktest::checkCondition(c, 0x04, 0x44);  // hardware error
      }
      return std::nullopt;
    };
  }
  // The line of the device at target.
  std::string lineOf(const std::vector<std::string>& lines, int target) const {
    const std::string name = device(target) + "^";
    for (const std::string& line : lines) {
      if (line.rfind(name, 0) == 0) return line;
    }
    return "(no line for target " + std::to_string(target) + ")";
  }
};

TEST_F(ScanLimitsTest, EnclosuresBeyondTheTableShareItsLastIndexAndKnownOnesKeepTheirs) {
  silenceInquiry();
  const std::vector<std::string> lines = tableLines(getSESDevices());
  ASSERT_EQ(lines.size(), static_cast<size_t>(kSilentEnclosure)) << "every device has its line";
  for (int n = 0; n < 40; ++n) {
    EXPECT_NE(lineOf(lines, n + 1).find("^Enc:" + std::to_string(n) + "^Slot:01^SES:Y^"), std::string::npos)
        << lineOf(lines, n + 1);
  }
  for (int n = 40; n < kEnclosures; ++n) {
    EXPECT_NE(lineOf(lines, n + 1).find("^Enc:39^"), std::string::npos) << "no index past the table: "
                                                                         << lineOf(lines, n + 1);
  }
  EXPECT_NE(lineOf(lines, kRepeatTarget).find("^Enc:5^Slot:01^SES:Y^"), std::string::npos)
      << "an enclosure met before the table filled keeps its index: " << lineOf(lines, kRepeatTarget);
  for (const std::string& line : lines) EXPECT_LE(line.size(), 255u);
}

TEST_F(ScanLimitsTest, DevicesThatDoNotAnswerInquiryGetTheDefaultIdentity) {
  silenceInquiry();
  const std::vector<std::string> lines = tableLines(getSESDevices());
  // A disk: default identity, the index of the enclosure added last (the table's last) and the
  // slot found last before it.
  EXPECT_EQ(lineOf(lines, kSilentDisk), device(kSilentDisk) +
                                            "^Serial:12345678912^Part:UNK^Enc:39^Slot:01^SES:N^FWVer:UNK^size:0"
                                            "^vendor:UNK^SCSIID:0");
  // An expander: default identity, but its enclosure and slot come from its SES pages.
  EXPECT_EQ(lineOf(lines, kSilentEnclosure), device(kSilentEnclosure) +
                                                 "^Serial:12345678912^Part:UNK^Enc:2^Slot:01^SES:Y^FWVer:UNK^size:0"
                                                 "^vendor:UNK^SCSIID:0");
  // The same devices answering: their identity replaces every default.
  transport->inject = nullptr;
  const std::vector<std::string> answered = tableLines(getSESDevices());
  const std::string disk = lineOf(answered, kSilentDisk);
  EXPECT_NE(disk.find("^Serial:QUIET01_____^"), std::string::npos) << disk;
  EXPECT_NE(disk.find("^vendor:SEAGATE_^"), std::string::npos) << disk;
  EXPECT_EQ(disk.find("UNK"), std::string::npos) << disk;
  EXPECT_EQ(disk.find("^size:0^"), std::string::npos) << disk;
}

}  // namespace
