// Small text helpers shared by the dispatcher and the event log: cutting texts at a character
// boundary and forming the text of a raised event.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <cstdint>

// Size of the buffer in which a raised event's message is formed; longer texts are cut.
inline constexpr size_t kEventMessageBufferSize = 1500;

// Length of the longest prefix of text[0..length) that does not end inside a UTF-8 sequence, so
// that a text cut at length bytes is cut between characters. Bytes that are not valid UTF-8 are
// treated as single characters.
size_t completeUtf8Length(const char* text, size_t length);

// Writes the message of an event into buffer (capacity bytes, at least 1): "(Event ID: 0x%2X) %s"
// when eventId is nonzero, else the message unchanged; cut between characters when it does not
// fit. Returns the length written.
size_t formatEventMessage(char* buffer, size_t capacity, uint32_t eventId, const char* message);
