// Sends the client's command to the web server and deals with the answer: the GET or multipart
// POST exchange over one connection per send, the transport messages with their hints, and the
// confirmation dialogue that resends a data-altering command with "-q".
//
// Thread safety: a request belongs to one thread.
#pragma once

#include <cstdio>
#include <string>

#include "qcli/client_state.h"
#include "qcli/request_builder.h"
#include "qcli/tcp_connection.h"

namespace qcli {

struct RequestContext {
  RequestSettings settings;
  RequestArguments args;
  bool showRequest = false;
  int timeoutSeconds = kDefaultTimeoutSeconds;  // per exchange; a resend gets a new one
  FILE* out = stdout;                           // every message and the output
  FILE* in = stdin;                             // the confirmation answer
  Connector connect = connectTcp;
};

// How a request ended; runClient turns it into the exit code (client.h).
enum class RequestOutcome {
  kAnswered,          // the answer was printed or stored, or the user declined the confirmation
  kServerError,       // the answer was printed and holds an error ("Error:" at a line start)
  kTransportFailure,  // no usable answer: connection, send, receive, HTTP status or page format
  kLocalFailure,      // the send file could not be read or the receive file not written
  kNoObject,          // GET without an object first: the program takes the error path
};

// Runs the whole request: GET when settings.sfile is empty, POST otherwise.
RequestOutcome runRequest(RequestContext& context);

}  // namespace qcli
