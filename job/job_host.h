#pragma once

#include <string>
#include <string_view>

#include "common/result.h"

namespace veltrane {

// The platform operations a run of the job needs. The Win32 host fulfils it; tests use a
// recording fake. Each failure comes back as a message naming the operation, the path and
// the system's reason.
class JobHost {
 public:
  virtual ~JobHost() = default;

  // Creates or replaces the file with exactly these bytes, never leaving it half written.
  virtual Result<> WriteFile(const std::wstring& path, std::string_view bytes) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  // The text as the command interpreter's code page encodes it, exactly: a character with
  // no byte of its own there is an error rather than a look-alike substitute.
  virtual Result<std::string> EncodeForScript(std::wstring_view text) = 0;
  // Whether two paths name the same file: compared as full paths, ignoring case. Relative
  // paths are taken relative to base_folder, where the script runs.
  virtual bool SameFile(const std::wstring& a, const std::wstring& b,
                        const std::wstring& base_folder) = 0;
  // Starts the script in its own minimized console that takes the focus, with the given
  // working folder; does not wait.
  virtual Result<> LaunchScript(const std::wstring& script_path,
                                const std::wstring& working_folder) = 0;
};

}  // namespace veltrane
