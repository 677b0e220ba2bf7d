#pragma once
// Runs a job and watches its script off the window's thread: the script's end is posted to
// the window as a message, and the window then asks for the report.

#include <windows.h>

#include <atomic>
#include <optional>

#include "common/result.h"
#include "job/job_host_win.h"
#include "job/run_job.h"
#include "job/verdict.h"

namespace veltrane {

// Posted to the window when the watched script has ended.
inline constexpr UINT kJobEndedMessage = WM_APP + 1;

class JobWatch {
 public:
  explicit JobWatch(Win32JobHost& host) : host_(host) {}
  // Stops watching; a script still running runs on.
  ~JobWatch();
  JobWatch(const JobWatch&) = delete;
  JobWatch& operator=(const JobWatch&) = delete;

  // Runs the job; once its script is launched, its end is posted to `window`. Refused while
  // a job's report is still to come. When the last job's script has ended and its end
  // message was lost, that job's report is sent to `window` first (kJobEndedMessage, sent
  // rather than posted), and then this job runs.
  Result<void, Refusal> Start(const JobPaths& paths, HWND window);
  // The report on the job whose end was posted, judged from the facts taken off the
  // window's thread as the script ended (or, failing those, from the files as they are now).
  JobReport Finish();

 private:
  // What became of the watched script's end: told by the pool thread to the window's.
  enum class Ended { kNotYet, kPosted, kPostFailed };

  static void CALLBACK OnEnded(void* context, BOOLEAN timed_out);
  void StopWaiting();
  bool EndMessageLost() const;

  Win32JobHost& host_;
  std::optional<JobLaunch> launch_;
  std::optional<JobFacts> facts_;  // written by the wait's callback before it posts the end
  HANDLE wait_ = nullptr;
  HWND window_ = nullptr;
  std::atomic<Ended> ended_ = Ended::kNotYet;
};

}  // namespace veltrane
