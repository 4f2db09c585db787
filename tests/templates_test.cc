// The web templates against the server: every template path that the server's code names exists
// and parses; every template renders with replies that the real server methods give (in a
// temporary working folder with sample settings, log records, users, servers, devices and a
// loaded module), each name it uses is found in some reply, a row count of 0 gives the same page
// whichever form the front end hands it on in, values are escaped, the event log's paging links
// walk the whole log, the preferences form posts back what it showed, and the qcli page gives
// the client its lines byte for byte.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <vector>

#include "common/thread_manager.h"
#include "qcli/answer_handler.h"
#include "server/events/event_log.h"
#include "server/net/network_key_store.h"
#include "server/net/password_change.h"
#include "server/request/command_result.h"
#include "server/request/debug_page.h"
#include "server/request/forgery_guard.h"
#include "server/request/page_rows.h"
#include "server/request/request_test_fixture.h"
#include "server/request/router.h"
#include "server/request/settings_pages.h"
#include "tests/template_render.h"

namespace {

namespace fs = std::filesystem;
using templates::Fields;

constexpr char kHostile[] = "<script>alert(1)</script>";
constexpr char kHostileEscaped[] = "&lt;script&gt;alert(1)&lt;/script&gt;";

fs::path sourceRoot() {
  const char* root = std::getenv("KESTROVA_SOURCE_DIR");
  return root != nullptr ? fs::path(root) : fs::path();
}

// Every template file of the tree: www/ and html/.
std::vector<fs::path> templateFiles() {
  std::vector<fs::path> files;
  for (const char* top : {"www", "html"}) {
    const fs::path dir = sourceRoot() / top;
    if (!fs::is_directory(dir)) continue;
    for (const auto& entry : fs::recursive_directory_iterator(dir)) {
      const std::string ext = entry.path().extension().string();
      if (entry.is_regular_file() && (ext == ".htm" || ext == ".html")) files.push_back(entry.path());
    }
  }
  return files;
}

// "HTMLPath"-style texts in the sources of dir.
std::set<std::string> pathsNamedIn(const fs::path& dir) {
  static const std::regex literal(R"re("((?:\.\./)+(?:Server|Common|html)/[^"]+\.html?)")re");
  std::set<std::string> paths;
  if (!fs::is_directory(dir)) return paths;
  for (const auto& entry : fs::recursive_directory_iterator(dir)) {
    const std::string name = entry.path().filename().string();
    if (!entry.is_regular_file() || name.find("_test.") != std::string::npos) continue;
    if (entry.path().extension() != ".cc" && entry.path().extension() != ".h") continue;
    const std::string text = templates::readText(entry.path());
    for (auto it = std::sregex_iterator(text.begin(), text.end(), literal); it != std::sregex_iterator();
         ++it)
      paths.insert((*it)[1]);
  }
  return paths;
}

TEST(TemplateFiles, EveryPathTheServerNamesExistsAndParses) {
  ASSERT_TRUE(fs::is_directory(sourceRoot() / "www")) << "set KESTROVA_SOURCE_DIR";
  std::set<std::string> named = pathsNamedIn(sourceRoot() / "server");
  // Module code names the shared panels and its qcli page too; its other pages are its own.
  for (const std::string& path : pathsNamedIn(sourceRoot() / "modules")) {
    if (path.rfind("../../html/", 0) != 0 || path == "../../html/Brivo/main/qcli.htm") named.insert(path);
  }
  named.insert("../../html/Brivo/main/qcli.htm");
  EXPECT_GE(named.size(), 20u);
  for (const std::string& path : named) {
    const fs::path file = templates::templateFile(sourceRoot(), path);
    ASSERT_FALSE(file.empty()) << path << " is neither under ../Server, ../Common nor ../../html";
    EXPECT_TRUE(fs::is_regular_file(file)) << path << " -> " << file;
  }
  for (const fs::path& file : templateFiles()) {
    kainjow::mustache::mustache tmpl(templates::readText(file));
    EXPECT_TRUE(tmpl.is_valid()) << file << ": " << tmpl.error_message();
  }
}

// ---- Sample data the page writers and the device list hand the pages ---------------------------

void addRow(VariableTable* reply, const char* list, int row, const char* field, const char* value) {
  addVariable(reply, (list + std::to_string(row) + field).c_str(), value);
}

void writeLoggedInUsers(VariableTable* reply) {
  addRow(reply, "UsersLoggedInLoop", 0, "UserName", "admin");
  addRow(reply, "UsersLoggedInLoop", 0, "UserHost", kHostile);
  addRow(reply, "UsersLoggedInLoop", 0, "UserAddress", "192.168.10.21");
  addRow(reply, "UsersLoggedInLoop", 1, "UserName", "operator");
  addRow(reply, "UsersLoggedInLoop", 1, "UserHost", "");
  addRow(reply, "UsersLoggedInLoop", 1, "UserAddress", "10.0.0.5");
  addVariable(reply, "UsersLoggedInLoop", "2");
}

void writeUserList(VariableTable* reply) {
  addRow(reply, "UserLoop", 0, "MissedCheckins", "1");
  addRow(reply, "UserLoop", 0, "RemoteAddress", "192.168.10.21");
  addRow(reply, "UserLoop", 0, "RemoteHost", "desk-7.example.net");
  addRow(reply, "UserLoop", 0, "RemoteUser", "admin");
  addVariable(reply, "UserLoop", "1");
  addVariable(reply, "ServerName", "store-1");
  addRow(reply, "ServerIpLoop", 0, "IpAddress", "192.168.10.2");
  addRow(reply, "ServerIpLoop", 1, "IpAddress", "10.0.0.2");
  addVariable(reply, "ServerIpLoop", "2");
}

void writeServerList(VariableTable* reply) {
  const char* fields[][7] = {{"192.168.10.3", "SN-0042", "store-2", "00", "1", "12/08/25", "09:05:03"},
                             {"192.168.10.4", "SN-0043", kHostile, "03", "0", "12/08/25", "09:05:01"}};
  const char* names[] = {"Ip",       "SerialNumber",    "HostName",       "Status",
                         "NumUsers", "LastCheckinDate", "LastCheckinTime"};
  for (int row = 0; row < 2; ++row)
    for (int f = 0; f < 7; ++f) addRow(reply, "ServerLoop", row, names[f], fields[row][f]);
  addVariable(reply, "ServerLoop", "2");
}

// Two devices: a SCSI one with a module unit, and one the scan could not describe.
struct SampleDevices {
  DeviceInfo info{};
  ModDeviceItem unit{};
  DeviceRecord scsi{};
  DeviceRecord other{};
  SampleDevices() {
    std::snprintf(info.deviceName, sizeof info.deviceName, "/dev/sg3");
    info.port = 2;
    info.targetId = 5;
    info.maxTransferSize = 1 << 20;
    std::memcpy(info.inquiryData + 8, "KESTROVABR-2400 DUAL    0612", 28);
    info.inquiryData[0] = 0x0C;
    std::snprintf(unit.name, sizeof unit.name, "Brivo0123456789ABCDEF");
    unit.modStatus = 1;
    scsi = DeviceRecord{DEVICE_RECORD_VALID, &info, &unit, 1, &other};
    other = DeviceRecord{0, nullptr, nullptr, 2, nullptr};
  }
};
SampleDevices gDevices;
const DeviceRecord* sampleDeviceList() { return &gDevices.scsi; }

// A log of count records; record 7 carries markup and quotes in its device and message.
std::string logText(int count) {
  std::string text = "\"Log Number\",\"Concern Level\",\"Date\",\"Time\",\"Device\",\"Message\"\n";
  for (int i = 1; i <= count; ++i) {
    char line[256];
    const bool odd = i == 7;
    std::snprintf(
        line, sizeof line, "\"%d\",\"%d\",\"12/08/25\",\"09:%02d:%02d\",\"%s\",\"%s\"\n", i, i % 3,
        i / 60 % 60, i % 60, odd ? "Ctl <A>" : "Kestrova Server",
        odd ? "<script>alert(1)</script> said \"\"hello\"\"" : "The storage management server has started.");
    text += line;
  }
  return text;
}

// A recorded thread for the thread list of the diagnostic page.
void idleThread(uintptr_t) {
  while (threadSleep(10)) {
  }
}

struct Sample {
  std::string name;
  Fields reply;
  bool showsHostile;  // the page shows one of the hostile sample values
};

class TemplatesTest : public RequestFolderTest {
 protected:
  void SetUp() override {
    RequestFolderTest::SetUp();
    ASSERT_TRUE(fs::is_directory(sourceRoot() / "data/db")) << "set KESTROVA_SOURCE_DIR";
    fs::copy_file(sourceRoot() / "data/db/strings.db", "db/strings.db", fs::copy_options::overwrite_existing);
    fs::copy_file(sourceRoot() / "data/db/password.web", "db/password.web");
    ServerSettings& s = serverSettings();
    loadSettings(&s.server, "db/server.ini", templates::readText(sourceRoot() / "data/db/server.ini"));
    loadSettings(&s.prefs, "db/prefs.ini", "version = 4\n");
    loadSettings(&s.ip, "db/IP.db", "MulticastPort = 9191\nIP1 = 192.168.10.3\nIP2 = store-3.example.net\n");
    loadSettings(&s.email, "db/email.ini",
                 std::string("version = 3\nemailServer = mail.example.net\nemailSigEnable = true\n"
                             "emailSigText = Storage team\\r\\nRoom \\\"B\\\" \\\\ 2\n"
                             "emailAddr1 = ops@example.net\nemailSetIWE1 = 011\nemailAddr2 = ") +
                     kHostile + "\nemailSetIWE2 = 111\n");
    loadSettings(
        &s.snmp, "db/snmp.ini",
        std::string("version = 2\nSnmpServer0 = 192.168.10.50\nSnmpCommunity0 = ") + kHostile +
            "\nSnmpIWE0 = 101\nSnmpPort0 = 162\nSnmpServer1 = nms.example.net\nSnmpCommunity1 = public\n"
            "SnmpIWE1 = 001\nSnmpPort1 = 1162\n");
    loadSettings(
        &s.syslog, "db/syslog.ini",
        "version = 6\nSyslogServer0 = 192.168.10.60\nSyslogIWE0 = 011\nSyslogPort0 = 514\n"
        "SyslogServer1 = logs.example.net\nSyslogIWE1 = 111\nSyslogPort1 = 6514\nSyslogFormat1 = rfc5424\n"
        "SyslogTransport1 = tls\nSyslogCaFile1 = /etc/ssl/logs-ca.pem\n");
    loadSettings(&s.webhook, "db/webhook.ini",
                 std::string("version = 1\nWebhookUrl0 = https://hooks.example.net/") + kHostile +
                     "\nWebhookStyle0 = slack\nWebhookIWE0 = 011\nWebhookAuth0 = basic\nWebhookUser0 = ops\n"
                     "WebhookCaFile0 = /etc/ssl/hooks-ca.pem\nWebhookId0 = 0123456789abcdef\n");
    writeBytes("db/webhook.secret", "WebhookSecret0123456789abcdef = pw\n");
    writeBytes("db/ServerLog.log", logText(120));
    reloadLogCounter();
    setPageRowsWriter(PageRows::kLoggedInUsers, writeLoggedInUsers);
    setPageRowsWriter(PageRows::kUserList, writeUserList);
    setPageRowsWriter(PageRows::kServerList, writeServerList);
    setDeviceListSource(sampleDeviceList);
    installTestModule("TestModule", "ModuleName=Test Module\nModuleEnabled=1\nTabOrder=1\n");
    testing::internal::CaptureStdout();
    loadModules();
    testing::internal::GetCapturedStdout();
  }

  void TearDown() override {
    ServerSettings& s = serverSettings();
    for (VariableTable* table : {&s.email, &s.snmp, &s.syslog, &s.webhook}) freeVariableTable(table);
    setPageRowsWriter(PageRows::kLoggedInUsers, nullptr);
    setPageRowsWriter(PageRows::kUserList, nullptr);
    setPageRowsWriter(PageRows::kServerList, nullptr);
    setDeviceListSource(nullptr);
    unloadNetworkKeys();
    RequestFolderTest::TearDown();
  }

  // The server's reply to method with the given fields, as the front end reads it.
  static Fields call(const char* method,
                     std::initializer_list<std::pair<const char*, const char*>> fields = {}) {
    TableOwner req = request({{"module", "server"}, {"method", method}, {"RemoteAddress", "127.0.0.1"}});
    for (const auto& [key, value] : fields) addVariable(req.address(), key, value);
    TableOwner reply(routeRequest(req.get()));
    return flattenReply(reply.get());
  }

  // Renders the reply's template; fails the test when the template is missing or broken.
  static std::string renderReply(const Fields& reply, std::set<std::string>* found = nullptr) {
    std::set<std::string> ignored;
    const auto path = reply.find("HTMLPath");
    if (path == reply.end()) {
      ADD_FAILURE() << "reply without HTMLPath";
      return "";
    }
    const std::string text = templates::readText(templates::templateFile(sourceRoot(), path->second));
    const templates::Rendering page = templates::render(text, reply, found != nullptr ? found : &ignored);
    EXPECT_TRUE(page.valid) << path->second << ": " << page.error;
    return page.page;
  }

  // Replies of every server page, and of the pages whose handlers live outside the server's method
  // table, built by the same reply rules.
  // The diagnostic page while one recorded thread runs.
  static Fields debugPage() {
    EXPECT_TRUE(initThreadManager());
    EXPECT_NE(startThread(idleThread, 0, 0, "templates/idleThread"), 0u);
    Fields reply = call("GetDebugInfo", {});
    terminateAllThreads();
    closeThreadManager();
    return reply;
  }

  static std::vector<Sample> collectSamples() {
    std::vector<Sample> samples = {
        {"LoadIndex", call("LoadIndex", {}), false},
        {"GetNetworkInfo", call("GetNetworkInfo", {}), true},
        {"PingPage", call("PingPage", {{"NumberOfNetworkChanges", "0"}}), false},
        {"SessionPing", call("SessionPing", {{"LastEvent", "3"}}), false},
        {"testMethod", call("testMethod", {{"note", kHostile}}), true},
        {"TestLoop", call("TestLoop", {}), false},
        {"ViewLogs", call("ViewLogs", {}), false},
        {"ViewLogs page 1", call("ViewLogs", {{"EndIndex", "9"}, {"numberToDisplay", "10"}}), true},
        {"GetEmailConfig", call("GetEmailConfig", {}), true},
        {"SetEmailConfig stale",
         call("SetEmailConfig",
              {{"version", "1"}, {"emailServer", "x"}, {"emailSigEnable", "false"}, {"emailSigText", ""}}),
         true},
        {"TestEmailConfig", call("TestEmailConfig", {}), true},
        {"GetSnmpConfig", call("GetSnmpConfig", {}), true},
        {"SetSnmpConfig stale", call("SetSnmpConfig", {{"version", "1"}}), true},
        // A test answers with the posted form, so the hostile text comes in with it.
        {"TestSnmpConfig", call("TestSnmpConfig", {{"SnmpServer0", kHostile}}), true},
        {"GetSyslogConfig", call("GetSyslogConfig", {}), false},
        {"SetSyslogConfig stale", call("SetSyslogConfig", {{"version", "1"}}), false},
        {"TestSyslogConfig", call("TestSyslogConfig", {}), false},
        {"GetWebhookConfig", call("GetWebhookConfig", {}), true},
        {"SetWebhookConfig stale", call("SetWebhookConfig", {{"version", "0"}}), true},
        {"TestWebhookConfig", call("TestWebhookConfig", {{"WebhookUrl0", kHostile}}), true},
        {"GetPrefsConfig", call("GetPrefsConfig", {}), false},
        {"SetPrefsConfig stale", call("SetPrefsConfig", {{"version", "1"}}), false},
        {"GetAboutPage", call("GetAboutPage", {}), false},
        {"GetRescanPage", call("GetRescanPage", {{"AfterModule", "Brivo"}, {"AfterMethod", "GetMonitor"}}),
         false},
        {"TechSupportPing", call("TechSupportPing", {}), false},
        {"GetDebugInfo", debugPage(), true},
        {"unknown method", call("getmainpage", {}), false},
    };
    // The network key page without a key, refusing a change, with a damaged key file, then set
    // and in the middle of a roll-over (before the password samples change the password).
    samples.push_back({"GetNetworkKeyConfig", call("GetNetworkKeyConfig", {}), false});
    samples.push_back(
        {"SetNetworkKeyConfig refused",
         call("SetNetworkKeyConfig", {{"version", "0"}, {"KeyAction", "set"}, {"Password", "x"}}), false});
    writeBytes("db/network.key", "SendKey = damaged\n");
    samples.push_back({"GetNetworkKeyConfig damaged", call("GetNetworkKeyConfig", {}), false});
    const std::initializer_list<std::pair<const char*, const char*>> setKey = {
        {"version", "0"},
        {"KeyAction", "set"},
        {"Password", "pinecone"},
        {"NetworkKey", "the key of the sample site"},
        {"NetworkKeyConfirm", "the key of the sample site"}};
    samples.push_back({"SetNetworkKeyConfig set", call("SetNetworkKeyConfig", setKey), false});
    const std::initializer_list<std::pair<const char*, const char*>> addKey = {
        {"version", "1"},
        {"KeyAction", "add"},
        {"Password", "pinecone"},
        {"NetworkKey", "the next key of the sample site"},
        {"NetworkKeyConfirm", "the next key of the sample site"}};
    samples.push_back({"SetNetworkKeyConfig add", call("SetNetworkKeyConfig", addKey), false});
    EXPECT_EQ(samples.back().reply.at("MessageIsSuccess"), "true");
    auto built = [](std::initializer_list<std::pair<const char*, const char*>> pairs) {
      TableOwner table;
      for (const auto& [key, value] : pairs) addVariable(table.address(), key, value);
      return table;
    };
    // Pages whose replies only arise in situations a single call cannot make (a collection
    // already running, a module's command result, settings busy, qcli output), built by the same
    // rules.
    TableOwner running = built({{"HTMLPath", "../Server/other/tech_support_main.htm"}});
    addCommandResult(running.address(), true, "CmdGetTechSupport", "TechSupportRunning");
    TableOwner moduleResult = built(
        {{"HTMLPath", "../Common/MessagePopupPanel.htm"}, {"UpdateParent", "true"}, {"CloseParent", "true"}});
    addCommandResult(moduleResult.address(), false, "CmdClearLogs", nullptr);
    TableOwner busy = built({{"Message", "Timed out while waiting for SNMP configuration file for script."},
                             {"HTMLPath", "../Server/html/ConfigFileInUse.html"}});
    TableOwner qcli = built({{"textloop0text", "Unit  Status\n"},
                             {"textloop1text", "<none> & more\n"},
                             {"textloop", "2"},
                             {"HTMLPath", "../../html/Brivo/main/qcli.htm"}});
    samples.push_back({"GatherInformation running", flattenReply(running.get()), false});
    TableOwner wrong = request({{"VerificationPassword", "not the password"}});
    VariableTable popup = nullptr;
    EXPECT_EQ(verifyRequestPassword(wrong.get(), &popup), 1);
    samples.push_back({"VerificationPassword refused", flattenReply(popup), false});
    freeVariableTable(&popup);
    samples.push_back({"UpdatePassword form", call("UpdatePassword", {}), false});
    samples.push_back({"UpdatePassword refused",
                       call("UpdatePassword", {{"OldPassword", "wrong"}, {"NewPassword", "x"}}), false});
    samples.push_back({"UpdatePassword done",
                       call("UpdatePassword", {{"OldPassword", "pinecone"}, {"NewPassword", "juniper"}}),
                       false});
    samples.push_back({"module command", flattenReply(moduleResult.get()), false});
    // The guard's refusal of a browser's link to a method that changes data.
    TableOwner forged = request({{"module", "server"},
                                 {"method", "ClearEventLogs"},
                                 {"BrowserRequest", "GET"},
                                 {"RemoteAddress", "192.0.2.9"},
                                 {"RemoteUser", "admin"}});
    TableOwner refusal(guardRequest(forged.get()));
    samples.push_back({"forged request refused", flattenReply(refusal.get()), false});
    samples.push_back({"settings busy", flattenReply(busy.get()), false});
    samples.push_back({"qcli", flattenReply(qcli.get()), false});
    // Last, since it empties the log: the clear result, then the empty log.
    samples.push_back({"ClearEventLogs", call("ClearEventLogs", {}), false});
    samples.push_back({"ViewLogs empty", call("ViewLogs", {}), false});
    return samples;
  }
};

TEST_F(TemplatesTest, EveryTemplateRendersTheRealRepliesSafely) {
  const std::vector<Sample> samples = collectSamples();
  std::map<fs::path, std::set<std::string>> found;  // per template: names found in some reply
  for (const Sample& sample : samples) {
    SCOPED_TRACE(sample.name);
    const std::string path = sample.reply.count("HTMLPath") ? sample.reply.at("HTMLPath") : "";
    const fs::path file = templates::templateFile(sourceRoot(), path);
    ASSERT_TRUE(fs::is_regular_file(file)) << "no template for " << path;
    const std::string text = templates::readText(file);
    std::set<fs::path> partials;
    const templates::Rendering page =
        templates::render(text, sample.reply, &found[file], file.parent_path(), &partials);
    // A partial counts as rendered with the names its page found.
    for (const fs::path& partial : partials) found[partial].insert(found[file].begin(), found[file].end());
    ASSERT_TRUE(page.valid) << page.error;
    if (file.filename() != "qcli.htm") {
      EXPECT_EQ(page.page.find(kHostile), std::string::npos) << "unescaped value in " << path;
    }
    if (sample.showsHostile) {
      EXPECT_NE(page.page.find(kHostileEscaped), std::string::npos) << path;
    }
    if (sample.name == "ViewLogs empty") {
      EXPECT_EQ(page.page.find("data-number="), std::string::npos) << "a row for an empty log";
      EXPECT_NE(page.page.find("holds no records"), std::string::npos);
    }
  }
  // Every template is used, and every name it asks for came with some reply.
  for (const fs::path& file : templateFiles()) {
    const fs::path relative = fs::relative(file, sourceRoot());
    if (relative == "www/index.html") continue;                                           // a static page
    if (*relative.begin() == "html" && relative != "html/Brivo/main/qcli.htm") continue;  // the module's own
    ASSERT_TRUE(found.count(file) != 0) << file << " is not rendered by any sample";
    for (const std::string& name : templates::tagNames(templates::readText(file))) {
      EXPECT_TRUE(found[file].count(name) != 0) << file.filename() << ": no reply gives \"" << name << "\"";
    }
  }
}

// The "Older" link of a rendered log page: its end index, or -1 when disabled.
int olderLinkEnd(const std::string& page) {
  static const std::regex older(
      R"re(<a class="button enabled-(\w*)" href="[^"]*EndIndex=(\d*)" data-keep-size>Older)re");
  std::smatch m;
  if (!std::regex_search(page, m, older)) return -2;
  return m[1] == "true" ? std::stoi(m[2]) : -1;
}

TEST_F(TemplatesTest, OlderLinksOfTheEventLogWalkEveryRecord) {
  std::set<int> seen;
  std::string end;  // the first page has no end index
  for (int pages = 0; pages < 10; ++pages) {
    const Fields reply = end.empty()
                             ? call("ViewLogs", {{"numberToDisplay", "25"}})
                             : call("ViewLogs", {{"EndIndex", end.c_str()}, {"numberToDisplay", "25"}});
    const std::string page = renderReply(reply);
    static const std::regex row(R"re(<tr data-number="(\d+)">)re");
    for (auto it = std::sregex_iterator(page.begin(), page.end(), row); it != std::sregex_iterator(); ++it)
      seen.insert(std::stoi((*it)[1]));
    const int next = olderLinkEnd(page);
    ASSERT_NE(next, -2) << "no Older link";
    if (next < 0) break;
    end = std::to_string(next);
  }
  ASSERT_EQ(seen.size(), 120u);
  EXPECT_EQ(*seen.begin(), 1);
  EXPECT_EQ(*seen.rbegin(), 120);
}

std::string unescapeHtml(std::string text) {
  const std::pair<const char*, const char*> entities[] = {{"&lt;", "<"},   {"&gt;", ">"},  {"&quot;", "\""},
                                                          {"&apos;", "'"}, {"&#39;", "'"}, {"&amp;", "&"}};
  for (const auto& [entity, plain] : entities) {
    for (size_t at = text.find(entity); at != std::string::npos; at = text.find(entity, at + 1))
      text.replace(at, std::strlen(entity), plain);
  }
  return text;
}

// What a browser sends for the form: text and hidden inputs, ticked check boxes.
std::vector<std::pair<std::string, std::string>> formFields(const std::string& page) {
  static const std::regex input(R"re(<input\b([^>]*)>)re");
  static const std::regex name(R"re(\bname="([^"]*)")re");
  static const std::regex value(R"re(\bvalue="([^"]*)")re");
  static const std::regex type(R"re(\btype="([^"]*)")re");
  static const std::regex checked(R"re(\schecked\b)re");
  std::vector<std::pair<std::string, std::string>> fields;
  for (auto it = std::sregex_iterator(page.begin(), page.end(), input); it != std::sregex_iterator(); ++it) {
    const std::string attributes = (*it)[1];
    std::smatch n, v, t;
    if (!std::regex_search(attributes, n, name)) continue;
    const std::string kind = std::regex_search(attributes, t, type) ? t[1].str() : "text";
    if (kind == "checkbox" && !std::regex_search(attributes, checked)) continue;
    const std::string text =
        std::regex_search(attributes, v, value) ? v[1].str() : (kind == "checkbox" ? "on" : "");
    fields.emplace_back(unescapeHtml(n[1]), unescapeHtml(text));
  }
  return fields;
}

TEST_F(TemplatesTest, PreferencesFormPostsBackWhatItShowed) {
  const std::string page = renderReply(call("GetPrefsConfig", {}));
  const auto fields = formFields(page);
  TableOwner post =
      request({{"module", "server"}, {"method", "SetPrefsConfig"}, {"RemoteAddress", "127.0.0.1"}});
  std::set<std::string> names;
  for (const auto& [key, value] : fields) {
    addVariable(post.address(), key.c_str(), value.c_str());
    names.insert(key);
  }
  EXPECT_TRUE(names.count("version") && names.count("MulticastPort") && names.count("DirectIpValue9"));
  EXPECT_TRUE(names.count("EnableModTestModule")) << "the enabled module's box is ticked";
  TableOwner reply(routeRequest(post.get()));
  EXPECT_EQ(getVariable(reply.get(), "MessageSummary"), nullptr)
      << getVariable(reply.get(), "MessageDetails");
  TableOwner ip(readPropertyFile("db/IP.db"));
  auto saved = mapOf(ip.get());
  EXPECT_EQ(saved["MulticastPort"], "9191");
  EXPECT_EQ(saved["IP1"], "192.168.10.3");
  EXPECT_EQ(saved["IP2"], "store-3.example.net");
  EXPECT_EQ(saved.count("IP3"), 0u);
  TableOwner prefs(readPropertyFile("db/prefs.ini"));
  EXPECT_EQ(mapOf(prefs.get())["version"], "5");
  EXPECT_EQ(moduleList()->enabled, 1);
}

TEST(QcliTemplate, ClientReadsTheLinesByteForByte) {
  const std::string text = templates::readText(sourceRoot() / "html/Brivo/main/qcli.htm");
  const std::vector<std::string> lines = {
      "Unit                 Status\n", "<none> & \"quoted\" 'single' {{x}}\n", "   \n", "\n", "tab\there\r\n",
      "last line without its end"};
  Fields reply{{"textloop", std::to_string(lines.size())}, {"HTMLPath", "../../html/Brivo/main/qcli.htm"}};
  std::string expected;
  for (size_t i = 0; i < lines.size(); ++i) {
    reply["textloop" + std::to_string(i) + "text"] = lines[i];
    expected += lines[i];
  }
  std::set<std::string> found;
  std::string output;
  ASSERT_TRUE(qcli::extractScriptOutput(templates::render(text, reply, &found).page, &output));
  EXPECT_EQ(output, expected);

  const Fields none{{"textloop", "0"}, {"HTMLPath", "../../html/Brivo/main/qcli.htm"}};
  ASSERT_TRUE(qcli::extractScriptOutput(templates::render(text, none, &found).page, &output));
  EXPECT_EQ(output, "");

  // The error panel gives qcli its message instead of a page it cannot read.
  const std::string panel = templates::readText(sourceRoot() / "www/Common/CommonErrorPanel.htm");
  const Fields error{{"Message", "Could not find a module called: Brivo"}};
  ASSERT_TRUE(qcli::extractScriptOutput(templates::render(panel, error, &found).page, &output));
  EXPECT_EQ(output, "Could not find a module called: Brivo\n");
}

}  // namespace
