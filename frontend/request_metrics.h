// The front end's own measurements for /metrics: requests answered, by kind of request and HTTP
// status, and how long each took (a histogram of seconds by kind). The standalone HTTP server
// records every answer; a CGI process answers one request and keeps none.
//
// Kinds: "page" (/cgi-bin/cgiloader.cgi), "api" (/api/...), "metrics" (/metrics), "static" (files,
// the redirect of "/"), "refused" (requests refused before they were routed).
//
// Thread safety: record() and appendText() may run on any number of threads at once; the
// histogram is atomics, the per-status counts are under a mutex (a short map update).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <string_view>
#include <utility>

#include "common/thread_annotations.h"

class RequestMetrics {
 public:
  static constexpr int kKinds = 5;
  // Upper bounds of the latency buckets, in seconds (the +Inf bucket follows).
  static constexpr std::array<double, 14> kBuckets = {0.001, 0.0025, 0.005, 0.01, 0.025, 0.05, 0.1,
                                                      0.25,  0.5,    1,     2.5,  5,     10,   40};

  // The kind of a request path: "page", "api", "metrics" or "static".
  static std::string_view kindOfPath(std::string_view path);

  // One answered request. kind: one of the kinds above (others count as "refused"); seconds < 0:
  // the time is not known (counted, but not in the histogram).
  void record(std::string_view kind, int status, double seconds);

  // Appends the families kestrova_http_requests_total and kestrova_http_request_duration_seconds
  // in the exposition format.
  void appendText(std::string* out) const;

 private:
  struct Histogram {
    std::array<std::atomic<uint64_t>, kBuckets.size() + 1> buckets{};  // last: +Inf
    std::atomic<uint64_t> count{0};
    std::atomic<uint64_t> sumNanoseconds{0};
  };
  static int kindIndex(std::string_view kind);

  mutable Mutex mu_;
  std::map<std::pair<int, int>, uint64_t> counts_ GUARDED_BY(mu_);  // (kind, status) -> requests
  std::array<Histogram, kKinds> latency_;
};
