// Tests of enclosure element events (codes 0x6B-0x6E): the enclosure as the source, the element
// and status texts from the server's strings, the alarm states in their order of precedence, the
// fan and temperature details, and the severities with the temperature warning/failure rule.
#include <gtest/gtest.h>

#include "modules/brivo/events/event_decoder.h"
#include "modules/brivo/events/event_test_support.h"

namespace brivo::events {
namespace {

using testing::entryOf;
using testing::FakeTexts;
using testing::timeOf;

class EnclosureEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    texts_.server = {{"SESEnclosureName", "Enclosure %s"},
                     {"SESEnclosureNameWithNumber", "Enclosure %d (%s)"},
                     {"SESGenericMessage", "%s %d: %s"},
                     {"SESElement02", "Power supply"},
                     {"SESElement03", "Fan"},
                     {"SESElement04", "Temperature sensor"},
                     {"SESElement06", "Alarm"},
                     {"SESStatus01", "OK"},
                     {"SESStatus02", "Critical"},
                     {"SESStatus03", "Noncritical"},
                     {"SESAlarmOnIntermittent", "intermittent"},
                     {"SESAlarmOnRemind", "remind"},
                     {"SESAlarmOffMuted", "muted"},
                     {"SESAlarmOnContinuous", "continuous"},
                     {"SESAlarmOn", "on"},
                     {"SESAlarmOff", "off"},
                     {"SESFanSpeed05", "(fast)"},
                     {"SESTemperature", "(%d C)"},
                     {"SESTempSensorOTF", "OTF"},
                     {"SESTempSensorOTW", "OTW"}};
    texts_.severities = {{"0xSesGeneric_01", "0"},      {"0xSesGeneric_02", "2"}, {"0xSesGeneric_03", "1"},
                         {"0xSes6E_OnContinuous", "2"}, {"0xSes6E_Off", "0"},     {"0xSes6D_Warning", "1"},
                         {"0xSes6D_Failure", "2"}};
  }
  // Element index, status bytes 0-3, enclosure number, WWN 50 00 ... 07.
  DecodedEvent decode(uint8_t code, uint8_t index, uint8_t s0, uint8_t s2, uint8_t s3, uint8_t number = 254) {
    EventEntry e =
        entryOf(timeOf(2008, 1, 1, 0, 0, 0), code, {index, s0, 0, s2, s3, number, 0x50, 0, 0, 0, 0, 0, 0, 7});
    return decodeEvent(texts_, DecodeOptions{}, e);
  }

  FakeTexts texts_;
};

TEST_F(EnclosureEventsTest, PowerSupplyWithEnclosureNameAndEventId) {
  DecodedEvent e = decode(kEvSesPowerSupply, 2, 0x02, 0, 0);
  EXPECT_EQ(e.source, "Enclosure 5000000000000007");
  EXPECT_EQ(e.text, "Power supply 3: Critical");
  EXPECT_EQ(e.severity, 2u);
  EXPECT_EQ(e.eventId, 0xC6Bu);
  EXPECT_TRUE(e.complete);
  EXPECT_EQ(decode(kEvSesPowerSupply, 0, 0x81, 0, 0, 3).source, "Enclosure 4 (5000000000000007)");
  texts_.server.erase("SESEnclosureNameWithNumber");
  DecodedEvent fallback = decode(kEvSesPowerSupply, 0, 0x01, 0, 0, 3);
  EXPECT_EQ(fallback.source, "Enclosure 5000000000000007");
  EXPECT_FALSE(fallback.complete);
}

TEST_F(EnclosureEventsTest, AlarmStatesInTheirOrder) {
  struct Case {
    uint8_t byte14;
    const char* state;
  };
  const Case cases[] = {{0x0E, "intermittent"}, {0x1E, "intermittent"}, {0x14, "remind"}, {0x41, "muted"},
                        {0x05, "continuous"},   {0x04, "on"},           {0x0A, "off"},    {0x00, "off"}};
  for (const Case& c : cases) {
    EXPECT_EQ(decode(kEvSesAlarm, 0, 0x01, 0, c.byte14).text, std::string("Alarm 1: ") + c.state)
        << int(c.byte14);
  }
  EXPECT_EQ(decode(kEvSesAlarm, 0, 0x01, 0, 0x01).severity, 2u);  // its own key
  EXPECT_EQ(decode(kEvSesAlarm, 0, 0x03, 0, 0x00).severity, 0u);
  EXPECT_EQ(decode(kEvSesAlarm, 0, 0x03, 0, 0x04).severity, 1u);  // no "0xSes6E_On": the generic key
  EXPECT_EQ(decode(kEvSesAlarm, 0, 0x03, 0, 0x04).eventId, 0xC6Eu);
}

TEST_F(EnclosureEventsTest, FanSpeedAndTemperatureDetails) {
  EXPECT_EQ(decode(kEvSesCooling, 1, 0x01, 0, 0x25).text, "Fan 2: OK (fast)");  // speed = byte 14 AND 7
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x02, 95, 0x0C).text, "Temperature sensor 1: Critical (75 C) OTF");
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x03, 70, 0x04).text,
            "Temperature sensor 1: Noncritical (50 C) OTW");
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x01, 10, 0x00).text, "Temperature sensor 1: OK (-10 C)");
}

TEST_F(EnclosureEventsTest, TemperatureSeverityCombinesTheWarningAndFailureKeys) {
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x01, 70, 0x01).severity, 1u);  // OK, warning bit
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x03, 70, 0x02).severity, 2u);  // noncritical, failure bit
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x02, 70, 0x04).severity, 2u);  // critical stays critical
  EXPECT_EQ(decode(kEvSesTemperature, 0, 0x01, 70, 0x00).severity, 0u);
  texts_.severities.erase("0xSes6D_Warning");
  DecodedEvent e = decode(kEvSesTemperature, 0, 0x01, 70, 0x04);
  EXPECT_FALSE(e.severityFound);
  EXPECT_EQ(e.missingKey, "0xSes6D_Warning");
  EXPECT_EQ(e.severity, 2u);
  texts_.severities.erase("0xSesGeneric_02");
  e = decode(kEvSesPowerSupply, 0, 0x02, 0, 0);
  EXPECT_FALSE(e.severityFound);
  EXPECT_EQ(e.missingKey, "0xSesGeneric_02");
}

}  // namespace
}  // namespace brivo::events
