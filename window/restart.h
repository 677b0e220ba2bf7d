#pragma once
// What a refused "Start!" does: refuse with its message, or ask to run the job as
// administrator, with the question's texts.

#include <string>
#include <string_view>

#include "job/refusals.h"

namespace veltrane {

enum class OnRefusal { kRefuse, kAsk };

// Asks only when Windows denied one of the job's own places (running as administrator then
// helps), this process is not elevated (else it would not help), and this process was not
// itself started by a restart (one that did not elevate, with UAC off or an account without
// administrator rights, would otherwise ask again and again).
OnRefusal DecideOnRefusal(bool elevated, bool restarted, DeniedPlace denied);

// The task dialog's texts; the caption is the window's.
struct RestartQuestion {
  std::wstring main_instruction;
  std::wstring content;
};

inline constexpr std::wstring_view kRestartButtonText = L"Restart as administrator";

// The question for a refusal that DecideOnRefusal asks about: it names the place Windows
// refused (the scratch map, or the program folder) and why.
RestartQuestion QuestionFor(const Refusal& refusal, std::wstring_view program_folder);

}  // namespace veltrane
