// Decoding of application/x-www-form-urlencoded texts (query strings and form bodies) into an
// ordered field list. The decoding is the one the front end has always applied (that of the
// cpp-httplib library it first used): "+" is a space, "%XX" a byte, "%uXXXX" a character in
// UTF-8; a "%" without its digits stays as it is.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <string_view>

#include "frontend/front_request.h"

// Appends the fields of text ("a=1&b=2&") in order; empty names are skipped, a name without "="
// gets an empty value. Returns false (fields appended so far stay) when more than maxFields
// fields would be in *fields.
bool appendUrlEncodedFields(std::string_view text, size_t maxFields, FieldList* fields);

// One name or value of such a text, decoded.
std::string formDecoded(std::string_view text);

// True when a name or value of fields holds a NUL byte.
bool anyFieldHoldsNul(const FieldList& fields);

// The value of the first field of that name, or null.
const std::string* fieldOf(const FieldList& fields, std::string_view name);

// text percent-encoded for a query value: letters, digits and "-._~" stay, everything else is
// "%XX".
std::string urlEncoded(std::string_view text);
