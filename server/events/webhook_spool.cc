// The on-disk queue of a webhook receiver; see webhook_spool.h.
#include "server/events/webhook_spool.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <vector>

#include "common/atomic_file.h"

namespace {

constexpr size_t kNameDigits = 20;
constexpr char kSuffix[] = ".json";
constexpr size_t kMaxNoticeBytes = 64 * 1024;

bool parseName(const std::string& name, uint64_t* sequence) {
  if (name.size() != kNameDigits + 5 || name.compare(kNameDigits, 5, kSuffix) != 0) return false;
  uint64_t value = 0;
  for (size_t i = 0; i < kNameDigits; ++i) {
    if (name[i] < '0' || name[i] > '9') return false;
    value = value * 10 + static_cast<uint64_t>(name[i] - '0');
  }
  *sequence = value;
  return true;
}

}  // namespace

std::filesystem::path WebhookSpool::fileOf(uint64_t sequence) const {
  char name[32];
  std::snprintf(name, sizeof name, "%020llu%s", static_cast<unsigned long long>(sequence), kSuffix);
  return folder_ / name;
}

bool WebhookSpool::load() {
  sequences_.clear();
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  if (error) return false;
  std::vector<uint64_t> found;
  for (const auto& entry : std::filesystem::directory_iterator(folder_, error)) {
    const std::string name = entry.path().filename().string();
    uint64_t sequence = 0;
    if (entry.is_regular_file(error) && parseName(name, &sequence)) {
      found.push_back(sequence);
    } else if (name.size() > 4 && name.compare(name.size() - 4, 4, ".tmp") == 0) {
      std::filesystem::remove(entry.path(), error);  // a write that a crash interrupted
    }
  }
  if (error) return false;
  std::sort(found.begin(), found.end());
  sequences_.assign(found.begin(), found.end());
  return true;
}

bool WebhookSpool::append(uint64_t sequence, const std::string& notice, size_t limit, size_t* dropped) {
  *dropped = 0;
  std::error_code error;
  std::filesystem::create_directories(folder_, error);
  // A notice may carry what the events say about the installation: owner-only before it holds
  // anything, and whole or not there at all (a temporary a crash left ends in ".tmp").
  if (error || !replaceFileAtomically(fileOf(sequence).string(), notice, FileAccess::ownerOnly())) return false;
  sequences_.push_back(sequence);
  while (sequences_.size() > std::max<size_t>(limit, 1)) {
    popFront();
    ++*dropped;
  }
  return true;
}

std::optional<std::string> WebhookSpool::front(size_t* discarded) {
  *discarded = 0;
  while (!sequences_.empty()) {
    std::ifstream in(fileOf(sequences_.front()), std::ios::binary);
    std::string text;
    if (in) {
      text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
      if (text.size() <= kMaxNoticeBytes) return text;
    }
    popFront();
    ++*discarded;
  }
  return std::nullopt;
}

void WebhookSpool::popFront() {
  if (sequences_.empty()) return;
  std::error_code error;
  std::filesystem::remove(fileOf(sequences_.front()), error);
  sequences_.pop_front();
}
