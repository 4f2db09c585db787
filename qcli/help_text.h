// Fixed texts of the client: the short banner shown without arguments and the help page.
//
// Thread safety: stateless.
#pragma once

#include <cstdio>

namespace qcli {

void printShortBanner(FILE* out);
void printHelpPage(FILE* out);

}  // namespace qcli
