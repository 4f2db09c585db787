// The brivo model's jobs (initialisation, rebuild, parity check, expansion), whose progress runs
// with the model's clock and which complete with their events, and what a drive failure does to
// the arrays (failed members, cancelled jobs, automatic rebuild onto a spare); see brivo_model.h.
//
// At most one rebuild runs at a time; a second failed member waits for it (automatic rebuild) or
// is refused (0xCA). Every other job kind runs once per array.
#include <algorithm>
#include <cstring>

#include "sim/brivo_model.h"

namespace sim {

namespace {

ModelResult illegal(uint8_t asc) { return ModelResult::check({brivo::kSenseIllegalRequest, asc, 0}); }

void driveWwn(const PairState& pair, int drive, uint8_t* out) {
  for (int k = 0; k < 8; ++k) out[k] = static_cast<uint8_t>(pair.drives[drive].wwn >> (56 - 8 * k));
}

bool redundant(uint8_t level) { return level != brivo::kRaid0; }

}  // namespace

void BrivoModel::startJob(PairState& pair, uint8_t kind, int array, int member, uint8_t mode) {
  BrivoJob job;
  job.kind = kind;
  job.array = array;
  job.member = member;
  job.mode = mode;
  job.start = now();
  job.duration = options_.jobSeconds;
  jobs_.add(job);
  uint8_t a = static_cast<uint8_t>(array);
  if (kind == brivo::kJobInit) {
    config_.live().arrays[array].initialized = brivo::kOff;
    if (config_.change() != nullptr && config_.change()->arrays[array].valid == brivo::kOn)
      config_.change()->arrays[array].initialized = brivo::kOff;
    logPairEvent(pair, brivo::kEvInitStarted, {a});
  } else if (kind == brivo::kJobParity) {
    logPairEvent(pair, brivo::kEvParityStarted, {mode, a});
  } else if (kind == brivo::kJobExpansion) {
    logPairEvent(pair, brivo::kEvExpansionStarted, {a, mode});
  }
  refreshAll(pair);
}

void BrivoModel::finishJobs(PairState& pair) {
  for (const BrivoJob& done : jobs_.takeFinished(now())) completeJob(pair, done);
}

void BrivoModel::completeJob(PairState& pair, const BrivoJob& job) {
  uint8_t a = static_cast<uint8_t>(job.array);
  brivo::ConfigurationBlock* copies[2] = {&config_.live(), config_.change()};
  if (job.kind == brivo::kJobInit) {
    for (brivo::ConfigurationBlock* cfg : copies) {
      if (cfg != nullptr && cfg->arrays[a].valid == brivo::kOn) cfg->arrays[a].initialized = brivo::kOn;
    }
    logPairEvent(pair, brivo::kEvInitCompleted, {a});
  } else if (job.kind == brivo::kJobRebuild) {
    uint8_t wwn[8];
    std::memcpy(wwn, config_.live().arrays[a].memberWwn[job.member], 8);
    for (brivo::ConfigurationBlock* cfg : copies) {
      if (cfg != nullptr && std::memcmp(cfg->arrays[a].memberWwn[job.member], wwn, 8) == 0)
        cfg->arrays[a].memberStatus[job.member] = brivo::kMemberGood;
    }
    std::vector<uint8_t> reason = {a, static_cast<uint8_t>(job.member),
                                   static_cast<uint8_t>(driveIndexByWwn(pair, wwn))};
    reason.insert(reason.end(), wwn, wwn + 8);
    logPairEvent(pair, brivo::kEvRebuildCompleted, reason);
  } else if (job.kind == brivo::kJobParity) {
    logPairEvent(pair, brivo::kEvParityCompleted, {job.mode, a, 0, 0});
  } else if (job.kind == brivo::kJobExpansion) {
    refreshAll(pair);
    uint32_t capacity = config_.live().arrays[a].capacityGb;
    logPairEvent(pair, brivo::kEvExpansionCompleted,
                 {a, static_cast<uint8_t>(capacity), static_cast<uint8_t>(capacity >> 8),
                  static_cast<uint8_t>(capacity >> 16), static_cast<uint8_t>(capacity >> 24)});
  }
  refreshAll(pair);
}

void BrivoModel::abortRebuild(PairState& pair, const BrivoJob& job, uint8_t why) {
  uint8_t a = static_cast<uint8_t>(job.array);
  uint8_t wwn[8];
  std::memcpy(wwn, config_.live().arrays[a].memberWwn[job.member], 8);
  for (brivo::ConfigurationBlock* cfg : {&config_.live(), config_.change()}) {
    if (cfg != nullptr && std::memcmp(cfg->arrays[a].memberWwn[job.member], wwn, 8) == 0)
      cfg->arrays[a].memberStatus[job.member] = brivo::kMemberFailed;
  }
  jobs_.removeIf([&](const BrivoJob& j) { return j.kind == brivo::kJobRebuild && j.array == job.array; });
  std::vector<uint8_t> reason = {a, static_cast<uint8_t>(job.member), why};
  reason.insert(reason.end(), wwn, wwn + 8);
  logPairEvent(pair, brivo::kEvRebuildAborted, reason);
  refreshAll(pair);
}

// A drive failed: its membership fails, jobs that needed it stop, arrays report their state.
void BrivoModel::memberLost(PairState& pair, int drive, uint8_t status) {
  uint8_t wwn[8];
  driveWwn(pair, drive, wwn);
  uint8_t array = 0xFF;
  uint8_t member = 0xFF;
  std::vector<uint8_t> before(brivo::kMaxArrays);
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    const brivo::ArrayRecord& a = config_.live().arrays[n];
    before[n] = a.faultStatus;
    for (int m = 0; a.valid == brivo::kOn && m < a.driveCount; ++m) {
      if (std::memcmp(a.memberWwn[m], wwn, 8) == 0)
        array = static_cast<uint8_t>(n), member = static_cast<uint8_t>(m);
    }
  }
  std::vector<uint8_t> reason = {static_cast<uint8_t>(drive), static_cast<uint8_t>(pair.drives[drive].slot)};
  if (status == brivo::kMemberFailed) reason.insert(reason.end(), {array, member});
  reason.insert(reason.end(), wwn, wwn + 8);
  logPairEvent(pair, status == brivo::kMemberFailed ? brivo::kEvDriveFailed : brivo::kEvDriveBypassed,
               reason);
  if (array == 0xFF) return;
  BrivoJob* job = jobs_.of(array);
  if (job != nullptr && job->kind == brivo::kJobRebuild && job->member == member) {
    abortRebuild(pair, *job, brivo::kAbortDriveFailed);
  }
  for (brivo::ConfigurationBlock* cfg : {&config_.live(), config_.change()}) {
    if (cfg == nullptr || cfg->arrays[array].valid != brivo::kOn) continue;
    brivo::ArrayRecord& a = cfg->arrays[array];
    if (member < a.driveCount && std::memcmp(a.memberWwn[member], wwn, 8) == 0 &&
        a.memberStatus[member] != brivo::kMemberMissing)
      a.memberStatus[member] = status;
  }
  job = jobs_.of(array);
  if (job != nullptr && (job->kind == brivo::kJobInit || job->kind == brivo::kJobParity)) {
    BrivoJob stopped = *job;
    jobs_.removeIf([&](const BrivoJob& j) { return j.array == stopped.array && j.kind == stopped.kind; });
    if (stopped.kind == brivo::kJobInit)
      logPairEvent(pair, brivo::kEvInitCancelled, {array});
    else
      logPairEvent(pair, brivo::kEvParityCancelled, {stopped.mode, array});
  }
  refreshAll(pair);
  uint8_t after = config_.live().arrays[array].faultStatus;
  if (after != before[array] && after == brivo::kFaultInvalid) {
    logPairEvent(pair, brivo::kEvArrayOffline, {array});
  } else if (after != before[array] && (after == brivo::kFaultDegraded || after == brivo::kFaultRebuilding)) {
    std::vector<uint8_t> critical = {array, member};
    critical.insert(critical.end(), wwn, wwn + 8);
    logPairEvent(pair, brivo::kEvArrayCritical, critical);
  }
}

