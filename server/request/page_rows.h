// Rows that other parts of the server contribute to the server's own pages: the logged-in users
// of the network bar, the user list of the diagnostic page and the list of the other servers.
// The owner of the data (user bookkeeping, network communicator) installs a writer when it
// starts and removes it when it stops; the pages call addPageRows at their fixed place.
//
// Thread safety: any thread. A writer runs on request threads and takes its own data's lock;
// it must stay callable for the life of the process (a plain function).
#pragma once

#include "common/variable_table.h"

enum class PageRows {
  kLoggedInUsers,  // "UsersLoggedInLoop..." rows of the network bar
  kUserList,       // "UserLoop..." rows, "ServerName", "ServerIpLoop..." of the diagnostic page
  kServerList,     // "ServerLoop..." rows of the other servers
};
inline constexpr int kPageRowsKinds = 3;

// Adds its rows (and their count) to *reply.
typedef void (*PageRowsWriter)(VariableTable* reply);

// Installs writer for rows; null removes it.
void setPageRowsWriter(PageRows rows, PageRowsWriter writer);
// Runs the installed writer; without one, adds the list's row count "0" so that the templates
// show an empty list.
void addPageRows(PageRows rows, VariableTable* reply);
