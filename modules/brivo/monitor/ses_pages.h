// Reading the SES diagnostic pages that the monitor caches for each enclosure of a pair: the
// element types of the configuration page (page 1), the elements of the status page (page 2) in
// the same order, and the comparisons that decide whether an enclosure changed between two
// cycles.
//
// Layouts (SES): every page starts with its code and a 16-bit big-endian length of the bytes
// after the first four. Page 1 lists the enclosure descriptors from byte 8 (each: byte 2 = number
// of type descriptor headers, byte 3 = length after its first four bytes), then the type
// descriptor headers, 4 bytes each: element type, number of elements, subenclosure, text length.
// Page 2 holds from byte 8, for each type in that order, the overall element and then each
// element, 4 bytes each; byte 0 low 4 bits is the element status code.
//
// Thread safety: pure functions over the caller's bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace brivo::monitor {

// SES element types the monitor treats specially.
inline constexpr uint8_t kSesDeviceSlot = 0x01;
inline constexpr uint8_t kSesCooling = 0x03;
inline constexpr uint8_t kSesTemperature = 0x04;
inline constexpr uint8_t kSesNonvolatileCache = 0x09;
// Element status codes (element byte 0, low 4 bits).
inline constexpr uint8_t kSesStatusOk = 1;
inline constexpr uint8_t kSesStatusCritical = 2;
inline constexpr uint8_t kSesStatusNonCritical = 3;
inline constexpr uint8_t kSesStatusUnrecoverable = 4;

struct SesElementType {
  uint8_t type = 0;
  int count = 0;  // individual elements (the overall element comes on top)
};

struct SesElement {
  uint8_t type = 0;
  int index = -1;                  // -1 the overall element of its type, else 0..count-1
  const uint8_t* bytes = nullptr;  // 4 bytes inside the status page
};

// Bytes of a page by its own header (4 + length), limited to the bytes at hand; 0 when the page
// is shorter than its header.
size_t sesPageLength(std::span<const uint8_t> page);

// The element types of a configuration page in page order; empty when the page is malformed.
std::vector<SesElementType> sesElementTypes(std::span<const uint8_t> configPage);

// The elements of a status page for the types of its configuration page; false (and out empty)
// when the page is shorter than the types need.
bool sesStatusElements(const std::vector<SesElementType>& types, std::span<const uint8_t> statusPage,
                       std::vector<SesElement>* out);

// True when the enclosure's state changed between two status pages: any element that is not a
// device slot (type 1) or a non-volatile cache (type 9) differs in any of its four bytes, except
// temperature elements, whose warning and failure bits (byte 3, low 4 bits) alone count. Pages
// that cannot be walked, or walk to different element lists, count as changed.
bool sesStatusChanged(const std::vector<SesElementType>& types, std::span<const uint8_t> before,
                      std::span<const uint8_t> after);

// True when bytes 2, 4 or 5 of two string pages (page 4) differ (a missing byte differs from a
// present one).
bool sesStringPageChanged(std::span<const uint8_t> before, std::span<const uint8_t> after);

}  // namespace brivo::monitor