bool BrivoModel::startRebuild(PairState& pair, int array, int member, int drive) {
  uint8_t wwn[8];
  driveWwn(pair, drive, wwn);
  uint8_t old[8];
  std::memcpy(old, config_.live().arrays[array].memberWwn[member], 8);
  for (brivo::ConfigurationBlock* cfg : {&config_.live(), config_.change()}) {
    if (cfg == nullptr || cfg->arrays[array].valid != brivo::kOn) continue;
    brivo::ArrayRecord& a = cfg->arrays[array];
    if (member >= a.driveCount || std::memcmp(a.memberWwn[member], old, 8) != 0) continue;
    std::memcpy(a.memberWwn[member], wwn, 8);
    a.memberStatus[member] = brivo::kMemberRebuilding;
    for (brivo::SpareRecord& s : cfg->spares) {
      if (s.valid == brivo::kOn && std::memcmp(s.wwn, wwn, 8) == 0) s = brivo::SpareRecord{};
    }
  }
  startJob(pair, brivo::kJobRebuild, array, member, 0);
  std::vector<uint8_t> reason = {static_cast<uint8_t>(array), static_cast<uint8_t>(member),
                                 static_cast<uint8_t>(drive)};
  reason.insert(reason.end(), wwn, wwn + 8);
  logPairEvent(pair, brivo::kEvRebuildStarted, reason);
  return true;
}

