// Small text helpers of the simulator: words, numbers (decimal or 0x-hexadecimal), hexadecimal
// byte strings. Used by the configuration reader, the control commands and the models.
//
// Thread safety: pure functions.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace sim {

std::string_view trim(std::string_view text);
// Splits on blanks and tabs; empty words are dropped.
std::vector<std::string> splitWords(std::string_view text);
std::string lowerCase(std::string_view text);

// Whole text as an unsigned number: decimal, or hexadecimal with "0x". False on anything else.
bool parseUnsigned(std::string_view text, uint64_t* value);
// Whole text as a signed decimal number (leading '-' or '+').
bool parseSigned(std::string_view text, int64_t* value);
// Parses an unsigned number and checks it lies in [low, high].
bool parseInRange(std::string_view text, int64_t low, int64_t high, int* value);

std::string hexEncode(const std::vector<uint8_t>& bytes);
// Even number of hexadecimal digits; false on anything else.
bool hexDecode(std::string_view text, std::vector<uint8_t>* bytes);

}  // namespace sim
