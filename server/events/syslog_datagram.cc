// The syslog datagram; see syslog_datagram.h.
#include "server/events/syslog_datagram.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "common/date_text.h"

namespace {

constexpr uint32_t kKestrovaIdBase = 0x00020000;

// Control characters of the composed text become spaces. The formats hold none of their own.
void blankControlCharacters(SyslogDatagram* datagram) {
  for (char& c : *datagram) {
    if (c == '\0') break;
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) c = ' ';
  }
}

}  // namespace

const char* syslogStatusText(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
    case 4:
      return "Info";
    case 2:
      return "Error";
    default:
      return "Warning";
  }
}

size_t syslogFilterPosition(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
    case 4:
      return 0;
    case 2:
      return 2;
    default:
      return 1;
  }
}

void composeSyslogEvent(const EventRecord& record, SyslogDatagram* datagram) {
  datagram->fill('\0');
  char* date = syslogTimeText(static_cast<time_t>(record.eventTime));
  std::snprintf(datagram->data(), datagram->size(),
                "<KestrovaID=%08x> Status: %s Date: %s Sync: %s Device: %s Message: %s",
                kKestrovaIdBase | (record.eventId & 0xFFFF), syslogStatusText(record.concernLevel),
                date != nullptr ? date : "", record.syncFlag != 0 ? "y" : "n", record.device, record.message);
  std::free(date);
  blankControlCharacters(datagram);
}

void composeSyslogTest(const char* device, const char* message, SyslogDatagram* datagram) {
  datagram->fill('\0');
  std::snprintf(datagram->data(), datagram->size(), "%s: %s", device != nullptr ? device : "",
                message != nullptr ? message : "");
  blankControlCharacters(datagram);
}
