// The simulator's SES pages decoded by sg3-utils' sg_ses (--inhex, no device needed) and by the
// RAID module's own page reader, compared element by element: element types and counts of the
// configuration page, every element's status on the status page with failures injected, the
// temperatures, and the enclosure's identifier. A difference means the simulator encodes a page
// other than SES says, or the module reads it otherwise than a tool nobody here wrote.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <regex>
#include <sstream>

#include "modules/brivo/monitor/ses_pages.h"
#include "sim/ses_enclosure.h"

namespace {

namespace fs = std::filesystem;

const char* sgSes() {
  for (const char* path : {"/usr/bin/sg_ses", "/bin/sg_ses"}) {
    if (access(path, X_OK) == 0) return path;
  }
  return nullptr;
}

std::string run(const std::string& command) {
  std::string out;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  size_t n = 0;
  while ((n = fread(buffer, 1, sizeof(buffer), pipe)) > 0) out.append(buffer, n);
  pclose(pipe);
  return out;
}

std::vector<uint8_t> page(sim::SesEnclosure& enclosure, uint8_t code) {
  std::vector<uint8_t> data;
  EXPECT_TRUE(enclosure.diagnosticPage(code, &data)) << int(code);
  return data;
}

std::string hexLines(const std::vector<std::vector<uint8_t>>& pages) {
  std::ostringstream out;
  for (const auto& p : pages) {
    for (size_t i = 0; i < p.size(); ++i) {
      char byte[4];
      std::snprintf(byte, sizeof(byte), "%02x", p[i]);
      out << byte << ((i + 1) % 16 == 0 || i + 1 == p.size() ? "\n" : " ");
    }
  }
  return out.str();
}

// sg_ses's element type names by SES type code.
const std::map<uint8_t, std::string> kTypeNames = {
    {0x01, "Device slot"}, {0x02, "Power supply"}, {0x03, "Cooling"}, {0x04, "Temperature sensor"},
    {0x06, "Audible alarm"}, {0x07, "Enclosure services controller electronics"}, {0x0E, "Enclosure"}};
const std::map<std::string, int> kStatusCodes = {{"Unsupported", 0}, {"OK", 1}, {"Critical", 2}, {"Noncritical", 3},
                                                 {"Unrecoverable", 4}, {"Not installed", 5}, {"Unknown", 6},
                                                 {"Not available", 7}};

struct ToolElement {
  std::string type;
  int index = -1;
  int status = -1;
  std::string text;  // the descriptor's lines
};

std::vector<ToolElement> parseStatus(const std::string& text) {
  std::vector<ToolElement> elements;
  std::string type;
  std::istringstream in(text);
  std::smatch m;
  static const std::regex typeLine(R"(^\s*Element type: ([^,]+),)");
  static const std::regex overall(R"(^\s*Overall descriptor:)");
  static const std::regex element(R"(^\s*Element (\d+) descriptor:)");
  static const std::regex status(R"(status: (.+)$)");
  for (std::string line; std::getline(in, line);) {
    if (std::regex_search(line, m, typeLine)) {
      type = m[1];
    } else if (std::regex_search(line, m, overall)) {
      elements.push_back({type, -1});
    } else if (std::regex_search(line, m, element)) {
      elements.push_back({type, std::stoi(m[1])});
    } else if (!elements.empty()) {
      elements.back().text += line + "\n";
      if (std::regex_search(line, m, status)) {
        auto it = kStatusCodes.find(m[1]);
        elements.back().status = it != kStatusCodes.end() ? it->second : -2;
      }
    }
  }
  return elements;
}

class SesInhex : public ::testing::Test {
 protected:
  void SetUp() override {
    if (sgSes() == nullptr) GTEST_SKIP() << "sg_ses is not installed (scripts/bootstrap.sh installs sg3-utils)";
    dir_ = fs::temp_directory_path() / ("kestrova-sesinhex-" + std::to_string(getpid()));
    fs::create_directories(dir_);
  }
  void TearDown() override {
    std::error_code ignored;
    fs::remove_all(dir_, ignored);
  }
  std::string decode(const std::vector<std::vector<uint8_t>>& pages, const std::string& which) {
    fs::path file = dir_ / "pages.hex";
    std::ofstream(file) << hexLines(pages);
    return run(std::string(sgSes()) + " --inhex=" + file.string() + " --status --page=" + which + " 2>&1");
  }
  fs::path dir_;
};

TEST_F(SesInhex, SgSesAndTheRaidModuleReadTheSameElementsAndStatuses) {
  sim::SesConfig config;
  config.name = "bay";
  config.identity = {0x0D, "KESTROVA", "BAY-12", "0100", "ENC0001", 0x500A0B8000112233ULL, true};
  config.esis = 2;
  sim::SesEnclosure enclosure(config);
  ASSERT_TRUE(enclosure.setFanFailed(1, true));
  ASSERT_TRUE(enclosure.setPowerSupplyFailed(0, true));
  ASSERT_TRUE(enclosure.setTemperature(1, 65));
  ASSERT_TRUE(enclosure.setTemperature(2, 55));
  ASSERT_TRUE(enclosure.setSlotFlag(4, "fault", true));
  ASSERT_TRUE(enclosure.setSlotDeviceFailed(7, true));
  std::vector<uint8_t> configPage = page(enclosure, 1);
  std::vector<uint8_t> statusPage = page(enclosure, 2);

  // Configuration page: the element types and their counts.
  std::string cf = decode({configPage}, "cf");
  std::vector<brivo::monitor::SesElementType> types = brivo::monitor::sesElementTypes(configPage);
  ASSERT_FALSE(types.empty());
  std::smatch m;
  std::regex typeCount(R"(Element type: ([^,]+), subenclosure id: 0\s+number of possible elements: (\d+))");
  std::vector<std::pair<std::string, int>> toolTypes;
  for (auto it = std::sregex_iterator(cf.begin(), cf.end(), typeCount); it != std::sregex_iterator(); ++it)
    toolTypes.emplace_back((*it)[1], std::stoi((*it)[2]));
  ASSERT_EQ(toolTypes.size(), types.size()) << cf;
  for (size_t i = 0; i < types.size(); ++i) {
    EXPECT_EQ(toolTypes[i].first, kTypeNames.at(types[i].type)) << i;
    EXPECT_EQ(toolTypes[i].second, types[i].count) << toolTypes[i].first;
  }
  ASSERT_TRUE(std::regex_search(cf, m, std::regex(R"(enclosure logical identifier \(hex\): (\w+))")));
  EXPECT_EQ(m[1], "500a0b8000112233");

  // Status page: every element, in order, with the module's reading of its status code.
  std::string es = decode({configPage, statusPage}, "es");
  std::vector<ToolElement> tool = parseStatus(es);
  std::vector<brivo::monitor::SesElement> module;
  ASSERT_TRUE(brivo::monitor::sesStatusElements(types, statusPage, &module));
  ASSERT_EQ(tool.size(), module.size()) << es;
  for (size_t i = 0; i < module.size(); ++i) {
    EXPECT_EQ(tool[i].type, kTypeNames.at(module[i].type)) << i;
    EXPECT_EQ(tool[i].index, module[i].index) << i;
    EXPECT_EQ(tool[i].status, module[i].bytes[0] & 0x0F) << tool[i].type << " " << tool[i].index << "\n"
                                                          << tool[i].text;
  }
  // The injected faults are visible to both: the comparison is not between two all-OK pages.
  auto find = [&](const std::string& type, int index) -> const ToolElement* {
    for (const ToolElement& e : tool) {
      if (e.type == type && e.index == index) return &e;
    }
    return nullptr;
  };
  ASSERT_NE(find("Cooling", 1), nullptr);
  EXPECT_NE(find("Cooling", 1)->status, 1);
  EXPECT_EQ(find("Cooling", 0)->status, 1);
  EXPECT_NE(find("Power supply", 0)->status, 1);
  EXPECT_NE(find("Temperature sensor", 1)->status, 1);
  EXPECT_NE(find("Temperature sensor", 1)->text.find("Temperature=65 C"), std::string::npos)
      << find("Temperature sensor", 1)->text;
  EXPECT_NE(find("Temperature sensor", 2)->text.find("Temperature=55 C"), std::string::npos);
  EXPECT_NE(find("Temperature sensor", 0)->text.find("Temperature=30 C"), std::string::npos);
  EXPECT_NE(find("Device slot", 4)->text.find("Fault requested=1"), std::string::npos) << find("Device slot", 4)->text;
  EXPECT_NE(find("Device slot", 7)->status, 1);
  // Both ESIs installed: neither reads "Not installed".
  EXPECT_NE(find("Enclosure services controller electronics", 0)->status, 5);
  EXPECT_NE(find("Enclosure services controller electronics", 1)->status, 5);
}

TEST_F(SesInhex, AStatusPageWithoutItsConfigurationIsNotDecodedAsElements) {
  sim::SesConfig config;
  config.name = "bay";
  config.identity = {0x0D, "KESTROVA", "BAY-12", "0100", "ENC0001", 0x500A0B8000112233ULL, true};
  sim::SesEnclosure enclosure(config);
  std::vector<uint8_t> statusPage = page(enclosure, 2);
  std::string es = decode({statusPage}, "es");
  EXPECT_TRUE(parseStatus(es).empty()) << es;
  // Cut short by one element, the module refuses to walk it too.
  std::vector<uint8_t> configPage = page(enclosure, 1);
  std::vector<brivo::monitor::SesElement> module;
  std::vector<uint8_t> cut(statusPage.begin(), statusPage.end() - 4);
  cut[2] = static_cast<uint8_t>((cut.size() - 4) >> 8);
  cut[3] = static_cast<uint8_t>(cut.size() - 4);
  EXPECT_FALSE(brivo::monitor::sesStatusElements(brivo::monitor::sesElementTypes(configPage), cut, &module));
}

}  // namespace
