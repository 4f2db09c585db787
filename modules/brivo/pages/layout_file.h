// The storage layout file of SlmGetData and SlmApply: a pair's arrays, logical drives and hot
// spares as text an administrator can keep, read and apply to a pair with the same drives. The
// drives are named by WWN, so the file fits any pair that holds those drives unused.
//
// Format: lines "key = value"; empty lines and lines starting with an apostrophe are comments.
//   LayoutVersion = 1
//   Pair = <ModDeviceName of the pair it was taken from; for information>
//   ArrayN = level=5 chunk=64 parity=0 unused=1 cache=1 flush=4 readahead=0 writeback=16
//            drives=WWN,WWN,...                          (one line; N from 0 without gaps)
//   ArrayNName = <up to 32 characters>
//   LogicalDriveN = segments=A:GB,A:GB lun=L|none ports=P block=B   (A: array line number; P the
//                   availability byte; B the block-size code)
//   LogicalDriveNName = <up to 32 characters>
//   SpareN = drive=WWN array=A|global
// Internal logical drives and snapshot areas are not part of a layout.
//
// Thread safety: pure functions.
#pragma once

#include <string>

#include "modules/brivo/pages/layout_plan.h"
#include "modules/brivo/protocol.h"

namespace brivo {

inline constexpr size_t kMaxLayoutFile = 256 * 1024;

// The layout of a configuration (host logical drives whose segments all lie on arrays).
LayoutPlan layoutOfConfiguration(const ConfigurationBlock& config);
// The file text of a plan.
std::string layoutText(const LayoutPlan& plan, const std::string& pairName);
// Parses a file; false with *error (the offending key or line) when anything is malformed, out
// of range or missing. A plan read back from layoutText equals the plan written.
bool parseLayout(const std::string& text, LayoutPlan* plan, std::string* error);

}  // namespace brivo
