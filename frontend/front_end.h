// The front end's core, shared by the HTTP server mode and the CGI mode: routes a request (a
// server request, the JSON API, /metrics, a static file), checks the login, builds the request table
// (storing uploads), hands it to the server over shared memory and turns the reply into the
// answer.
//
// The request is complete in memory before a slot is taken, so a slow client never holds a slot.
//
// Thread safety: handle() may run on any number of threads at once.
#pragma once

#include <cstddef>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "common/variable_table.h"
#include "frontend/basic_auth.h"
#include "frontend/front_request.h"
#include "frontend/path_guard.h"
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

// The shared-memory round trip of common/cgi_client.h with its default options.
RoundTrip sharedMemoryRoundTrip();

class FrontEnd {
 public:
  FrontEnd(const std::filesystem::path& root, FrontEndLimits limits, RoundTrip roundTrip);
  FrontEnd(const FrontEnd&) = delete;
  FrontEnd& operator=(const FrontEnd&) = delete;

  // False when the root is no folder.
  bool valid() const { return guard_.valid(); }
  const PathGuard& guard() const { return guard_; }
  const FrontEndLimits& limits() const { return limits_; }

  FrontResponse handle(const FrontRequest& request);

  // Keeps the pages that answer a browser's posted forms and redirects the browser to them
  // (result_store.h). Only for the standalone server, whose process outlives a request. Call
  // before the first request.
  void keepPostResults() { results_ = std::make_unique<ResultStore>(); }

  // The measurements /metrics shows besides the server's (borrowed; must outlive this object;
  // null: none). Set before the first request.
  void setRequestMetrics(const RequestMetrics* metrics) { metrics_ = metrics; }

 private:
  // /metrics: the server's GetMetrics reply and the front end's measurements, after the login.
  FrontResponse metricsRequest(const FrontRequest& request);
  // Checks the request's credentials into identity; nullopt when they are accepted, else the
  // refusal to send.
  std::optional<FrontResponse> authenticate(const FrontRequest& request, AnswerKind kind,
                                            RequestIdentity* identity);
  FrontResponse serverRequest(const FrontRequest& request, AnswerKind kind, const std::string& module,
                              const std::string& method);
  // Fills *fields with the query and body fields and stores the uploads. 0, or the HTTP status
  // of the refusal with its reason in *why.
  int collectFields(const FrontRequest& request, UploadStore* store, FieldList* fields,
                    std::vector<StoredUpload>* uploads, std::string* why);
  int collectParts(const FrontRequest& request, UploadStore* store, FieldList* fields,
                   std::vector<StoredUpload>* uploads, std::string* why);

  // A browser's posted form answered with a page: keep it and redirect (nullopt: answer as is).
  std::optional<FrontResponse> redirectToKept(const FrontRequest& request, const RequestIdentity& identity,
                                              const FieldList& fields, const FrontResponse& page);

  PathGuard guard_;
  FrontEndLimits limits_;
  RoundTrip roundTrip_;
  PasswordCheck passwords_;
  const RequestMetrics* metrics_ = nullptr;
  std::unique_ptr<ResultStore> results_;
};
