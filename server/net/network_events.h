// The events of the server network: the network event of the protocol (device "serverNetwork",
// event ID 0x200 plus a code), its texts from db/strings.db, and the codes in use.
//
// Thread safety: any thread.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <string>

// Codes of the network events (event ID 0x200 + code).
inline constexpr uint32_t kNoMulticastCode = 1;        // warning: no multicast address
inline constexpr uint32_t kListenSocketCode = 2;       // warning: a listen socket failed
inline constexpr uint32_t kUnauthenticatedCode = 3;    // warning: no site key at start
inline constexpr uint32_t kPacketsRejectedCode = 4;    // warning: packets refused (once a minute)
inline constexpr uint32_t kNetworkKeyChangedCode = 5;  // information: the keys in use changed
inline constexpr uint32_t kNetworkKeyFileCode = 6;     // error: the key file can't be used

// Raises the network event: device text "serverNetwork" of the string table (or
// "Server( Network Communicator )"), the message (or "missingNetworkMessage"; a message that
// contains "missing" becomes "An unspecified error encountered"), event ID 0x200 + code.
void raiseNetworkEvent(const char* message, uint32_t level, uint32_t code);

// An event text from a string-table format: its first "%s" replaced by argument and "%%" by "%";
// every other conversion is kept as it stands, so that a format from the string table can never
// read arguments it wasn't given (fillUserEventText of user_events.h).
std::string fillNetworkEventFormat(const std::string& format, const std::string& argument);

// The db/strings.db text of key, or fallback when the table has none (its answer contains
// "missing").
std::string networkText(const char* key, const char* fallback);
// The text of key (or fallback) with its "%s" filled with arguments in order.
std::string networkMessage(const char* key, const char* fallback,
                           std::initializer_list<const char*> arguments);

// Test seam: where network events go (default: the notification dispatcher's raiseEvent). null
// restores the default. Set only while no network event is raised.
typedef int (*NetworkEventRaiser)(const char* device, const char* message, uint32_t concernLevel,
                                  uint32_t eventTime, uint32_t eventId, uint8_t syncFlag);
void setNetworkEventRaiser(NetworkEventRaiser raiser);
