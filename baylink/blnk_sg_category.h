// Outcome categories of a SCSI command, as the Linux SCSI generic utilities define them, and the
// texts the debug file uses for them and for sense keys.
//
// Thread safety: pure functions.
#pragma once

#include "baylink/blnk_device.h"

enum BlnkCategory {
  kBlnkCatClean = 0,
  kBlnkCatMediaChanged = 1,
  kBlnkCatReset = 2,
  kBlnkCatTimeout = 3,  // time-out or not ready
  kBlnkCatRecovered = 4,
  kBlnkCatSense = 98,
  kBlnkCatOther = 99,
};

// Category of an issued request.
int blnkCategorize(const BlnkRawOutcome& outcome);
// Sense key of the sense data (fixed or descriptor format), 0 when there is none.
int blnkSenseKey(const uint8_t* sense, int length);
// Additional sense code and qualifier, 0 when absent.
int blnkSenseAsc(const uint8_t* sense, int length);
int blnkSenseAscq(const uint8_t* sense, int length);
const char* blnkCategoryName(int category);
const char* blnkSenseKeyText(int key);
