#include "window/restart.h"

#include "common/text.h"

namespace veltrane {
namespace {

constexpr std::wstring_view kWhatRestartDoes =
    L"\n\nVeltrane then starts again as administrator with the same paths and runs the job.";

}  // namespace

OnRefusal DecideOnRefusal(bool elevated, bool restarted, DeniedPlace denied) {
  if (denied == DeniedPlace::kNone || elevated || restarted) return OnRefusal::kRefuse;
  return OnRefusal::kAsk;
}

RestartQuestion QuestionFor(const Refusal& refusal, std::wstring_view program_folder) {
  std::wstring content = FromUtf8(kOnlyAdministrators) + L" ";
  if (refusal.denied == DeniedPlace::kProgramFolder) {
    content +=
        L"write in \"" + std::wstring(program_folder) + L"\", where the job writes its script.";
  } else {
    content += FromUtf8(kCreateInDriveRoot) + L", where the job makes its copy " +
               refusal.denied_path + L".";
  }
  return {L"Run this job as administrator?", content + std::wstring(kWhatRestartDoes)};
}

}  // namespace veltrane
