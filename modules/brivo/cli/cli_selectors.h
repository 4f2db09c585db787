// What the controller-level commands of the interpreter (clock, config, controller, drive,
// enclosure, events, statistics) share: reading which controllers, drives and enclosures a
// command names from its modifiers (printing the fixed "Error: Parsing ..." and range messages
// when a value is wrong), controller states and clocks in words, the file a client sent with
// --sfile, and the files a command answers with (written under the server's temp/ folder and
// named in the reply by "ExportText" or "ExportBinary").
//
// Drives are named by their index in the pair's drive list (0 to count - 1), the number the
// displays show as "Drive %d"; enclosures by their enclosure number.
//
// Thread safety: as cli_context.h (one command at a time); the file helpers touch only the files
// named.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

// The controllers of a -ci value: absent or "all" names both (selector kSelectBoth, index -1);
// 0 is controller A (kSelectA), 1 controller B (kSelectB).
struct ControllerChoice {
  bool side[2] = {true, true};
  uint8_t selector = kSelectBoth;
  int index = -1;
};
// False after writing "Error: Parsing Controller index. Not a number.\n" or "Error: Illegal
// Controller Index.\n".
bool chooseControllers(CliContext& ctx, ControllerChoice* out);

// Whether controller c (0 A, 1 B) answers, by the state byte of the controller information.
bool controllerOnline(const ControllerInformation& info, int c);
// "Online", "Failed or not responding" (kOff) or "Unknown (0x%02X)".
std::string controllerStateText(uint8_t state);
// "Sunday" ... "Saturday"; "?" for a weekday above 6.
const char* weekdayText(uint8_t weekday);
// "2024-01-02 12:34:56 Tuesday"; "not set" for a time that is all zero.
std::string controllerClockText(const EventTime& clock);

// A clock value of `clock set -t`: exactly 14 digits yyyymmddHHMMSS naming a valid controller
// time (controller_time.h: a real date from 2001 to 2135). The weekday is worked out from the date.
enum class ClockValue { kOk, kNotANumber, kOutOfRange };
ClockValue parseClockValue(const char* text, EventTime* out);

// The drive-list indexes of a -di list (or the one value of a kind-2 -di). Each word must be a
// number ("Error: Parsing disk ID value. Not a number.\n") below the drive count ("Error: Disk
// index out of range.\n"). Duplicates are dropped; the order of the words is kept. False after
// writing the message. REQUIRES: ctx.hasPair().
bool chooseDrives(CliContext& ctx, std::vector<int>* out);
// The enclosure numbers of -ei, or every enclosure the controller reports when -ei is absent.
// "Error: Parsing enclosure index. Not a number.\n", "Error: Enclosure index out of range.\n".
bool chooseEnclosures(CliContext& ctx, std::vector<int>* out);
// The seconds of an identify -t value (1-255): "Error: Parsing ident time. Not a number.\n" or
// "Error: Parsing ident time. Out of range.\n".
bool identifySeconds(CliContext& ctx, int* seconds);

// The file the client sent (--sfile, its server-side path) read whole into *out, at most limit
// bytes; a longer file gives limit + 1 bytes so that the caller can tell. False after writing
// "Error: No file was sent. Use --sfile.\n" or "Error: Cannot read the sent file.\n".
bool readSentFile(CliContext& ctx, size_t limit, std::vector<uint8_t>* out);

// The sent file as a firmware image: at most 16 MiB, starting with a FirmwareImageHeader whose
// magic is kFirmwareMagic, whose length is the file's and whose part is known. False after writing
// the error (nothing is to be sent then).
bool readFirmwareImage(CliContext& ctx, std::vector<uint8_t>* image, FirmwareImageHeader* header);

// "label : a b c" with as many items per line as the width allows; later lines continue under the
// first item. "none" when items is empty.
void writeItemsField(CliContext& ctx, const char* label, const std::vector<std::string>& items);

// Writes bytes to temp/<name> under the working folder (through a temporary file renamed into
// place, so that a reader never sees half of it). False when the file could not be written (the
// old one, if any, is left as it was).
bool writeTempFile(const std::string& name, const void* bytes, size_t length);
// "../../temp/<name>": the file's path as the front end finds it.
std::string exportPath(const std::string& name);

}  // namespace brivo::cli
