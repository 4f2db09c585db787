// Several built servers on one network, each in its own network namespace (tests/network_lab.h),
// all seeing the same simulated controller pair through one raidsim. The test module hangs one
// unit on every device; the servers must agree who monitors each: after start-up the server with
// the greatest identity, after a take-over the server that took it, after the owner is killed
// one of the others within 35 s, and a restarted server follows the current owner. A server with
// three interfaces sends every packet three times; its peer must process each send once.
//
// Needs root (namespaces, veth, bridge); skipped with a message otherwise.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <map>
#include <regex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "tests/network_lab.h"
#include "tests/support/wait_until.h"

namespace {

using namespace netlab;
using namespace std::chrono_literals;

class ServerNetworkTest : public NetworkLabTest {};

TEST_F(ServerNetworkTest, ThreeServersAgreeOnOneMonitorAndHandItOver) {
  NetServer& s1 = addServer(1, {11});
  NetServer& s2 = addServer(2, {21});
  NetServer& s3 = addServer(3, {31});
  for (NetServer* s : {&s1, &s2, &s3}) s->start();
  for (NetServer* s : {&s1, &s2, &s3}) ASSERT_TRUE(s->waitStarted()) << s->output();

  // Start-up: every unit goes to the greatest identity (s3).
  std::vector<NetServer*> all = {&s1, &s2, &s3};
  std::map<std::string, int> owners = waitForAgreement(all, 40s);
  ASSERT_FALSE(owners.empty()) << describe(all);
  ASSERT_GE(owners.size(), 2u) << "the pair's controllers and its enclosure each carry a unit";
  for (const auto& [name, owner] : owners) EXPECT_EQ(owner, 2) << name << "\n" << describe(all);

  // A user on s1 takes the first unit over.
  const std::string moved = owners.begin()->first;
  VariableTable reply = nullptr;
  ASSERT_EQ(s1.request({{"method", "TakeDeviceControl"},
                        {"ModDeviceName", moved},
                        {"NumberOfPostParameters", "2"},
                        {"PostParameter0Field", "module"},
                        {"PostParameter0Value", "server"},
                        {"PostParameter1Field", "method"},
                        {"PostParameter1Value", "GetAboutPage"}},
                       &reply),
            kCgiOk);
  EXPECT_STREQ(getVariable(reply, "TookOverDeviceControl"), "true");
  EXPECT_STREQ(getVariable(reply, "HTMLPath"), "../Server/other/about.htm") << "the forwarded request's page";
  freeVariableTable(&reply);
  owners = waitForAgreement(all, 10s);
  ASSERT_FALSE(owners.empty()) << describe(all);
  EXPECT_EQ(owners[moved], 0) << describe(all);
  for (const auto& [name, owner] : owners) {
    if (name != moved) {
      EXPECT_EQ(owner, 2) << name;
    }
  }

  // s1 dies: within 35 s one of the others monitors the unit and the third follows it.
  const auto killed = std::chrono::steady_clock::now();
  s1.kill();
  std::vector<NetServer*> survivors = {&s2, &s3};
  int newOwner = -1;
  test_support::waitUntil([&] { return (newOwner = agreedOwner(survivors, moved)) >= 0; }, 35s, 250ms);
  ASSERT_GE(newOwner, 0) << "no hand-over within 35 s\n" << describe(survivors);
  std::printf("hand-over after %.1f s\n",
              std::chrono::duration<double>(std::chrono::steady_clock::now() - killed).count());
  owners = waitForAgreement(survivors, 10s);
  ASSERT_FALSE(owners.empty()) << describe(survivors);

  // s1 comes back: it is listed again, receives the lists and follows the current owners.
  s1.start();
  ASSERT_TRUE(s1.waitStarted()) << s1.output();
  const std::map<std::string, int> before = owners;
  owners = waitForAgreement(all, 30s);
  ASSERT_FALSE(owners.empty()) << describe(all);
  for (const auto& [name, owner] : before) {
    EXPECT_EQ(owners[name], owner + 1) << name << " moved when s1 came back\n" << describe(all);
  }

  for (NetServer* s : all) s->stop();
  for (NetServer* s : all) EXPECT_EQ(s->finish(), 0) << s->output();
}

// The check-in blocks that a server with debug code 1011 printed for sender, by packet number:
// how many copies arrived and how many were handled.
struct Copies {
  int received = 0;
  int handled = 0;
};
std::map<unsigned long, Copies> checkInCopies(const std::string& output, const std::string& sender) {
  std::map<unsigned long, Copies> copies;
  const std::regex block(
      "\\| Sig\\.Ver\\.ReqType = nKestNetPac\\.2\\.CheckIn\\n\\| SerNum-Ip       = " + sender +
      " - [0-9.]+\\n\\| LenOfData       = 72\\n\\| PacNum          = ([0-9]+) \\n");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), block); it != std::sregex_iterator();
       ++it) {
    Copies& c = copies[std::stoul((*it)[1])];
    ++c.received;
    // The listener's verdict is the next of its lines after the block.
    const size_t at = static_cast<size_t>(it->position() + it->length());
    const size_t handled = output.find("net: listenForNetworkPackets  net req = 1.", at);
    const size_t dropped = output.find("net: listenForNetworkPackets  net check err", at);
    if (handled != std::string::npos && (dropped == std::string::npos || handled < dropped)) ++c.handled;
  }
  return copies;
}

