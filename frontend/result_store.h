// Post/redirect/get for the browser's forms: the page that answers a form a browser posted is
// kept here under an unguessable token, and the browser is sent on (303 See Other) to an address
// that shows the kept page by that token. Reloading that address shows the same page again
// instead of sending the form a second time; the browser's history never holds a POST.
//
// Pages are kept in memory, so only the standalone HTTP server keeps them (a CGI program ends
// after each request). A page is kept for `keep`, for the user whose form it answered only; the
// oldest go first when more than maxEntries pages or maxBytes bytes are kept.
//
// Thread safety: every member may be called from any number of threads at once.
#pragma once

#include <chrono>
#include <cstddef>
#include <deque>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>

#include "common/thread_annotations.h"
#include "frontend/front_request.h"

class ResultStore {
 public:
  using Clock = std::chrono::steady_clock;

  explicit ResultStore(std::chrono::seconds keep = std::chrono::minutes(10), size_t maxEntries = 256,
                       size_t maxBytes = 32 * 1024 * 1024);

  // Keeps the page for user; returns its token (32 lower-case hexadecimal digits), or empty when
  // the system's random source fails or the page alone is larger than maxBytes.
  std::string keep(const std::string& user, const FrontResponse& page);

  // The page kept under token for user; nothing for an unknown, expired or malformed token or
  // another user's page.
  std::optional<FrontResponse> find(const std::string& user, std::string_view token) const;

  // For tests: the clock the store reads (default: Clock::now).
  void setClock(Clock::time_point (*now)()) { now_ = now; }

 private:
  struct Entry {
    std::string user;
    FrontResponse page;
    Clock::time_point expires;
  };
  void dropOldest() REQUIRES(mutex_);
  void dropExpired(Clock::time_point now) REQUIRES(mutex_);

  const std::chrono::seconds keep_;
  const size_t maxEntries_;
  const size_t maxBytes_;
  Clock::time_point (*now_)() = &Clock::now;
  mutable Mutex mutex_;
  std::map<std::string, Entry> entries_ GUARDED_BY(mutex_);
  std::deque<std::string> order_ GUARDED_BY(mutex_);  // oldest first
  size_t bytes_ GUARDED_BY(mutex_) = 0;
};

// The query field that names a kept page.
inline constexpr char kResultTokenField[] = "ResultPage";
