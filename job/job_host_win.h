#pragma once

#include "job/job_host.h"

namespace veltrane {

// The job's platform operations on Win32.
class Win32JobHost final : public JobHost {
 public:
  Result<> WriteFile(const std::wstring& path, std::string_view bytes) override;
  bool FileExists(const std::wstring& path) override;
  Result<std::string> EncodeForScript(std::wstring_view text) override;
  bool SameFile(const std::wstring& a, const std::wstring& b,
                const std::wstring& base_folder) override;
  Result<> LaunchScript(const std::wstring& script_path,
                        const std::wstring& working_folder) override;
};

// The full path of the running executable, as the system reports it.
Result<std::wstring> ExecutablePath();

// The folder that holds the running executable; a drive root keeps its separator.
Result<std::wstring> ProgramFolder();

}  // namespace veltrane
