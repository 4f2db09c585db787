// The "oslog" channel on Windows: hands each event to the Windows event log (ReportEventA) under
// the server's software name as the event source, when the server setting "UseOsEventLog" asks
// for it. The event identifier carries the severity bits, so the message file registered for
// the source (db\MessageFile.dll, which the installer registers) gives each identifier its text,
// "device: message"; without it the event viewer still shows the two insertion strings.
//
// Thread safety: runs on the "oslog" channel thread; the sink is guarded by a lock.
#include <windows.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/thread_annotations.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/server_state.h"

namespace {

constexpr char kDefaultSoftwareName[] = "Kestrova";
// Facility 2 of an event identifier (bits 16-27; it is not the customer bit, 0x20000000): the
// value a message file for these identifiers is written against.
constexpr DWORD kFacilityBits = 0x00020000;

Mutex gOsLogMutex;
OsLogSink* gSink GUARDED_BY(gOsLogMutex) = nullptr;

bool settingIsTrue(const char* key) {
  char* value = getVariableCopyShared(&serverSettings().server, key);
  const bool on = value && (std::strcmp(value, "true") == 0 || std::strcmp(value, "1") == 0);
  std::free(value);
  return on;
}

std::string softwareName() {
  char* value = getVariableCopyShared(&serverSettings().server, "softwareName");
  std::string name = value ? value : kDefaultSoftwareName;
  std::free(value);
  return name;
}

DWORD severityBits(int type) {
  switch (type) {
    case EVENTLOG_ERROR_TYPE:
      return 0xC0000000;
    case EVENTLOG_WARNING_TYPE:
      return 0x80000000;
    default:
      return 0x40000000;
  }
}

// 0, or 1 when the source can't be opened, the report fails or the source can't be closed.
int reportEvent(const std::string& source, int type, uint32_t eventId, const char* device,
                const char* message) {
  HANDLE log = RegisterEventSourceA(nullptr, source.c_str());
  if (log == nullptr) return 1;
  const char* strings[2] = {device, message};
  const DWORD identifier = osLogEventIdentifier(type, eventId);
  const BOOL reported =
      ReportEventA(log, static_cast<WORD>(type), 0, identifier, nullptr, 2, 0, strings, nullptr);
  const BOOL closed = DeregisterEventSource(log);
  return reported && closed ? 0 : 1;
}

}  // namespace

uint32_t osLogEventIdentifier(int type, uint32_t eventId) {
  return severityBits(type) | kFacilityBits | (eventId & 0xFFFF);
}

void setOsLogSink(OsLogSink* sink) {
  MutexLock lock(gOsLogMutex);
  gSink = sink;
}

// On Windows the "priority" is the event log's event type.
int osLogPriority(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
    case 4:
      return EVENTLOG_INFORMATION_TYPE;
    case 2:
      return EVENTLOG_ERROR_TYPE;
    default:
      return EVENTLOG_WARNING_TYPE;
  }
}

int writeOsEventLog(EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr ||
      !settingIsTrue("UseOsEventLog")) {
    freeEventRecord(record);
    return 0;
  }
  int result = 0;
  {
    MutexLock lock(gOsLogMutex);
    const std::string identity = softwareName();
    const int type = osLogPriority(record->concernLevel);
    if (gSink != nullptr) {
      gSink->write(identity, type, std::string(record->device) + ": " + record->message);
    } else {
      result = reportEvent(identity, type, record->eventId, record->device, record->message);
    }
  }
  freeEventRecord(record);
  return result;
}
