#include "window/job_watch_win.h"

#include "common/system_error_win.h"

namespace veltrane {

JobWatch::~JobWatch() {
  StopWaiting();
}

void JobWatch::StopWaiting() {
  if (wait_ == nullptr) return;
  // Waits for a callback under way, so none runs after this; the script is not touched.
  UnregisterWaitEx(wait_, INVALID_HANDLE_VALUE);
  wait_ = nullptr;
}

Result<void, Refusal> JobWatch::Start(const JobPaths& paths, HWND window) {
  // The script may have ended with its report not yet taken: that job still counts.
  if (launch_) return JobStillRunning();
  auto launched = RunJob(paths, host_);
  if (!launched) return launched.error();
  window_ = window;
  launch_ = std::move(*launched);
  facts_.reset();
  // The wait runs on a pool thread, which also takes the facts (they may mean reading the
  // whole destination), then posts a message; the window never waits.
  if (!RegisterWaitForSingleObject(&wait_, host_.script_process(), &JobWatch::OnEnded, this,
                                   INFINITE, WT_EXECUTEONLYONCE | WT_EXECUTELONGFUNCTION)) {
    wait_ = nullptr;
    const DWORD code = GetLastError();
    launch_.reset();
    return Fail(SystemFailure("watch the job script",
                              paths.program_folder + L"\\" + std::wstring(kScriptName), code)
                    .message +
                " The job runs on, but Veltrane cannot report how it went.");
  }
  return {};
}

void CALLBACK JobWatch::OnEnded(void* context, BOOLEAN) {
  auto* self = static_cast<JobWatch*>(context);
  try {
    self->facts_ = GatherFacts(*self->launch_, self->host_);
  } catch (const std::exception&) {
    // Out of memory, say: the window's thread gathers them again and reports its failure.
    self->facts_.reset();
  }
  PostMessageW(self->window_, kJobEndedMessage, 0, 0);
}

JobReport JobWatch::Finish() {
  // Returns once a callback under way has finished, so its facts are complete here.
  StopWaiting();
  if (!launch_) return {false, "No job was running."};
  const JobLaunch launch = std::move(*launch_);
  launch_.reset();
  std::optional<JobFacts> facts = std::move(facts_);
  facts_.reset();
  if (!facts) facts = GatherFacts(launch, host_);
  return Judge(launch.destination, *facts);
}

}  // namespace veltrane
