#include "window/job_watch_win.h"

#include "common/retry_win.h"
#include "common/system_error_win.h"
#include "job/paths.h"

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

// The end of a job is known from its process: a script that has ended while no end message
// is on its way to the window, or whose message could not be posted, will never be reported
// otherwise. A script that ended a moment ago, whose message is still to be posted or waits
// in the queue, is not lost: its report comes next.
bool JobWatch::EndMessageLost() const {
  if (WaitForSingleObject(host_.script_process(), 0) != WAIT_OBJECT_0) return false;
  const Ended ended = ended_.load();
  if (ended != Ended::kPosted) return ended == Ended::kPostFailed;
  MSG queued;
  return !PeekMessageW(&queued, window_, kJobEndedMessage, kJobEndedMessage, PM_NOREMOVE);
}

Result<void, Refusal> JobWatch::Start(const JobPaths& paths, HWND window) {
  // A lost end message: the window judges and shows that job's report now, before this job
  // writes anything that report would otherwise judge.
  if (launch_ && EndMessageLost()) SendMessageW(window, kJobEndedMessage, 0, 0);
  // The script may have ended with its report not yet taken: that job still counts.
  if (launch_) return JobStillRunning();
  auto launched = RunJob(paths, host_);
  if (!launched) return launched.error();
  window_ = window;
  launch_ = std::move(*launched);
  facts_.reset();
  ended_ = Ended::kNotYet;
  // The wait runs on a pool thread, which also takes the facts (they may mean reading the
  // whole destination), then posts a message; the window never waits.
  if (!RegisterWaitForSingleObject(&wait_, host_.script_process(), &JobWatch::OnEnded, this,
                                   INFINITE, WT_EXECUTEONLYONCE | WT_EXECUTELONGFUNCTION)) {
    wait_ = nullptr;
    const DWORD code = GetLastError();
    launch_.reset();
    return Fail(
        SystemFailure("watch the job script", JoinPath(paths.program_folder, kScriptName), code)
            .message +
        " The job runs on, but Veltrane cannot report how it went.");
  }
  return {};
}

// A full message queue refuses a post for a while; a post that never succeeds is noted, so
// that the next "Start!" shows the report instead of refusing for ever.
void CALLBACK JobWatch::OnEnded(void* context, BOOLEAN) {
  auto* self = static_cast<JobWatch*>(context);
  try {
    self->facts_ = GatherFacts(*self->launch_, self->host_);
  } catch (const std::exception&) {
    // Out of memory, say: the window's thread gathers them again and reports its failure.
    self->facts_.reset();
  }
  const bool posted =
      RetryBriefly([self] { return PostMessageW(self->window_, kJobEndedMessage, 0, 0) != 0; });
  self->ended_ = posted ? Ended::kPosted : Ended::kPostFailed;
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
