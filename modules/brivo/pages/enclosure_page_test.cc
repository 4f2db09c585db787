// The enclosure page and its two actions beside MuteAlarm, against a pair kept in memory whose
// enclosure answers SES pages through the controller: every element listed in the event log's
// words with the drive of each slot, an enclosure that is not there, pages that cannot be read
// (the monitor's copy, or a clear notice), and the control pages of RemindAlarm and IdentifySlot.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>

#include "modules/brivo/events/enclosure_texts.h"
#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/module_events.h"
#include "modules/brivo/pages/identity.h"
#include "modules/brivo/pages/monitor_test_support.h"
#include "modules/brivo/pages/page_methods.h"

namespace brivo {
namespace {

using testing::requestFor;

using testing::kEnclosureWwn;
using testing::kSesAddress;
using testing::SesImage;

class EnclosurePage : public testing::MonitorPageTest {
 protected:
  EnclosurePage() {
    EnclosureEntry& e = pair_.info.enclosures[0];
    e.valid = kOn;
    e.number = 0;
    e.slots = 4;
    std::memcpy(e.wwn, kEnclosureWwn, 8);
    e.addresses[0] = {kSesAddress, 0xFF};
    for (int k = 1; k < 4; ++k) e.addresses[k] = {0xFF, 0xFF};
    // Drive ID 9 (the drive list's third entry) sits in slot 2.
    addDiskDrive(0).slot = 0;
    addDiskDrive(1).slot = 1;
    DriveListEntry& d = addDiskDrive(2);
    d.driveId = 9;
    d.slot = 2;
    d.status = kDriveFailed;
    const auto inner = pair_.responder();
    fake_->answer(testing::kTestDevice, [this, inner](const ScsiCommand& c) {
      if (c.direction != ScsiDirection::kIn || c.cdb[2] != kOpReadSesPage) return inner(c);
      if (sesRefused) return testing::checkCondition(c, kSenseIllegalRequest, kAscInvalidCdbField, 0);
      const std::vector<uint8_t>& page = c.cdb[6] == 1 ? ses.config : ses.status;
      std::memset(c.data, 0, c.dataLength);
      std::memcpy(c.data, page.data(), std::min<size_t>(page.size(), c.dataLength));
      return testing::goodResult(c.dataLength);
    });
    // The server's string table, as an installed server has it.
    const char* source = std::getenv("KESTROVA_SOURCE_DIR");
    std::filesystem::create_directories(folder_.path() / "db");
    if (source != nullptr)
      std::filesystem::copy_file(std::filesystem::path(source) / "data/db/strings.db",
                                 folder_.path() / "db/strings.db");
  }
  std::map<std::string, std::string> page(std::initializer_list<std::pair<const char*, const char*>> keys) {
    return run(getEnclosureInformationMethod, requestFor(keys));
  }

