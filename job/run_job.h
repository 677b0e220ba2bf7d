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
  std::wstring source_full;                        // the map the script copies
  std::optional<FileIdentity> destination_before;  // the file there at the launch, if any
};

// The job's own places that Windows may refuse to a program not run as administrator.
enum class DeniedPlace {
  kNone,           // not a denial of the job's own places: running as administrator won't help
  kScratchMap,     // creating or deleting c:\temp.w3m
  kProgramFolder,  // writing war3map.wtg or temp.bat in the program folder
};

// Why a job did not start: the message to show, and, when Windows denied access
// (ERROR_ACCESS_DENIED) to one of the job's own places, which one and its path, so that the
// window can offer to run the job as administrator instead.
struct Refusal {
  Refusal(Error error) : message(std::move(error.message)) {}
  Refusal(std::string text, DeniedPlace place, std::wstring path)
      : message(std::move(text)), denied(place), denied_path(std::move(path)) {}
  std::string message;
  DeniedPlace denied = DeniedPlace::kNone;
  std::wstring denied_path;
};

// The refusal of a job while another one's script runs.
Error JobStillRunning();

// Asks the table of refusals first (job/run_job.cpp): a script of this program still
// running, the scratch map or the program folder denied, then every path the job can't use
// as the script will read it; a refusal writes and launches nothing. Otherwise writes the
// empty placeholder and the job script into the program folder and launches the script, in
// that order, asking whether the scratch map exists between the two writes and noting the
// destination's identity just before the launch. A failing step ends the run with its
// message; the steps before it stay done.
Result<JobLaunch, Refusal> RunJob(const JobPaths& paths, JobHost& host);

}  // namespace veltrane
