// The SNMPv2c/v3 notification of an event; see snmp_notification.h.
#include "server/events/snmp_notification.h"

#include "server/events/condition_tracker.h"
#include "server/events/event_text.h"
#include "server/events/structured_text.h"

namespace {

const SnmpOid kEnterprise = {1, 3, 6, 1, 4, 1, 1793};
const SnmpOid kSysUpTime = {1, 3, 6, 1, 2, 1, 1, 3, 0};
const SnmpOid kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};
constexpr uint32_t kInformationNumber = 10;
constexpr size_t kMaxText = kEventMessageBufferSize;

SnmpOid under(const SnmpOid& base, std::initializer_list<uint32_t> arcs) {
  SnmpOid oid = base;
  oid.insert(oid.end(), arcs);
  return oid;
}

// kestrovaEvent.<column>.0
SnmpOid eventObject(uint32_t column) { return under(kEnterprise, {1, 1, column, 0}); }

std::string text(const char* value, size_t limit) {
  std::string cleaned = cleanUtf8(value != nullptr ? value : "");
  if (cleaned.size() > limit) cleaned.resize(completeUtf8Length(cleaned.data(), limit));
  return cleaned;
}

}  // namespace

SnmpOid snmpNotificationOid(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
      return under(kEnterprise, {0, kInformationNumber});
    case 2:
      return under(kEnterprise, {0, 2});
    case 4:
      return under(kEnterprise, {0, 4});
    default:
      return under(kEnterprise, {0, 1});
  }
}

std::string snmpOidText(const SnmpOid& oid) {
  std::string out;
  for (uint32_t arc : oid) out += (out.empty() ? "" : ".") + std::to_string(arc);
  return out;
}

std::vector<SnmpBinding> snmpNotificationBindings(const EventRecord& record, uint32_t uptimeHundredths) {
  const ConditionLabel label = conditionLabel(record.noticeCondition);
  // kestrovaEventState: event(1), raised(2), reminder(3), resolved(4).
  const uint32_t state = static_cast<uint32_t>(record.notice) + 1;
  std::vector<SnmpBinding> bindings;
  bindings.push_back({kSysUpTime, SnmpValueType::kTimeTicks, uptimeHundredths, {}, ""});
  bindings.push_back(
      {kSnmpTrapOid, SnmpValueType::kObjectId, 0, snmpNotificationOid(record.concernLevel), ""});
  bindings.push_back({eventObject(1), SnmpValueType::kUnsigned, record.eventId, {}, ""});
  const uint32_t level = record.concernLevel;
  const bool known = level == 0 || level == 1 || level == 2 || level == 4;
  bindings.push_back({eventObject(2), SnmpValueType::kUnsigned, known ? level : 1, {}, ""});
  bindings.push_back({eventObject(3), SnmpValueType::kText, 0, {}, text(record.device, kMaxText)});
  bindings.push_back({eventObject(4), SnmpValueType::kText, 0, {}, text(record.message, kMaxText)});
  bindings.push_back({eventObject(5), SnmpValueType::kUnsigned, record.eventTime, {}, ""});
  bindings.push_back({eventObject(6), SnmpValueType::kInteger, state <= 4 ? state : 1, {}, ""});
  bindings.push_back({eventObject(7), SnmpValueType::kText, 0, {}, text(label.name.c_str(), 64)});
  bindings.push_back({eventObject(8), SnmpValueType::kText, 0, {}, text(label.subject.c_str(), 255)});
  return bindings;
}
