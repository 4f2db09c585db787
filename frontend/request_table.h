// The request table handed to the server: the client's fields in order, the stored uploads and
// the identity of the request (RemoteAddress, RemoteUser, RemoteHost).
//
// Names the front end itself fills (the identity, "BrowserRequest", the report keys,
// "UploadedFile", "UploadedFileName" and the name of every uploaded file) are dropped from the
// client's fields: a client must not name a path on the server, pretend another address, or
// pass for something other than what it is.
//
// Thread safety: pure functions.
#pragma once

#include <string>
#include <vector>

#include "common/variable_table.h"
#include "frontend/front_request.h"

struct StoredUpload {
  std::string field;     // the form field's name ("UploadedFile" for qcli)
  std::string path;      // absolute path of the stored copy
  std::string fileName;  // the client's file name without folders
};

struct RequestIdentity {
  std::string remoteAddress;
  std::string remoteUser;
  std::string remoteHost;  // left out of the table when empty
  // The HTTP method of a request that a browser sent ("BrowserRequest" for the server's forgery
  // guard); empty for others (qcli, scripts): then no such key is added.
  std::string browserMethod;
};

// A new table (caller owns it through the TableOwner).
// REQUIRES: no name or value holds a NUL byte (anyFieldHoldsNul).
TableOwner buildRequestTable(const FieldList& fields, const std::vector<StoredUpload>& uploads,
                             const RequestIdentity& identity);

// A table of the front end's own report to the server (fields taken as they are, reserved names
// included) with the identity's address.
TableOwner buildReportTable(const FieldList& fields, const RequestIdentity& identity);

// The address as the server expects it: an IPv4-mapped IPv6 address ("::ffff:10.0.0.1") as
// IPv4; others unchanged.
std::string plainAddress(const std::string& address);
