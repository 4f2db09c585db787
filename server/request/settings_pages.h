// The server's settings and status pages: preferences (multicast port, fixed partner addresses,
// enabled modules), the rescan request and its progress page, the network bar with its refresh
// check, and the about page.
//
// Each page is a server method: takes the request (borrowed) and returns a new reply that the
// caller frees.
//
// Thread safety: any request thread. The preferences and IP settings tables are changed only by
// SetPrefsConfig, which holds the IP settings in-use word for the change and edits the live
// tables entry by entry under the VariableTable lock; the pages read them with
// getVariableCopyShared. Module records are updated with atomic stores.
#pragma once

#include "common/variable_table.h"

VariableTable GetPrefsConfig(VariableTable request);
VariableTable SetPrefsConfig(VariableTable request);
VariableTable RescanSystem(VariableTable request);
VariableTable GetRescanPage(VariableTable request);
VariableTable GetNetworkInfo(VariableTable request);
VariableTable PingPage(VariableTable request);
VariableTable GetAboutPage(VariableTable request);

// Checks of values typed into the preferences page. Leading and trailing blanks are not part of
// a valid value (the page trims them before checking).
// A port: decimal 1-65535 without sign or leading zero.
bool isValidPortText(const char* text);
// A partner: a dotted IPv4 address (see parseStrictDottedAddress) or a host name of letters, digits
// and hyphens in dot-separated labels of 1-63 characters, at most 253 in all, whose last label
// is not all digits.
bool isValidPartnerAddress(const char* text);
