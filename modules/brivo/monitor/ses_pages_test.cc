// SES pages: walking the configuration and status pages, the change test of the enclosure watch
// (slots and non-volatile caches ignored, temperatures only by their warning and failure bits),
// the string page test, and the enclosure checks over the pages (fans, temperatures, other
// elements, a missing status page).
#include "modules/brivo/monitor/ses_pages.h"

#include <gtest/gtest.h>

#include <vector>

#include "modules/brivo/monitor/solution_checks.h"

namespace brivo::monitor {
namespace {

struct Type {
  uint8_t type;
  int count;
};

// Page 1 with one enclosure descriptor (WWN 500A0B8000112233) and the given types.
std::vector<uint8_t> configPage(const std::vector<Type>& types) {
  std::vector<uint8_t> page(8, 0);
  page[0] = 0x01;
  const std::vector<uint8_t> descriptor = {
      0x11, 0, static_cast<uint8_t>(types.size()), 8, 0x50, 0x0A, 0x0B, 0x80, 0x00, 0x11, 0x22, 0x33};
  page.insert(page.end(), descriptor.begin(), descriptor.end());
  for (const Type& t : types) page.insert(page.end(), {t.type, static_cast<uint8_t>(t.count), 0, 0});
  page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
  page[3] = static_cast<uint8_t>(page.size() - 4);
  return page;
}

// Page 2 with every element OK (overall elements 0).
std::vector<uint8_t> statusPage(const std::vector<Type>& types) {
  std::vector<uint8_t> page(8, 0);
  page[0] = 0x02;
  for (const Type& t : types) {
    page.insert(page.end(), {0, 0, 0, 0});
    for (int i = 0; i < t.count; ++i) page.insert(page.end(), {kSesStatusOk, 0, 0, 0});
  }
  page[2] = static_cast<uint8_t>((page.size() - 4) >> 8);
  page[3] = static_cast<uint8_t>(page.size() - 4);
  return page;
}

// Offset of element `index` (-1 overall) of the type at position `position`.
size_t elementAt(const std::vector<Type>& types, size_t position, int index) {
  size_t at = 8;
  for (size_t p = 0; p < position; ++p) at += 4 * (1 + types[p].count);
  return at + 4 * (1 + index);
}

const std::vector<Type> kTypes = {
    {kSesDeviceSlot, 4}, {0x02, 2}, {kSesCooling, 2}, {kSesTemperature, 2}, {0x06, 1}};

TEST(SesPages, ElementTypesAndElementsFollowThePageLayout) {
  const std::vector<SesElementType> types = sesElementTypes(configPage(kTypes));
  ASSERT_EQ(types.size(), kTypes.size());
  EXPECT_EQ(types[2].type, kSesCooling);
  EXPECT_EQ(types[0].count, 4);
  std::vector<uint8_t> status = statusPage(kTypes);
  std::vector<SesElement> elements;
  ASSERT_TRUE(sesStatusElements(types, status, &elements));
  EXPECT_EQ(elements.size(), 4u + 1 + 2 + 1 + 2 + 1 + 2 + 1 + 1 + 1);
  EXPECT_EQ(elements[5].type, 0x02);
  EXPECT_EQ(elements[5].index, -1);
  status.resize(status.size() - 4);  // one element short of the types
  status[3] = static_cast<uint8_t>(status.size() - 4);
  EXPECT_FALSE(sesStatusElements(types, status, &elements));
  EXPECT_TRUE(elements.empty());
  std::vector<uint8_t> truncated = configPage(kTypes);
  truncated.resize(20);
  EXPECT_TRUE(sesElementTypes(truncated).empty());
}

TEST(SesPages, ChangesThatCountAndThoseThatDoNot) {
  const std::vector<SesElementType> types = sesElementTypes(configPage(kTypes));
  const std::vector<uint8_t> before = statusPage(kTypes);
  std::vector<uint8_t> after = before;
  after[elementAt(kTypes, 0, 2) + 3] = 0x40;  // a device slot
  EXPECT_FALSE(sesStatusChanged(types, before, after));
  after = before;
  after[elementAt(kTypes, 3, 1) + 2] = 99;  // a temperature reading alone
  EXPECT_FALSE(sesStatusChanged(types, before, after));
  after[elementAt(kTypes, 3, 1) + 3] = 0x04;  // its over-temperature warning
  EXPECT_TRUE(sesStatusChanged(types, before, after));
  after = before;
  after[elementAt(kTypes, 2, 0)] = kSesStatusCritical;  // a fan
  EXPECT_TRUE(sesStatusChanged(types, before, after));
  EXPECT_TRUE(sesStatusChanged(types, before, std::vector<uint8_t>(before.begin(), before.begin() + 12)));

  const std::vector<uint8_t> strings = {0x04, 0, 0, 4, 1, 2, 3, 4};
  std::vector<uint8_t> other = strings;
  other[6] = 9;
  EXPECT_FALSE(sesStringPageChanged(strings, other));
  other[4] = 9;
  EXPECT_TRUE(sesStringPageChanged(strings, other));
  EXPECT_TRUE(sesStringPageChanged(strings, std::vector<uint8_t>(strings.begin(), strings.begin() + 4)));
}

SolutionReport judge(const std::vector<EnclosurePages>& enclosures) {
  PairSnapshot pair;
  pair.name = "Brivo20000004CF8A1B2C";
  pair.enclosureSupport = true;
  pair.enclosures = enclosures;
  return evaluateSolution(pair);
}

EnclosurePages healthyEnclosure(const std::vector<Type>& types = kTypes) {
  EnclosurePages pages;
  pages.slot = 3;
  pages.config = configPage(types);
  pages.status = statusPage(types);
  return pages;
}

TEST(EnclosureChecks, FansTemperaturesAndOtherElements) {
  std::vector<EnclosurePages> enclosures = {healthyEnclosure()};
  EXPECT_EQ(judge(enclosures).status, kStatusOk);

  enclosures[0].status[elementAt(kTypes, 2, 1)] = kSesStatusCritical;
  SolutionReport report = judge(enclosures);
  EXPECT_EQ(report.status, kStatusWarning) << "one of two fans";
  ASSERT_EQ(report.checks.size(), 1u);
  EXPECT_EQ(report.checks[0].kind, CheckKind::kEnclosureFans);
  EXPECT_EQ(report.checks[0].index, 3);
  EXPECT_EQ(report.checks[0].label, "500A0B8000112233");
  enclosures[0].status[elementAt(kTypes, 2, 0)] = kSesStatusCritical;
  EXPECT_EQ(judge(enclosures).status, kStatusError) << "no fan left";

  enclosures = {healthyEnclosure()};
  enclosures[0].status[elementAt(kTypes, 3, -1) + 3] = 0x01;  // under-temperature warning, overall
  EXPECT_EQ(judge(enclosures).status, kStatusWarning);
  enclosures[0].status[elementAt(kTypes, 3, 1) + 3] = 0x08;  // over-temperature failure
  EXPECT_EQ(judge(enclosures).status, kStatusError);

  enclosures = {healthyEnclosure()};
  enclosures[0].status[elementAt(kTypes, 1, 0)] = kSesStatusNonCritical;  // a power supply
  EXPECT_EQ(judge(enclosures).status, kStatusWarning);
  enclosures[0].status[elementAt(kTypes, 4, 0)] = kSesStatusUnrecoverable;  // the alarm
  EXPECT_EQ(judge(enclosures).status, kStatusError);

  enclosures = {healthyEnclosure()};
  enclosures[0].status[elementAt(kTypes, 0, 0)] = kSesStatusCritical;  // a slot: left to the drives
  EXPECT_EQ(judge(enclosures).status, kStatusOk);
}

TEST(EnclosureChecks, NoStatusPageWarnsAndMissingElementKindsHaveNoOpinion) {
  std::vector<EnclosurePages> enclosures = {healthyEnclosure()};
  enclosures[0].status.clear();
  SolutionReport report = judge(enclosures);
  EXPECT_EQ(report.status, kStatusWarning);
  EXPECT_EQ(report.checks[0].kind, CheckKind::kEnclosureNoStatus);

  // Without fans or temperature sensors an enclosure is neither in Error nor Unknown.
  const std::vector<Type> bare = {{kSesDeviceSlot, 2}, {0x02, 1}};
  EXPECT_EQ(judge({healthyEnclosure(bare)}).status, kStatusOk);

  PairSnapshot off;
  std::vector<EnclosurePages> failing = {healthyEnclosure()};
  failing[0].status.clear();
  off.enclosures = failing;
  EXPECT_EQ(evaluateSolution(off).status, kStatusOk) << "enclosure support off: not judged";
}

}  // namespace
}  // namespace brivo::monitor
