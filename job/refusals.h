#pragma once
// Why a job is not started: the checks asked before anything is written.

#include <string>

#include "common/result.h"
#include "job/job_host.h"
#include "job/job_paths.h"

namespace veltrane {

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

// Words that the refusals and the question whether to restart as administrator share.
inline constexpr char kOnlyAdministrators[] = "Windows lets only a program run as administrator";
inline constexpr char kCreateInDriveRoot[] = "create or delete files in the root of drive C:";
inline constexpr char kRunAsAdministrator[] = "Run Veltrane as administrator";

// The refusal of a job while another one's script runs.
Error JobStillRunning();

// The map and the destination as the script will resolve them.
struct CheckedPaths {
  std::wstring map;
  std::wstring destination;
};

// Asks every reason to refuse the job, in order, and stops at the first: a script of this
// program still running, the scratch map or the program folder denied, then each path the job
// can't use as the script will read it. Only asks the host; writes nothing.
Result<CheckedPaths, Refusal> CheckJob(const JobPaths& paths, JobHost& host);

}  // namespace veltrane
