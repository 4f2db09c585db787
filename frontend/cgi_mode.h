// The classic CGI mode: one request from the environment a web server sets (REQUEST_METHOD,
// QUERY_STRING, CONTENT_TYPE, CONTENT_LENGTH with the body on standard input, REMOTE_ADDR,
// REMOTE_HOST, REMOTE_USER with AUTH_TYPE, HTTP_AUTHORIZATION, PATH_INFO, HTTPS, and the
// request's HTTP_HOST, HTTP_ORIGIN, HTTP_REFERER, HTTP_SEC_FETCH_*, HTTP_COOKIE,
// HTTP_UPGRADE_INSECURE_REQUESTS and HTTP_X_KESTROVA_TOKEN), one answer on standard output
// ("Status:" and the header lines, an empty line, the body). The login is checked before the
// body is read.
//
// Thread safety: runs once per process on its main thread.
#pragma once

#include <cstdio>
#include <functional>
#include <string>

#include "frontend/front_end.h"

// The environment lookup, replaceable in tests. Returns null for an unset variable.
using EnvironmentLookup = std::function<const char*(const char* name)>;

// Builds the request (without its body) from the environment; *length receives CONTENT_LENGTH.
// False with the refusal in *refusal when CONTENT_LENGTH is no number.
bool cgiRequestOf(const EnvironmentLookup& environment, FrontRequest* request, size_t* length,
                  FrontResponse* refusal);
// Reads length bytes of body from input into request->body; false with the refusal in *refusal
// when the input ends early.
bool readCgiBody(FILE* input, size_t length, FrontRequest* request, FrontResponse* refusal);

// The answer in CGI form. The body is left out for HEAD.
std::string cgiAnswerText(const FrontResponse& response, bool head);

// One CGI request: reads it, answers it on output. Returns the program's exit status (0 also for
// refused requests: the refusal is the answer).
int runCgiRequest(FrontEnd* core, const EnvironmentLookup& environment, FILE* input, FILE* output);
