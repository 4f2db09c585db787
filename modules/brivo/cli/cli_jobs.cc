// The `jobs` commands: the long operations that run on arrays (initialisations, rebuilds, parity
// checks, expansions) and their cancellation. Job IDs are the kind times 100 plus the array:
// 1xx initialisation, 2xx rebuild, 3xx parity check, 4xx expansion.
//
// Cancelling: an initialisation with 0xAC (its array), a rebuild with 0xCD (the controller runs one
// at a time), a parity check with 0xCF, which stops every parity check that runs (the reply names
// them all). An expansion cannot be stopped: the data is being moved.
//
// Thread safety: one command at a time (cli_context.h).
#include <string>

#include "modules/brivo/cli/cli_format.h"
#include "modules/brivo/cli/cli_handlers.h"
#include "modules/brivo/cli/cli_storage.h"

namespace brivo::cli {

namespace {

constexpr int kProgressCells = 20;

std::string jobDetail(CliContext& ctx, const JobView& job) {
  const ArrayRecord& a = ctx.config->arrays[job.array];
  std::string detail = "\"" + fieldText(a.name, sizeof(a.name)) + "\"";
  if (job.kind == kJobRebuild && ctx.info->rebuildValid == kOn && ctx.info->rebuildArray == job.array) {
    detail += ", member " + std::to_string(ctx.info->rebuildMember);
  }
  if (job.kind == kJobParity && ctx.info->parityValid == kOn && ctx.info->parityArray == job.array) {
    detail += std::string(", ") + parityModeText(ctx.info->parityMode);
  }
  return detail;
}

}  // namespace

int jobsDisplay(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  const std::vector<JobView> jobs = runningJobs(ctx);
  writeText(ctx, "--- Job Total=%d ---\n", static_cast<int>(jobs.size()));
  if (jobs.empty()) return 0;
  writeText(ctx, "Job  Kind           Array Progress                    State   Array Name\n");
  writeText(ctx, "---- -------------- ----- --------------------------- ------- ----------------------\n");
  for (const JobView& job : jobs) {
    writeText(ctx, "%4d %-14s %5d %s %-7s %s\n", job.id(), jobKindText(job.kind), job.array,
              progressBar(job.percent, kProgressCells).c_str(), job.paused ? "Paused" : "Running",
              jobDetail(ctx, job).c_str());
  }
  return 0;
}

int jobsDelete(CliContext& ctx) {
  if (!requirePair(ctx)) return 1;
  long id = 0;
  if (!parseNumber(modifierValue(ctx, kModJobId), &id)) {
    writeText(ctx, "Error: Parsing job index. Not a number.\n");
    return 1;
  }
  const std::vector<JobView> jobs = runningJobs(ctx);
  const JobView* job = nullptr;
  for (const JobView& running : jobs) {
    if (running.id() == id) job = &running;
  }
  if (job == nullptr) {
    writeText(ctx, "Error: Job index out of range.\n");
    return 1;
  }
  bool done = false;
  switch (job->kind) {
    case kJobInit:
      done = runOperation(ctx, "delete job", kOpCancelInitialization, static_cast<uint8_t>(job->array), 0, 0);
      break;
    case kJobRebuild:
      done = runOperation(ctx, "delete job", kOpCancelRebuild, 0, 0, 0);
      break;
    case kJobParity:
      done = runOperation(ctx, "delete job", kOpCancelParityCheck, 0, 0, 0);
      break;
    default:
      writeText(ctx, "Error: Job %ld is an expansion, which cannot be stopped.\n", id);
      return 1;
  }
  if (!done) return 1;
  if (job->kind == kJobParity) {
    // The controller stops every parity check at once.
    for (const JobView& other : jobs) {
      if (other.kind == kJobParity) writeText(ctx, "Job %d deleted.\n", other.id());
    }
    return 0;
  }
  writeText(ctx, "Job %ld deleted.\n", id);
  return 0;
}

}  // namespace brivo::cli
