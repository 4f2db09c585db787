// The syslog sender's settings pages: GetSyslogConfig lists the receivers of db/syslog.ini,
// SetSyslogConfig saves the posted receivers (renumbered without gaps, under the edit counter
// "version") and TestSyslogConfig sends a test datagram to every configured receiver at once. The
// in-memory table is serverSettings().syslog, guarded by serverSettings().syslogInUse.
//
// Ownership: each method borrows the request and returns a new reply table that the caller frees.
//
// Thread safety: the methods run on request threads; the in-use word serializes them with each
// other and with the "syslog" channel thread's copying of the receivers.
#pragma once

#include "common/variable_table.h"

inline constexpr int kSyslogReceiverSlots = 5;
// Request rows that a save looks at.
inline constexpr int kSyslogRequestRows = 101;

VariableTable GetSyslogConfig(VariableTable request);
VariableTable SetSyslogConfig(VariableTable request);
VariableTable TestSyslogConfig(VariableTable request);
