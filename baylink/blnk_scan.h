// Pieces of the device scan that the MegaRAID listing shares: INQUIRY text fields made safe for
// "^"-separated lines.
//
// Thread safety: pure.
#pragma once

#include <string>

// width bytes of INQUIRY data from offset, every blank, NUL or other non-alphanumeric character
// replaced by '_'.
std::string blnkInquiryField(const unsigned char* inquiry, int offset, int width);