void BrivoModel::autoRebuild(PairState& pair) {
  if (config_.live().header.autoRebuild != brivo::kOn) return;
  if (jobs_.running(brivo::kJobRebuild)) return;
  for (int n = 0; n < brivo::kMaxArrays; ++n) {
    const brivo::ArrayRecord& a = config_.live().arrays[n];
    if (a.valid != brivo::kOn || !redundant(a.raidLevel) || faultStatus(a) == brivo::kFaultInvalid ||
        jobs_.of(n) != nullptr) {
      continue;
    }
    for (int m = 0; m < a.driveCount; ++m) {
      if (a.memberStatus[m] != brivo::kMemberFailed && a.memberStatus[m] != brivo::kMemberMissing) continue;
      for (int pass = 0; pass < 2; ++pass) {  // dedicated spares first, then global ones
        for (int s = 0; s < brivo::kMaxSpares; ++s) {
          const brivo::SpareRecord& spare = config_.live().spares[s];
          bool fits = pass == 0 ? spare.array == n : spare.array >= brivo::kSpareGlobal;
          int drive = driveIndexByWwn(pair, spare.wwn);
          if (spare.valid != brivo::kOn || !fits || drive < 0 || pair.drives[drive].failed ||
              controllers_.drives()[drive].bypassed ||
              pair.drives[drive].blocks * 512 / (1ULL << 30) < a.memberCapacityGb) {
            continue;
          }
          std::vector<uint8_t> used = {static_cast<uint8_t>(drive), static_cast<uint8_t>(n),
                                       static_cast<uint8_t>(m)};
          used.insert(used.end(), spare.wwn, spare.wwn + 8);
          logPairEvent(pair, brivo::kEvSpareUsed, used);
          startRebuild(pair, n, m, drive);
          return;
        }
      }
    }
  }
}

void BrivoModel::pruneJobs() {
  jobs_.removeIf([this](const BrivoJob& j) {
    const brivo::ArrayRecord& a = config_.live().arrays[j.array];
    return a.valid != brivo::kOn || (j.kind == brivo::kJobRebuild && j.member >= a.driveCount);
  });
}

// ---- Operations ----

ModelResult BrivoModel::opInitialize(Op& op) {
  uint8_t n = op.arrayNumber();
  if (n >= brivo::kMaxArrays || config_.live().arrays[n].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidCdbField);
  BrivoJob* job = jobs_.of(n);
  switch (op.action()) {
    case brivo::kInitStart: {
      uint8_t fault = faultStatus(config_.live().arrays[n]);
      if (job != nullptr || fault == brivo::kFaultInvalid || fault == brivo::kFaultDegraded ||
          fault == brivo::kFaultRebuilding) {
        return illegal(brivo::kAscSequenceError);
      }
      startJob(op.pair, brivo::kJobInit, n, 0, 0);
      return ModelResult::good();
    }
    case brivo::kInitPause:
      if (job == nullptr || job->kind != brivo::kJobInit || job->pausedAt != 0)
        return illegal(brivo::kAscSequenceError);
      job->pausedAt = now();
      logPairEvent(op.pair, brivo::kEvInitPaused, {n, 1});
      return ModelResult::good();
    case brivo::kInitResume:
      if (job == nullptr || job->kind != brivo::kJobInit || job->pausedAt == 0)
        return illegal(brivo::kAscSequenceError);
      job->pausedTotal += now() - job->pausedAt;
      job->pausedAt = 0;
      logPairEvent(op.pair, brivo::kEvInitPaused, {n, 0});
      return ModelResult::good();
    default:
      return illegal(brivo::kAscInvalidCdbField);
  }
}

