// Test fixture of the module manager's tests: each test runs in a fresh temporary working folder
// with empty mods/ and db/ folders, into which it installs copies of the built test modules
// (TestModule: every export; BareModule: startup only) under names of its choosing. The module
// list is unloaded and the status cache reset after each test.
//
// Thread safety: one fixture per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "common/variable_table.h"
#include "server/request/module_internal.h"
#include "server/request/module_manager.h"
#include "tests/support/built_modules.h"

class ModuleFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-mods-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "mods");
    std::filesystem::create_directory(folder_ / "db");
    std::filesystem::current_path(folder_);
    resetModuleStatusCache();
  }

  void TearDown() override {
    unloadModules();
    setModuleStatusClock(nullptr);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  // Path of a library built by tests/test_module.
  static std::string builtModule(const std::string& name) { return test_support::builtModule(name).string(); }

  // mods/<name>/<name>.so (.dll) as a copy of the built module; settings written unless kNoSettings.
  static constexpr const char* kNoSettings = nullptr;
  static void installModule(const std::string& name, const char* settings,
                            const std::string& built = "TestModule") {
    const std::filesystem::path folder = std::filesystem::path("mods") / name;
    std::filesystem::create_directories(folder);
    std::filesystem::copy_file(builtModule(built), folder / test_support::moduleFileName(name),
                               std::filesystem::copy_options::overwrite_existing);
    if (settings != nullptr) writeFile((folder / (name + "Settings.ini")).string(), settings);
  }

  // Whether the folder the test module reports for itself is expected. The module tells the
  // loader's own name for it: the relative path given on Linux, a full path on Windows.
  static ::testing::AssertionResult sameFolder(const std::string& reported, const std::string& expected) {
    std::error_code error;
    if (std::filesystem::equivalent(reported, expected, error)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "the module reports \"" << reported << "\", not " << expected;
  }

  // Runs loadModules and returns what it printed.
  static std::string loadCapturing() {
    ::testing::internal::CaptureStdout();
    loadModules();
    return ::testing::internal::GetCapturedStdout();
  }

  static ModuleRecord* findRecord(const std::string& name) {
    for (ModuleRecord* r = moduleList(); r != nullptr; r = r->next) {
      if (name == r->name) return r;
    }
    return nullptr;
  }

  // Sends {"method" = method, extra...} to module; returns the reply's pairs (newest wins).
  static std::map<std::string, std::string> call(const std::string& module, const std::string& method,
                                                 const std::map<std::string, std::string>& extra = {}) {
    TableOwner request;
    addVariable(request.address(), "module", module.c_str());
    addVariable(request.address(), "method", method.c_str());
    for (const auto& [key, value] : extra) addVariable(request.address(), key.c_str(), value.c_str());
    TableOwner reply(callModule(request.get(), module.c_str(), method.c_str()));
    return pairsOf(reply.get());
  }

  static std::map<std::string, std::string> pairsOf(VariableTable table) {
    std::map<std::string, std::string> pairs;
    for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace(e->key, e->value);
    return pairs;
  }

  static void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  std::filesystem::path folder_;

 private:
  std::filesystem::path previous_;
};
