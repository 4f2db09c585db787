// Fixed texts of the client: the short banner shown without arguments and the help page.
//
// Thread safety: stateless.
#pragma once

#include <cstdio>

namespace qcli {

void printShortBanner(FILE* out);
// The help page, ending with the exit codes (printExitCodes) after its fixed lines.
void printHelpPage(FILE* out);
void printExitCodes(FILE* out);

}  // namespace qcli
