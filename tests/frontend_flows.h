// The flows both web front end system tests drive over HTTP (cgiloader standalone, and as a CGI
// program under lighttpd): login, pages, log export, uploads, the JSON API, a settings save, the
// restart page. Each flow checks what a user or qcli would see.
//
// Thread safety: used from one test thread.
#pragma once

#include <gtest/gtest.h>
#include <httplib.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>

#include "tests/frontend_web_instance.h"
#include "tests/support/wait_until.h"

struct WebTarget {
  int port = 0;
  std::string pagePath = "/cgi-bin/cgiloader.cgi";
  std::string apiPrefix = "/api/";  // + "<module>/<method>"
  std::filesystem::path root;
};

inline std::unique_ptr<httplib::Client> webClient(const WebTarget& target, bool login = true) {
  auto client = std::make_unique<httplib::Client>("127.0.0.1", target.port);
  client->set_read_timeout(45, 0);
  if (login) client->set_basic_auth("admin", "pinecone");
  return client;
}

inline std::string pageUrl(const WebTarget& target, const std::string& method,
                           const std::string& extra = "") {
  return target.pagePath + "?module=server&method=" + method + extra;
}

// The value of row `key` in testMethod's "VariablesLoop" (the request as the server saw it).
inline std::string echoed(const nlohmann::json& reply, const std::string& key) {
  if (!reply.contains("VariablesLoop") || !reply["VariablesLoop"].is_array()) return "(no list)";
  for (const auto& row : reply["VariablesLoop"]) {
    if (row.value("Key", "") == key) return row.value("Value", "");
  }
  return "(absent)";
}

inline nlohmann::json apiJson(const WebTarget& target, const std::string& method,
                              const std::string& query = "") {
  auto answer = webClient(target)->Get(target.apiPrefix + "server/" + method + query);
  if (!answer || answer->status != 200) return nlohmann::json();
  return nlohmann::json::parse(answer->body, nullptr, false);
}

inline void checkLoginIsRequired(const WebTarget& target) {
  const std::string before = apiJson(target, "SessionPing").value("LastEvent", "");
  ASSERT_FALSE(before.empty());
  auto anonymous = webClient(target, false)->Get(pageUrl(target, "SessionPing"));
  ASSERT_TRUE(anonymous);
  EXPECT_EQ(anonymous->status, 401);
  EXPECT_EQ(anonymous->get_header_value("WWW-Authenticate").rfind("Basic realm=", 0), 0u);
  auto wrongClient = webClient(target, false);
  wrongClient->set_basic_auth("admin", "not-the-password");
  auto wrong = wrongClient->Get(pageUrl(target, "SessionPing"));
  ASSERT_TRUE(wrong);
  EXPECT_EQ(wrong->status, 401);
  // The ping counter moved by one: the two refused requests never reached the server.
  const std::string after = apiJson(target, "SessionPing").value("LastEvent", "");
  EXPECT_EQ(after, std::to_string(std::stoul(before) + 1));
}

inline void checkTestMethodRenders(const WebTarget& target) {
  auto page = webClient(target)->Get(pageUrl(target, "testMethod", "&Probe=%3Cb%3Ekv-4711%3C%2Fb%3E"));
  ASSERT_TRUE(page);
  EXPECT_EQ(page->status, 200);
  EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u);
  EXPECT_NE(page->body.find("&lt;b&gt;kv-4711&lt;/b&gt;"), std::string::npos) << page->body;
  EXPECT_EQ(page->body.find("<b>kv-4711</b>"), std::string::npos);
  const nlohmann::json json = apiJson(target, "testMethod", "?Probe=x");
  EXPECT_EQ(echoed(json, "RemoteAddress"), "127.0.0.1");
  EXPECT_EQ(echoed(json, "RemoteUser"), "admin");
  EXPECT_EQ(echoed(json, "Probe"), "x");
}

inline void checkEveryServerPageRenders(const WebTarget& target) {
  auto client = webClient(target);
  for (const char* method :
       {"LoadIndex", "GetMainPage", "PingPage", "SessionPing", "ViewLogs", "GetEmailConfig", "GetSnmpConfig",
        "GetSyslogConfig", "GetPrefsConfig", "GetAboutPage", "GetDebugInfo", "TechSupportPing",
        "GetNetworkInfo", "TestLoop", "testMethod", "GetRescanPage"}) {
    auto page = client->Get(pageUrl(target, method));
    ASSERT_TRUE(page) << method;
    EXPECT_EQ(page->status, 200) << method << ": " << page->body.substr(0, 600);
    EXPECT_EQ(page->get_header_value("Content-Type").rfind("text/html", 0), 0u) << method;
    EXPECT_GT(page->body.size(), 40u) << method;
  }
}

