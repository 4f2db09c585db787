// Tests of the string tables: the parsing rules of the in-memory tables, the file scan used for
// paths that are not loaded, and where the two deliberately answer differently.
#include "common/string_tables.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include "common/property_file.h"
#include "common/test_folder.h"

namespace {

// Every test runs in a fresh working folder with an empty db/ folder, as the server does.
class StringTablesTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    std::filesystem::create_directory("db");
  }
  void TearDown() override {
    clearStringTables();
    std::filesystem::current_path(oldFolder_);
  }

  // lookupString as a std::string, checking that the result is the caller's to free.
  static std::string lookup(const char* path, const char* key) {
    char* text = lookupString(path, key);
    EXPECT_NE(text, nullptr);
    if (text == nullptr) return {};
    std::string copy(text);
    free(text);
    return copy;
  }

  TestFolder folder_;
  std::filesystem::path oldFolder_;
};

TEST_F(StringTablesTest, LoadedTableFollowsTheLineRules) {
  writeBytes(kStringsDbPath,
             "' comment = not a key\n"
             "\\backslash = not a key\n"
             "no equals sign here\n"
             "   indented = leading spaces are not part of the key\n"
             "spaced   =    value after blanks\n"
             "formula = a = b\n"
             "tabbed\t= the tab stays in the key\n"
             "empty =\n"
             "windows = line ended by CR LF\r\n"
             "last = line without line feed");
  loadStringTables(nullptr, nullptr, nullptr);
  std::filesystem::remove(kStringsDbPath);  // from here on only the memory answers

  EXPECT_EQ(lookup(kStringsDbPath, "' comment"), kMissing);
  EXPECT_EQ(lookup(kStringsDbPath, "\\backslash"), kMissing);
  EXPECT_EQ(lookup(kStringsDbPath, "indented"), "leading spaces are not part of the key");
  EXPECT_EQ(lookup(kStringsDbPath, "spaced"), "value after blanks");
  EXPECT_EQ(lookup(kStringsDbPath, "formula"), "a = b");
  EXPECT_EQ(lookup(kStringsDbPath, "tabbed\t"), "the tab stays in the key");
  EXPECT_EQ(lookup(kStringsDbPath, "empty"), "");
  EXPECT_EQ(lookup(kStringsDbPath, "windows"), "line ended by CR LF");
  EXPECT_EQ(lookup(kStringsDbPath, "last"), kMissing);
}

TEST_F(StringTablesTest, DuplicateKeyLaterLineInMemoryEarlierLineOnDisk) {
  const std::string text = "greeting = first\nother = x\ngreeting = second\n";
  writeBytes(kStringsDbPath, text);
  writeBytes("db/notLoaded.db", text);
  loadStringTables(nullptr, nullptr, nullptr);

  EXPECT_EQ(lookup(kStringsDbPath, "greeting"), "second");
  EXPECT_EQ(lookup("db/notLoaded.db", "greeting"), "first");
  // The path must match as registered; another spelling of the same file is read from disk.
  EXPECT_EQ(lookup("./db/strings.db", "greeting"), "first");

  clearStringTables();
  EXPECT_EQ(lookup(kStringsDbPath, "greeting"), "first");
}

TEST_F(StringTablesTest, TrailingSpacesStayInMemoryAndAreCutOnDisk) {
  const std::string text = "padded = value   \r\n";
  writeBytes(kScsiErrorsDbPath, text);
  writeBytes("db/other.db", text);
  loadStringTables(nullptr, nullptr, nullptr);

  EXPECT_EQ(lookup(kScsiErrorsDbPath, "padded"), "value   ");
  EXPECT_EQ(lookup("db/other.db", "padded"), "value");
}

TEST_F(StringTablesTest, FileWithoutLineFeedIsScannedOnDisk) {
  writeBytes(kStringsDbPath, "only = one line without end");
  loadStringTables(nullptr, nullptr, nullptr);
  EXPECT_EQ(lookup(kStringsDbPath, "only"), "one line without end");
  std::filesystem::remove(kStringsDbPath);
  EXPECT_EQ(lookup(kStringsDbPath, "only"), kMissing);
}

TEST_F(StringTablesTest, MissingFileOrKeyGivesAnAllocatedMissingText) {
  char* first = lookupString("db/absent.db", "anything");
  char* second = lookupString("db/absent.db", "anything");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(second, nullptr);
  EXPECT_STREQ(first, kMissing);
  EXPECT_NE(first, second);
  first[0] = 'X';  // the caller's own copy
  EXPECT_STREQ(second, kMissing);
  free(first);
  free(second);

  writeBytes(kStringsDbPath, "known = yes\n");
  loadStringTables(nullptr, nullptr, nullptr);
  EXPECT_EQ(lookup(kStringsDbPath, "unknown"), kMissing);
  EXPECT_EQ(lookup(nullptr, "known"), kMissing);
  EXPECT_EQ(lookup(kStringsDbPath, nullptr), kMissing);
}

TEST_F(StringTablesTest, ExtraSlotsAndPropertyFilesWithTheirHeader) {
  std::filesystem::create_directories("mods/Brivo");
  writeBytes("mods/Brivo/EventStrings.db", "StartupMessage = Module started\nshared = event\n");
  writeBytes("mods/Brivo/StatusStrings.db", "shared = status\n");
  // A module settings file as the server writes it: NUL header line, then the pairs.
  TableOwner settings;
  addVariable(settings.address(), "ModuleEnabled", "true");
  ASSERT_EQ(writePropertyFile("mods/Brivo/BrivoSettings.ini", kEmptyHeader, settings.get()), 0);

  loadStringTables("mods/Brivo/EventStrings.db", "", "mods/Brivo/StatusStrings.db");
  EXPECT_EQ(lookup("mods/Brivo/EventStrings.db", "StartupMessage"), "Module started");
  EXPECT_EQ(lookup("mods/Brivo/EventStrings.db", "shared"), "event");
  EXPECT_EQ(lookup("mods/Brivo/StatusStrings.db", "shared"), "status");
  EXPECT_EQ(lookup("mods/Brivo/BrivoSettings.ini", "ModuleEnabled"), "true");

  // Loading again replaces the slots rather than adding to them.
  loadStringTables(nullptr, nullptr, nullptr);
  std::filesystem::remove("mods/Brivo/EventStrings.db");
  EXPECT_EQ(lookup("mods/Brivo/EventStrings.db", "StartupMessage"), kMissing);
}

TEST_F(StringTablesTest, LongLinesOnDiskAreReadInPieces) {
  std::string longValue(700, 'v');
  writeBytes("db/long.db", "long = " + longValue + "\nafter = found\n");
  std::string value = lookup("db/long.db", "long");
  EXPECT_EQ(value, longValue.substr(0, 499 - 7));
  EXPECT_EQ(lookup("db/long.db", "after"), "found");

  writeBytes(kStringsDbPath, "long = " + longValue + "\n");
  loadStringTables(nullptr, nullptr, nullptr);
  EXPECT_EQ(lookup(kStringsDbPath, "long"), longValue);  // memory has no line limit
}

}  // namespace
