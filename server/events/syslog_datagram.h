// The syslog sender's datagram: always 1024 bytes, the text followed by NUL bytes. An event reads
// "<KestrovaID=%08x> Status: %s Date: %s Sync: %s Device: %s Message: %s"; a test message
// "<device>: <message>". The text is cut at 1023 bytes, and control characters of the device and
// message texts (line breaks above all) become spaces, so that one event is one line at the
// receiver and can't forge another.
//
// Thread safety: pure functions (local time via localtime_r); any thread.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "server/events/event_record.h"

inline constexpr size_t kSyslogDatagramSize = 1024;
using SyslogDatagram = std::array<char, kSyslogDatagramSize>;

// "Info" for levels 0 and 4, "Error" for 2, "Warning" for every other level.
const char* syslogStatusText(uint32_t concernLevel);
// Position of the level in a receiver's filter: 0 for levels 0 and 4, 2 for 2, 1 for the others.
size_t syslogFilterPosition(uint32_t concernLevel);

// The event form of record into *datagram (zeroed first).
// REQUIRES: record.device and record.message are non-null.
void composeSyslogEvent(const EventRecord& record, SyslogDatagram* datagram);
// The test form into *datagram (zeroed first).
void composeSyslogTest(const char* device, const char* message, SyslogDatagram* datagram);
