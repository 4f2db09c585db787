// Tests of the library's utilities: the debug file's pieces and size check, the hex dumps, byte
// order, device type names, text helpers and the version text.
#include "baylink/blnk_debug.h"

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>

#include "baylink/baylink.h"
#include "baylink/blnk_util.h"

namespace {

namespace fs = std::filesystem;

class DebugFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string pattern = (fs::temp_directory_path() / "blnk-debug-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    dir = pattern;
    previous = fs::current_path();
    fs::current_path(dir);
  }
  void TearDown() override {
    fs::current_path(previous);
    fs::remove_all(dir);
  }
  static std::vector<std::string> fileLines() {
    std::ifstream in(kBlnkDebugFile);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }
  fs::path dir;
  fs::path previous;
};

TEST_F(DebugFileTest, LongMessagesAreCutInto75CharacterPieces) {
  std::string message;
  for (int i = 0; i < 160; ++i) message += static_cast<char>('a' + i % 26);
  EXPECT_EQ(addDebugToFile(message.c_str()), 0);
  std::vector<std::string> lines = fileLines();
  ASSERT_EQ(lines.size(), 3u);
  const std::regex stamp(R"(D: \d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2} : (.*))");
  size_t offset = 0;
  for (size_t i = 0; i < 3; ++i) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[i], match, stamp)) << lines[i];
    size_t expected = i < 2 ? 75 : 10;
    EXPECT_EQ(match[1].str(), message.substr(offset, expected));
    offset += expected;
  }
  EXPECT_EQ(getDebugFileSize(), static_cast<long>(fs::file_size(kBlnkDebugFile)));
}

TEST_F(DebugFileTest, OversizedFileIsResetOnTheSizeCheck) {
  // Bring the message counter to a size check, so the next check comes 500 messages later.
  for (int i = 0; i < kBlnkSizeCheckEvery; ++i) {
    ShowDebug("sync");
    if (fileLines().back().find("Checking debug File") != std::string::npos) break;
  }
  ASSERT_NE(fileLines().back().find("Checking debug File as size growing..."), std::string::npos);
  { std::ofstream(kBlnkDebugFile, std::ios::app) << std::string(kBlnkDebugLimit, 'x') << "\n"; }
  for (int i = 0; i < kBlnkSizeCheckEvery - 1; ++i) ShowDebug("filler");
  EXPECT_GT(getDebugFileSize(), kBlnkDebugLimit);
  ShowDebug("the 500th");
  std::vector<std::string> lines = fileLines();
  ASSERT_EQ(lines.size(), 5u);
  EXPECT_EQ(lines[0], "Debug Reset");
  EXPECT_EQ(lines[1], "Build Version: Baylink - v0.90 (1st September 2008)");
  EXPECT_EQ(lines[2], "");
  EXPECT_NE(lines[3].find(" : reset debug File as size growing..."), std::string::npos);
  EXPECT_NE(lines[4].find(" : Checking debug File as size growing..."), std::string::npos);
  EXPECT_STREQ(getVersion(), "Baylink - v0.90 (1st September 2008)");
}

TEST_F(DebugFileTest, HexDumpLayout) {
  unsigned char bytes[17];
  for (int i = 0; i < 17; ++i) bytes[i] = static_cast<unsigned char>(0x41 + i);
  bytes[1] = 0x07;
  EXPECT_EQ(blnkHexDumpLines(16), 1);
  EXPECT_EQ(blnkHexDumpLines(17), 2);
  EXPECT_EQ(blnkHexDumpLines(0), 1);
  EXPECT_EQ(blnkHexDumpLine(bytes, 17, 0),
            "0000: 41 07 43 44 45 46 47 48 49 4A 4B 4C 4D 4E 4F 50    A.CDEFGHIJKLMNOP");
  EXPECT_EQ(blnkHexDumpLine(bytes, 17, 1), "0010: 51 " + std::string(15 * 3, ' ') + "   Q");
  EXPECT_EQ(ASCIIHexDebugDumpToPrintF(bytes, 17), 2);
  std::vector<std::string> lines = fileLines();
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "");
  EXPECT_EQ(lines[2], "D: " + blnkHexDumpLine(bytes, 17, 1));
  iDebugMode = 1;
  EXPECT_EQ(ASCIIHexDebugDump(bytes, 17), 0);  // only at level 2
  iDebugMode = 0;
}

TEST(BaylinkUtilities, ByteOrderTextAndDeviceTypes) {
  const unsigned char b[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  EXPECT_EQ(BytesToU16(b), 0x0102);
  EXPECT_EQ(BytesToU16LM(b), 0x0201);
  EXPECT_EQ(BytesToU32(b), 1u * (1u << 24) + 2u * (1u << 16) + 3u * (1u << 8) + 4u);
  EXPECT_EQ(BytesToU32LM(b), 4u * (1u << 24) + 3u * (1u << 16) + 2u * (1u << 8) + 1u);
  EXPECT_EQ(BytesToU64(b), 0x0102030405060708ULL);
  EXPECT_EQ(BytesToU64LM(b), 0x0807060504030201ULL);

  EXPECT_STREQ(DecodeDevType(0), "Disk  ");
  EXPECT_STREQ(DecodeDevType(0x20 | 13), "Enclosure  ");  // only the low five bits count
  EXPECT_STREQ(DecodeDevType(11), "ASCIT8  ");
  EXPECT_STREQ(DecodeDevType(14), "RBC  ");
  EXPECT_STREQ(DecodeDevType(15), "Unknown  ");

  char text[] = "MiXed 1";
  EXPECT_STREQ(uppercase(text), "MIXED 1");
  EXPECT_STREQ(lowercase(text), "mixed 1");
  EXPECT_EQ(axtoi("1aF"), 0x1AF);
  EXPECT_EQ(axtoi("0x10"), 16);
  EXPECT_EQ(axtoi("7g"), 7);
}

}  // namespace
