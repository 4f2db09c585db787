// The event log: the server's permanent record of events in db/ServerLog.log (quoted CSV, also
// the export format), written by the "kvlog" notification channel and shown, exported and
// cleared through three server methods.
//
// Every access to the file takes the log file's ticket lock (log_file_lock.h). The record
// counter is written only by the appending channel thread and by the counter reload and the
// clearing, each while holding the ticket; pages read it without the lock. Pages use a line
// index (event_log_index.h) so that a page costs about its own size; viewLogsFullScan keeps the
// plain top-to-bottom scan, which gives the same replies.
//
// Thread safety: appendEventRecord/writeEventRecord run on the "kvlog" channel thread (tests and
// tools may call them from any one thread at a time); the server methods run on request threads.
#pragma once

#include <cstdint>

#include "common/variable_table.h"
#include "server/events/event_record.h"

inline constexpr uint32_t kEventClearServerLog = 0x105;
inline constexpr int kDefaultLogPageSize = 50;
// Largest page that ViewLogs hands out, so that a reply stays a size the front end can take.
inline constexpr int kMaxLogPageSize = 5000;

// Body of the "kvlog" channel: appends the record as the next numbered line, behind a header
// line when the file is empty. Takes the record and frees it. Returns 0 when written or dropped
// because the server is not running, 1 when the file cannot be opened or written, 2 when the
// record lacks its message or device text.
int appendEventRecord(EventRecord* record);
// appendEventRecord without the running check: the channel uses it to write what was queued
// before the server stopped. Same codes, and it too frees the record.
int writeEventRecord(EventRecord* record);

// Sets the record counter from the last line of the file (0 when missing or without a record)
// and rebuilds the line index. Called at each start of the main loop.
void reloadLogCounter();
// Number of the last record written.
int32_t lastLogEntryNumber();
// Records written to the log since the program started, by concern level: 0 information,
// 1 warning, 2 error, 4 information that passes every filter; 3 and levels above 4 count
// together under 3.
// For the metrics page; safe on any thread.
uint64_t loggedRecordCount(uint32_t concernLevel);

// Server methods: each takes the request (borrowed) and returns a new reply the caller frees.
VariableTable ViewLogs(VariableTable request);
VariableTable ExportLogs(VariableTable request);
VariableTable ClearEventLogs(VariableTable request);

// ViewLogs computed by reading the file from its top, without the index. Same reply.
VariableTable viewLogsFullScan(VariableTable request);

// Internal to the event log: the counter is set only while holding the log file's ticket.
void setLastLogEntryNumber(int32_t number);
