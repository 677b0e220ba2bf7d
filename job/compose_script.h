#pragma once

#include <string>

#include "job/job_paths.h"

namespace veltrane {

// The text of the batch script that copies the map to the scratch path, has the archiver
// add the empty placeholder as war3map.wtg, and moves the copy to the destination.
// Lines end in CR LF; the last line has no line end. The "del" line is present only when
// the scratch map already exists. Each '%' from an input is doubled, because the command
// interpreter expands '%' in a batch file even inside quotes; otherwise inputs are verbatim.
std::wstring ComposeScript(const JobPaths& paths, bool scratch_exists);

}  // namespace veltrane