inline void checkLogExportDownloads(const WebTarget& target) {
  auto file = webClient(target)->Get(pageUrl(target, "ExportLogs"));
  ASSERT_TRUE(file);
  EXPECT_EQ(file->status, 200);
  EXPECT_EQ(file->get_header_value("Content-Type"), "text/plain");
  EXPECT_EQ(file->get_header_value("Content-Disposition"), "attachment; filename=\"ServerLog.log\"");
  std::ifstream in(target.root / "db/ServerLog.log", std::ios::binary);
  const std::string onDisk((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(file->body.empty());
  EXPECT_EQ(file->body.rfind("\"Log Number\"", 0), 0u) << file->body.substr(0, 100);
  EXPECT_EQ(onDisk.compare(0, file->body.size(), file->body), 0);  // the log only grows
}

inline void checkUploadArrivesAndIsRemoved(const WebTarget& target, const WebInstance& instance) {
  std::string bytes("\r\n--\r\n-\0\xff", 9);
  bytes += std::string(5000, '-') + "\r\n";
  httplib::MultipartFormDataItems items = {
      {"module", "server", "", ""},
      {"method", "testMethod", "", ""},
      {"UploadedFile", bytes, "firmware.bin", "application/octet-stream"}};
  auto answer = webClient(target)->Post(target.apiPrefix + "server/testMethod", items);
  ASSERT_TRUE(answer);
  ASSERT_EQ(answer->status, 200) << answer->body;
  const nlohmann::json json = nlohmann::json::parse(answer->body, nullptr, false);
  const std::string path = echoed(json, "UploadedFile");
  const std::string temp = (std::filesystem::canonical(instance.root()) / "temp/upload-").string();
  EXPECT_EQ(path.rfind(temp, 0), 0u) << path;
  EXPECT_EQ(echoed(json, "UploadedFileName"), "firmware.bin");
  EXPECT_FALSE(std::filesystem::exists(path));
  EXPECT_TRUE(instance.uploadsLeft().empty());
}

inline void checkSettingsSaveAndReload(const WebTarget& target) {
  const nlohmann::json before = apiJson(target, "GetEmailConfig");
  const std::string version = before.value("version", "");
  ASSERT_FALSE(version.empty()) << before.dump();
  httplib::Params form = {{"module", "server"},
                          {"method", "SetEmailConfig"},
                          {"version", version},
                          {"emailServer", "mail.example.net"},
                          {"emailSigEnable", "true"},
                          {"emailSigText", "Storage <room> 3"},
                          {"emailAddr1", "ops@example.net"},
                          {"emailSetIWE1", "011"}};
  auto saved = webClient(target)->Post(target.pagePath, form);
  ASSERT_TRUE(saved);
  EXPECT_EQ(saved->status, 200);
  EXPECT_EQ(saved->get_header_value("Content-Type").rfind("text/html", 0), 0u);
  const nlohmann::json after = apiJson(target, "GetEmailConfig");
  EXPECT_EQ(after.value("emailServer", ""), "mail.example.net");
  EXPECT_EQ(after.value("emailSigEnable", ""), "true");
  EXPECT_NE(after.value("version", ""), version);
  ASSERT_TRUE(after.contains("EmailLoop") && after["EmailLoop"].is_array()) << after.dump();
  EXPECT_EQ(after["EmailLoop"][0].value("emailAddr", ""), "ops@example.net");
}

// A rescan restarts the server: meanwhile the front end shows the restarting page, which reloads
// itself; afterwards pages come again.
inline void checkRestartPage(const WebTarget& target) {
  auto client = webClient(target);
  auto rescan = client->Get(pageUrl(target, "RescanSystem"));
  ASSERT_TRUE(rescan);
  ASSERT_EQ(rescan->status, 200);
  bool sawRestarting = false;
  bool servedAgain = false;
  const auto restartedAndBack = [&] {
    auto page = client->Get(pageUrl(target, "SessionPing"));
    if (page && page->status == 503 && page->body.find("The server is restarting") != std::string::npos) {
      EXPECT_NE(page->body.find("http-equiv=\"refresh\""), std::string::npos);
      sawRestarting = true;
    } else if (page && page->status == 200 && sawRestarting) {
      servedAgain = true;
    }
    return servedAgain;
  };
  EXPECT_TRUE(test_support::waitUntil("pages served again after the restart", restartedAndBack,
                                      std::chrono::seconds(40), std::chrono::milliseconds(20)));
  EXPECT_TRUE(sawRestarting);
}
