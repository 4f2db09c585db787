// The export table of baylink.dll: every name of baylink_exports.map (the list the Linux build
// exports) is there and resolves, and nothing else is exported: not the library's C++ code, nor
// its copy of the common code, nor the runtime's.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>

namespace {

namespace fs = std::filesystem;

// The names of the map's global section.
std::set<std::string> mapNames() {
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  EXPECT_NE(source, nullptr);
  if (source == nullptr) return {};
  std::ifstream in(fs::path(source) / "baylink" / "baylink_exports.map");
  std::stringstream text;
  text << in.rdbuf();
  std::string map = std::regex_replace(text.str(), std::regex(R"(/\*[\s\S]*?\*/)"), "");
  const size_t global = map.find("global:");
  const size_t local = map.find("local:");
  EXPECT_NE(global, std::string::npos);
  EXPECT_NE(local, std::string::npos);
  if (global == std::string::npos || local == std::string::npos) return {};
  const std::string section = map.substr(global + 7, local - global - 7);
  std::set<std::string> names;
  const std::regex identifier("[A-Za-z_][A-Za-z0-9_]*");
  for (auto it = std::sregex_iterator(section.begin(), section.end(), identifier);
       it != std::sregex_iterator(); ++it)
    names.insert(it->str());
  return names;
}

// The names in the DLL's export directory.
std::set<std::string> exportedNames(HMODULE library) {
  const auto* base = reinterpret_cast<const unsigned char*>(library);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  std::set<std::string> names;
  if (directory.VirtualAddress == 0) return names;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  const auto* nameOffsets = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    names.insert(reinterpret_cast<const char*>(base + nameOffsets[i]));
  // Exports by number only would not show among the names.
  EXPECT_EQ(exports->NumberOfFunctions, exports->NumberOfNames);
  return names;
}

TEST(BaylinkDllExports, ExactlyTheNamesOfTheMap) {
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, MAX_PATH);
  const fs::path dll = fs::path(self).parent_path().parent_path() / "bin" / "baylink.dll";
  HMODULE library = LoadLibraryExW(dll.wstring().c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ASSERT_NE(library, nullptr) << dll.string() << ": error " << GetLastError();

  const std::set<std::string> expected = mapNames();
  ASSERT_GE(expected.size(), 50u);
  ASSERT_EQ(expected.count("getSESDevices"), 1u);
  for (const std::string& name : expected) EXPECT_NE(GetProcAddress(library, name.c_str()), nullptr) << name;
  EXPECT_EQ(exportedNames(library), expected);

  using TextFn = char* (*)();
  auto version = reinterpret_cast<TextFn>(GetProcAddress(library, "getVersion"));
  ASSERT_NE(version, nullptr);
  EXPECT_STREQ(version(), "Baylink - v0.90 (1st September 2008)");
  auto enclosureFirmware = reinterpret_cast<TextFn>(GetProcAddress(library, "getEncFirmware"));
  ASSERT_NE(enclosureFirmware, nullptr);
  EXPECT_STREQ(enclosureFirmware(), "EncFirmware: 0.1");
  // A data export: the variable itself, 0 at load.
  const auto* debugMode = reinterpret_cast<const int*>(GetProcAddress(library, "iDebugMode"));
  ASSERT_NE(debugMode, nullptr);
  EXPECT_EQ(*debugMode, 0);
  FreeLibrary(library);
}

}  // namespace
