// The on-disk queue of one webhook receiver: a folder (db/webhook.queue/<receiver id>) with one file
// per waiting notice, named by its sequence number ("<20 digits>.json"), so that notices survive an
// outage of the receiver and a restart of the server, and go out in order. A notice is written to
// a temporary file, flushed to disk and renamed into place, so a crash leaves whole notices only.
// The queue holds at most `limit` notices; beyond that the oldest is dropped to make room.
//
// Thread safety: a spool belongs to the "webhook" channel thread (the settings page removes the
// folders of receivers it deletes while holding the settings' in-use word).
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <filesystem>
#include <optional>
#include <string>

class WebhookSpool {
 public:
  explicit WebhookSpool(std::filesystem::path folder) : folder_(std::move(folder)) {}

  // Reads the folder's notices (creating the folder when missing) and removes half-written ones.
  // False when the folder can't be made or read.
  bool load();
  // Writes one notice as sequence; returns how many old notices were dropped to keep limit.
  // Nothing is dropped and false is returned when the notice could not be written.
  bool append(uint64_t sequence, const std::string& notice, size_t limit, size_t* dropped);
  // The oldest notice's text; nothing when empty. Notices that can't be read are removed on the
  // way and counted in *discarded.
  std::optional<std::string> front(size_t* discarded);
  // Removes the oldest notice.
  void popFront();

  size_t size() const { return sequences_.size(); }
  uint64_t lastSequence() const { return sequences_.empty() ? 0 : sequences_.back(); }
  const std::filesystem::path& folder() const { return folder_; }

 private:
  std::filesystem::path fileOf(uint64_t sequence) const;

  std::filesystem::path folder_;
  std::deque<uint64_t> sequences_;  // oldest first
};
