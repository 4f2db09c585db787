// The classic CGI mode: one request from the environment a web server sets (REQUEST_METHOD,
// QUERY_STRING, CONTENT_TYPE, CONTENT_LENGTH with the body on standard input, REMOTE_ADDR,
// REMOTE_HOST, REMOTE_USER with AUTH_TYPE, HTTP_AUTHORIZATION, PATH_INFO), one answer on standard
// output ("Status:" and the header lines, an empty line, the body).
//
// Thread safety: runs once per process on its main thread.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "frontend/front_end.h"

// The environment lookup, replaceable in tests. Returns null for an unset variable.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// Builds the request from environment and input; false with the refusal in *refusal when the
// body is larger than the limit or shorter than CONTENT_LENGTH says.
bool cgiRequestOf(const EnvironmentLookup& environment, FILE* input, size_t maxBody, FrontRequest* request,
                  FrontResponse* refusal);

// The answer in CGI form. The body is left out for HEAD.
std::string cgiAnswerText(const FrontResponse& response, bool head);

// One CGI request: reads it, answers it on output. Returns the program's exit status (0 also for
// refused requests: the refusal is the answer).
int runCgiRequest(FrontEnd* core, const EnvironmentLookup& environment, FILE* input, FILE* output);
