// Text helpers of the event path; see event_text.h.
#include "server/events/event_text.h"

#include <cstdio>
#include <cstring>

namespace {

// Number of bytes of the UTF-8 sequence that starts with lead, or 1 for anything that does not
// start a multi-byte sequence.
size_t sequenceLength(unsigned char lead) {
  if (lead >= 0xF0 && lead <= 0xF4) return 4;
  if (lead >= 0xE0 && lead <= 0xEF) return 3;
  if (lead >= 0xC2 && lead <= 0xDF) return 2;
  return 1;
}

}  // namespace

size_t completeUtf8Length(const char* text, size_t length) {
  size_t start = length;
  // Step back over at most three continuation bytes to the byte that may start the last sequence.
  for (int i = 0; i < 3 && start > 0; ++i) {
    const auto byte = static_cast<unsigned char>(text[start - 1]);
    if ((byte & 0xC0) != 0x80) break;
    --start;
  }
  if (start == 0) return length;
  const size_t lead = start - 1;
  const size_t needed = sequenceLength(static_cast<unsigned char>(text[lead]));
  if (needed > 1 && lead + needed > length) return lead;
  return length;
}

size_t formatEventMessage(char* buffer, size_t capacity, uint32_t eventId, const char* message) {
  if (capacity == 0) return 0;
  int wanted;
  if (eventId != 0) {
    wanted = std::snprintf(buffer, capacity, "(Event ID: 0x%2X) %s", eventId, message);
  } else {
    wanted = std::snprintf(buffer, capacity, "%s", message);
  }
  if (wanted < 0) {
    buffer[0] = '\0';
    return 0;
  }
  size_t length = static_cast<size_t>(wanted);
  if (length >= capacity) {
    length = completeUtf8Length(buffer, capacity - 1);
    buffer[length] = '\0';
  }
  return length;
}
