// Sends the client's command to the web server and deals with the answer: the GET or multipart
// POST exchange over one connection per send, the transport messages with their hints, and the
// confirmation dialogue that resends a data-altering command with "-q".
//
// Thread safety: a request belongs to one thread.
#pragma once

#include <cstdio>
#include <string>

#include "qcli/request_builder.h"
#include "qcli/tcp_connection.h"

namespace qcli {

struct RequestContext {
  RequestSettings settings;
  RequestArguments args;
  bool showRequest = false;
  FILE* out = stdout;  // every message and the output
  FILE* in = stdin;    // the confirmation answer
  Connector connect = connectTcp;
};

enum class RequestOutcome {
  kHandled,   // sent (or failed in transport): the program ends with 0
  kNoObject,  // GET without an object first: the program takes the error path
};

// Runs the whole request: GET when settings.sfile is empty, POST otherwise.
RequestOutcome runRequest(RequestContext& context);

}  // namespace qcli
