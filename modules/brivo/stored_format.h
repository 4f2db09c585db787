// Filling format texts that come from the module's data files (CommandStrings.db, EventStrings.db,
// BrivoSettings.ini, ...). Those texts can be edited by anyone with access to the files, so they
// are never handed to printf as a format: this formatter understands the printf conversions the
// texts use (%d %i %u %x %X %c %s %%, with flags, width and precision), takes its arguments from
// a typed list, gives an empty text for a conversion without an argument, converts a number for
// %s and a text for a number conversion (as 0), and copies anything else literally.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

namespace brivo {

struct FormatArg {
  FormatArg(const char* value) : isText(true), text(value != nullptr ? value : "") {}  // NOLINT
  FormatArg(const std::string& value) : isText(true), text(value.c_str()) {}           // NOLINT
  FormatArg(long long value) : number(value) {}                                        // NOLINT
  FormatArg(int value) : number(value) {}                                              // NOLINT
  FormatArg(unsigned value) : number(value) {}                                         // NOLINT
  FormatArg(unsigned long value) : number(static_cast<long long>(value)) {}            // NOLINT

  bool isText = false;
  const char* text = "";
  long long number = 0;
};

std::string formatStoredText(std::string_view format, std::initializer_list<FormatArg> args);

}  // namespace brivo
