// Array job progress; see array_progress.h.
#include "modules/brivo/pages/array_progress.h"

namespace brivo {

namespace {

constexpr uint8_t kPausedFlag = 0x01;

int clampPercent(uint8_t percent) { return percent > 100 ? 100 : percent; }

}  // namespace

int arrayProgressPercent(const ControllerInformation& info, const JobProgress* jobs, int array) {
  if (array < 0 || array >= kMaxArrays) return -1;
  if (jobs != nullptr && jobs->arrays[array].valid == kOn) return clampPercent(jobs->arrays[array].percent);
  struct Record {
    uint8_t valid, array, percent;
  };
  const Record records[] = {
      {info.initValid, info.initArray, info.initPercent},
      {info.rebuildValid, info.rebuildArray, info.rebuildPercent},
      {info.parityValid, info.parityArray, info.parityPercent},
      {info.expansionValid, info.expansionArray, info.expansionPercent},
  };
  for (const Record& record : records) {
    if (record.valid == kOn && record.array == array) return clampPercent(record.percent);
  }
  return -1;
}

bool arrayJobPaused(const JobProgress* jobs, int array) {
  if (jobs == nullptr || array < 0 || array >= kMaxArrays) return false;
  return jobs->arrays[array].valid == kOn && (jobs->arrays[array].flags & kPausedFlag) != 0;
}

}  // namespace brivo
