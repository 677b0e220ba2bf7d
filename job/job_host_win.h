#pragma once

#include <windows.h>

#include <functional>

#include "common/system_error_win.h"
#include "job/job_host.h"

namespace veltrane {

// Starts a process with CreateProcessW's arguments and results; the host starts the script
// through one, the system's own unless a test gives another.
using ProcessStarter =
    std::function<BOOL(LPCWSTR, LPWSTR, LPSECURITY_ATTRIBUTES, LPSECURITY_ATTRIBUTES, BOOL, DWORD,
                       LPVOID, LPCWSTR, LPSTARTUPINFOW, LPPROCESS_INFORMATION)>;

// The job's platform operations on Win32.
class Win32JobHost final : public JobHost {
 public:
  explicit Win32JobHost(ProcessStarter start_process = &CreateProcessW)
      : start_process_(std::move(start_process)) {}

  Result<> WriteFile(const std::wstring& path, std::string_view bytes) override;
  bool FileExists(const std::wstring& path) override;
  bool FolderExists(const std::wstring& path) override;
  Result<std::string> EncodeForScript(std::wstring_view text) override;
  unsigned ScriptCodePage() override;
  bool SamePath(const std::wstring& a, const std::wstring& b) override;
  Result<> LaunchScript(const std::wstring& script_path,
                        const std::wstring& working_folder) override;
  bool ScriptRunning() override;
  Result<> CheckCanCreate(const std::wstring& path) override;
  Result<> CheckCanDelete(const std::wstring& path) override;
  std::wstring FullPath(const std::wstring& full_path) override;
  std::wstring Environment(const std::wstring& name) override;
  std::optional<FileIdentity> Identify(const std::wstring& path) override;
  Result<std::unique_ptr<mpq::ByteSource>> OpenToRead(const std::wstring& path) override;

  // The process of the script launched last, kept until the next launch; null before one.
  HANDLE script_process() const { return script_.get(); }

 private:
  ProcessStarter start_process_;
  UniqueHandle script_;
};

// The full path of the running executable, as the system reports it.
Result<std::wstring> ExecutablePath();

// The folder that holds the running executable; a drive root keeps its separator.
Result<std::wstring> ProgramFolder();

}  // namespace veltrane
