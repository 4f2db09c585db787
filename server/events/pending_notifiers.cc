// Handlers of the "email", "snmp" and "syslog" channels until their notifiers join: each takes
// its record and frees it, so the channels run and drain as they will with the notifiers.
//
// Thread safety: each runs on its own channel's thread.
#include "server/events/channel_handlers.h"

int sendEmailNotification(EventRecord* record) {
  freeEventRecord(record);
  return 0;
}

int sendSnmpNotification(EventRecord* record) {
  freeEventRecord(record);
  return 0;
}

int sendSyslogNotification(EventRecord* record) {
  freeEventRecord(record);
  return 0;
}
