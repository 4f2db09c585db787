// Tests of the default data files installed as db/: every text the server looks up is present
// once, format texts carry the arguments their callers pass, and the settings files are in the
// exact form the server itself writes, so a fresh install reads them like saved ones.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "common/property_file.h"
#include "common/string_tables.h"
#include "common/test_folder.h"

namespace {

std::string dataFolder() {
  const char* source = getenv("KESTROVA_SOURCE_DIR");
  std::filesystem::path root = source != nullptr
                                   ? std::filesystem::path(source)
                                   : std::filesystem::path(__FILE__).parent_path().parent_path();
  return (root / "data").string();
}

// Keys the server looks up in db/strings.db, with the number of %s its caller fills in.
// clang-format off
const std::map<int, std::vector<std::string>> kServerStrings = {
    {0, {"serverDeviceName", "serverNetwork", "missingNetworkMessage", "LogHeader", "PasswordIncorrect",
         "serverTestMessage", "serverTestSubject", "serverMailInfo", "serverMailWarn", "serverMailErr",
         "KestrovaEvent_ServerStarted", "KestrovaEvent_ServerShutdown", "KestrovaEvent_RescanStarted",
         "KestrovaEvent_ClearServerLog", "KestrovaEvent_CGIMemNotFound", "KestrovaEvent_CGIRequestMemNotFound",
         "KestrovaEvent_CGIRequestParamNotFound", "KestrovaEvent_CGIReturnParamNotFound",
         "KestrovaEvent_CGIReturnNoMem", "KestrovaEvent_CGITimeOutServer", "KestrovaEvent_CGITimeOutScript",
         "KestrovaEvent_GetMulticastFailed", "CmdSetPrefs", "CmdClearLogs", "CmdSetEmail", "CmdTestEmail",
         "CmdSetSnmp", "CmdTestSnmp", "CmdSetSyslog", "CmdTestSyslog", "CmdSetPassword", "CmdGetTechSupport",
         "MissingParams", "OldVersionMsg", "NoTestMessage", "SettingsTimeout", "NoSaveSetting",
         "PasswordNoOpen", "PasswordNotValid", "PasswordNoSave", "TechSupportRunning", "IPNInoError",
         "IPNIinvalidSocket", "IPNIbindindFailed", "IPNIlistenFailed", "IPNIgetHostNameFailed",
         "IPNIconnectionFailed", "IPNImulticastRequestFailed", "IPNIunknownError"}},
    {1, {"KestrovaEvent_CreateMultSocketFailed", "CommandOK", "CommandFail"}},
    {2, {"KestrovaEvent_UserLogIn0", "KestrovaEvent_UserLogOut0"}},
    {3, {"KestrovaEvent_PasswordUpdated", "KestrovaEvent_PasswordUpdateFailed", "KestrovaEvent_UserLogIn1",
         "KestrovaEvent_UserLogOut1"}},
};
// clang-format on

// Texts that callers replace by a built-in one when they contain "missing".
const char* const kMustNotSayMissing[] = {"serverNetwork", "missingNetworkMessage", "LogHeader",
                                          "KestrovaEvent_GetMulticastFailed",
                                          "KestrovaEvent_CreateMultSocketFailed"};

class DefaultDataTest : public ::testing::Test {
 protected:
  void SetUp() override {
    oldFolder_ = std::filesystem::current_path();
    std::filesystem::current_path(dataFolder());  // read only; the server's working folder layout
    loadStringTables(nullptr, nullptr, nullptr);
  }
  void TearDown() override {
    clearStringTables();
    std::filesystem::current_path(oldFolder_);
  }
  std::filesystem::path oldFolder_;
};

std::string lookup(const char* path, const char* key) {
  char* text = lookupString(path, key);
  std::string copy = text != nullptr ? text : "";
  free(text);
  return copy;
}

// Keys of the "key = value" lines of a string table; fails on any other kind of line.
std::vector<std::string> keysOf(const std::string& path) {
  std::vector<std::string> keys;
  std::istringstream lines(readBytes(path));
  std::string line;
  const std::regex pair(R"(([A-Za-z][A-Za-z0-9_]*) = \S(.*\S)?)");
  std::smatch match;
  while (std::getline(lines, line)) {
    if (line.empty() || line[0] == '\'') continue;
    EXPECT_TRUE(std::regex_match(line, match, pair)) << path << ": " << line;
    if (!match.empty()) keys.push_back(match[1]);
  }
  return keys;
}

int countPercent(const std::string& text, const std::string& what) {
  int count = 0;
  for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++count;
  return count;
}

TEST_F(DefaultDataTest, StringTablesHoldEachKeyOnceInPlainLines) {
  for (const char* path : {kStringsDbPath, kScsiErrorsDbPath}) {
    std::vector<std::string> keys = keysOf(path);
    std::set<std::string> unique(keys.begin(), keys.end());
    EXPECT_EQ(unique.size(), keys.size()) << path << " repeats a key";
  }
}

TEST_F(DefaultDataTest, EveryServerTextIsPresentWithItsArguments) {
  for (const auto& [arguments, keys] : kServerStrings) {
    for (const std::string& key : keys) {
      std::string text = lookup(kStringsDbPath, key.c_str());
      EXPECT_NE(text, kMissing) << key;
      EXPECT_FALSE(text.empty()) << key;
      EXPECT_EQ(countPercent(text, "%s"), arguments) << key << ": " << text;
      EXPECT_EQ(countPercent(text, "%"), arguments) << key << " has a stray %: " << text;
    }
  }
  for (const char* key : kMustNotSayMissing) {
    EXPECT_EQ(lookup(kStringsDbPath, key).find("missing"), std::string::npos) << key;
  }
}

TEST_F(DefaultDataTest, ScsiErrorTextsFollowTheDocumentedKeyForms) {
  for (int senseKey = 0; senseKey < 16; ++senseKey) {
    char key[16];
    snprintf(key, sizeof key, "SenseKey%X", senseKey);
    EXPECT_NE(lookup(kScsiErrorsDbPath, key), kMissing) << key;
  }
  const std::regex form(R"(SenseKey[0-9A-F]|AscAscq_[0-9A-F]{2}_[0-9A-F]{2})");
  for (const std::string& key : keysOf(kScsiErrorsDbPath)) EXPECT_TRUE(std::regex_match(key, form)) << key;
}

// Settings files and the header the server writes them with.
struct SettingsFile {
  const char* path;
  const char* header;
  std::vector<const char*> keys;
};

const SettingsFile kSettingsFiles[] = {
    {kServerIniPath, kServerIniHeader, {"softwareName", "serverVersion", "companyName", "UseOsEventLog"}},
    {kEmailIniPath, kEmailIniHeader, {"version", "emailServer", "emailSigEnable", "emailSigText"}},
    {kSnmpIniPath, kSnmpIniHeader, {"version"}},
    {kSyslogIniPath, kSyslogIniHeader, {"version"}},
    {kPrefsIniPath, kEmptyHeader, {"version"}},
    {kIpDbPath, kEmptyHeader, {"MulticastPort", "IP0"}},
};

TEST_F(DefaultDataTest, SettingsFilesAreInTheFormTheServerWrites) {
  TestFolder scratch;
  for (const SettingsFile& file : kSettingsFiles) {
    SCOPED_TRACE(file.path);
    TableOwner read(readPropertyFile(file.path));
    ASSERT_TRUE(read);
    for (const char* key : file.keys) EXPECT_NE(getVariable(read.get(), key), nullptr) << key;
    // Reading lists the lines in reverse; copying reverses again into file order.
    TableOwner inFileOrder(copyVariableTable(read.get()));
    std::string rewritten = scratch.file("rewritten");
    ASSERT_EQ(writePropertyFile(rewritten.c_str(), file.header, inFileOrder.get()), 0);
    EXPECT_EQ(readBytes(rewritten), readBytes(file.path));
  }
  TableOwner ip(readPropertyFile(kIpDbPath));
  EXPECT_EQ(getVariable(ip.get(), "IP1"), nullptr);  // no partner servers on a fresh install
}

TEST_F(DefaultDataTest, DebugSettingsLeaveDebugPrintingOff) {
  TableOwner debug(readPropertyFile(kDebugSettingsPath));
  ASSERT_TRUE(debug);
  EXPECT_EQ(getVariable(debug.get(), "Code"), nullptr);
  EXPECT_EQ(getVariable(debug.get(), "File"), nullptr);
}

}  // namespace
