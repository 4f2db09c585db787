// SES page walking and comparison; see ses_pages.h.
#include "modules/brivo/monitor/ses_pages.h"

#include <cstring>

namespace brivo::monitor {

namespace {

constexpr size_t kPageHeader = 4;
constexpr size_t kFirstDescriptor = 8;
constexpr size_t kElementSize = 4;
constexpr uint8_t kTemperatureBits = 0x0F;

bool counts(const SesElement& element) {
  return element.type != kSesDeviceSlot && element.type != kSesNonvolatileCache;
}

bool elementDiffers(const SesElement& a, const SesElement& b) {
  if (a.type == kSesTemperature) {
    return (a.bytes[3] & kTemperatureBits) != (b.bytes[3] & kTemperatureBits);
  }
  return std::memcmp(a.bytes, b.bytes, kElementSize) != 0;
}

}  // namespace

size_t sesPageLength(std::span<const uint8_t> page) {
  if (page.size() < kPageHeader) return 0;
  const size_t length = kPageHeader + (static_cast<size_t>(page[2]) << 8 | page[3]);
  return length < page.size() ? length : page.size();
}

std::vector<SesElementType> sesElementTypes(std::span<const uint8_t> configPage) {
  std::vector<SesElementType> types;
  const size_t end = sesPageLength(configPage);
  if (end < kFirstDescriptor) return types;
  const int enclosures = configPage[1] + 1;  // primary plus secondary subenclosures
  size_t at = kFirstDescriptor;
  int typeCount = 0;
  for (int e = 0; e < enclosures; ++e) {
    if (at + 4 > end) return {};
    typeCount += configPage[at + 2];
    at += 4 + configPage[at + 3];
  }
  for (int t = 0; t < typeCount; ++t, at += 4) {
    if (at + 4 > end) return {};
    types.push_back({configPage[at], configPage[at + 1]});
  }
  return types;
}

bool sesStatusElements(const std::vector<SesElementType>& types, std::span<const uint8_t> statusPage,
                       std::vector<SesElement>* out) {
  out->clear();
  const size_t end = sesPageLength(statusPage);
  size_t at = kFirstDescriptor;
  for (const SesElementType& type : types) {
    for (int index = -1; index < type.count; ++index, at += kElementSize) {
      if (at + kElementSize > end) {
        out->clear();
        return false;
      }
      out->push_back({type.type, index, statusPage.data() + at});
    }
  }
  return true;
}

bool sesStatusChanged(const std::vector<SesElementType>& types, std::span<const uint8_t> before,
                      std::span<const uint8_t> after) {
  std::vector<SesElement> old;
  std::vector<SesElement> now;
  if (!sesStatusElements(types, before, &old) || !sesStatusElements(types, after, &now)) return true;
  if (old.size() != now.size()) return true;
  for (size_t i = 0; i < now.size(); ++i) {
    if (counts(now[i]) && elementDiffers(old[i], now[i])) return true;
  }
  return false;
}

bool sesStringPageChanged(std::span<const uint8_t> before, std::span<const uint8_t> after) {
  for (size_t at : {size_t{2}, size_t{4}, size_t{5}}) {
    const bool inBefore = at < before.size();
    const bool inAfter = at < after.size();
    if (inBefore != inAfter || (inBefore && before[at] != after[at])) return true;
  }
  return false;
}

}  // namespace brivo::monitor
