// How the pages name a drive, a slot and an enclosure, so that they agree with the event log and
// with qcli, whose texts are fixed:
//
//   drive      the controller's drive ID (the log's "Drive ID 3 in slot 3") and the drive's
//              index in the pair's drive list (qcli's "Drive 3" and its -di value);
//   slot       the controller's slot number, from 0, as both the log and qcli give it;
//   enclosure  the log's name ("Enclosure 1 (WWN)": the controller's number plus 1) beside
//              qcli's number (its "Enclosure 0" and -ei value).
//
// Keys added for one drive, each "List%dField" of the caller's row: "DriveId", "DiskIndex",
// "Slot", "EnclosureNumber" (qcli's; empty outside an enclosure), "EnclosureLabel" ("Enclosure 1",
// "None" outside one). For one enclosure: "EnclosureNumber", "EnclosureLabel", "EnclosureName"
// (the log's source name with the WWN) and "EnclosureWwn".
//
// Thread safety: pure over the module's string tables, which do not change while it runs.
#pragma once

#include <string>

#include "common/variable_table.h"
#include "modules/brivo/protocol.h"

namespace brivo {

// "Enclosure 1" for the controller's enclosure number 0 (the log's number without the WWN).
std::string enclosureLabel(int number);
// The log's source name of the enclosure's events ("Enclosure 1 (500A0B8000112233)").
std::string enclosureLogName(int number, const uint8_t wwn[8]);

// "PairName" (the configuration name; empty when the pair does not answer) and "PairWwn" (its
// configuration WWN, from the name when the header cannot be read) of the pair `name`
// (ModDeviceName), so that every page names its pair as the monitor does. A pair that lost its
// connection is not asked; the read is not counted as a failure.
void addPairIdentity(VariableTable* reply, const char* name);

struct PairIdentity {
  std::string name;  // configuration name, empty when the pair does not answer
  std::string wwn;   // configuration WWN (16 hexadecimal digits)
};
PairIdentity pairIdentity(const char* modDeviceName);

// The drive's identity keys as fields of row `row` of `list`; index is its place in the list.
void addDriveIdentity(VariableTable* reply, const char* list, int row, int index, const DriveListEntry& e);
// The enclosure's identity keys under prefix ("" for plain keys, or "EnclosureLoop0").
void addEnclosureIdentity(VariableTable* reply, const std::string& prefix, int number, const uint8_t wwn[8]);

}  // namespace brivo
