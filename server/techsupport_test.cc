// Tests of the tech-support archive: the archive file format, the escaping of customer texts, the
// problem file, the page snapshots and the one-run-at-a-time rule.
#include "server/techsupport.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <condition_variable>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>

#include "common/test_folder.h"
#include "server/components.h"
#include "server/techsupport_archive.h"
#include "tests/support/text_mode.h"

namespace {

namespace fs = std::filesystem;

const std::string kMarker = std::string(kArchiveEndMarker) + "\n";

TEST(TechSupportArchiveTest, ProblemFileFirstThenFilesEachClosedByMarker) {
  TestFolder folder;
  writeBytes(folder.file("Problem.Info"), "Problem = x\n");
  writeBytes(folder.file("my notes file.txt"), "first\nlast line without end");
  fs::create_directory(folder.file("sub"));
  writeBytes(folder.file("sub/hidden.txt"), "not archived");
  writeBytes(folder.file("old.archive"), "");  // an empty file still has its entry

  ASSERT_EQ(createArchive(folder.path().c_str(), "now.archive"), 0);
  const std::string archive = readBytes(folder.file("now.archive"));
  const std::string problem = "Problem.Info\nProblem = x\n" + kMarker;
  ASSERT_EQ(archive.rfind(problem, 0), 0u) << archive;
  EXPECT_NE(archive.find("my notes file.txt\nfirst\nlast line without end\n" + kMarker), std::string::npos);
  EXPECT_NE(archive.find("old.archive\n" + kMarker), std::string::npos);
  EXPECT_EQ(archive.find("not archived"), std::string::npos);
  EXPECT_EQ(archive.find("now.archive"), std::string::npos);
  // Problem.Info + two files: three entries.
  size_t markers = 0;
  for (size_t at = archive.find(kMarker); at != std::string::npos; at = archive.find(kMarker, at + 1))
    ++markers;
  EXPECT_EQ(markers, 3u);
}

TEST(TechSupportArchiveTest, MissingArgumentsAndUnwritableArchive) {
  TestFolder folder;
  EXPECT_EQ(createArchive(nullptr, "a.archive"), 2);
  EXPECT_EQ(createArchive(folder.path().c_str(), ""), 2);
  EXPECT_EQ(createArchive(folder.file("missing").c_str(), "a.archive"), 1);
  // Without a problem file the archive holds only the other files.
  writeBytes(folder.file("only.txt"), "x\n");
  ASSERT_EQ(createArchive(folder.path().c_str(), "a.archive"), 0);
  EXPECT_EQ(readBytes(folder.file("a.archive")), "only.txt\nx\n" + kMarker);
}

TEST(TechSupportArchiveTest, NameAndOneLineEscaping) {
  EXPECT_EQ(archiveFileName("Mon, Jan 7, 2008", "09:05:03"), "Mon__Jan_7__2008_09_05_03.archive");
  EXPECT_EQ(escapeToOneLine("a\nb"), "a\\r\\nb");
  EXPECT_EQ(escapeToOneLine("a\r\nb"), "a\\r\\nb");
  EXPECT_EQ(escapeToOneLine("a\rb\r"), "a\\rb\\r");
  EXPECT_EQ(escapeToOneLine("say \"hi\" C:\\dir"), "say \\\"hi\\\" C:\\\\dir");
  EXPECT_EQ(escapeToOneLine("\n\n"), "\\r\\n\\r\\n");
}

// The server pages as the tests see them; the about page can be held to keep a run going.
std::mutex gGateLock;
std::condition_variable gGateCv;
bool gGateClosed = false;
bool gInsideAbout = false;

VariableTable fakeAbout(VariableTable) {
  std::unique_lock<std::mutex> lock(gGateLock);
  gInsideAbout = true;
  gGateCv.notify_all();
  gGateCv.wait(lock, [] { return !gGateClosed; });
  VariableTable reply = nullptr;
  addVariable(&reply, "AboutText", "about");
  return reply;
}

VariableTable fakeNetwork(VariableTable) {
  VariableTable reply = nullptr;
  addVariable(&reply, "NumberOfNetworkChanges", "7");
  return reply;
}

VariableTable fakePing(VariableTable request) {
  VariableTable reply = nullptr;
  addVariable(&reply, "SeenChanges", getVariableOrMissing(request, "NumberOfNetworkChanges"));
  addVariable(&reply, "NeedUpdate", "true");
  return reply;
}

ServerMethod fakeLookup(const char* method) {
  const std::string name = method;
  if (name == "GetAboutPage") return fakeAbout;
  if (name == "GetNetworkInfo") return fakeNetwork;
  if (name == "PingPage") return fakePing;
  return nullptr;
}

class GatherInformationTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_FALSE(folder_.path().empty());
    fs::create_directory(folder_.file("db"));
    writeBytes(folder_.file("db/server.ini"), "serialNumber = 42\n");
    writeBytes(folder_.file("db/ServerLog.log"), "\"1\",\"0\",\"01/01/24\",\"00:00:00\",\"d\",\"m\"\n");
    previous_ = fs::current_path();
    fs::current_path(folder_.path());
    serverComponents().findServerMethod = fakeLookup;
  }
  void TearDown() override {
    serverComponents() = defaultServerComponents();
    fs::current_path(previous_);
  }

  TestFolder folder_;
  fs::path previous_;
};

