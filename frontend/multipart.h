// Parser of multipart/form-data request bodies, in the standard form (RFC 7578: part lines
// "--" + boundary, closing line "--" + boundary + "--") and in the form qcli sends: its declared
// boundary B is itself the part line, and the file's bytes run straight into a closing line of B
// without its first character followed by "--" ("---------------QcLiPoStKv1234--").
//
// Parts point into the body; the body must outlive them.
//
// Thread safety: pure functions.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

struct FormPart {
  std::string name;
  bool isFile = false;   // the part carried a filename parameter
  std::string fileName;  // as the client sent it (may hold folders); empty for a field
  std::string contentType;
  std::string_view data;  // into the body
};

enum class MultipartResult {
  kOk,
  kNoBoundary,    // the content type names no usable boundary
  kMalformed,     // the body does not follow either form
  kTooManyParts,  // more than maxParts parts
};

// The boundary parameter of a multipart/form-data content type; empty when there is none or it
// is longer than 200 characters.
std::string multipartBoundary(std::string_view contentType);

// Splits body into its parts. On kOk *parts holds them in body order.
MultipartResult parseMultipart(std::string_view contentType, std::string_view body, size_t maxParts,
                               std::vector<FormPart>* parts);

// The last name of a client's file name ("C:\\dir\\a.bin" and "dir/a.bin" give "a.bin"), with
// control characters and quotes removed.
std::string baseFileName(std::string_view fileName);