TEST_F(ServerNetworkTest, CheckInFromAHostWithThreeInterfacesIsHandledOnce) {
  NetServer& watcher = addServer(4, {41}, /*debug=*/true);
  NetServer& multi = addServer(5, {51, 52, 53});
  watcher.start();
  ASSERT_TRUE(watcher.waitStarted()) << watcher.output();
  multi.start();
  ASSERT_TRUE(multi.waitStarted()) << multi.output();
  // Two check-in periods after the first check-in.
  std::this_thread::sleep_for(22s);
  const std::string output = watcher.output();
  multi.stop();
  watcher.stop();
  EXPECT_EQ(multi.finish(), 0);
  EXPECT_EQ(watcher.finish(), 0);

  const std::map<unsigned long, Copies> copies = checkInCopies(output, multi.identity());
  ASSERT_GE(copies.size(), 2u) << output.substr(0, 20000);
  for (const auto& [number, c] : copies) {
    EXPECT_EQ(c.received, 3) << "packet " << number << " should arrive once per interface";
    EXPECT_EQ(c.handled, 1) << "packet " << number;
  }
  std::set<std::string> sources;
  const std::regex from("net: listen: Rxd packet from (10\\.213\\.0\\.5[0-9])\\n");
  for (auto it = std::sregex_iterator(output.begin(), output.end(), from); it != std::sregex_iterator();
       ++it) {
    sources.insert((*it)[1]);
  }
  EXPECT_EQ(sources, (std::set<std::string>{"10.213.0.51", "10.213.0.52", "10.213.0.53"}));
}

// With the RAID module on all three servers, only the one that monitors the pair records the
// events its controllers log.
TEST_F(ServerNetworkTest, OnlyTheOwnerRecordsThePairsControllerEvents) {
  NetServer& s6 = addServer(6, {61}, false, true);
  NetServer& s7 = addServer(7, {71}, false, true);
  NetServer& s8 = addServer(8, {81}, false, true);
  std::vector<NetServer*> all = {&s6, &s7, &s8};
  for (NetServer* s : all) s->start();
  for (NetServer* s : all) ASSERT_TRUE(s->waitStarted()) << s->output();
  const std::string pair = "Brivo20000004CF8A1B2C";
  const std::map<std::string, int> owners = waitForAgreement(all, 40s);
  ASSERT_EQ(owners.count(pair), 1u) << describe(all);
  NetServer* owner = all[owners.at(pair)];
  std::this_thread::sleep_for(2s);  // the owner's monitor has read the logs once

  ASSERT_TRUE(simulator_->ctl("event alpha A 0x52 data=2A00"));
  const std::string text = "Logical drive 42 is online.";
  EXPECT_TRUE(test_support::waitUntil([&] { return owner->eventLog().find(text) != std::string::npos; }, 20s, 250ms))
      << owner->eventLog();
  std::this_thread::sleep_for(4s);  // several more cycles of every server
  for (NetServer* s : all) {
    if (s != owner) {
      EXPECT_EQ(s->eventLog().find(text), std::string::npos) << s->identity();
    }
  }
  for (NetServer* s : all) s->stop();
  for (NetServer* s : all) EXPECT_EQ(s->finish(), 0) << s->output();
}

}  // namespace
