// The "oslog" channel: hands each event to the operating system's log (syslog(3)) under the
// server's software name, when the server setting "UseOsEventLog" asks for it.
//
// Thread safety: runs on the "oslog" channel thread; the openlog/syslog/closelog sequence is
// serialized because openlog keeps a pointer to the identity text.
#include <syslog.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "common/thread_annotations.h"
#include "common/variable_table.h"
#include "server/events/channel_handlers.h"
#include "server/events/notifier_stats.h"
#include "server/server_state.h"

namespace {

constexpr char kDefaultSoftwareName[] = "Kestrova";

Mutex gOsLogMutex;
std::string gIdentity GUARDED_BY(gOsLogMutex);  // openlog keeps a pointer to it
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

}  // namespace

void setOsLogSink(OsLogSink* sink) {
  MutexLock lock(gOsLogMutex);
  gSink = sink;
}

int osLogPriority(uint32_t concernLevel) {
  switch (concernLevel) {
    case 0:
    case 4:
      return LOG_INFO;
    case 2:
      return LOG_ERR;
    default:
      return LOG_WARNING;
  }
}

int writeOsEventLog(EventRecord* record) {
  if (record == nullptr || record->message == nullptr || record->device == nullptr ||
      !settingIsTrue("UseOsEventLog")) {
    freeEventRecord(record);
    return 0;
  }
  {
    MutexLock lock(gOsLogMutex);
    gIdentity = softwareName();
    const int priority = osLogPriority(record->concernLevel);
    if (gSink != nullptr) {
      gSink->write(gIdentity, priority, std::string(record->device) + ": " + record->message);
    } else {
      openlog(gIdentity.c_str(), LOG_PID, LOG_DAEMON);
      syslog(priority, "%s: %s", record->device, record->message);
      closelog();
    }
  }
  countNotifierSent("oslog");
  freeEventRecord(record);
  return 0;
}
