// Reply building shared by the module's web pages: adding texts, flags and numbers (also as rows
// of "List%dField" lists), the template paths every page family uses, the pop-up reply that
// carries a command result, the status texts of StatusStrings.db, and the bookkeeping of the
// configuration-change bracket that the data-altering methods share.
//
// Values: flags are "true"/"false" (the templates test them with {{#Key}}); numbers are decimal.
// List rows follow the "ListNField" rule; the row count goes under the bare list name and is set
// by the caller once the rows are known (setCount).
//
// Thread safety: pure functions over the caller's table; statusText reads the string tables,
// which do not change while the module runs.
#pragma once

#include <cstdint>
#include <string>

#include "common/variable_table.h"
#include "modules/brivo/controller_command.h"
#include "modules/brivo/pair_access.h"

namespace brivo {

// Templates shared by every module page (paths relative to the front end's cgi-bin folder).
inline constexpr char kMessagePopupPanel[] = "../Common/MessagePopupPanel.htm";
inline constexpr char kCommonErrorPanel[] = "../Common/CommonErrorPanel.htm";
inline constexpr char kHtmlPathKey[] = "HTMLPath";
inline constexpr char kModDeviceNameKey[] = "ModDeviceName";

// Result of a page that refused a request value before sending anything ("CommandFail_FB").
inline constexpr int kResultBadValue = 251;

void addText(VariableTable* reply, const char* key, const std::string& value);
void addFlag(VariableTable* reply, const char* key, bool value);
void addNumber(VariableTable* reply, const char* key, long long value);

// "List" + row + "Field" (row from 0), e.g. rowKey("ArrayLoop", 2, "Name") = "ArrayLoop2Name".
std::string rowKey(const char* list, int row, const char* field);
void addRowText(VariableTable* reply, const char* list, int row, const char* field, const std::string& value);
void addRowFlag(VariableTable* reply, const char* list, int row, const char* field, bool value);
void addRowNumber(VariableTable* reply, const char* list, int row, const char* field, long long value);
// The list's row count under its bare name.
void setCount(VariableTable* reply, const char* list, int count);

// Text of a key of StatusStrings.db, or fallback when the file has none ("(missing)").
std::string statusText(const char* key, const char* fallback = "");
// statusText of a key made of prefix and a byte as two upper-case hexadecimal digits
// ("DriveStatus" and 1: "DriveStatus01").
std::string statusTextByte(const char* prefix, unsigned value, const char* fallback = "");

// The pop-up answer of a command: the four result keys of the method key, "HTMLPath" = the message
// panel and, when updateParent, "UpdateParent" = "true" on success (the page that opened the
// pop-up reloads). The reply carries "ModDeviceName" when the request had one. Caller frees.
VariableTable commandPopupReply(VariableTable request, const char* methodKey, int result,
                                const ControllerCommand& failed, bool updateParent = true);

// "Message" = text with the server's common error panel (a reply the module could not build as
// asked, for example when memory runs out). Caller frees.
VariableTable errorPanelReply(const char* text);
inline constexpr char kInsufficientMemory[] = "Insufficient memory.";

// Copies the request's "ModDeviceName" into the reply (when present).
void echoDeviceName(VariableTable* reply, VariableTable request);

// Prints every request key and value on the console ("%s = %s\n"), oldest first (the order in
// which the form sent them).
void printRequest(VariableTable request);

}  // namespace brivo
