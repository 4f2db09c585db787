// Enclosure firmware upgrade timing. The waits are those of real enclosures (20 seconds before
// watching a fail-over, polls once a second, 250 ms between chunks); tests shorten them.
//
// Thread safety: set only while no upgrade runs.
#pragma once

struct BlnkUpgradeTiming {
  int settleMs = 20000;    // wait before watching a fail-over or fail-back
  int pollMs = 1000;       // between status polls
  int maxPolls = 100;      // polls before giving up watching (not an error)
  int chunkDelayMs = 250;  // after each chunk
};

// Replaces the timing (tests only); BlnkUpgradeTiming{} restores the defaults.
void blnkSetUpgradeTimingForTesting(const BlnkUpgradeTiming& timing);
