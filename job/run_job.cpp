#include "job/run_job.h"

#include "job/compose_script.h"
#include "job/paths.h"

namespace veltrane {

Result<JobLaunch, Refusal> RunJob(const JobPaths& paths, JobHost& host) {
  auto checked = CheckJob(paths, host);
  if (!checked) return checked.error();

  const std::wstring placeholder = JoinPath(paths.program_folder, kPlaceholderName);
  if (auto written = host.WriteFile(placeholder, {}); !written) return written.error();

  const bool scratch_exists = host.FileExists(std::wstring(kScratchMap));
  auto script = host.EncodeForScript(ComposeScript(paths, scratch_exists));
  if (!script) return Fail("Cannot compose the job script: " + script.message());

  const std::wstring script_path = JoinPath(paths.program_folder, kScriptName);
  if (auto written = host.WriteFile(script_path, *script); !written) return written.error();

  JobLaunch launch{paths.destination, std::move(checked->destination), std::move(checked->map), {}};
  launch.destination_before = host.Identify(launch.destination_full);
  // The script's own "cd" cannot change the drive, so it starts in the program folder:
  // the archiver must find the placeholder there under its relative name.
  if (auto launched = host.LaunchScript(script_path, paths.program_folder); !launched) {
    return launched.error();
  }
  return launch;
}

}  // namespace veltrane
