// storelib inside the library: loading it with dlopen, calling its one entry, and the SCSI
// pass-through to a MegaRAID drive named "\\MR<device>-<controller>".
//
// The library file is "libstorelib.so.2", found the way the dynamic loader finds libraries;
// env BAYLINK_STORELIB names another path (the simulator's substitute in tests and demos).
//
// Thread safety: none; callers serialise.
#pragma once

#include <cstdint>
#include <string>

#include "baylink/storelib_abi.h"

inline constexpr const char kBlnkStorelibDefault[] = "libstorelib.so.2";
inline constexpr const char kBlnkMegaRaidPrefix[] = "\\\\MR";

// Calls ProcessLibCommand. *loaded is false (and the result kNotInitialized) when the library or
// its entry is missing; the reason goes to the debug file once per failing load.
uint32_t blnkStorelibCall(storelib::LibCommand* command, bool* loaded);
// Splits "\\MR<device>-<controller>". False for anything else.
bool blnkParseMegaRaidName(const std::string& name, uint32_t* device, uint32_t* controller);
// Sends one CDB through the pass-through; the storelib result (0 success). direction as for
// SCSI_ExecuteCommand; sense (may be null) receives 16 bytes.
int blnkMegaRaidExecute(const std::string& name, int direction, const uint8_t* cdb, int cdbLength,
                        uint8_t* buffer, int bufferLength, uint8_t* sense);
