// The SNMP trap sender's settings pages: GetSnmpConfig lists the trap receivers of db/snmp.ini,
// SetSnmpConfig saves the posted receivers (renumbered without gaps, under the edit counter
// "version"; the version 3 passphrases in db/snmp.secret, never shown on the page) and
// TestSnmpConfig sends a test trap to the receivers of the page, saved or not (receiver_pages.h).
// The in-memory table is serverSettings().snmp, shared with the sender under the word
// serverSettings().snmpInUse.
//
// Ownership: each method borrows the request and returns a new reply table that the caller frees.
//
// Thread safety: the methods run on request threads; the in-use word serializes them with each
// other and with the "snmp" channel thread.
#pragma once

#include "common/variable_table.h"

inline constexpr int kSnmpReceiverSlots = 5;
// Request rows that a save looks at.
inline constexpr int kSnmpRequestRows = 101;

VariableTable GetSnmpConfig(VariableTable request);
VariableTable SetSnmpConfig(VariableTable request);
VariableTable TestSnmpConfig(VariableTable request);
