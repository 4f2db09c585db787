// Test fixture of the event log tests: each test runs in a fresh temporary working folder with a
// db/ folder (the log's paths are relative to the working folder), in UTC so that the date and
// time fields are predictable, with the log's counter and index reset.
//
// Thread safety: one fixture per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <string>

#include "common/variable_table.h"
#include "server/events/event_log.h"
#include "server/events/event_log_index.h"
#include "server/server_state.h"

class EventLogFolderTest : public ::testing::Test {
 protected:
  void SetUp() override {
    previous_ = std::filesystem::current_path();
    std::string pattern = (std::filesystem::temp_directory_path() / "kestrova-events-XXXXXX").string();
    ASSERT_NE(mkdtemp(pattern.data()), nullptr);
    folder_ = pattern;
    std::filesystem::create_directory(folder_ / "db");
    std::filesystem::current_path(folder_);
    setenv("TZ", "UTC", 1);
    tzset();
    eventLogIndex().invalidate();
    setLastLogEntryNumber(0);
  }

  void TearDown() override {
    serverControl().serverRunning.store(0);
    std::filesystem::current_path(previous_);
    std::error_code ignored;
    std::filesystem::remove_all(folder_, ignored);
  }

  static void writeFile(const std::string& path, const std::string& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out << bytes;
  }

  static std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }

  // The table's pairs; a later (older) duplicate never hides the newest value.
  static std::map<std::string, std::string> pairsOf(VariableTable table) {
    std::map<std::string, std::string> pairs;
    for (VariableEntry* e = table; e != nullptr; e = e->next) pairs.emplace(e->key, e->value);
    return pairs;
  }

 private:
  std::filesystem::path previous_;
  std::filesystem::path folder_;
};
