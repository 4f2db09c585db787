// Hex-dump line layout shared by the three dump variants (blnk_util.cc).
//
// Thread safety: pure.
#pragma once

#include <string>

// Line `line` (from 0) of a dump of data: "%04x: ", 16 entries "%02X " (three blanks past the
// end), three blanks, the line's bytes as characters ('.' for unprintable ones), no line end.
std::string blnkHexDumpLine(const unsigned char* data, int length, int line);
// Lines of a dump: length / 16 rounded up, and one line for length 0.
int blnkHexDumpLines(int length);
