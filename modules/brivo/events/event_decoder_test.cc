// Tests of the event decoder with texts of the test's own (the shipped texts are checked in
// event_data_test.cc): the key family chosen by the flag table and the pair's interfaces, every
// family of sub-keys, the severity lookups with their fallbacks, event IDs and undocumented codes.
// Entries are built byte for byte in the protocol's EventEntry layout.
#include "modules/brivo/events/event_decoder.h"

#include <gtest/gtest.h>

#include "modules/brivo/events/event_test_support.h"
#include "modules/brivo/protocol_event_codes.h"

namespace brivo::events {
namespace {

using testing::entryOf;
using testing::FakeTexts;
using testing::timeOf;

class EventDecoderTest : public ::testing::Test {
 protected:
  DecodedEvent decode(uint8_t code, std::initializer_list<uint8_t> reason, uint8_t drive = kInterfaceFc,
                      uint8_t host = kInterfaceFc) {
    options_.driveInterface = drive;
    options_.hostInterface = host;
    return decodeEvent(texts_, options_, entryOf(timeOf(2008, 5, 6, 7, 8, 9), code, reason));
  }
  // A text (and the severity 0) for each key.
  void texts(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    for (const auto& [key, text] : pairs) texts_.events[key] = text;
  }
  void severities(std::initializer_list<std::pair<const char*, const char*>> pairs) {
    for (const auto& [key, value] : pairs) texts_.severities[key] = value;
  }

