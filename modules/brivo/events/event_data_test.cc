// Tests of the shipped data files against the decoder: for every event code, every interface
// family and every reason the firmware defines, data/mods/Brivo/EventStrings.db (and the server's
// db/strings.db for enclosure events) must hold each text the decoder asks for, with the values it
// fills in, and data/mods/Brivo/EventSeverity.db a severity; and neither file may hold a key that
// the decoder never asks for (a misspelt key would go unnoticed otherwise). Also the lookups over
// the real tables and the stored bookmark times.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/test_folder.h"
#include "modules/brivo/events/event_catalog.h"
#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/events/event_texts.h"
#include "modules/brivo/events/text_format.h"

namespace brivo::events {
namespace {

constexpr char kEventStrings[] = "mods/Brivo/EventStrings.db";
constexpr char kSeverities[] = "mods/Brivo/EventSeverity.db";

std::string dataFolder() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  std::filesystem::path root = source != nullptr ? std::filesystem::path(source)
                                                 : std::filesystem::path(__FILE__).parent_path() / "../../..";
  return (root / "data").string();
}

// Keys of the "key = value" lines of a data file.
std::vector<std::string> keysOf(const std::string& path) {
  std::ifstream in(path);
  std::vector<std::string> keys;
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '\'') continue;
    size_t equals = line.find(" = ");
    EXPECT_NE(equals, std::string::npos) << path << ": " << line;
    if (equals != std::string::npos) keys.push_back(line.substr(0, equals));
  }
  return keys;
}

// Passes lookups through and notes every key asked for.
class NotingTexts : public EventTexts {
 public:
  explicit NotingTexts(const EventTexts& inner) : inner_(inner) {}
  std::optional<std::string> eventText(const std::string& key) const override {
    events.insert(key);
    return inner_.eventText(key);
  }
  std::optional<std::string> serverText(const std::string& key) const override {
    return inner_.serverText(key);
  }
  std::optional<std::string> severity(const std::string& key) const override {
    severities.insert(key);
    return inner_.severity(key);
  }
  std::optional<std::string> setting(const std::string& key) const override { return inner_.setting(key); }

  mutable std::set<std::string> events, severities;

 private:
  const EventTexts& inner_;
};

class EventDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(dataFolder());
    loadStringTables(kEventStrings, nullptr, nullptr);
    severity_ = TableOwner(readPropertyFile(kSeverities));
    ASSERT_TRUE(severity_);
  }
  void TearDown() override {
    clearStringTables();
    std::filesystem::current_path(oldFolder_);
  }

  std::filesystem::path oldFolder_;
  TableOwner severity_;
  TableOwner settings_;
};

TEST_F(EventDataTest, EveryCodeInUseHasADecodingRule) {
  for (int code = 1; code < 256; ++code) {
    bool unused = (eventFlags(static_cast<uint8_t>(code)) & kFlagUnused) != 0;
    EXPECT_EQ(codeRule(static_cast<uint8_t>(code)).inUse, !unused) << std::hex << code;
  }
}

TEST_F(EventDataTest, EveryTextAndSeverityTheDecoderAsksForIsShipped) {
  TableEventTexts tables(kEventStrings, kStringsDbPath, severity_.address(), settings_.address());
  NotingTexts texts(tables);
  DecodeOptions options;
  options.arrayName = [](uint8_t) { return std::optional<std::string>("Finance"); };
  int decoded = 0;
  for (uint8_t drive : {kInterfaceFc, kInterfaceSata, kInterfaceSas, kInterfaceSataActive}) {
    for (uint8_t host : {kInterfaceFc, kHostInterfaceScsi, uint8_t{3}, kHostInterfaceSas}) {
      options.driveInterface = drive;
      options.hostInterface = host;
      for (int c = 1; c < 256; ++c) {
        uint8_t code = static_cast<uint8_t>(c);
        std::vector<std::array<uint8_t, 14>> reasons = exampleReasons(code, drive, host);
        bool inUse = !reasons.empty();
        if (!inUse) reasons.push_back({});
        for (const auto& reason : reasons) {
          EventEntry entry = testing::entryOf(testing::timeOf(2008, 1, 2, 3, 4, 5), code);
          std::copy(reason.begin(), reason.end(), entry.reason);
          DecodedEvent e = decodeEvent(texts, options, entry);
          ++decoded;
          SCOPED_TRACE(::testing::Message()
                       << "code 0x" << std::hex << c << " drive " << int(drive) << " host " << int(host)
                       << " reason0 " << int(reason[0]) << ": " << e.text);
          EXPECT_TRUE(e.severityFound) << e.missingKey;
          EXPECT_LE(e.severity, 2u);
          if (inUse) {
            EXPECT_TRUE(e.complete);
          }
          EXPECT_EQ(e.text.find("(missing)"), std::string::npos);
          EXPECT_EQ(e.text.find('%'), std::string::npos);
        }
      }
    }
  }
  EXPECT_GT(decoded, 16 * 255);

  // Values the firmware does not define ask for the fallbacks (plain severity keys, fallback
  // texts); those entries need not be complete.
  for (uint8_t drive : {kInterfaceFc, kInterfaceSas}) {
    for (uint8_t host : {kInterfaceFc, kHostInterfaceScsi, kHostInterfaceSas}) {
      options.driveInterface = drive;
      options.hostInterface = host;
      for (int c = 1; c < 256; ++c) {
        const CodeRule& rule = codeRule(static_cast<uint8_t>(c));
        EventEntry entry =
            testing::entryOf(testing::timeOf(2008, 1, 2, 3, 4, 5), static_cast<uint8_t>(c), {0xEE});
        if (rule.subKey != nullptr) entry.reason[rule.subAt] = 0xEE;
        EXPECT_TRUE(decodeEvent(texts, options, entry).severityFound) << std::hex << c;
      }
    }
  }

  // Nothing in the files that the decoder never asks for. The module's own texts, the array form
  // of the export, the SAS drive interface fallback and the statistics export's headings are
  // asked for elsewhere.
  const std::set<std::string> elsewhere = {
      "StartupMessage", "ControllerCommOk", "ControllerCommFailure", "SESEnclosureMissing", "LogHeader",
      "BrivoEvent_SyncUp", "BrivoEvent_ArrayNameWhenExporting", "BrivoEvent_01_05_Unknown",
      // Column headings of the statistics export.
      "StatsHeader1", "StatsHeader2", "StatsHeader3", "StatsHeader4", "StatsHeader5", "StatsHeader6"};
  for (const std::string& key : keysOf(kEventStrings)) {
    EXPECT_TRUE(texts.events.count(key) == 1 || elsewhere.count(key) == 1) << "never used: " << key;
  }
  for (const std::string& key : keysOf(kSeverities)) {
    EXPECT_EQ(texts.severities.count(key), 1u) << "never used: " << key;
  }
}