TEST_F(GatherInformationTest, WritesProblemFileSnapshotsAndArchive) {
  TableOwner request;
  addVariable(request.address(), "module", "server");
  addVariable(request.address(), "method", "GatherInformation");
  addVariable(request.address(), "RemoteAddress", "10.0.0.9");
  addVariable(request.address(), "CompanyName", "ACME \"West\"");
  addVariable(request.address(), "PersonName", "");
  addVariable(request.address(), "Problem", "a\nb");
  addVariable(request.address(), "Extra", "x\ny");

  TableOwner reply(GatherInformation(request.get()));
  const char* exported = getVariable(reply.get(), "ExportText");
  ASSERT_NE(exported, nullptr);
  const std::string prefix = "../../Information/";
  ASSERT_EQ(std::string(exported).rfind(prefix, 0), 0u) << exported;
  const std::string archiveName = std::string(exported).substr(prefix.size());
  EXPECT_EQ(archiveName.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789_"),
            archiveName.size() - std::string(".archive").size());

  const std::string problem = readBytes("Information/Problem.Info");
  EXPECT_NE(problem.find("''''' Customer Problem Information ''''''\n"), std::string::npos);
  EXPECT_NE(problem.find("Problem = a\\r\\nb\n"), std::string::npos) << problem;
  EXPECT_NE(problem.find("PersonName = Not Supplied.\n"), std::string::npos);
  EXPECT_NE(problem.find("PhoneNumber = Not Supplied.\n"), std::string::npos);
  EXPECT_NE(problem.find("CompanyName = ACME \\\"West\\\"\n"), std::string::npos) << problem;
  EXPECT_NE(problem.find("Extra = x\\r\\ny\n"), std::string::npos) << problem;
  EXPECT_NE(problem.find("TimeOfArchive = "), std::string::npos);
  EXPECT_NE(problem.find("DateOfArchive = "), std::string::npos);
  EXPECT_EQ(problem.find("RemoteAddress"), std::string::npos);
  EXPECT_EQ(problem.find("method"), std::string::npos);

  const std::string about = test_support::fromTextMode(readBytes("Information/aGetAboutPage.Info"));
  EXPECT_EQ(about.rfind("'''''' GetAboutPage ''''''\n", 0), 0u) << about;
  EXPECT_NE(about.find("method = GetAboutPage\n"), std::string::npos);
  EXPECT_NE(about.find("AboutText = about\n"), std::string::npos);
  const std::string network = test_support::fromTextMode(readBytes("Information/aGetNetworkInfo.Info"));
  EXPECT_NE(network.find("RemoteAddress = 127.0.0.1\n"), std::string::npos);
  const std::string ping = test_support::fromTextMode(readBytes("Information/aServerPing.Info"));
  EXPECT_NE(ping.find("NumberOfNetworkChanges = 7\n"), std::string::npos);
  EXPECT_NE(ping.find("SeenChanges = 7\n"), std::string::npos);
  EXPECT_NE(ping.find("NeedUpdate = false\n"), std::string::npos);
  EXPECT_EQ(ping.find("NeedUpdate = true"), std::string::npos);
  EXPECT_FALSE(fs::exists("Information/aGetEmailConfig.Info"));  // no such method yet

  const std::string archive = readBytes("Information/" + archiveName);
  EXPECT_EQ(archive.rfind("Problem.Info\n", 0), 0u);
  EXPECT_NE(archive.find("Server.ini\nserialNumber = 42\n" + kMarker), std::string::npos);
  EXPECT_NE(archive.find("ServerLog.log\n\"1\",\"0\""), std::string::npos);
  EXPECT_NE(archive.find("aServerPing.Info\n"), std::string::npos);
}

