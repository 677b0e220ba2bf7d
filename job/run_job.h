#pragma once

#include <optional>
#include <string>

#include "common/result.h"
#include "job/job_host.h"
#include "job/job_paths.h"

namespace veltrane {

// What a launched job leaves to judge it by when its script has ended.
struct JobLaunch {
  std::wstring destination;                        // as the box held it, for the report
  std::wstring destination_full;                   // where the script moves the copy
  std::optional<FileIdentity> destination_before;  // the file there at the launch, if any
};

// The refusal of a job while another one's script runs.
Error JobStillRunning();

// Refuses first when a script of this program still runs, then when the scratch map can't
// be made or replaced, then inputs that cannot be put into the script safely or a source and
// destination naming the same file; a refusal writes and launches nothing. Otherwise writes
// the empty placeholder and the job script into the program folder and launches the script,
// in that order, asking whether the scratch map exists between the two writes and noting
// the destination's identity just before the launch. A failing step ends the run with its
// message; the steps before it stay done.
Result<JobLaunch> RunJob(const JobPaths& paths, JobHost& host);

}  // namespace veltrane
