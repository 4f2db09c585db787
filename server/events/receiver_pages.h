// The settings pages of the notifiers with up to five receivers (SNMP, syslog, webhooks) share
// their shape: Get lists the receivers of the in-memory table under its in-use word; Set checks the
// edit counter "version", builds the new table (and the receivers' secrets) from the posted rows,
// writes the secrets (mode 0600) and then the settings file, and replaces the in-memory table; Test
// sends to the receivers of the page as they stand, saved or not, and answers with them and with
// what each receiver did. Each notifier gives its own pieces in a ReceiverPages.
//
// Ownership: each function borrows the request and returns a new reply table that the caller frees.
//
// Thread safety: request threads; the notifier's in-use word serializes the pages with each other
// and with its sender.
#pragma once

#include <atomic>
#include <cstdint>
#include <vector>

#include "common/variable_table.h"
#include "server/events/event_record.h"
#include "server/events/notifier_test_report.h"
#include "server/server_state.h"

struct ReceiverPages {
  const char* channel;  // the channel whose failed tests are logged ("snmp", "syslog", "webhook")
  std::atomic<int> ServerSettings::*inUse;
  VariableTable ServerSettings::*table;
  const char* iniPath;
  const char* iniHeader;
  const char* secretPath;  // null: the notifier keeps no secrets
  const char* secretHeader;
  const char* templatePath;
  const char* pageTimeout;  // the page's message when the settings stay in use
  const char* saveTimeout;  // the server error printed when a save finds them in use
  const char* setCommand;   // "CmdSetSnmp"
  const char* testCommand;  // "CmdTestSnmp"
  // Adds the page's rows of settings (secrets: the stored secrets, to tell which are kept; may be
  // null), the counters "<X>Loop" and "Total<X>", "version" and the channel's own keys.
  void (*addRows)(VariableTable* reply, VariableTable settings, VariableTable secrets);
  // The settings (behind "version") and secrets the request asks for, given the current ones.
  // Returns the details key of what can't be stored, or null.
  const char* (*build)(VariableTable request, VariableTable current, VariableTable currentSecrets,
                       uint32_t version, TableOwner* settings, TableOwner* secrets);
  // The request's rows as they were typed, for showing them again when they can't be used.
  VariableTable (*formTable)(VariableTable request);
  // The test of record to every receiver of form (built by build, with its secrets).
  std::vector<ReceiverOutcome> (*test)(VariableTable form, VariableTable secrets, const EventRecord& record);
};

VariableTable receiverGetPage(const ReceiverPages& pages);
VariableTable receiverSetPage(const ReceiverPages& pages, VariableTable request);
VariableTable receiverTestPage(const ReceiverPages& pages, VariableTable request);
