#include "job/run_job.h"

#include <array>

#include "common/text.h"
#include "job/compose_script.h"

namespace veltrane {
namespace {

struct NamedInput {
  const char* name;
  const std::wstring& text;
};

// A double quote, CR, LF or NUL would end the template's quotes or the script line, and
// whatever followed would run as a command of its own. No file name holds them.
bool BreaksOutOfQuotes(std::wstring_view text) {
  return text.find_first_of(std::wstring_view(L"\"\r\n\0", 4)) != std::wstring_view::npos;
}

Result<> CheckInput(const NamedInput& input, JobHost& host) {
  if (BreaksOutOfQuotes(input.text)) {
    return Fail(std::string("Cannot use the ") + input.name + " " + QuotedUtf8(input.text) +
                ": it contains a double quote, a line break or a NUL character, which no "
                "file name can hold.");
  }
  if (auto encoded = host.EncodeForScript(input.text); !encoded) {
    return Fail(std::string("Cannot use the ") + input.name + " " + QuotedUtf8(input.text) + ": " +
                encoded.message());
  }
  return {};
}

Result<> CheckInputs(const JobPaths& paths, JobHost& host) {
  const std::array<NamedInput, 4> inputs{{{"archiver path", paths.archiver},
                                          {"map path", paths.source},
                                          {"destination path", paths.destination},
                                          {"program folder", paths.program_folder}}};
  for (const auto& input : inputs) {
    if (auto checked = CheckInput(input, host); !checked) return checked;
  }
  if (host.SameFile(paths.source, paths.destination, paths.program_folder)) {
    return Fail("The map path and the destination path name the same file " +
                QuotedUtf8(paths.source) +
                ". The job would replace the map with its protected copy; choose another "
                "destination.");
  }
  return {};
}

constexpr const char* kRunAsAdministrator =
    " The job makes its copy there, and Windows lets only a program run as administrator "
    "create or delete files in the root of drive C:. Run Veltrane as administrator.";

Result<> CheckNoJobRunning(JobHost& host) {
  if (!host.ScriptRunning()) return {};
  return JobStillRunning();
}

Result<void, Refusal> CheckScratch(JobHost& host) {
  const std::wstring scratch(kScratchMap);
  auto checked = host.CheckCanCreate(scratch);
  if (checked && host.FileExists(scratch)) checked = host.CheckCanDelete(scratch);
  if (checked) return {};
  const bool denied = checked.error().system_code == kAccessDeniedCode;
  return Refusal(checked.message() + kRunAsAdministrator,
                 denied ? DeniedPlace::kScratchMap : DeniedPlace::kNone, scratch);
}

}  // namespace

Error JobStillRunning() {
  // Both scripts of two overlapping jobs would use the one scratch map.
  return Fail(
      "A job is still running. Wait for its report before starting another: both would use "
      "c:\\temp.w3m.");
}

Result<JobLaunch, Refusal> RunJob(const JobPaths& paths, JobHost& host) {
  if (auto checked = CheckNoJobRunning(host); !checked) return checked.error();
  if (auto checked = CheckScratch(host); !checked) return checked.error();
  if (auto checked = CheckInputs(paths, host); !checked) return checked.error();

  const std::wstring placeholder = paths.program_folder + L"\\" + std::wstring(kPlaceholderName);
  if (auto written = host.WriteFile(placeholder, {}); !written) return written.error();

  const bool scratch_exists = host.FileExists(std::wstring(kScratchMap));
  auto script = host.EncodeForScript(ComposeScript(paths, scratch_exists));
  if (!script) return Fail("Cannot compose the job script: " + script.message());

  const std::wstring script_path = paths.program_folder + L"\\" + std::wstring(kScriptName);
  if (auto written = host.WriteFile(script_path, *script); !written) return written.error();

  JobLaunch launch{paths.destination,
                   host.FullPath(paths.destination, paths.program_folder),
                   host.FullPath(paths.source, paths.program_folder),
                   {}};
  launch.destination_before = host.Identify(launch.destination_full);
  // The script's own "cd" cannot change the drive, so it starts in the program folder:
  // the archiver must find the placeholder there under its relative name.
  if (auto launched = host.LaunchScript(script_path, paths.program_folder); !launched) {
    return launched.error();
  }
  return launch;
}

}  // namespace veltrane
