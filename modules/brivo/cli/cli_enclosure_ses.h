// The element lines of `enclosure display`, from an enclosure's SES configuration page (page 1,
// the element types) and status page (page 2, the elements in that order): each power supply,
// fan (with its speed) and temperature sensor (in degrees Celsius) with its status in words, the
// audible alarm, and the drive slots counted by status.
//
// Thread safety: writes the caller's context only.
#pragma once

#include <cstdint>
#include <span>

#include "modules/brivo/cli/cli_context.h"

namespace brivo::cli {

// False (nothing written) when the pages cannot be walked.
bool writeEnclosureElements(CliContext& ctx, std::span<const uint8_t> configPage,
                            std::span<const uint8_t> statusPage);

// "OK", "Critical", "Noncritical", "Unrecoverable", "Not installed", "Unknown", "Not available",
// "Unsupported" for an element status code (element byte 0, low 4 bits).
const char* sesStatusText(uint8_t code);

}  // namespace brivo::cli
