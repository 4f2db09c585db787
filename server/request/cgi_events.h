// The events of the request side (IDs 0x301-0x307, severity 2), raised under the server's device
// name with their texts from db/strings.db. Internal to the CGI communicator files.
//
// Thread safety: may be called from any thread while the server runs.
#pragma once

#include <cstdint>
#include <string>

inline constexpr uint32_t kEventCgiMemNotFound = 0x301;
inline constexpr uint32_t kEventCgiRequestMemNotFound = 0x302;
inline constexpr uint32_t kEventCgiRequestParamNotFound = 0x303;
inline constexpr uint32_t kEventCgiReturnParamNotFound = 0x304;
inline constexpr uint32_t kEventCgiReturnNoMem = 0x305;
inline constexpr uint32_t kEventCgiTimeOutServer = 0x306;
inline constexpr uint32_t kEventCgiTimeOutScript = 0x307;
// A shared memory name was taken by another user; the request side went on under a private one.
inline constexpr uint32_t kEventCgiMemForeign = 0x308;

// Raises the event whose text is the value of key in db/strings.db (the key itself when the
// table has no text for it), followed by " (cause)" when a cause is given, so that whoever reads
// the event log learns why a shared memory area could not be made or opened.
void raiseCgiEvent(const char* key, uint32_t eventId, const std::string& cause = std::string());
