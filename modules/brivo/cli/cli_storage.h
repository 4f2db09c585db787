// What the storage handlers of the interpreter (array, logical, mapping and jobs) share: finding
// arrays, logical drives and drives from the words a user typed (writing the fixed error lines
// when a word names nothing), the common value parsers (names, blink times, host ports), blinking
// drives, the running jobs of a pair, and configuration changes that print their failure.
//
// Every finder and parser returns false after it has written its "Error: ..." line, so a handler
// only returns 1 when one fails.
//
// Thread safety: as cli_context.h (one command at a time, the caller's context only).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

// False (with the same line the selection step writes) when the command has no pair and buffers.
bool requirePair(CliContext& ctx);

int countArrays(const ConfigurationBlock& config);
int countLogicalDrives(const ConfigurationBlock& config);

// The array a -ai word names: its index, or the name of an existing array. Errors: "Error: No
// arrays exist.", "Error: Array index out of range." (a number naming no array) and "Error:
// Parsing array index." (neither a number nor a name).
bool findArray(CliContext& ctx, const char* word, int* array);
// The logical drive a -li word names (an index). Errors: "Error: No Logical Drives exist.",
// "Error: Parsing Logical index. Not a number.", "... Out of range." (not below 512) and "Error:
// Logical Drive index out of range." (no such drive).
bool findLogicalDrive(CliContext& ctx, const char* word, int* drive);
// Every word of a list modifier as logical drives; "all" gives every existing one.
bool findLogicalDrives(CliContext& ctx, const std::vector<std::string>& words, std::vector<int>* drives);

// Numbers joined by blanks ("0 1 2"), or "none".
std::string idListText(const std::vector<int>& ids);
// One word as a list; a missing word (null) as "" so that the parsers report it.
std::vector<std::string> wordsOf(const char* word);

// Disks are named by their index in the pair's drive list (0 to count - 1), the number drive
// display shows; the controller's own drive ID (driveId) is what 0xC2 takes.
// The entry at index, or null when index is not below the count.
const DriveListEntry* driveAt(const DriveList& drives, long index);
// The index of an entry of drives.
int driveIndex(const DriveList& drives, const DriveListEntry* drive);
// The disks of -di words. Errors: "Error: Parsing disk ID value. Not a number.", "Error: Disk
// index out of range." (no such disk). With needFree each must also be free and good and named
// once: "Error: Disk not available for use. Disk %d.".
bool findDrives(CliContext& ctx, const std::vector<std::string>& words, bool needFree,
                std::vector<const DriveListEntry*>* drives);

// A name modifier's value, at most maxLength characters: "Error: Parsing <what> Name. Too long.".
bool parseName(CliContext& ctx, const char* what, const char* word, size_t maxLength, std::string* name);
// The -t seconds of an identify command, 1-255: "Error: Parsing ident time. Not a number." or
// "... Out of range.".
bool parseBlinkSeconds(CliContext& ctx, const char* word, int* seconds);
// -p words ("all", "none", "c0p0", "c0p1", "c1p0", "c1p1", any case) as availability bits 0-3:
// "Error: Parsing port value. Unknown port <word>.".
bool parsePorts(CliContext& ctx, const std::vector<std::string>& words, uint8_t* ports);

// Blinks one drive (0xC2 on the first drive loop that sees it). Returns the result code.
int blinkDrive(const PairTarget& pair, const DriveListEntry& drive, int seconds, ControllerCommand* record);
// Blinks the members of an array that the drive list knows; the disk indexes blinked go to *blinked
// (a disk already there is not blinked again).
int blinkArrayMembers(CliContext& ctx, int array, int seconds, ControllerCommand* record,
                      std::vector<int>* blinked);

// One running job as users see it.
struct JobView {
  uint8_t kind = kJobNone;
  int array = 0;
  int percent = 0;
  bool paused = false;
  int id() const;
};
// The pair's running jobs, by array: from the job buffer (0x57) when the controller offers it,
// else from the progress records of the controller information and the array records.
std::vector<JobView> runningJobs(CliContext& ctx);
// The running job of one array, or null.
const JobView* jobOfArray(const std::vector<JobView>& jobs, int array);

// A configuration change (start, body, save) whose failure is printed as "Error: Cannot
// <operation>. Status: ..." with the failing command. True when it was saved.
template <typename Body>
bool changeConfiguration(CliContext& ctx, const std::string& operation, Body body) {
  ControllerCommand failed{};
  const int result = inConfigChange(ctx.pair, &failed, [&] { return body(&failed); });
  if (result == kResultGood) return true;
  writeCommandFailure(ctx, operation, result, failed);
  return false;
}

// One operation outside the bracket, its failure printed as above. True on success.
bool runOperation(CliContext& ctx, const std::string& operation, uint8_t bufferId, uint8_t p3, uint8_t p4,
                  uint8_t p5, const void* block = nullptr, uint32_t blockLength = 0);

}  // namespace brivo::cli
