// The events of the users and password component: login (0x108), logout (0x109), password
// changed (0x106) and password change failed (0x107). Their texts are format strings of
// db/strings.db filled with the user's values; absent values show as "??".
//
// The format comes from a data file, so it is never handed to printf: only "%s" (filled in order)
// and "%%" are interpreted, anything else stays as written, and a format with more "%s" than
// values keeps the extra ones as they are.
//
// Thread safety: any thread. The raiser seam is set only by tests while no event is raised.
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>
#include <string_view>

inline constexpr uint32_t kEventPasswordUpdated = 0x106;
inline constexpr uint32_t kEventPasswordUpdateFailed = 0x107;
inline constexpr uint32_t kEventUserLogIn = 0x108;
inline constexpr uint32_t kEventUserLogOut = 0x109;

// Size of the buffer in which an event text is formed; longer texts are cut between characters.
inline constexpr size_t kUserEventTextSize = 1024;

// format with its "%s" replaced by values in order (a null value as "??"), cut to fit
// kUserEventTextSize with its terminator.
std::string fillUserEventText(std::string_view format, std::initializer_list<const char*> values);

// Looks up key in db/strings.db (the key itself when the table has no text), fills it and raises
// the event under the server's device name. Returns the raiser's code (0 on success).
int raiseUserEvent(const char* key, uint32_t eventId, uint32_t level,
                   std::initializer_list<const char*> values);

// Test seam: where raised events go (default: the notification dispatcher's raiseEvent).
typedef int (*UserEventRaiser)(const char* device, const char* message, uint32_t concernLevel,
                               uint32_t eventTime, uint32_t eventId, uint8_t syncFlag);
// null restores the default.
void setUserEventRaiser(UserEventRaiser raiser);
