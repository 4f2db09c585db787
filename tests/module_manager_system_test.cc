// The module manager inside the running server: a copy of the test module under mods/ is loaded
// at start-up (its startup export called with the services), and its shutdown procedure runs
// when the server stops; a disabled module is reported and never loaded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tests/server_process.h"

namespace {

namespace fs = std::filesystem;

std::string readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
}

// An instance folder with the default db/ files and two copies of the test module.
class ModuleInstance : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* build = std::getenv("KESTROVA_BUILD_DIR");
    if (build == nullptr || !fs::exists(builtServerPath())) GTEST_FAIL() << "set KESTROVA_BUILD_DIR";
    std::string pattern = (fs::temp_directory_path() / "kestrova-modsys-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    path_ = pattern;
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    if (source != nullptr && fs::is_directory(fs::path(source) / "data/db")) {
      fs::copy(fs::path(source) / "data/db", path_ / "db", fs::copy_options::recursive);
    }
    const fs::path built = fs::path(build) / "mods/TestModule/TestModule.so";
    for (const char* name : {"Alpha", "Beta"}) {
      fs::create_directories(path_ / "mods" / name);
      fs::copy_file(built, path_ / "mods" / name / (std::string(name) + ".so"));
    }
    writeFile(path_ / "mods/Alpha/AlphaSettings.ini", "ModuleEnabled=1\nTabOrder=2\nModuleName=Alpha Tab\n");
    writeFile(path_ / "mods/Beta/BetaSettings.ini", "ModuleEnabled=0\nTabOrder=1\n");
  }
  void TearDown() override {
    std::error_code ignored;
    if (!path_.empty()) fs::remove_all(path_, ignored);
  }
  fs::path path_;
};

void expectInOrder(const std::string& output, const std::vector<std::string>& texts) {
  size_t at = 0;
  for (const std::string& text : texts) {
    const size_t found = output.find(text, at);
    ASSERT_NE(found, std::string::npos) << "missing in order: [" << text << "]\n--- output ---\n" << output;
    at = found + text.size();
  }
}

TEST_F(ModuleInstance, ServerLoadsStartsAndShutsDownItsModules) {
  ServerProcess server({"-debug"}, path_);
  ASSERT_TRUE(server.started());
  ASSERT_TRUE(server.waitForText("Scan System thread terminated\n")) << server.output();
  expectInOrder(server.output(), {"Loading Modules.\n", "Module Beta disabled - not loaded.\n",
                                  "+---- Module Info ------------------------------------\n",
                                  "+ Module Beta       ena=0 ord=1 name=(missing) lib=0\n",
                                  "+ Module Alpha      ena=1 ord=2 name=Alpha Tab lib=",
                                  "Loading Modules Complete.\n", "Scan System thread terminated\n"});
  EXPECT_EQ(readFile(path_ / "mods/Alpha/startup.marker"), "startup\n");
  EXPECT_FALSE(fs::exists(path_ / "mods/Beta/startup.marker"));

  server.signal(SIGINT);
  EXPECT_EQ(server.finish(), 0);
  expectInOrder(server.output(), {"The Server is shutting down.\n",
                                  "\n\t\t Kestrova Module: Alpha\n\n\n\t\t Calling doShutdownProcedures \n",
                                  "\n\t\t Kestrova Module: Server\n\n", "Closing libraries:"});
  EXPECT_EQ(server.output().find("Kestrova Module: Beta"), std::string::npos);
  EXPECT_EQ(readFile(path_ / "mods/Alpha/shutdown.marker"), "shutdown\n");
  EXPECT_FALSE(fs::exists(path_ / "mods/Alpha/reset.marker"));
}

}  // namespace
