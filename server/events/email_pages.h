// The e-mail settings pages, three server methods: GetEmailConfig (the page), SetEmailConfig
// (saves db/email.ini, then the page) and TestEmailConfig (queues a test mail for every recipient,
// then the page). Each takes the request table (borrowed) and returns a new reply table that the
// caller frees.
//
// Thread safety: run on request handler threads, any number at once; they take turns through
// serverSettings().emailInUse (2 while a page is built, 1 while a save runs), which they share
// with the sender (3). A save replaces serverSettings().email only while it holds the word.
#pragma once

#include "common/variable_table.h"

VariableTable GetEmailConfig(VariableTable request);
VariableTable SetEmailConfig(VariableTable request);
VariableTable TestEmailConfig(VariableTable request);
