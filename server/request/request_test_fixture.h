// Test fixture of the request-side tests: each test runs in a fresh temporary working folder with
// db/ (a small db/strings.db with known texts, the IP and preferences tables as the test writes
// them) and, on request, the test module copied to mods/<name>/<name>.so (.dll). The server's control
// words, settings tables and module list are reset afterwards.
//
// Thread safety: one fixture per test.
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <initializer_list>
#include <map>
#include <string>
#include <utility>

#include "common/property_file.h"
#include "common/test_folder.h"
#include "common/variable_table.h"
#include "server/request/local_addresses.h"
#include "server/request/module_manager.h"
#include "server/server_state.h"
#include "tests/support/built_modules.h"

class RequestFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    previous_ = std::filesystem::current_path();
    std::filesystem::current_path(folder_.path());
    std::filesystem::create_directory("db");
    writeBytes("db/strings.db",
               "CommandOK = %s worked.\nCommandFail = %s failed.\nCmdSetPrefs = Saving prefs\n"
               "MissingParams = missing fields\nOldVersionMsg = stale page\nNoSaveSetting = not saved\n"
               "InvalidMulticastPort = bad port\nInvalidPartnerAddress = bad partner\n");
    resetControlWords();
  }

  void TearDown() override {
    unloadModules();
    ServerSettings& settings = serverSettings();
    for (VariableTable* table : {&settings.ip, &settings.prefs, &settings.server}) freeVariableTable(table);
    resetControlWords();
    clearLocalAddresses();
    std::filesystem::current_path(previous_);
  }

  static void resetControlWords() {
    ServerControl& control = serverControl();
    control.serverRunning.store(0);
    control.rescanRequested.store(0);
    control.restart.store(0);
    control.scanning.store(0);
  }

  // Writes a settings file and loads it into *table, as the start-up does.
  static void loadSettings(VariableTable* table, const char* path, const std::string& text) {
    writeBytes(path, text);
    freeVariableTable(table);
    *table = readPropertyFile(path);
  }

  static TableOwner request(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    TableOwner table;
    for (const auto& [key, value] : pairs) addVariable(table.address(), key, value);
    return table;
  }

  // Newest value of each key.
  static std::map<std::string, std::string> mapOf(VariableTable table) {
    std::map<std::string, std::string> values;
    for (VariableEntry* e = table; e != nullptr; e = e->next) values.emplace(e->key, e->value);
    return values;
  }

  static int countOf(VariableTable table, const std::string& key) {
    int count = 0;
    for (VariableEntry* e = table; e != nullptr; e = e->next) count += key == e->key ? 1 : 0;
    return count;
  }

  // Installs the built test module (tests/test_module) as mods/<name>/<name>.so (.dll) with the
  // given settings file text.
  static void installTestModule(const std::string& name, const std::string& settings) {
    const std::filesystem::path folder = std::filesystem::path("mods") / name;
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(test_support::builtModule("TestModule"),
                               folder / test_support::moduleFileName(name));
    writeBytes((folder / (name + "Settings.ini")).string(), settings);
  }

  TestFolder folder_;

 private:
  std::filesystem::path previous_;
};
