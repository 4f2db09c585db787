// The tech-support archive as server methods: GatherInformation collects the customer's problem
// description, the event log, the debug output, the server settings, the replies of the server's
// main pages and the modules' own files into the folder "Information" and joins them into one
// archive file that the front end offers for download; TechSupportPing tells the progress page
// whether a run is going on.
//
// The pages are reached through serverComponents().findServerMethod, so a page whose method does
// not exist (yet) is left out of the archive.
//
// Thread safety: both methods run on request threads. One run at a time: a request that comes
// while a run is going on is answered with the "TechSupportRunning" failure.
#pragma once

#include "common/variable_table.h"

inline constexpr const char kInformationFolder[] = "Information";

// Server methods: take the request (borrowed), return a new reply that the caller frees.
VariableTable GatherInformation(VariableTable request);
VariableTable TechSupportPing(VariableTable request);

// Writes Information/Problem.Info from the request's customer fields (see techsupport.cc).
// Returns 0, or -1 when the file cannot be written.
int writeProblemInfo(VariableTable request, const char* timeText, const char* longDateText);
