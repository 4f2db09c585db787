// The brivo pair's job list; see brivo_job_list.h.
#include "sim/brivo_job_list.h"

#include <algorithm>

namespace sim {

BrivoJob* BrivoJobList::of(int array) {
  for (BrivoJob& job : jobs_) {
    if (job.array == array) return &job;
  }
  return nullptr;
}

const BrivoJob* BrivoJobList::of(int array) const { return const_cast<BrivoJobList*>(this)->of(array); }

bool BrivoJobList::running(uint8_t kind) const {
  return std::any_of(jobs_.begin(), jobs_.end(), [kind](const BrivoJob& j) { return j.kind == kind; });
}

void BrivoJobList::removeIf(const std::function<bool(const BrivoJob&)>& drop) { std::erase_if(jobs_, drop); }

std::vector<BrivoJob> BrivoJobList::takeFinished(int64_t now) {
  std::vector<BrivoJob> done;
  std::erase_if(jobs_, [&](const BrivoJob& job) {
    if (job.pausedAt != 0 || now - job.start - job.pausedTotal < job.duration) return false;
    done.push_back(job);
    return true;
  });
  return done;
}

int BrivoJobList::percent(const BrivoJob& job, int64_t now) {
  int64_t end = job.pausedAt != 0 ? job.pausedAt : now;
  int64_t elapsed = end - job.start - job.pausedTotal;
  return static_cast<int>(std::clamp<int64_t>(elapsed * 100 / std::max<int64_t>(1, job.duration), 0, 100));
}

const SavedKeys<BrivoJobList>& BrivoJobList::savedKeys() {
  using Jobs = BrivoJobList;
  using Job = BrivoJob;
  static const SavedKeys<Jobs> keys = {
      recordKey<Jobs, Job>(
          "job.#", {63},
          {{"kind", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.kind; }, brivo::kJobInit,
            brivo::kJobExpansion},
           {"array", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.array; }, 0,
            brivo::kMaxArrays - 1},
           {"member", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.member; }, 0,
            brivo::kMaxMembers - 1},
           {"mode", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.mode; }},
           {"start", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.start; }},
           {"duration", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.duration; }, 1},
           {"pausedAt", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.pausedAt; }},
           {"pausedTotal", FieldKind::kNumber, [](Job& j) -> FieldRef { return &j.pausedTotal; }}},
          [](const Jobs& jobs) { return numbered(static_cast<int>(jobs.jobs_.size())); },
          [](const Jobs& jobs, const KeyIndex& k) {
            size_t n = static_cast<size_t>(k.number());
            return n < jobs.jobs_.size() ? std::optional<Job>(jobs.jobs_[n]) : std::optional<Job>();
          },
          [](Jobs& jobs, const KeyIndex& k, const Job& j) {
            size_t n = static_cast<size_t>(k.number());
            if (n < jobs.jobs_.size())
              jobs.jobs_[n] = j;
            else
              jobs.jobs_.push_back(j);
            return true;
          }),
  };
  return keys;
}

}  // namespace sim
