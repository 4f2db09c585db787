// The values of `config set`: each modifier turned into the controller operation that changes
// that setting (WRITE BUFFER mode 1 of protocol.h), all read and checked before anything is
// sent, so that one bad value changes nothing. The host-port modifiers (-hpid, -hprate, -hpconn,
// -hppack) change parts of a port's setting; the parts not given keep the values of the current
// configuration, and each port changed becomes one 0x98 operation. Packing (-hppack) exists only
// on controllers that report it (kFeatureHostPortPacking); elsewhere it is refused.
//
// Thread safety: pure functions over the caller's context.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

struct SettingOperation {
  uint8_t bufferId = 0;
  uint8_t p3 = 0, p4 = 0, p5 = 0;
  std::vector<uint8_t> block;  // after the command signature; empty for none
  std::string what;            // "Auto Spare", for the success lines
};

// The operations of the modifiers given, in the order of the command's modifier list. False after
// writing an "Error: Parsing ..." message. REQUIRES: ctx.config (the current settings).
bool settingOperations(CliContext& ctx, std::vector<SettingOperation>* out);

// On/off words of the setting modifiers: on, off, enable(d), disable(d), true, false, yes, no, 1,
// 0 in any letter case. False for anything else.
bool parseOnOff(const char* text, bool* on);

}  // namespace brivo::cli
