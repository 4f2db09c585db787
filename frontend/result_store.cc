// Kept answer pages of posted forms; see result_store.h.
#include "frontend/result_store.h"

#include <cstdint>
#include <cstdio>

#include "common/system_random.h"
#include "common/thread_annotations.h"

namespace {

constexpr size_t kTokenLength = 32;

std::string freshToken() {
  uint8_t bytes[kTokenLength / 2];
  if (!systemRandomBytes(bytes, sizeof bytes)) return std::string();
  std::string token;
  for (uint8_t b : bytes) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", b);
    token += hex;
  }
  return token;
}

bool isToken(std::string_view text) {
  if (text.size() != kTokenLength) return false;
  for (char c : text) {
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
  }
  return true;
}

size_t sizeOf(const FrontResponse& page) {
  size_t bytes = page.body.size() + page.contentType.size();
  for (const auto& [name, value] : page.headers) bytes += name.size() + value.size();
  return bytes;
}

}  // namespace

ResultStore::ResultStore(std::chrono::seconds keep, size_t maxEntries, size_t maxBytes)
    : keep_(keep), maxEntries_(maxEntries), maxBytes_(maxBytes) {}

void ResultStore::dropOldest() {
  const auto found = entries_.find(order_.front());
  if (found != entries_.end()) {
    bytes_ -= sizeOf(found->second.page);
    entries_.erase(found);
  }
  order_.pop_front();
}

void ResultStore::dropExpired(Clock::time_point now) {
  // Pages expire in the order they were kept.
  while (!order_.empty()) {
    const auto found = entries_.find(order_.front());
    if (found != entries_.end() && found->second.expires > now) break;
    dropOldest();
  }
}

std::string ResultStore::keep(const std::string& user, const FrontResponse& page) {
  const size_t size = sizeOf(page);
  if (size > maxBytes_ || maxEntries_ == 0) return std::string();
  std::string token = freshToken();
  if (token.empty()) return token;
  MutexLock lock(mutex_);
  const Clock::time_point now = now_();
  dropExpired(now);
  while (!order_.empty() && (entries_.size() >= maxEntries_ || bytes_ + size > maxBytes_)) dropOldest();
  entries_[token] = Entry{user, page, now + keep_};
  order_.push_back(token);
  bytes_ += size;
  return token;
}

std::optional<FrontResponse> ResultStore::find(const std::string& user, std::string_view token) const {
  if (!isToken(token)) return std::nullopt;
  MutexLock lock(mutex_);
  const auto found = entries_.find(std::string(token));
  if (found == entries_.end() || found->second.user != user || found->second.expires <= now_())
    return std::nullopt;
  return found->second.page;
}