TEST_F(EventDataTest, FilesHoldEachKeyOnceAndTheModulesOwnTexts) {
  for (const char* path : {kEventStrings, kSeverities}) {
    std::vector<std::string> keys = keysOf(path);
    EXPECT_EQ(std::set<std::string>(keys.begin(), keys.end()).size(), keys.size()) << path;
  }
  TableEventTexts texts(kEventStrings, kStringsDbPath, severity_.address(), nullptr);
  for (const char* key : {"StartupMessage", "ControllerCommOk", "ControllerCommFailure"}) {
    std::optional<std::string> text = texts.eventText(key);
    ASSERT_TRUE(text.has_value()) << key;
    EXPECT_EQ(text->find('%'), std::string::npos) << key;
  }
  std::vector<FormatArg> one = {FormatArg::of(std::string("x"))};
  std::vector<FormatArg> two = {FormatArg::of(std::string("<date>")), FormatArg::of(std::string("<time>"))};
  bool ok = false;
  EXPECT_NE(formatted(texts.eventText("SESEnclosureMissing").value_or(""), one, &ok).find('x'),
            std::string::npos);
  EXPECT_TRUE(ok);
  std::string sync = formatted(texts.eventText("BrivoEvent_SyncUp").value_or(""), two, &ok);
  EXPECT_TRUE(ok);
  EXPECT_LT(sync.find("<date>"), sync.find("<time>"));
  EXPECT_NE(sync.find("<time>"), std::string::npos);
  EXPECT_EQ(texts.eventText("LogHeader"),
            "\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\",");
  for (VariableEntry* e = severity_.get(); e != nullptr; e = e->next) {
    std::optional<uint32_t> value = parseSeverity(e->value);
    EXPECT_TRUE(value.has_value() && *value <= 2) << e->key << " = " << e->value;
  }
  EXPECT_FALSE(texts.eventText("NoSuchKey").has_value());
  EXPECT_FALSE(texts.setting("ControllerLogName").has_value());
}

TEST(StoredEventTimeTest, KeysAndValues) {
  TableOwner table;
  EXPECT_EQ(lastEventTimeKey("Brivo0011223344556677", kSideA), "Brivo0011223344556677LastAEventTime");
  EXPECT_EQ(lastEventTimeKey("Brivo0011223344556677", kSideB), "Brivo0011223344556677LastBEventTime");
  EXPECT_EQ(readStoredEventTime(table.address(), "BrivoX", kSideA), 0u);
  writeStoredEventTime(table.address(), "BrivoX", kSideA, 4000000000u);
  writeStoredEventTime(table.address(), "BrivoX", kSideA, 1204372800u);
  EXPECT_EQ(readStoredEventTime(table.address(), "BrivoX", kSideA), 1204372800u);
  EXPECT_STREQ(getVariable(table.get(), "BrivoXLastAEventTime"), "1204372800");
  EXPECT_EQ(pairsOf(table.get()).size(), 1u);
  for (const char* bad : {"-5", "12x", "", "99999999999", "4294967296"}) {
    replaceVariable(table.address(), "BrivoXLastBEventTime", bad);
    EXPECT_EQ(readStoredEventTime(table.address(), "BrivoX", kSideB), 0u) << bad;
  }
}

}  // namespace
}  // namespace brivo::events
