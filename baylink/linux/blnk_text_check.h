// Checks of caller text before it goes into a system file: only a plain dotted address or a
// plain host name passes, so no value can carry a line break, a quote or a shell character
// into /etc.
//
// Thread safety: pure functions.
#pragma once

#include <string>

inline constexpr const char kBlnkNoAddress[] = "x.x.x.x";
inline constexpr int kBlnkServerNameMax = 60;

// Four decimal numbers 0-255 of one to three digits, separated by dots.
bool blnkValidAddress(const char* text);
// A valid address, or "x.x.x.x" (none).
bool blnkValidAddressOrNone(const char* text);
// Non-empty, at most 60 characters, printable, no blank and none of .!@#$%^&*()|></?~`:'{}[],+"
bool blnkValidHostName(const char* text);
// The network of an address and netmask, dotted; "x.x.x.x" when either is not an address.
std::string blnkNetworkOf(const std::string& address, const std::string& netmask);
