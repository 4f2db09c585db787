// The record handlers of the notification channels, one per channel. Each takes one record and
// frees it.
//
// Thread safety: each handler runs on its own channel's thread only.
#pragma once

#include <cstdint>
#include <string>

#include "server/events/event_record.h"

// "oslog": the operating-system log (syslog) when the server setting "UseOsEventLog" is true.
// Returns 0, or 1 when the log refused the record.
int writeOsEventLog(EventRecord* record);

// Priority that the operating-system log gives a concern level: LOG_INFO for 0 and 4, LOG_ERR for
// 2, LOG_WARNING for every other level.
int osLogPriority(uint32_t concernLevel);

// Where the "oslog" channel's lines go: syslog(3) (and so the journal) unless a test puts a
// recorder in its place. write gets the identity (the software name), the priority and the text
// "<device>: <message>".
class OsLogSink {
 public:
  virtual ~OsLogSink() = default;
  virtual void write(const std::string& identity, int priority, const std::string& text) = 0;
};
// Borrowed until replaced; null restores syslog(3). Not to be changed while the channel runs.
void setOsLogSink(OsLogSink* sink);

#ifdef _WIN32
// The event log's identifier of an event of this type (osLogPriority's event type) and event ID:
// severity bits | facility 2 | the ID's low 16 bits. db\MessageFile.dll has a text for every one.
uint32_t osLogEventIdentifier(int type, uint32_t eventId);
#endif

// "email", "snmp" and "syslog": the notifiers.
int sendEmailNotification(EventRecord* record);
// For records still queued when the "email" thread ends: frees the record unsent and ends the
// sender's burst, so that no connection outlives the channel.
int dropEmailNotification(EventRecord* record);
int sendSnmpNotification(EventRecord* record);
int sendSyslogNotification(EventRecord* record);
