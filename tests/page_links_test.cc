// Every template of the product against the method tables: no link and no GET form may name a
// method that the server's or the RAID module's table marks as changing data, since a browser
// follows links for other sites too and the server refuses such requests (frontend/README.md,
// "Anti-forgery"). Pages added later are checked the same way.
#include <gtest/gtest.h>
#include <strings.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>
#include <string>
#include <vector>

#include "modules/brivo/method_table.h"
#include "server/request/server_methods.h"

namespace {

namespace fs = std::filesystem;

std::string lowered(std::string text) {
  for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return text;
}

// True when the tables say module's method changes data.
bool altersData(const std::string& module, const std::string& method) {
  if (module.empty() || module == "server") return serverMethodAltersData(method.c_str()) == 1;
  if (strcasecmp(module.c_str(), "Brivo") == 0) {
    const brivo::MethodEntry* entry = brivo::findMethod(method.c_str());
    return entry != nullptr && !entry->read;
  }
  return true;  // a module whose table this test cannot see
}

// The value of name in a query text ("a=1&amp;b=2"), or empty.
std::string queryValue(const std::string& query, const std::string& name) {
  const std::regex pattern("(?:^|[?&;])" + name + "=([A-Za-z0-9_]+)");
  std::smatch match;
  return std::regex_search(query, match, pattern) ? match[1].str() : std::string();
}

std::vector<fs::path> templates() {
  std::vector<fs::path> files;
  const char* source = std::getenv("KESTROVA_SOURCE_DIR");
  if (source == nullptr) return files;
  for (const char* folder : {"www", "html"}) {
    for (const auto& entry : fs::recursive_directory_iterator(fs::path(source) / folder)) {
      const std::string extension = entry.path().extension().string();
      if (entry.is_regular_file() && (extension == ".htm" || extension == ".html"))
        files.push_back(entry.path());
    }
  }
  return files;
}

TEST(PageLinks, NoLinkOrGetFormOfAnyPageChangesData) {
  const std::vector<fs::path> files = templates();
  ASSERT_GT(files.size(), 20u) << "set KESTROVA_SOURCE_DIR";
  const std::regex link("<a\\b[^>]*href=\"([^\"]*cgiloader\\.cgi\\?[^\"]*)\"", std::regex::icase);
  const std::regex form("<form\\b([^>]*)>([\\s\\S]*?)</form>", std::regex::icase);
  const std::regex methodField("name=\"method\"\\s+value=\"([A-Za-z0-9_]+)\"", std::regex::icase);
  const std::regex moduleField("name=\"module\"\\s+value=\"([A-Za-z0-9_]+)\"", std::regex::icase);
  int links = 0;
  for (const fs::path& file : files) {
    std::ifstream in(file);
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    for (std::sregex_iterator it(text.begin(), text.end(), link), end; it != end; ++it) {
      const std::string url = (*it)[1].str();
      const std::string method = queryValue(url, "method");
      ++links;
      EXPECT_FALSE(altersData(queryValue(url, "module"), method))
          << file.string() << ": a link to " << method << ", which changes data; use a POST form";
    }
    for (std::sregex_iterator it(text.begin(), text.end(), form), end; it != end; ++it) {
      const std::string attributes = lowered((*it)[1].str());
      if (attributes.find("method=\"post\"") != std::string::npos) continue;
      const std::string body = (*it)[2].str();
      std::smatch field;
      std::string method = queryValue((*it)[1].str(), "method");
      std::string module = queryValue((*it)[1].str(), "module");
      if (std::regex_search(body, field, methodField)) method = field[1].str();
      if (std::regex_search(body, field, moduleField)) module = field[1].str();
      if (method.empty()) continue;
      EXPECT_FALSE(altersData(module, method))
          << file.string() << ": a GET form for " << method << ", which changes data; use method=\"post\"";
    }
  }
  EXPECT_GT(links, 20);
}

TEST(PageLinks, TheCheckKnowsWhatChangesData) {
  EXPECT_TRUE(altersData("server", "ClearEventLogs"));
  EXPECT_TRUE(altersData("", "UpdatePassword"));
  EXPECT_TRUE(altersData("Brivo", "DeleteHostLun"));
  EXPECT_TRUE(altersData("brivo", "deletehostlun"));
  EXPECT_FALSE(altersData("Brivo", "GetMonitor"));
  EXPECT_FALSE(altersData("server", "ViewLogs"));
  EXPECT_EQ(queryValue("/cgi-bin/cgiloader.cgi?module=Brivo&amp;method=DeleteRank&amp;x=1", "method"),
            "DeleteRank");
  EXPECT_EQ(queryValue("/cgi-bin/cgiloader.cgi?module=Brivo&amp;method=DeleteRank", "module"), "Brivo");
}

}  // namespace
