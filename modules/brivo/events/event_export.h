// The two web methods of the controller event logs: GetAllControllerLogs (records what is new,
// then writes a pair's whole event logs as the CSV file "ControllerEvents.log.csv" in the temp
// folder and the archive folder, for the front end to hand out) and ClearControllerLogs (WRITE
// BUFFER 0xC1). The module's method table calls them after finding the pair of the request's
// "ModDeviceName"; the reply passes to the caller.
//
// Thread safety: one export runs at a time (a second caller waits); recording takes the
// bookkeeping lock of event_reader.h. ClearControllerLogs runs under the module's admission gate
// as a writer.
#pragma once

#include <cstdint>
#include <string>

#include "common/variable_table.h"
#include "modules/brivo/events/event_host.h"

namespace brivo::events {

inline constexpr char kExportFileName[] = "ControllerEvents.log.csv";
inline constexpr char kPopupPage[] = "../Common/MessagePopupPanel.htm";

struct ExportFolders {
  std::string temp = "temp";
  std::string archive = "Information";
};

// pair: the pair the request names, or null when there is none (the reply then reports result
// 254). Returns the reply; caller frees. Replies "ExportText" = "../../temp/ControllerEvents.log.csv"
// on success, the command result for "GetAllControllerLogs" and the popup page otherwise.
VariableTable getAllControllerLogs(EventModule& module, EventPair* pair, VariableTable request,
                                   const ExportFolders& folders = {});

// Sends 0xC1 with the selector of "ControllerId"; an absent or invalid selector sends nothing and
// reports result 254. Returns the reply with the command result for "ClearControllerLogs";
// caller frees.
VariableTable clearControllerLogs(EventModule& module, EventPair* pair, VariableTable request);

// "Both" in any letter case gives 3, a decimal 1-3 itself; anything else (or null) 0.
uint8_t controllerSelector(const char* text);
// Sides chosen by "qcliControllers": the low two bits of its first character (bit 0 A, bit 1 B);
// both when absent, empty or selecting neither.
int selectedSides(const char* text);

}  // namespace brivo::events
