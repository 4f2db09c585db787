// A printf-like formatter for format texts that come from data files (EventStrings.db and the
// server's string table). The files can be edited by anyone, so their texts are never handed to
// the C library as formats: each conversion is matched against a typed argument here, and a text
// that asks for more or other arguments than the caller has still yields a text (the mismatch is
// reported, never undefined behaviour).
//
// Supported: "%%" and "%[n$][flags][width][.precision][length]conv" with conv one of d i u x X o c
// s; flags "-+ #0"; width and precision up to 99; length modifiers (hh h l ll z j t) are accepted
// and ignored. Positional ("%2$s") and sequential conversions may be mixed; sequential ones take
// the arguments in order regardless of positional ones.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

namespace brivo::events {

struct FormatArg {
  bool isText = false;
  int64_t number = 0;
  std::string text;

  static FormatArg of(int64_t value) { return FormatArg{false, value, {}}; }
  static FormatArg of(std::string value) { return FormatArg{true, 0, std::move(value)}; }
};

// Appends the filled text to *out. Returns false when the format needed an argument that was not
// given, paired a number conversion with a text or the reverse (the value is still written in its
// natural form), or held an unsupported conversion (written as it stands). Unused arguments are
// not an error: a text may leave details out.
bool formatText(std::string_view format, std::span<const FormatArg> args, std::string* out);

// Convenience: the filled text alone; *ok (when given) receives formatText's result.
std::string formatted(std::string_view format, std::span<const FormatArg> args, bool* ok = nullptr);

}  // namespace brivo::events
