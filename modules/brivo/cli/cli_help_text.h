// The two static usage texts of help: the basic help that "qcli help" shows and the text on
// operating the client that "qcli help -basic" shows.
//
// Thread safety: constant data.
#pragma once

#include <span>

namespace brivo::cli {

// Each entry is one output line ending in "\n".
std::span<const char* const> basicHelpLines();
std::span<const char* const> clientHelpLines();

}  // namespace brivo::cli
