// The server's GetMetrics: the claim status of every unit on the device list, the event log's
// records by level (counted as they are written, failed writes not counted), the network's
// dropped packets by reason, and a reply that still carries the server's own families when no
// module is loaded.
#include "server/request/server_metrics.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/module_abi.h"
#include "server/events/event_record.h"
#include "server/events/log_test_fixture.h"
#include "server/events/notifier_stats.h"
#include "server/net/network_events.h"
#include "server/net/packet_drops.h"

namespace {

ModDeviceItem* unit(const char* name, int32_t status, ModDeviceItem* next = nullptr) {
  auto* item = static_cast<ModDeviceItem*>(std::calloc(1, sizeof(ModDeviceItem)));
  std::strncpy(item->name, name, sizeof(item->name) - 1);
  item->modStatus = status;
  item->next = next;
  return item;
}

void freeUnits(ModDeviceItem* item) {
  while (item != nullptr) {
    ModDeviceItem* next = item->next;
    std::free(item);
    item = next;
  }
}

std::string sample(VariableTable reply, const std::string& key) {
  const char* value = getVariable(reply, ("metric:" + key).c_str());
  return value != nullptr ? value : "(none)";
}

TEST(GetMetricsTest, EveryUnitOfEveryDeviceWithItsPath) {
  DeviceInfo first{};
  std::strcpy(first.deviceName, "sim:/run/sim.sock:0:0:0:0");
  DeviceInfo second{};
  std::strcpy(second.deviceName, "/dev/sg3");
  DeviceRecord tail{DEVICE_RECORD_VALID, &second, unit("Brivo20000004CF8A1B2C", NOT_MINE), 0, nullptr};
  DeviceRecord head{DEVICE_RECORD_VALID, &first,
                    unit("Brivo20000004CF8A9F10", MINE, unit("Brivo20000004CF8A1B2C", UNCLAIMED)), 0, &tail};
  TableOwner reply;
  addUnitMetrics(reply.address(), &head);
  EXPECT_EQ(
      sample(reply.get(),
             "kestrova_unit_claim_status{unit=\"Brivo20000004CF8A9F10\",path=\"sim:/run/sim.sock:0:0:0:0\"}"),
      "1");
  EXPECT_EQ(
      sample(reply.get(),
             "kestrova_unit_claim_status{unit=\"Brivo20000004CF8A1B2C\",path=\"sim:/run/sim.sock:0:0:0:0\"}"),
      "4");
  EXPECT_EQ(
      sample(reply.get(), "kestrova_unit_claim_status{unit=\"Brivo20000004CF8A1B2C\",path=\"/dev/sg3\"}"),
      "2");
  EXPECT_STREQ(getVariable(reply.get(), "type:kestrova_unit_claim_status"), "gauge");
  freeUnits(head.units);
  freeUnits(tail.units);
}

TEST(GetMetricsTest, WithoutModulesTheServersOwnPartRemains) {
  TableOwner reply(GetMetrics(nullptr));
  ASSERT_TRUE(reply);
  EXPECT_NE(getVariable(reply.get(), "metric:kestrova_server_global_status"), nullptr);
  EXPECT_NE(getVariable(reply.get(), "metric:kestrova_notifier_dropped_total{channel=\"kvlog\"}"), nullptr);
  EXPECT_NE(getVariable(reply.get(), "metric:kestrova_event_log_records_total{level=\"error\"}"), nullptr);
  EXPECT_EQ(getVariable(reply.get(), "metric:kestrova_module_metrics_available{module=\"Brivo\"}"), nullptr);
  EXPECT_STREQ(getVariable(reply.get(), "HTMLPath"), "../Common/MessagePopupPanel.htm");
}

TEST(GetMetricsTest, NetworkDropsAreCountedByReason) {
  resetPacketDrops();
  setNetworkEventRaiser([](const char*, const char*, uint32_t, uint32_t, uint32_t, uint8_t) { return 0; });
  countPacketDrop(DropReason::kBadMac, 0x0A000001);
  countPacketDrop(DropReason::kBadMac, 0x0A000001);
  countPacketDrop(DropReason::kDuplicate, 0x0A000002);
  setNetworkEventRaiser(nullptr);
  TableOwner reply(GetMetrics(nullptr));
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_network_packets_dropped_total{reason=\"bad_mac\"}"),
               "2");
  EXPECT_STREQ(
      getVariable(reply.get(), "metric:kestrova_network_packets_dropped_total{reason=\"duplicate\"}"), "1");
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_network_packets_dropped_total{reason=\"replay\"}"),
               "0");
  EXPECT_STREQ(getVariable(reply.get(), "type:kestrova_network_packets_dropped_total"), "counter");
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_network_authenticated"), "0");
  EXPECT_STREQ(getVariable(reply.get(), "metric:kestrova_network_servers"), "0");
  resetPacketDrops();
}

// Each channel's own counts join the dispatcher's: drops of the queue and of the channel's
// backlog together, and what waits in both.
TEST(GetMetricsTest, NotifierCountsPerChannel) {
  resetNotifierCounts();
  countNotifierSent("syslog", 3);
  countNotifierFailed("syslog");
  countNotifierDropped("syslog", 2);
  countNotifierSuppressed("email", 4);
  setNotifierWaiting("syslog", 7);
  countNotifierSent("no-such-channel");  // ignored
  TableOwner reply(GetMetrics(nullptr));
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_sent_total{channel=\"syslog\"}"), "3");
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_failed_total{channel=\"syslog\"}"), "1");
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_dropped_total{channel=\"syslog\"}"), "2");
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_queued{channel=\"syslog\"}"), "7");
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_suppressed_total{channel=\"email\"}"), "4");
  EXPECT_EQ(sample(reply.get(), "kestrova_notifier_sent_total{channel=\"email\"}"), "0");
  EXPECT_STREQ(getVariable(reply.get(), "type:kestrova_notifier_sent_total"), "counter");
  EXPECT_STREQ(getVariable(reply.get(), "type:kestrova_notifier_queued"), "gauge");
  resetNotifierCounts();
}

class LoggedRecordsTest : public EventLogFolderTest {};

TEST_F(LoggedRecordsTest, CountedByLevelOnlyWhenWritten) {
  uint64_t before[6];
  for (uint32_t level = 0; level <= 5; ++level) before[level] = loggedRecordCount(level);
  for (uint32_t level : {0u, 1u, 2u, 2u, 4u, 7u}) {
    EventRecord source{const_cast<char*>("message"), const_cast<char*>("device"), level, 0, 0, 0, 0};
    ASSERT_EQ(writeEventRecord(copyEventRecord(&source)), 0);
  }
  EXPECT_EQ(loggedRecordCount(0) - before[0], 1u);
  EXPECT_EQ(loggedRecordCount(1) - before[1], 1u);
  EXPECT_EQ(loggedRecordCount(2) - before[2], 2u);
  EXPECT_EQ(loggedRecordCount(4) - before[4], 1u);
  EXPECT_EQ(loggedRecordCount(3) - before[3], 1u);  // level 7 counts with the other levels
  EXPECT_EQ(loggedRecordCount(5), loggedRecordCount(3));

  // A record that cannot be written is not counted.
  std::filesystem::remove_all("db");
  EventRecord source{const_cast<char*>("message"), const_cast<char*>("device"), 2, 0, 0, 0, 0};
  EXPECT_NE(writeEventRecord(copyEventRecord(&source)), 0);
  EXPECT_EQ(loggedRecordCount(2) - before[2], 2u);
}

}  // namespace
