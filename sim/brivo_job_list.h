// The jobs of a brivo pair (initialisation, rebuild, parity check, expansion): what runs on which
// array, since when, paused or not, and how far it is; saved as job.K
// "kind,array,member,mode,start,duration,pausedAt,pausedTotal".
//
// What a job does to the configuration and the event log when it starts, ends or is cancelled is
// the model's (brivo_jobs.cc): this list only keeps and times them.
//
// Thread safety: none; the simulated world serializes every call.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "modules/brivo/protocol.h"
#include "sim/brivo_fields.h"

namespace sim {

struct BrivoJob {
  uint8_t kind = brivo::kJobNone;  // kJobInit ... kJobExpansion
  int array = 0;
  int member = 0;     // rebuild: the member
  uint8_t mode = 0;   // parity check mode; expansion: drives added
  int64_t start = 0;  // model seconds
  int64_t duration = 1;
  int64_t pausedAt = 0;  // 0: running
  int64_t pausedTotal = 0;
};

class BrivoJobList {
 public:
  const std::vector<BrivoJob>& all() const { return jobs_; }
  size_t size() const { return jobs_.size(); }
  // The job of an array (one at most), or null.
  BrivoJob* of(int array);
  const BrivoJob* of(int array) const;
  bool running(uint8_t kind) const;
  void add(const BrivoJob& job) { jobs_.push_back(job); }
  void removeIf(const std::function<bool(const BrivoJob&)>& drop);
  void clear() { jobs_.clear(); }
  // Takes the jobs whose time is up off the list, in list order.
  std::vector<BrivoJob> takeFinished(int64_t now);

  // Percent done at now.
  static int percent(const BrivoJob& job, int64_t now);
  static const SavedKeys<BrivoJobList>& savedKeys();

 private:
  std::vector<BrivoJob> jobs_;
};

}  // namespace sim
