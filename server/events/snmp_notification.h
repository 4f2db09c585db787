// The SNMPv2c and SNMPv3 notification of an event, as KESTROVA-MIB (data/mibs/) defines it: the
// bindings sysUpTime.0, snmpTrapOID.0 (the notification of the event's level: kestrovaWarningEvent
// .1.3.6.1.4.1.1793.0.1, kestrovaErrorEvent .0.2, kestrovaNoticeEvent .0.4, kestrovaInformationEvent
// .0.10) and the eight objects kestrovaEventId ... kestrovaEventSubject (.1.3.6.1.4.1.1793.1.1.N.0).
// Texts are valid UTF-8 without control characters, the message cut at 1500 bytes.
//
// Thread safety: pure functions; any thread.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "server/events/event_record.h"

using SnmpOid = std::vector<uint32_t>;

enum class SnmpValueType { kTimeTicks, kObjectId, kUnsigned, kInteger, kText };

struct SnmpBinding {
  SnmpOid name;
  SnmpValueType type = SnmpValueType::kUnsigned;
  uint32_t number = 0;  // kTimeTicks, kUnsigned, kInteger
  SnmpOid objectId;     // kObjectId
  std::string text;     // kText
};

// The notification's OID for a concern level.
SnmpOid snmpNotificationOid(uint32_t concernLevel);
// "1.3.6.1..." of an OID.
std::string snmpOidText(const SnmpOid& oid);

// The bindings of record's notification; uptime in hundredths of a second.
std::vector<SnmpBinding> snmpNotificationBindings(const EventRecord& record, uint32_t uptimeHundredths);