TEST_F(GatherInformationTest, KeysTheFileCannotHoldAreLeftOutAndTheProblemStays) {
  TableOwner request;
  addVariable(request.address(), "method", "GatherInformation");
  addVariable(request.address(), "Problem", "the disks are gone");
  addVariable(request.address(), " Lead", "blank");
  addVariable(request.address(), "'quoted", "q");
  addVariable(request.address(), "\\back", "b");
  addVariable(request.address(), "Good", "kept");
  TableOwner reply(GatherInformation(request.get()));
  ASSERT_NE(getVariable(reply.get(), "ExportText"), nullptr);
  const std::string problem = readBytes("Information/Problem.Info");
  EXPECT_NE(problem.find("Problem = the disks are gone\n"), std::string::npos) << problem;
  EXPECT_NE(problem.find("Good = kept\n"), std::string::npos) << problem;
  EXPECT_EQ(problem.find("blank"), std::string::npos) << problem;
  EXPECT_EQ(problem.find("quoted"), std::string::npos) << problem;
  EXPECT_EQ(problem.find("back"), std::string::npos) << problem;
}

TEST_F(GatherInformationTest, SecondRunWhileOneIsGoingOnIsRefused) {
  {
    std::lock_guard<std::mutex> lock(gGateLock);
    gGateClosed = true;
    gInsideAbout = false;
  }
  std::thread first([] { TableOwner reply(GatherInformation(nullptr)); });
  {
    std::unique_lock<std::mutex> lock(gGateLock);
    gGateCv.wait(lock, [] { return gInsideAbout; });
  }
  TableOwner ping(TechSupportPing(nullptr));
  EXPECT_STREQ(getVariable(ping.get(), "GetInfoRunning"), "true");
  EXPECT_STREQ(getVariable(ping.get(), "HTMLPath"), "../Server/other/tech_support_ping.htm");

  TableOwner refused(GatherInformation(nullptr));
  EXPECT_EQ(getVariable(refused.get(), "ExportText"), nullptr);
  EXPECT_STREQ(getVariable(refused.get(), "MessageIsSuccess"), "false");
  EXPECT_STREQ(getVariable(refused.get(), "MessageImageSrc"), "/images/popup_error.gif");
  EXPECT_STREQ(getVariable(refused.get(), "HTMLPath"), "../Server/other/tech_support_main.htm");

  {
    std::lock_guard<std::mutex> lock(gGateLock);
    gGateClosed = false;
  }
  gGateCv.notify_all();
  first.join();
  TableOwner after(TechSupportPing(nullptr));
  EXPECT_STREQ(getVariable(after.get(), "GetInfoRunning"), "false");
  EXPECT_EQ(fs::exists("Information/Problem.Info"), true);
}

}  // namespace
