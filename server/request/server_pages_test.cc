// Tests of the small server pages and the diagnostic page: the request echo, the loop samples,
// the keep-alive ping, and the debug page's keys and device rows.
#include "server/request/server_pages.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "server/request/debug_page.h"
#include "server/request/request_test_fixture.h"

namespace {

class ServerPagesTest : public RequestFolderTest {};

TEST_F(ServerPagesTest, TestMethodEchoesEveryRequestVariable) {
  TableOwner req =
      request({{"module", "server"}, {"method", "testMethod"}, {"a", "1"}, {"a", "2"}, {"empty", ""}});
  TableOwner reply(testMethod(req.get()));
  auto values = mapOf(reply.get());
  ASSERT_EQ(values["VariablesLoop"], "5");
  // Rows follow the request's own order (newest first), duplicates included.
  int row = 0;
  for (VariableEntry* e = req.get(); e != nullptr; e = e->next, ++row) {
    EXPECT_EQ(values["VariablesLoop" + std::to_string(row) + "Key"], e->key);
    EXPECT_EQ(values["VariablesLoop" + std::to_string(row) + "Value"], e->value);
  }
  EXPECT_EQ(values["serverSet"], "Inside request handler");
  EXPECT_EQ(values["HTMLPath"], "../Server/html/results.html");

  TableOwner none(testMethod(nullptr));
  EXPECT_EQ(mapOf(none.get())["VariablesLoop"], "0");
}

TEST_F(ServerPagesTest, TestLoopRowsMatchTheirCounts) {
  TableOwner reply(TestLoop(nullptr));
  auto values = mapOf(reply.get());
  EXPECT_EQ(values["HTMLPath"], "../Server/html/testloop.html");
  const int rows = std::atoi(values["TestLoop"].c_str());
  ASSERT_GT(rows, 1);
  int nestedRows = 0;
  for (int r = 0; r < rows; ++r) {
    const std::string row = "TestLoop" + std::to_string(r);
    EXPECT_EQ(values.count(row + "Name"), 1u) << row;
    const int items = std::atoi(values[row + "ItemLoop"].c_str());
    for (int i = 0; i < items; ++i)
      EXPECT_EQ(values.count(row + "ItemLoop" + std::to_string(i) + "Item"), 1u);
    EXPECT_EQ(values.count(row + "ItemLoop" + std::to_string(items) + "Item"), 0u);
    nestedRows += items;
  }
  EXPECT_EQ(values.count("TestLoop" + std::to_string(rows) + "Name"), 0u);
  EXPECT_GT(nestedRows, rows);  // the nested lists are not one row each
}

TEST_F(ServerPagesTest, EverySessionPingAdvancesTheCounter) {
  TableOwner first(SessionPing(nullptr));
  auto values = mapOf(first.get());
  EXPECT_EQ(values["ServerDefined"], "");
  EXPECT_EQ(values["HTMLPath"], "../Server/html/SessionPing.html");
  std::string last = values["LastEvent"];
  // Each ping echoes the previous reply's LastEvent; the counter has moved on each time.
  for (int i = 0; i < 2; ++i) {
    TableOwner req = request({{"LastEvent", last.c_str()}});
    TableOwner reply(SessionPing(req.get()));
    auto next = mapOf(reply.get());
    EXPECT_EQ(next["ServerDefined"], "alert(\"something changed\");");
    EXPECT_EQ(std::stoul(next["LastEvent"]), std::stoul(last) + 1);
    last = next["LastEvent"];
  }
  // A page that quotes the current counter sees no change.
  const std::string current = std::to_string(sessionPingCounter());
  TableOwner same = request({{"LastEvent", current.c_str()}});
  TableOwner quiet(SessionPing(same.get()));
  EXPECT_EQ(mapOf(quiet.get())["ServerDefined"], "");
  // A text that is no number always differs.
  TableOwner junk = request({{"LastEvent", "abc"}});
  TableOwner alerted(SessionPing(junk.get()));
  EXPECT_EQ(mapOf(alerted.get())["ServerDefined"], "alert(\"something changed\");");
}

TEST_F(ServerPagesTest, DebugPageHasTheServerKeys) {
  loadSettings(&serverSettings().server, "db/server.ini", "companyName = Acme\nserialNumber = SN-42\n");
  serverControl().startTime.store(std::time(nullptr) - (2 * 86400 + 3 * 3600 + 4 * 60 + 5));
  serverControl().restartCount.store(3);
  TableOwner reply(GetDebugInfo(nullptr));
  auto values = mapOf(reply.get());
  serverControl().startTime.store(0);
  serverControl().restartCount.store(0);
  EXPECT_EQ(values["HTMLPath"], "../Server/other/server_debug.htm");
  EXPECT_EQ(values["DefineLin"], "true");
  for (const char* flag : {"DefineWin", "DefineSol", "DefineMac", "DefineNet"})
    EXPECT_EQ(values[flag], "false");
  EXPECT_EQ(values["CompanyName"], "Acme");
  EXPECT_EQ(values["SerialNumber"], "SN-42");
  EXPECT_EQ(values["ServerNumberOfResets"], "3");
  // Never restarted: both uptimes count from the start (the clock may tick over one second).
  EXPECT_EQ(values["ServerUpTime"].rfind("2D 3H 4M ", 0), 0u) << values["ServerUpTime"];
  EXPECT_EQ(values["RescanUpTime"].rfind("2D 3H 4M ", 0), 0u);
  EXPECT_EQ(values["ServerLastRestartStartDate"], values["ServerStartDate"]);
  for (const char* key :
       {"GlobalStatus", "NumNetworkChanges", "ServerCurrentDate", "ServerCurrentTime", "ServerStartTime",
        "ServerLastRestartStartTime", "UserLoop", "ServerLoop", "DeviceLoop", "CgiRequestLoop",
        "SharedMemoryId", "SharedMemoryIsCreator", "NotifierLoop", "ThreadLoop"}) {
    EXPECT_EQ(values.count(key), 1u) << key;
  }
  EXPECT_EQ(values["DeviceLoop"], "0");
  EXPECT_EQ(values["CgiRequestLoop"], "10");
  EXPECT_EQ(values["ServerStartTime"].size(), 8u);
  // The network's state: no key loaded, and a row for every reason a packet can be dropped.
  EXPECT_EQ(values["NetworkAuthenticated"], "false");
  EXPECT_EQ(values["NetworkSendKeyId"], "");
  EXPECT_EQ(values["NetDropLoop"], "13");
  EXPECT_EQ(values["NetDropLoop0Reason"], "rate_limited");
  EXPECT_EQ(values["NetDropLoop12Reason"], "busy");
  EXPECT_EQ(values.count("NetDropLoop4Count"), 1u);
}

TEST(UpTimeTextTest, DaysHoursMinutesSeconds) {
  EXPECT_EQ(upTimeText(0), "0D 0H 0M 0S");
  EXPECT_EQ(upTimeText(86400 + 3600 + 60 + 1), "1D 1H 1M 1S");
  EXPECT_EQ(upTimeText(40 * 86400 + 23 * 3600 + 59 * 60 + 59), "40D 23H 59M 59S");
  EXPECT_EQ(upTimeText(-5), "0D 0H 0M 0S");
}

DeviceRecord* gListForPage = nullptr;
const DeviceRecord* listForPage() { return gListForPage; }

TEST_F(ServerPagesTest, DeviceRowsShowScsiFieldsAndModuleUnits) {
  DeviceInfo info{};
  info.port = 2;
  info.pathId = 1;
  info.targetId = 7;
  info.lun = 3;
  info.claimed = 1;
  std::strcpy(info.deviceName, "/dev/sg4");
  info.maxTransferSize = 512 * 1024;
  info.inquiryData[0] = 0xE3;  // qualifier bits above the type
  std::memcpy(info.inquiryData + 8, "VENDOR  PRODUCT-NAME-0001.2", 27);
  info.inquiryData[9] = 0x07;  // not printable
  ModDeviceItem second{0, UNCLAIMED, "BrivoB", nullptr, 0, nullptr};
  ModDeviceItem first{5, NOT_MINE, "BrivoA", nullptr, 0x0A000102, &second};
  DeviceRecord other{0, nullptr, nullptr, 9, nullptr};
  DeviceRecord scsi{DEVICE_RECORD_VALID, &info, &first, 4, &other};

  gListForPage = &scsi;
  setDeviceListSource(listForPage);
  TableOwner reply(GetDebugInfo(nullptr));
  setDeviceListSource(nullptr);
  gListForPage = nullptr;
  auto v = mapOf(reply.get());
  EXPECT_EQ(v["DeviceLoop"], "2");
  EXPECT_EQ(v["DeviceLoop0DeviceHandle"], "4");
  EXPECT_EQ(v["DeviceLoop0IsScsiLoop"], "1");
  const std::string row = "DeviceLoop0IsScsiLoop0";
  EXPECT_EQ(v[row + "DeviceNumber"], "-1");
  EXPECT_EQ(v[row + "DeviceName"], "/dev/sg4");
  EXPECT_EQ(v[row + "PortNumber"], "2");
  EXPECT_EQ(v[row + "PathId"], "1");
  EXPECT_EQ(v[row + "TargetId"], "7");
  EXPECT_EQ(v[row + "Lun"], "3");
  EXPECT_EQ(v[row + "IsDeviceClaimed"], "true");
  EXPECT_EQ(v[row + "VendorId"], "V NDOR  ");
  EXPECT_EQ(v[row + "ProductId"], "PRODUCT-NAME-000");
  EXPECT_EQ(v[row + "RevisionLevel"], "1.2 ");  // the unused fourth byte shows as a blank
  EXPECT_EQ(v[row + "DeviceType"], "0x03");
  EXPECT_EQ(v[row + "TransferSizeKb"], "512");
  EXPECT_EQ(v["DeviceLoop0ModLoop"], "2");
  EXPECT_EQ(v["DeviceLoop0ModLoop0DeviceName"], "BrivoA");
  EXPECT_EQ(v["DeviceLoop0ModLoop0DeviceStatus"], "0x05");
  EXPECT_EQ(v["DeviceLoop0ModLoop0MonitorStatus"], "0x02");
  EXPECT_EQ(v["DeviceLoop0ModLoop0DeviceControllerIp"], "10.0.1.2");
  EXPECT_EQ(v["DeviceLoop0ModLoop1MonitorStatus"], "0x04");
  EXPECT_EQ(v["DeviceLoop1DeviceHandle"], "9");
  EXPECT_EQ(v["DeviceLoop1IsScsiLoop"], "0");
  EXPECT_EQ(v.count("DeviceLoop1IsScsiLoop0DeviceName"), 0u);
  EXPECT_EQ(v["DeviceLoop1ModLoop"], "0");
}

}  // namespace
