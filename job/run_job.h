#pragma once

#include <optional>
#include <string>

#include "common/result.h"
#include "job/job_host.h"
#include "job/job_paths.h"
#include "job/refusals.h"

namespace veltrane {

// What a launched job leaves to judge it by when its script has ended.
struct JobLaunch {
  std::wstring destination;                        // as the box held it, for the report
  std::wstring destination_full;                   // where the script moves the copy
  std::wstring map_full;                           // the map the script copies
  std::optional<FileIdentity> destination_before;  // the file there at the launch, if any
};

// Asks every reason to refuse the job first (CheckJob, job/refusals.h); a refusal writes and
// launches nothing. Otherwise writes the empty placeholder and the job script into the
// program folder and launches the script, in that order, asking whether the scratch map exists
// between the two writes and noting the destination's identity just before the launch. A failing
// step ends the run with its message; the steps before it stay done.
Result<JobLaunch, Refusal> RunJob(const JobPaths& paths, JobHost& host);

}  // namespace veltrane
