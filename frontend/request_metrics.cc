// The front end's request counts and latencies; see request_metrics.h.
#include "frontend/request_metrics.h"

#include <cstdio>

#include "common/metrics_text.h"
#include "common/thread_annotations.h"

namespace {

constexpr const char* kKindNames[RequestMetrics::kKinds] = {"page", "api", "metrics", "static", "refused"};
constexpr int kRefused = 4;

}  // namespace

std::string_view RequestMetrics::kindOfPath(std::string_view path) {
  if (path == "/cgi-bin/cgiloader.cgi" || path == "/cgi-bin/cgiloader") return "page";
  if (path.starts_with("/api/")) return "api";
  if (path == "/metrics") return "metrics";
  return "static";
}

int RequestMetrics::kindIndex(std::string_view kind) {
  for (int i = 0; i < kKinds; ++i) {
    if (kind == kKindNames[i]) return i;
  }
  return kRefused;
}

void RequestMetrics::record(std::string_view kind, int status, double seconds) {
  const int index = kindIndex(kind);
  {
    MutexLock lock(mu_);
    ++counts_[{index, status}];
  }
  if (seconds < 0) return;
  Histogram& histogram = latency_[index];
  size_t bucket = 0;
  while (bucket < kBuckets.size() && seconds > kBuckets[bucket]) ++bucket;
  // Bucket before count: a reader that sees the count sees the bucket too.
  histogram.buckets[bucket].fetch_add(1);
  histogram.sumNanoseconds.fetch_add(static_cast<uint64_t>(seconds * 1e9));
  histogram.count.fetch_add(1);
}

void RequestMetrics::appendText(std::string* out) const {
  *out +=
      "# HELP kestrova_http_requests_total Requests the web front end answered, by kind and HTTP status.\n";
  *out += "# TYPE kestrova_http_requests_total counter\n";
  {
    MutexLock lock(mu_);
    for (const auto& [key, count] : counts_) {
      *out += metricSampleName("kestrova_http_requests_total",
                               {{"kind", kKindNames[key.first]}, {"code", std::to_string(key.second)}});
      *out += ' ' + metricValueText(static_cast<double>(count)) + '\n';
    }
  }
  *out += "# HELP kestrova_http_request_duration_seconds Time from a request's arrival to its answer.\n";
  *out += "# TYPE kestrova_http_request_duration_seconds histogram\n";
  for (int kind = 0; kind < kKinds; ++kind) {
    const Histogram& histogram = latency_[kind];
    // Read the count first: buckets recorded after it only make the cumulative buckets larger
    // than the count, never smaller, and the +Inf bucket is written as the count itself.
    const uint64_t count = histogram.count.load();
    uint64_t cumulative = 0;
    for (size_t b = 0; b < kBuckets.size(); ++b) {
      cumulative += histogram.buckets[b].load();
      if (cumulative > count) cumulative = count;
      *out += metricSampleName("kestrova_http_request_duration_seconds_bucket",
                               {{"kind", kKindNames[kind]}, {"le", metricValueText(kBuckets[b])}});
      *out += ' ' + std::to_string(cumulative) + '\n';
    }
    *out += metricSampleName("kestrova_http_request_duration_seconds_bucket",
                             {{"kind", kKindNames[kind]}, {"le", "+Inf"}});
    *out += ' ' + std::to_string(count) + '\n';
    const double sum = static_cast<double>(histogram.sumNanoseconds.load()) / 1e9;
    *out += metricSampleName("kestrova_http_request_duration_seconds_sum", {{"kind", kKindNames[kind]}});
    *out += ' ' + metricValueText(sum) + '\n';
    *out += metricSampleName("kestrova_http_request_duration_seconds_count", {{"kind", kKindNames[kind]}});
    *out += ' ' + std::to_string(count) + '\n';
  }
}