ModelResult BrivoModel::opCancelInitialization(Op& op) {
  uint8_t n = op.arrayNumber();
  if (n >= brivo::kMaxArrays || config_.live().arrays[n].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidCdbField);
  BrivoJob* job = jobs_.of(n);
  if (job == nullptr || job->kind != brivo::kJobInit) return illegal(brivo::kAscSequenceError);
  jobs_.removeIf([n](const BrivoJob& j) { return j.array == n && j.kind == brivo::kJobInit; });
  logPairEvent(op.pair, brivo::kEvInitCancelled, {n});
  return ModelResult::good();
}

ModelResult BrivoModel::opRebuild(Op& op) {
  brivo::RebuildBlock block;
  std::memcpy(&block, op.block.data(), sizeof(block));
  if (block.array >= brivo::kMaxArrays || config_.live().arrays[block.array].valid != brivo::kOn)
    return illegal(brivo::kAscInvalidParameter);
  const brivo::ArrayRecord& a = config_.live().arrays[block.array];
  if (jobs_.running(brivo::kJobRebuild) || jobs_.of(block.array) != nullptr) {
    return illegal(brivo::kAscSequenceError);
  }
  int drive = driveIndexByWwn(op.pair, block.wwn);
  bool ownDrive = block.member < a.driveCount && std::memcmp(a.memberWwn[block.member], block.wwn, 8) == 0;
  bool spare = false;
  for (const brivo::SpareRecord& s : config_.live().spares) {
    spare = spare || (s.valid == brivo::kOn && std::memcmp(s.wwn, block.wwn, 8) == 0);
  }
  if (!redundant(a.raidLevel) || block.member >= a.driveCount ||
      (a.memberStatus[block.member] != brivo::kMemberFailed &&
       a.memberStatus[block.member] != brivo::kMemberMissing) ||
      faultStatus(a) == brivo::kFaultInvalid || drive < 0 || op.pair.drives[drive].failed ||
      controllers_.drives()[drive].bypassed ||
      (!ownDrive && !spare && driveInUse(config_.live(), block.wwn)) ||
      op.pair.drives[drive].blocks * 512 / (1ULL << 30) < a.memberCapacityGb) {
    return illegal(brivo::kAscInvalidParameter);
  }
  if (spare) {
    std::vector<uint8_t> used = {static_cast<uint8_t>(drive), block.array, block.member};
    used.insert(used.end(), block.wwn, block.wwn + 8);
    logPairEvent(op.pair, brivo::kEvSpareUsed, used);
  }
  startRebuild(op.pair, block.array, block.member, drive);
  return ModelResult::good();
}

ModelResult BrivoModel::opCancelRebuild(Op& op) {
  for (const BrivoJob& job : jobs_.all()) {
    if (job.kind != brivo::kJobRebuild) continue;
    BrivoJob copy = job;
    abortRebuild(op.pair, copy, brivo::kAbortCancelled);
    return ModelResult::good();
  }
  return illegal(brivo::kAscSequenceError);
}

ModelResult BrivoModel::opStartParity(Op& op) {
  uint8_t n = op.parityArray();
  uint8_t mode = op.parityMode();
  if (op.parityReserved() != brivo::kOff || n >= brivo::kMaxArrays ||
      config_.live().arrays[n].valid != brivo::kOn || mode < brivo::kParityVerify ||
      mode > brivo::kParityVerifyRewrite) {
    return illegal(brivo::kAscInvalidCdbField);
  }
  const brivo::ArrayRecord& a = config_.live().arrays[n];
  if (!redundant(a.raidLevel) || faultStatus(a) != brivo::kFaultTolerant || jobs_.of(n) != nullptr)
    return illegal(brivo::kAscSequenceError);
  startJob(op.pair, brivo::kJobParity, n, 0, mode);
  return ModelResult::good();
}

ModelResult BrivoModel::opCancelParity(Op& op) {
  std::vector<BrivoJob> cancelled;
  for (const BrivoJob& job : jobs_.all()) {
    if (job.kind == brivo::kJobParity) cancelled.push_back(job);
  }
  if (cancelled.empty()) return illegal(brivo::kAscSequenceError);
  jobs_.removeIf([](const BrivoJob& j) { return j.kind == brivo::kJobParity; });
  for (const BrivoJob& job : cancelled)
    logPairEvent(op.pair, brivo::kEvParityCancelled, {job.mode, static_cast<uint8_t>(job.array)});
  return ModelResult::good();
}

}  // namespace sim
