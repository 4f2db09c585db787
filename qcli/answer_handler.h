// What the client does with a received answer: prints the text the command interpreter marked
// for it, recognises the confirmation request, or stores a text or binary answer in the receive
// file. Also the invalid-format message with its hints.
//
// Thread safety: stateless.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "qcli/http_response.h"

namespace qcli {

inline constexpr const char kScriptMarker[] = "<!-- qcli script -->";
inline constexpr const char kConfirmationText[] = "Confirmation is required to complete this operation.";

// The text between the line after "<pre>" (searched from the marker) and "</pre>". False when
// the marker, "<pre>", the line feed after it or "</pre>" is missing.
bool extractScriptOutput(std::string_view body, std::string* output);

bool needsConfirmation(std::string_view output);

// True when the interpreter answered with an error: its error block and every handler's failure
// message put "Error:" at the start of a line, which no display does.
bool reportsError(std::string_view output);

// Writes the output without its carriage returns, control characters escaped (terminal_text.h).
void printScriptOutput(std::string_view output, FILE* out);

void printInvalidFormat(FILE* out);

// Stores a text (carriage returns dropped) or binary answer in rfile and prints the outcome.
// True when the whole answer reached the file.
bool storeReceiveFile(AnswerKind kind, std::string_view body, const std::string& rfile, FILE* out);

}  // namespace qcli
