// The front end's core, shared by the HTTP server mode and the CGI mode: checks where a request
// comes from (request_guard.h), routes it (a server request, the JSON API, /metrics, a static
// file), checks the login, builds the request table (storing uploads), hands it to the server
// over shared memory and turns the reply into the answer, with the page token and the
// default-password banner in pages for browsers (page_security.h).
//
// A request goes through three steps, which the HTTP mode runs at different times so that
// neither a login nor a body is waited for on its event loop: answerBeforeLogin (what needs no
// login: the guard's refusals, static files, bodies declared too large), login (with the
// brute-force delay, login_throttle.h, which the caller waits out before), and answerAfterLogin
// once the body is there. handle() runs all three (CGI mode, tests). The request is complete in
// memory before a slot is taken, so a slow client never holds a slot.
//
// Refusals of the guard and bursts of failed logins are reported to the server for its event
// log (at most once a minute per address here; the server limits again), through the reporter
// (default: at once, on the calling thread).
//
// Thread safety: every public member may run on any number of threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "common/thread_annotations.h"
#include "common/variable_table.h"
#include "frontend/basic_auth.h"
#include "frontend/front_request.h"
#include "frontend/login_throttle.h"
#include "frontend/path_guard.h"
#include "frontend/request_guard.h"
#include "frontend/request_metrics.h"
#include "frontend/request_table.h"
#include "frontend/result_store.h"
#include "frontend/status_pages.h"

class UploadStore;
struct StoredUpload;

struct FrontEndLimits {
  size_t maxBody = 16 * 1024 * 1024;
  size_t maxFields = 1000;  // query and form fields and multipart parts together
  size_t maxUploads = 8;
};

// Hands the request table to the server; on kCgiOk *reply holds the reply (caller frees).
// Returns a CgiClientResult.
using RoundTrip = std::function<int(VariableTable request, VariableTable* reply)>;

// The shared-memory round trip of common/cgi_client.h with its default options; the server's
// private status area, if any, is looked for in root's temp/.
RoundTrip sharedMemoryRoundTrip(const std::filesystem::path& root = {});

// Where the front end's reports to the server go: runs the job (which does one round trip) now
// or later.
using Reporter = std::function<void(std::function<void()> job)>;

class FrontEnd {
 public:
  // hosts: the allowed Host names (null: this machine's names and KESTROVA_ALLOWED_HOSTS).
  FrontEnd(const std::filesystem::path& root, FrontEndLimits limits, RoundTrip roundTrip,
           std::shared_ptr<HostAllowList> hosts = nullptr, LoginThrottleSettings throttle = {});
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // False when the root is no folder.
  bool valid() const { return guard_.valid(); }
  const PathGuard& guard() const { return guard_; }
  const FrontEndLimits& limits() const { return limits_; }
  HostAllowList& hosts() { return *hosts_; }
  LoginThrottle& throttle() { return throttle_; }

  // All steps for a complete request (the body read already), the login delay waited out here.
  FrontResponse handle(const FrontRequest& request);

  // Keeps the pages that answer a browser's posted forms and redirects the browser to them
  // (result_store.h). Only for the standalone server, whose process outlives a request. Call
  // before the first request.
  void keepPostResults() { results_ = std::make_unique<ResultStore>(); }
  // Step 1. The answer when the request needs no login (or must not get one): the guard's
  // refusals, "/", static files, a method the address does not take, a body longer than the
  // limit (declaredLength: the Content-Length, nullopt when unknown). nullopt: go on to login.
  std::optional<FrontResponse> answerBeforeLogin(const FrontRequest& request,
                                                 std::optional<size_t> declaredLength);
  // Step 2 without hashing: true when the credentials verified before (identity filled).
  bool loginRemembered(const FrontRequest& request, RequestIdentity* identity);
  // Step 2. REQUIRES: for a request with an Authorization header, the throttle's admit() for its
  // address was waited out. Checks the credentials and records the outcome; nullopt when
  // accepted (identity filled), else the refusal. A request without credentials gets the
  // login challenge (or passes with a web server's own login) and counts as no try.
  std::optional<FrontResponse> login(const FrontRequest& request, RequestIdentity* identity);
  // Step 3: the answer of a request that logged in, with its body.
  FrontResponse answerAfterLogin(const FrontRequest& request, const RequestIdentity& identity);

  // The measurements /metrics shows besides the server's (borrowed; must outlive this object;
  // null: none). Set before the first request.
  void setRequestMetrics(const RequestMetrics* metrics) { metrics_ = metrics; }
  // Where reports go (null: done at once). Set before the first request.
  void setReporter(Reporter reporter) { reporter_ = std::move(reporter); }
  // Reports the login bursts that fell quiet (login_throttle.h due()).
  void reportQuietLoginBursts();

 private:
  AnswerKind kindOf(const FrontRequest& request) const;
  FrontResponse metricsRequest(const FrontRequest& request, const RequestIdentity& identity);
  FrontResponse serverRequest(const FrontRequest& request, const RequestIdentity& identity, AnswerKind kind,
                              const std::string& module, const std::string& method);
  // Fills *fields with the query and body fields and stores the uploads. 0, or the HTTP status
  // of the refusal with its reason in *why.
  int collectFields(const FrontRequest& request, UploadStore* store, FieldList* fields,
                    std::vector<StoredUpload>* uploads, std::string* why);
  int collectParts(const FrontRequest& request, UploadStore* store, FieldList* fields,
                   std::vector<StoredUpload>* uploads, std::string* why);
  FrontResponse refusal(const FrontRequest& request, const GuardVerdict& verdict, AnswerKind kind);
  // Sends a report table (FrontEndReport and its keys) through the reporter, unless one went
  // for the address within the last minute.
  void report(const std::string& address, FieldList fields, bool limited);

  // A browser's posted form answered with a page: keep it and redirect (nullopt: answer as is).
  std::optional<FrontResponse> redirectToKept(const FrontRequest& request, const RequestIdentity& identity,
                                              const FieldList& fields, const FrontResponse& page);

  PathGuard guard_;
  FrontEndLimits limits_;
  RoundTrip roundTrip_;
  PasswordCheck passwords_;
  std::shared_ptr<HostAllowList> hosts_;
  LoginThrottle throttle_;
  const RequestMetrics* metrics_ = nullptr;
  std::unique_ptr<ResultStore> results_;
  Reporter reporter_;
  Mutex reportMu_;
  std::map<std::string, std::chrono::steady_clock::time_point> lastReport_ GUARDED_BY(reportMu_);
};