  testing::ModuleFolder folder_;  // the working folder with db/strings.db
  SesImage ses;
  bool sesRefused = false;
};

TEST_F(EnclosurePage, ElementsInTheLogsWordsAndTheDriveOfEachSlot) {
  ses.element(1, 0)[0] = 2;     // power supply 1: critical
  ses.element(2, 1)[0] = 2;     // fan 2: critical, stopped
  ses.element(3, 0)[2] = 20 + 41;  // 41 degrees
  ses.element(4, 0)[3] = 0x40;     // alarm muted
  ses.element(0, 3)[2] = 0x02;     // slot 3's locator on
  ses.element(5, 0)[1] = 0x80;     // enclosure locator on
  auto keys = page({{"EnclosureNumber", "0"}});
  ASSERT_EQ(keys["EnclosureFound"], "true");
  ASSERT_EQ(keys["PagesRead"], "true");
  EXPECT_EQ(keys["FromCache"], "false");
  EXPECT_EQ(keys["EnclosureLabel"], "Enclosure 1");
  EXPECT_EQ(keys["EnclosureName"], "Enclosure 1 (500A0B8000112233)");
  EXPECT_EQ(keys["EnclosureNumber"], "0") << "qcli's number";
  EXPECT_EQ(keys["Vendor"], "KESTROVA");
  EXPECT_EQ(keys["Product"], "BAY-12");
  EXPECT_EQ(keys["PowerSupplyLoop"], "2");
  EXPECT_EQ(keys["PowerSupplyLoop0Text"], "Power supply 1: Critical");
  EXPECT_EQ(keys["PowerSupplyLoop0Class"], "fail");
  EXPECT_EQ(keys["PowerSupplyLoop1Text"], "Power supply 2: OK");
  EXPECT_EQ(keys["FanLoop1Text"], "Cooling fan 2: Critical (fan stopped)");
  EXPECT_EQ(keys["TemperatureLoop0Reading"], "41");
  EXPECT_EQ(keys["TemperatureLoop0Text"], "Temperature sensor 1: OK (41 degrees Celsius)");
  EXPECT_EQ(keys["AlarmLoop0StatusText"], "Off, muted");
  EXPECT_EQ(keys["AlarmLoop0Muted"], "true");
  EXPECT_EQ(keys["EnclosureIdentifying"], "true");
  EXPECT_EQ(keys["StatusClass"], "fail");
  EXPECT_EQ(keys["SlotLoop"], "4");
  EXPECT_EQ(keys["SlotLoop2Occupied"], "true");
  EXPECT_EQ(keys["SlotLoop2DriveId"], "9");
  EXPECT_EQ(keys["SlotLoop2DiskIndex"], "2");
  EXPECT_EQ(keys["SlotLoop2DriveClass"], "fail");
  EXPECT_EQ(keys["SlotLoop3Occupied"], "false");
  EXPECT_EQ(keys["SlotLoop3Identifying"], "true");
  EXPECT_EQ(keys["EsiLoop"], "2");
  EXPECT_EQ(keys["EsiLoop0Text"], "Enclosure services controller 1: OK");
  EXPECT_EQ(keys["OtherLoop"], "1");
  EXPECT_EQ(keys["OtherLoop0Type"], "09") << "an element the page has no words for keeps its type";
  EXPECT_EQ(keys["EnclosureChoiceLoop"], "1");
  EXPECT_EQ(keys["HTMLPath"], "../../html/Brivo/enclosure/enclosure.htm");
}

// The page's words are the decoder's: an event the controller logs for power supply 1 of
// enclosure 0 has the page's enclosure name as its source and the page's element text.
TEST_F(EnclosurePage, ThePageAndTheEventLogNameTheSameThingAlike) {
  ses.element(1, 0)[0] = 2;
  const auto keys = page({});
  EventEntry entry{};
  entry.code = kEvSesPowerSupply;
  entry.reason[0] = 0;  // element index
  std::memcpy(&entry.reason[1], ses.element(1, 0), 4);
  entry.reason[5] = 0;  // enclosure number
  std::memcpy(&entry.reason[6], kEnclosureWwn, 8);
  const events::DecodedEvent event = events::decodeEnclosureEvent(moduleEventTexts(), entry);
  EXPECT_EQ(event.source, keys.at("EnclosureName"));
  EXPECT_EQ(event.text, keys.at("PowerSupplyLoop0Text"));
}

TEST_F(EnclosurePage, MissingEnclosureUnreadablePagesAndUnknownPair) {
  auto missing = page({{"EnclosureNumber", "7"}});
  EXPECT_EQ(missing["EnclosureFound"], "false");
  EXPECT_EQ(missing["EnclosureNumber"], "7");
  EXPECT_EQ(missing["EnclosureChoiceLoop0Number"], "0") << "the page still offers the real ones";
  auto hostile = page({{"EnclosureNumber", "-1x"}});
  EXPECT_EQ(hostile["EnclosureFound"], "true") << "not a number: the first enclosure";

  sesRefused = true;  // nothing read and nothing cached
  auto unread = page({});
  EXPECT_EQ(unread["EnclosureFound"], "true");
  EXPECT_EQ(unread["PagesRead"], "false");
  EXPECT_EQ(unread.count("SlotLoop"), 0u);

  auto nobody = run(getEnclosureInformationMethod, requestFor({}, "Brivo0000000000000099"));
  EXPECT_EQ(nobody["ReadFailed"], "true");
  EXPECT_EQ(nobody["MessageIsSuccess"], "false");
}

class EnclosureActions : public EnclosurePage {
 protected:
  // The monitor's cached copy of the pages, as the actions work from it.
  void cachePages() { testing::cacheEnclosurePages(state_, ses, 0); }
  // Offset of an element's bytes in the page that was sent.
  size_t offsetOf(int typeIndex, int index) { return static_cast<size_t>(ses.element(typeIndex, index) - ses.status.data()); }
};

TEST_F(EnclosureActions, PagesCachedFromTheMonitorAreUsedWhenTheEnclosureDoesNotAnswer) {
  cachePages();
  sesRefused = true;
  auto keys = page({});
  EXPECT_EQ(keys["PagesRead"], "true");
  EXPECT_EQ(keys["FromCache"], "true");
}

TEST_F(EnclosureActions, RemindSelectsTheAlarmAloneWithItsRemindRequest) {
  cachePages();
  ses.status[offsetOf(0, 1)] = 0x81;  // stale SELECT-like bit on a slot of the cached page
  {
    MutexLock lock(brivo::monitor::enclosureLock());
    state_->enclosures[0]->statusPage[offsetOf(0, 1)] = 0x81;
  }
  auto reply = run(remindAlarmMethod, requestFor({{"EnclosureNumber", "0"}}));
  EXPECT_EQ(reply["MessageIsSuccess"], "true") << reply["MessageDetails"];
  const auto ops = writes();
  ASSERT_EQ(ops.size(), 1u);
  EXPECT_EQ(ops[0].id, kOpSendSesPage);
  EXPECT_EQ(ops[0].cdb[3], kSesAddress);
  const auto& sent = ops[0].block;
  ASSERT_EQ(sent.size(), ses.status.size());
  const size_t alarm = offsetOf(4, 0);
  EXPECT_EQ(sent[alarm], 0x80);
  EXPECT_EQ(sent[alarm + 3], 0x10) << "remind, not muted";
  EXPECT_EQ(sent[offsetOf(0, 1)] & 0x80, 0) << "no other element selected";
  EXPECT_EQ(sent[7], 9) << "generation kept";
}

TEST_F(EnclosureActions, IdentifySlotTurnsOneLocatorOnOrOffAndRefusesNonsense) {
  cachePages();
  run(identifySlotMethod, requestFor({{"EnclosureNumber", "0"}, {"SlotNumber", "3"}, {"Identify", "on"}}));
  run(identifySlotMethod, requestFor({{"EnclosureNumber", "0"}, {"SlotNumber", "3"}, {"Identify", "OFF"}}));
  auto ops = writes();
  ASSERT_EQ(ops.size(), 2u);
  const size_t slot = offsetOf(0, 3);
  EXPECT_EQ(ops[0].block[slot], 0x80);
  EXPECT_EQ(ops[0].block[slot + 2], 0x02);
  EXPECT_EQ(ops[1].block[slot + 2], 0x00);
  fake_->clearSent();
  for (const auto& keys : std::vector<std::vector<std::pair<const char*, const char*>>>{
           {{"EnclosureNumber", "0"}, {"SlotNumber", "4"}, {"Identify", "on"}},   // no slot 4
           {{"EnclosureNumber", "0"}, {"SlotNumber", "-1"}, {"Identify", "on"}},
           {{"EnclosureNumber", "0"}, {"SlotNumber", "1"}, {"Identify", "blink"}},
           {{"EnclosureNumber", "0"}, {"SlotNumber", "1"}},
           {{"EnclosureNumber", "3"}, {"SlotNumber", "1"}, {"Identify", "on"}}}) {  // nothing cached
    VariableTable request = requestFor({});
    for (const auto& [key, value] : keys) addVariable(&request, key, value);
    auto reply = run(identifySlotMethod, request);
    EXPECT_EQ(reply["MessageIsSuccess"], "false");
  }
  EXPECT_TRUE(writes().empty());
}

}  // namespace
}  // namespace brivo
