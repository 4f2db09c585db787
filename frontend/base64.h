// Base64 decoding for HTTP Basic credentials. Browsers send the standard alphabet ("+", "/");
// qcli sends the URL-safe one ("-", "_"). Both are accepted, also mixed, with or without "="
// padding.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

// Decodes text into *out. False (and *out unspecified) for a character outside both alphabets,
// padding anywhere but at the end, or a length that no encoding produces.
bool decodeBase64Any(std::string_view text, std::string* out);
