#pragma once
// Running as administrator: whether this process is elevated, the question whether to run the
// job as administrator, and the start of the program again with the verb "runas".

#include <windows.h>

#include <string>

#include "common/result.h"
#include "window/restart.h"

namespace veltrane {

// Whether this process runs elevated (TokenElevation). A system that can't tell, one older
// than Vista, has no elevation to gain: the process counts as not elevated.
bool IsElevated();

// Shows the question as a task dialog over `owner`: true for "Restart as administrator",
// false for "Cancel" or the dialog closed.
Result<bool> AskToRestart(HWND owner, const RestartQuestion& question);

enum class RestartOutcome { kStarted, kDeclined };

// Starts the program at `executable` with the parameters, as administrator: Windows asks
// the user for consent over `owner`. Declining that prompt is kDeclined, not a failure.
Result<RestartOutcome> StartAsAdministrator(const std::wstring& executable,
                                            const std::wstring& parameters, HWND owner);

}  // namespace veltrane
