// Drives behind MegaRAID controllers, found through storelib: their device-list lines and the
// table of system drives (disks outside any enclosure).
//
// Thread safety: none; callers serialise.
#pragma once

#include <string>
#include <vector>

// Appends "\\MR<device>-<controller> _ _ _ _ _ _ _ _ _ _ _" for every disk and enclosure behind
// the controllers. Nothing when storelib is missing or fails.
void blnkAppendMegaRaidDrives(std::vector<std::string>* lines);
