// storelib inside the library: loading it (dlopen, or LoadLibrary on Windows), calling its one
// entry, and the SCSI pass-through to a MegaRAID drive named "\\MR<device>-<controller>".
//
// The library file is "libstorelib.so.2" ("storelib.dll" on Windows), found the way the system's
// loader finds libraries; env BAYLINK_STORELIB names another path (the simulator's substitute in
// tests and demos).
//
// Thread safety: none; callers serialise.
#pragma once

#include <cstdint>
#include <string>

#include "baylink/storelib_abi.h"

#ifdef _WIN32
inline constexpr const char kBlnkStorelibDefault[] = "storelib.dll";
#else
inline constexpr const char kBlnkStorelibDefault[] = "libstorelib.so.2";
#endif
inline constexpr const char kBlnkMegaRaidPrefix[] = "\\\\MR";

// Calls ProcessLibCommand. *loaded is false (and the result kNotInitialized) when the library or
// its entry is missing; the reason goes to the debug file once per failing load.
uint32_t blnkStorelibCall(storelib::LibCommand* command, bool* loaded);
// The platform's loader (blnk_storelib_loader_posix.cc, blnk_storelib_loader_win.cc): loads path
// and finds its command entry; null, with the reason in *why, when either fails (a library
// without the entry is unloaded again). A loaded library stays loaded: storelib keeps state.
storelib::ProcessLibCommandFn blnkLoadStorelibEntry(const std::string& path, std::string* why);
// Splits "\\MR<device>-<controller>". False for anything else.
bool blnkParseMegaRaidName(const std::string& name, uint32_t* device, uint32_t* controller);
// Sends one CDB through the pass-through; the storelib result (0 success). direction as for
// SCSI_ExecuteCommand; sense (may be null) receives 16 bytes.
int blnkMegaRaidExecute(const std::string& name, int direction, const uint8_t* cdb, int cdbLength,
                        uint8_t* buffer, int bufferLength, uint8_t* sense);
