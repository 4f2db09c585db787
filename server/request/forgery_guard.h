// What the server lets a browser's request do. Another web site can make a logged-in browser send
// requests to this server (a link, an image, a form that submits itself, a script's fetch), and
// the browser adds the cached Basic credentials; so a request that a browser sent may change data
// only when it is a POST that carries the page token (page_token.h) of its user, which only this
// server's own pages know. Which methods change data is what the method tables say: the server's
// own (serverMethodAltersData) and each module's (its methodAltersData export); a request that
// uploads a file changes data too. A request without browser markers (qcli, a script) is not a
// browser's and passes as before.
//
// The front end marks the request table (names it never takes from a client's fields):
//   "BrowserRequest"  the HTTP method ("GET", "POST") of a request that a browser sent
//   "FrontEndReport"  a refusal or a login burst the front end reports for the event log:
//                     "RefusedCrossSite", "RefusedHost" or "LoginFailures", with
//                     "ReportTarget" (what was asked for), "ReportDetail" (the other site, the
//                     host name, the user names) and "ReportCount" (failed logins)
// and the page sends the token as the form field "AntiForgeryToken".
//
// Every refusal and report becomes an event (0x10D refusals, 0x10B failed logins, warning),
// at most one a minute per address: a flood of refused requests does not flood the log.
//
// Thread safety: any request thread; the per-address event times are guarded by an internal
// lock. setRefusalEventClock is for tests, while no request runs.
#pragma once

#include <chrono>
#include <cstdint>

#include "common/variable_table.h"

inline constexpr char kBrowserRequestKey[] = "BrowserRequest";
inline constexpr char kFrontEndReportKey[] = "FrontEndReport";
inline constexpr char kReportTargetKey[] = "ReportTarget";
inline constexpr char kReportDetailKey[] = "ReportDetail";
inline constexpr char kReportCountKey[] = "ReportCount";
inline constexpr char kPageTokenKey[] = "AntiForgeryToken";

inline constexpr uint32_t kEventRequestRefused = 0x10D;
inline constexpr uint32_t kEventLoginFailures = 0x10B;

// The refusal page: "HttpStatus" = "403", the command result texts and "HTMLPath".
inline constexpr char kRefusalPage[] = "../Common/RequestRefused.htm";

// Null when request may be routed. Otherwise the answer (a new table the caller frees): the
// refusal page for a forged request, a short acknowledgement for a front end's report. Raises
// the event (rate-limited) in both cases.
VariableTable guardRequest(VariableTable request);

// Adds "AntiForgeryToken" for the request's "RemoteUser" to the reply when the request came
// from a browser, so that the front end can put it into the page.
void addPageToken(VariableTable request, VariableTable* reply);

// Test seam: the clock of the per-address event limit (null: steady_clock); also forgets every
// address.
using RefusalEventClock = std::chrono::steady_clock::time_point (*)();
void setRefusalEventClock(RefusalEventClock clock);