  FakeTexts texts_;
  DecodeOptions options_;
};

TEST_F(EventDecoderTest, FamilyFollowsTheFlagTableAndThePairsInterfaces) {
  texts({{"BrivoEvent_0C", "plain %d %d %s"},
         {"BrivoEvent_0Cs", "sata %d %d %s"},
         {"BrivoEvent_0Csas", "sas %d %d %s"},
         {"BrivoEvent_2E", "fc port %d ctl %s"},
         {"BrivoEvent_2Esc", "scsi bus %d ctl %s"},
         {"BrivoEvent_15", "fc %d"},
         {"BrivoEvent_15hsas", "sas host %d"}});
  severities({{"0x0C", "0"},
              {"0x0Cs", "1"},
              {"0x0Csas", "2"},
              {"0x2E", "0"},
              {"0x2Esc", "0"},
              {"0x15", "0"},
              {"0x15hsas", "0"}});
  const uint8_t wwn[8] = {0x20, 0x00, 0x00, 0x11, 0x22, 0x33, 0x44, 0xAB};
  auto inserted = [&](uint8_t drive, uint8_t host) {
    return decode(0x0C, {5, 12, wwn[0], wwn[1], wwn[2], wwn[3], wwn[4], wwn[5], wwn[6], wwn[7]}, drive, host);
  };
  EXPECT_EQ(inserted(kInterfaceFc, kInterfaceFc).text, "plain 5 12 20000011223344AB");
  DecodedEvent sata = inserted(kInterfaceSata, kInterfaceFc);
  EXPECT_EQ(sata.text, "sata 5 12 20000011223344AB");
  EXPECT_EQ(sata.severity, 1u);
  EXPECT_EQ(inserted(kInterfaceSas, kInterfaceFc).severity, 2u);
  EXPECT_EQ(inserted(kInterfaceSas, kHostInterfaceSas).text.substr(0, 3), "sas");  // drive flags come first
  EXPECT_EQ(decode(0x2E, {1, 0}, kInterfaceFc, kHostInterfaceScsi).text, "scsi bus 1 ctl B");
  EXPECT_EQ(decode(0x2E, {0, 1}, kInterfaceSata, kHostInterfaceSas).text, "fc port 2 ctl A");  // no hsas flag
  EXPECT_EQ(decode(0x15, {0, 0, 4}, kInterfaceSas, kHostInterfaceSas).text, "sas host 1");
  EXPECT_EQ(decode(0x0C, {1, 2}, kInterfaceFc, kHostInterfaceSas).text, "plain 1 2 0000000000000000");
}

TEST_F(EventDecoderTest, MissingFamilyTextFallsBackToThePlainText) {
  texts({{"BrivoEvent_28", "removed %d from %d"}});
  severities({{"0x28", "1"}});
  DecodedEvent e = decode(0x28, {3, 4}, kInterfaceSata);
  EXPECT_EQ(e.text, "removed 3 from 4");
  EXPECT_FALSE(e.complete);
  EXPECT_EQ(e.severity, 1u);  // "0x28s" is missing too: the plain key
  EXPECT_TRUE(e.severityFound);
}

TEST_F(EventDecoderTest, ControllerEventsBySubKeyAndTheSasDriveInterfaceStates) {
  texts({{"BrivoEvent_01", "[%s]"},
         {"BrivoEvent_01_01", "started"},
         {"BrivoEvent_01_05", "drive interface %.2X%.2X%.2X%.2X"},
         {"BrivoEvent_01_05_1", "link down"},
         {"BrivoEvent_01_05_Unknown", "odd state %.2X%.2X%.2X%.2X"}});
  severities({{"0x01", "0"}, {"0x01_05", "1"}});
  EXPECT_EQ(decode(0x01, {1, 0}).text, "[started]");
  EXPECT_EQ(decode(0x01, {5, 0, 0, 0, 1}).text, "[drive interface 00000001]");
  DecodedEvent sas = decode(0x01, {5, 0, 0, 0, 1}, kInterfaceSas);  // 32-bit big-endian value 1
  EXPECT_EQ(sas.text, "[link down]");
  EXPECT_EQ(sas.severity, 1u);
  EXPECT_EQ(decode(0x01, {5, 0x12, 0x34, 0, 9}, kInterfaceSas).text, "[odd state 12340009]");
  EXPECT_EQ(decode(0x01, {1, 0}).severity, 0u);  // "0x01_01" missing: the plain key
}

TEST_F(EventDecoderTest, SubKeysOfDrivesAndLoops) {
  texts({{"BrivoEvent_0F", "link %d %d"},
         {"BrivoEvent_0Fsas", "%s on %d/%d (%s)"},
         {"BrivoEvent_0Fsas_00000010", "rate dropped"},
         {"BrivoEvent_13", "channel %d %d"},
         {"BrivoEvent_13sas", "%s: %d"},
         {"BrivoEvent_13sas_04", "hardware error"},
         {"BrivoEvent_3E", "%s failed"},
         {"BrivoEvent_3E_Loop_1", "Drive loop 2"},
         {"BrivoEvent_27", "drive %d slot %d (%s) failed"},
         {"BrivoEvent_79", "identity %s in slot %d"}});
  severities({{"0x0F", "1"},
              {"0x0Fsas", "1"},
              {"0x13", "1"},
              {"0x13sas_04", "2"},
              {"0x3E", "2"},
              {"0x27", "2"},
              {"0x79", "0"}});
  EXPECT_EQ(decode(0x0F, {7, 3, 0x10, 0, 0, 0}).text, "link 7 3");
  EXPECT_EQ(decode(0x0F, {7, 3, 0x10, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8}, kInterfaceSas).text,
            "rate dropped on 7/3 (0102030405060708)");
  DecodedEvent channel = decode(0x13, {4, 9, 2}, kInterfaceSas);
  EXPECT_EQ(channel.text, "hardware error: 9");
  EXPECT_EQ(channel.severity, 2u);
  EXPECT_EQ(decode(0x13, {4, 9, 2}).text, "channel 9 2");
  EXPECT_EQ(decode(0x3E, {1}).text, "Drive loop 2 failed");
  EXPECT_EQ(decode(0x27, {1, 2, 0, 0, 0x50, 0, 0, 0, 0, 0, 0, 0x01, kIdentityWwn}).text,
            "drive 1 slot 2 (WWN 5000000000000001) failed");
  EXPECT_EQ(decode(0x27, {1, 2, 0, 0, 'W', 'D', '-', '1', '2', '3', '4', '5', kIdentitySerial}).text,
            "drive 1 slot 2 (SN WD-12345) failed");
  EXPECT_EQ(decode(0x79, {4, 6, 'S', 'N', '9', 0, 0, 0, 0, 0, kIdentitySerial}).text,
            "identity SN SN9 in slot 6");
}

TEST_F(EventDecoderTest, HostLoopEventsByHostInterface) {
  texts({{"BrivoEvent_24", "%s"},
         {"BrivoEvent_24sc", "scsi: %s"},
         {"BrivoEvent_24hsas", "sas: %s"},
         {"BrivoEvent_LIP_AcquireId", "Host loop%s up%s; ID %d."},
         {"BrivoEvent_LIP_Reinit0", "Host loop%s reinit%s."},
         {"BrivoEvent_LIP_Reinit1", "Host loop%s reinit by us%s."},
         {"BrivoEvent_LIP_LoopFailure0", "Host loop%s down."},
         {"BrivoEvent_LIP_LoopFailure1", "Host loop%s no init."},
         {"BrivoEvent_24sc_01", "bus %d reset"},
         {"BrivoEvent_24hsas.02", "port %d link down"}});
  severities({{"0x24", "1"}, {"0x24_04", "2"}, {"0x24sc", "0"}, {"0x24hsas_02", "1"}});
  EXPECT_EQ(decode(0x24, {1, 1, 2, 0x1F}).text, "Host loop 0 is up at data rate 2 Gb/sec; ID 31.");
  EXPECT_EQ(decode(0x24, {2, 3, 4}).text, "Host loops 0 and 1 are reinit at data rate 4 Gb/sec.");
  EXPECT_EQ(decode(0x24, {3, 2, 1}).text, "Host loop 1 is reinit by us at data rate 1 Gb/sec.");
  EXPECT_EQ(decode(0x24, {3, 2, 3}).text, "Host loop 1 is reinit by us.");  // no such rate
  DecodedEvent down = decode(0x24, {4, 1});
  EXPECT_EQ(down.text, "Host loop 0 is down.");
  EXPECT_EQ(down.severity, 2u);
  EXPECT_EQ(decode(0x24, {5, 1}).severity, 1u);  // no "0x24_05": the plain key
  EXPECT_EQ(decode(0x24, {1, 0}, kInterfaceFc, kHostInterfaceScsi).text, "scsi: bus 1 reset");
  DecodedEvent sas = decode(0x24, {2, 1}, kInterfaceFc, kHostInterfaceSas);
  EXPECT_EQ(sas.text, "sas: port 2 link down");
  EXPECT_EQ(sas.severity, 1u);
}

TEST_F(EventDecoderTest, ArrayNamesAreReadWhileMonitoringOnly) {
  texts({{"BrivoEvent_0B", "%s is offline"},
         {"BrivoEvent_ArrayNameNotExporting", "%s (Array %d)"},
         {"BrivoEvent_ArrayNameWhenExporting", "Array %d"}});
  severities({{"0x0B", "2"}});
  int reads = 0;
  options_.arrayName = [&reads](uint8_t array) -> std::optional<std::string> {
    ++reads;
    if (array == 2) return "Finance";
    return std::nullopt;
  };
  EXPECT_EQ(decode(0x0B, {2}).text, "Finance (Array 2) is offline");
  EXPECT_EQ(decode(0x0B, {3}).text, "Array 3 is offline");  // the name cannot be read
  options_.exporting = true;
  EXPECT_EQ(decode(0x0B, {2}).text, "Array 2 is offline");
  EXPECT_EQ(reads, 2);
  texts_.events.erase("BrivoEvent_ArrayNameWhenExporting");
  DecodedEvent e = decode(0x0B, {2});
  EXPECT_EQ(e.text, "Array 2 is offline");
  EXPECT_FALSE(e.complete);
}

TEST_F(EventDecoderTest, BatteryParityAndControllerSubKeysWithTheirSeverities) {
  texts({{"BrivoEvent_42", "Battery: %s"},
         {"BrivoEvent_42_03", "low (%d percent)"},
         {"BrivoEvent_43", "parity (%s) on array %d"},
         {"BrivoEvent_ParityType_02", "rewrite"},
         {"BrivoEvent_1C", "%s controller %s."},
         {"BrivoEvent_1C_01", "has failed"},
         {"BrivoEvent_58", "%s"},
         {"BrivoEvent_58_02", "Controller %s stopped at once"},
         {"BrivoEvent_6F", "cache of %s off: %s"},
         {"BrivoEvent_Disabled_Cache_Reason_02", "partner failed"},
         {"BrivoEvent_19", "%s at %d mV (%d-%d)"},
         {"BrivoEvent_19_volt_03", "3.3V Core"}});
  severities({{"0x42", "1"},
              {"0x42_03", "0x01"},
              {"0x43_02", "0"},
              {"0x1C_01", "2"},
              {"0x58", "1"},
              {"0x6F", "1"},
              {"0x19", "1"}});
  DecodedEvent low = decode(0x42, {3, 79});
  EXPECT_EQ(low.text, "Battery: low (79 percent)");
  EXPECT_EQ(low.severity, 1u);
  EXPECT_EQ(decode(0x42, {9, 79}).text, "Battery: Missing battery event message");
  EXPECT_FALSE(decode(0x42, {9, 79}).complete);
  EXPECT_EQ(decode(0x43, {2, 5}).text, "parity (rewrite) on array 5");
  EXPECT_EQ(decode(0x1C, {1, kPartnerFailed}).text, "The other controller has failed.");
  EXPECT_EQ(decode(0x1C, {0, kPartnerFailed}).text, "This controller has failed.");
  EXPECT_EQ(decode(0x58, {2, 1}).text, "Controller B stopped at once");
  EXPECT_EQ(decode(0x6F, {2, 0}).text, "cache of A off: partner failed");
  // 3.3V at 3100 mV, range 3135-3465, all little-endian 16-bit values.
  EXPECT_EQ(decode(0x19, {3, 0x1C, 0x0C, kOff, 0x3F, 0x0C, 0x89, 0x0D}).text,
            "3.3V Core at 3100 mV (3135-3465)");
}

TEST_F(EventDecoderTest, DeviceChangesAndTheirFallbacks) {
  texts(
      {{"BrivoEvent_74", "%s (loop %d, ID %d, WWN %s)"}, {"BrivoEvent_74_02_01", "An enclosure was added"}});
  severities({{"0x74", "0"}});
  EXPECT_EQ(decode(0x74, {2, 1, 0, 9, 1, 2, 3, 4, 5, 6, 7, 8}).text,
            "An enclosure was added (loop 1, ID 9, WWN 0102030405060708)");
  EXPECT_EQ(decode(0x74, {2, 7, 1, 9}).text, "Unresolved change (loop 2, ID 9, WWN 0000000000000000)");
  EXPECT_EQ(decode(0x74, {9, 1, 1, 9}).text,
            "Unknown Device: Unknown device changed ( 9 ) (loop 2, ID 9, WWN 0000000000000000)");
}

TEST_F(EventDecoderTest, MaintenanceSnapshotFirmwareAndMemorySubKeys) {
  texts({{"BrivoEvent_82", "%s"},
         {"BrivoEvent_82_03", "Clock of %s set to %s."},
         {"BrivoEvent_84", "%s"},
         {"BrivoEvent_84_02", "Drive image (level %2$s) loaded."},
         {"BrivoEvent_87", "%s"},
         {"BrivoEvent_87_05", "Area of drive %d is %d percent full."},
         {"BrivoEvent_88", "%s"},
         {"BrivoEvent_88_01", "Snapback of %d started."},
         {"BrivoEvent_89", "%s"},
         {"BrivoEvent_89_01", "Rebuild mode %s."},
         {"BrivoEvent_8B", "%s"},
         {"BrivoEvent_8B_01", "The %s firmware (%s) was loaded."},
         {"BrivoEvent_8B_02.00", "Bootrom image refused."},
         {"BrivoEvent_92", "%s"},
         {"BrivoEvent_92_02", "Cache: %s."},
         {"BrivoEvent_92_07", "Cache: %s!"}});
  severities({{"0x82", "0"},
              {"0x84", "0"},
              {"0x87", "0"},
              {"0x87_05", "1"},
              {"0x88_01", "0"},
              {"0x89", "0"},
              {"0x8B_02", "1"},
              {"0x8B", "0"},
              {"0x92", "0"}});
  EXPECT_EQ(decode(0x82, {3, 1, 0xD8, 0x07, 2, 29, 5, 23, 59, 58}).text,
            "Clock of B set to 02/29/08 23:59:58.");
  EXPECT_EQ(decode(0x84, {2, 0xFF, 0x05, 0x00, 0x02, 0x03}).text, "Drive image (level 3.2.5) loaded.");
  DecodedEvent full = decode(0x87, {5, 0x2C, 0x01, 85});
  EXPECT_EQ(full.text, "Area of drive 300 is 85 percent full.");
  EXPECT_EQ(full.severity, 1u);
  EXPECT_EQ(decode(0x88, {1, 4, 0}).text, "Snapback of 4 started.");
  EXPECT_EQ(decode(0x89, {1, kOn}).text, "Rebuild mode Automatic.");
  EXPECT_EQ(decode(0x89, {1, kOff}).text, "Rebuild mode Manual.");
  EXPECT_EQ(decode(0x8B, {1, kFirmwareInitString, 1, 0, 4, 2}).text,
            "The initstring firmware (2.4.1) was loaded.");
  DecodedEvent refused = decode(0x8B, {2, kFirmwareBootrom});  // the two-level key wins
  EXPECT_EQ(refused.text, "Bootrom image refused.");
  EXPECT_EQ(refused.severity, 1u);
  EXPECT_EQ(decode(0x92, {2}).text, "Cache: 1G.");
  EXPECT_EQ(decode(0x92, {7}).text, "Cache: unknown!");
}

TEST_F(EventDecoderTest, MissingSeverityIsReportedAndGivesError) {
  texts({{"BrivoEvent_0Ds", "bypassed %d"}});
  DecodedEvent e = decode(0x0D, {1}, kInterfaceSata);
  EXPECT_FALSE(e.severityFound);
  EXPECT_EQ(e.missingKey, "0x0Ds");
  EXPECT_EQ(e.severity, 2u);
  EXPECT_EQ(e.eventId, 0xB0Du);
  severities({{"0x0Ds", "two"}});  // not a number: as good as missing
  EXPECT_FALSE(decode(0x0D, {1}, kInterfaceSata).severityFound);
  severities({{"0x0D", " 0x0 "}});  // C notation, the plain key as fallback
  e = decode(0x0D, {1}, kInterfaceSata);
  EXPECT_TRUE(e.severityFound);
  EXPECT_EQ(e.severity, 0u);
}

TEST_F(EventDecoderTest, UnusedCodesAreUndocumented) {
  severities({{"0x46", "1"}});
  DecodedEvent e = decode(0x46, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 0xFE});
  EXPECT_EQ(e.text,
            "Undocumented Event 0x46. Extra Info: 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, "
            "0x0A, 0x0B, "
            "0x0C, 0x0D, 0xFE");
  EXPECT_EQ(e.severity, 1u);
  EXPECT_EQ(e.eventId, 0xB46u);
  EXPECT_EQ(decode(0xC8, {}).eventId, 0xBC8u);
  EXPECT_EQ(decode(0xC8, {}).text.substr(0, 24), "Undocumented Event 0xC8.");
}

TEST_F(EventDecoderTest, EditedTextsWithWrongConversionsCannotHarm) {
  texts({{"BrivoEvent_03", "%s%s%s%n%s"}, {"BrivoEvent_04", "Array %d of %d%%"}});
  severities({{"0x03", "0"}, {"0x04", "0"}});
  DecodedEvent e = decode(0x03, {1, 5, 4});
  EXPECT_FALSE(e.complete);
  EXPECT_EQ(e.text, "154%n");
  EXPECT_EQ(decode(0x04, {1}).text, "Array 1 of %");
}

}  // namespace
}  // namespace brivo::events
