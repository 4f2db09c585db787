// Notification dispatcher: turns raised events into EventRecords and copies each into the queue
// of every started channel ("kvlog", "oslog", "email", "snmp", "syslog"); each channel has one
// consumer thread, so a slow channel never delays the others.
//
// Thread safety: raiseEvent and dispatchEvent may be called from any thread. Start and stop run
// only in the main loop's start-up and shutdown.
#pragma once

#include <cstdint>

#include "server/events/event_record.h"

// Returns 0 on success, 1 when memory ran out or a queue refused the record, 2 when device or
// message is missing. eventTime 0 means now.
int raiseEvent(const char* device, const char* message, uint32_t concernLevel, uint32_t eventTime,
               uint32_t eventId, uint8_t syncFlag);
// Same codes; the record stays the caller's.
int dispatchEvent(const EventRecord* record);

// Starts every channel; returns false when any failed to start (each printed).
bool startNotificationChannels();
// Frees the queues of the started channels (after the running word was cleared and the threads
// had time to end).
void stopNotificationChannels();
