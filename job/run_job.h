#pragma once

#include "common/result.h"
#include "job/job_host.h"
#include "job/job_paths.h"

namespace veltrane {

// Writes the empty placeholder and the job script into the program folder and launches the
// script, in that order, asking whether the scratch map exists between the two writes.
// Inputs that cannot be put into the script safely, or a source and destination naming the
// same file, are refused before anything is written. A failing step ends the run with its
// message; the steps before it stay done.
Result<> RunJob(const JobPaths& paths, JobHost& host);

}  // namespace veltrane
