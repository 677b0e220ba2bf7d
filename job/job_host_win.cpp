#include "job/job_host_win.h"

#include <windows.h>

#include <algorithm>

#include "archiver/file.h"
#include "common/retry_win.h"
#include "common/system_error_win.h"
#include "common/text.h"
#include "job/paths.h"
#include "job/paths_win.h"

namespace veltrane {
namespace {

Result<> WriteAll(HANDLE file, std::string_view bytes, const std::wstring& target) {
  while (!bytes.empty()) {
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    DWORD written = 0;
    if (!::WriteFile(file, bytes.data(), chunk, &written, nullptr) || written == 0) {
      return SystemFailure("write", target, GetLastError());
    }
    bytes.remove_prefix(written);
  }
  if (!FlushFileBuffers(file)) return SystemFailure("write", target, GetLastError());
  return {};
}

// Writes the bytes beside the target, to be moved over it in one step, so the target is
// either the old file or the complete new one. Failures name the target: that is the file
// the user knows of.
Result<> WriteAside(const std::wstring& side_path, std::string_view bytes,
                    const std::wstring& target) {
  UniqueHandle file(CreateFileW(side_path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return SystemFailure("write", target, GetLastError());
  return WriteAll(file.get(), bytes, target);
}

// Encodes text exactly in the OEM code page, or reports that it can't. A system whose OEM
// code page is UTF-8 holds every character; there the best-fit and default-character
// arguments are not allowed, and invalid UTF-16 is what fails.
bool EncodeExactly(std::wstring_view text, std::string& out) {
  if (text.empty()) return true;
  const bool utf8 = GetOEMCP() == CP_UTF8;
  const DWORD flags = utf8 ? WC_ERR_INVALID_CHARS : WC_NO_BEST_FIT_CHARS;
  BOOL used_default = FALSE;
  BOOL* used_default_out = utf8 ? nullptr : &used_default;
  const int size = static_cast<int>(text.size());
  const int needed = WideCharToMultiByte(CP_OEMCP, flags, text.data(), size, nullptr, 0, nullptr,
                                         used_default_out);
  if (needed <= 0 || used_default) return false;
  out.resize(static_cast<size_t>(needed));
  const int written = WideCharToMultiByte(CP_OEMCP, flags, text.data(), size, out.data(), needed,
                                          nullptr, used_default_out);
  return written == needed && !used_default;
}

bool IsBusy(DWORD error) {
  return error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
}

// Moves the side file over the target. The command interpreter keeps a finished script
// open for a moment after its last command, so a busy target is tried again for a while.
Result<> ReplaceWith(const std::wstring& side_path, const std::wstring& target) {
  DWORD error = ERROR_SUCCESS;
  RetryBriefly([&] {
    const bool moved = MoveFileExW(side_path.c_str(), target.c_str(),
                                   MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    error = moved ? ERROR_SUCCESS : GetLastError();
    return !IsBusy(error);  // moved, or failed for good
  });
  if (error == ERROR_SUCCESS) return {};
  Error failure = SystemFailure("write", target, error);
  if (IsBusy(error)) failure.message += " Is the previous job still running?";
  return failure;
}

Result<std::wstring> InterpreterPath() {
  std::wstring folder(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(folder.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return SystemFailure("find the system folder for", L"cmd.exe", GetLastError());
  }
  folder.resize(length);
  return JoinPath(folder, L"cmd.exe");
}

// Failures that say nothing about the paths or the rights, after which no process started:
// the system ran short of something for a moment (Wine, on a busy machine, reports an internal
// error), so the same launch a moment later may start.
bool IsTransient(DWORD error) {
  switch (error) {
    case ERROR_INTERNAL_ERROR:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_COMMITMENT_LIMIT:
      return true;
    default:
      return false;
  }
}

// The one way the script starts: the command interpreter of the system folder, by its full
// path, never a handler that the ".bat" type may have been given. /d keeps the user's AutoRun
// commands out of the job (they could change the code page or the current folder); /s /c
// strips the outer pair of quotes and runs the rest of the line as it stands. A transient
// failure is tried again for a moment; any other is reported at once.
Result<> StartInterpreter(const ProcessStarter& start_process, const std::wstring& script_path,
                          const std::wstring& working_folder, UniqueHandle& process) {
  auto interpreter = InterpreterPath();
  if (!interpreter) return interpreter.error();
  std::wstring command = L"cmd.exe /d /s /c \"\"" + script_path + L"\"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINIMIZED;
  PROCESS_INFORMATION started{};
  DWORD error = ERROR_SUCCESS;
  RetryBriefly([&] {
    const bool ok =
        start_process(interpreter->c_str(), command.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE, nullptr, working_folder.c_str(), &startup, &started);
    error = ok ? ERROR_SUCCESS : GetLastError();
    return !IsTransient(error);  // started, or failed for good
  });
  if (error != ERROR_SUCCESS) return SystemFailure("start", script_path, error);
  CloseHandle(started.hThread);
  process.reset(started.hProcess);
  return {};
}

// A file name in the folder of `path` that no one else picks: this process and a counter.
std::wstring ProbeName(const std::wstring& path) {
  static unsigned counter = 0;
  return JoinPath(FolderOf(path), L"veltrane-probe-" + std::to_wstring(GetCurrentProcessId()) +
                                      L"-" + std::to_wstring(++counter) + L".tmp");
}

}  // namespace

Result<> Win32JobHost::WriteFile(const std::wstring& path, std::string_view bytes) {
  const std::wstring side_path = path + L".new";
  auto written = WriteAside(side_path, bytes, path);
  if (written) written = ReplaceWith(side_path, path);
  if (!written) DeleteFileW(side_path.c_str());
  return written;
}

bool Win32JobHost::FileExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && !(attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool Win32JobHost::FolderExists(const std::wstring& path) {
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

Result<std::string> Win32JobHost::EncodeForScript(std::wstring_view text) {
  std::string bytes;
  if (EncodeExactly(text, bytes)) return bytes;
  return Fail("it cannot be written exactly in code page " + std::to_string(GetOEMCP()) +
              ", in which the command interpreter reads the job script.");
}

unsigned Win32JobHost::ScriptCodePage() {
  return GetOEMCP();
}

bool Win32JobHost::SamePath(const std::wstring& a, const std::wstring& b) {
  return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(),
                              static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

Result<> Win32JobHost::LaunchScript(const std::wstring& script_path,
                                    const std::wstring& working_folder) {
  script_.reset();
  return StartInterpreter(start_process_, script_path, working_folder, script_);
}

bool Win32JobHost::ScriptRunning() {
  return script_.valid() && WaitForSingleObject(script_.get(), 0) == WAIT_TIMEOUT;
}

Result<> Win32JobHost::CheckCanCreate(const std::wstring& path) {
  // A new file that the system deletes as its one handle closes: nothing stays behind, even
  // when this process ends in between.
  const std::wstring probe = ProbeName(path);
  UniqueHandle file(CreateFileW(probe.c_str(), GENERIC_WRITE | DELETE, 0, nullptr, CREATE_NEW,
                                FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
  if (!file.valid()) return SystemFailure("create", path, GetLastError());
  return {};
}

Result<> Win32JobHost::CheckCanDelete(const std::wstring& path) {
  // Opening for deletion asks for the right to delete, and shares everything, so the check
  // neither deletes nor disturbs another user of the file.
  UniqueHandle file(CreateFileW(path.c_str(), DELETE,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return SystemFailure("delete", path, GetLastError());
  const DWORD attributes = GetFileAttributesW(path.c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
    return SystemFailure("delete", path, ERROR_ACCESS_DENIED);
  }
  return {};
}

std::wstring Win32JobHost::FullPath(const std::wstring& full_path) {
  // A full path needs no current folder: the system only puts it in its plain form. A path
  // it cannot take stays as given, and the checks that follow name it.
  auto plain = FullPathName(full_path);
  return plain ? std::move(*plain) : full_path;
}

std::wstring Win32JobHost::Environment(const std::wstring& name) {
  std::wstring value(256, L'\0');
  for (;;) {
    const DWORD length =
        GetEnvironmentVariableW(name.c_str(), value.data(), static_cast<DWORD>(value.size()));
    if (length == 0) return {};
    if (length < value.size()) {
      value.resize(length);
      return value;
    }
    value.resize(length);
  }
}

std::optional<FileIdentity> Win32JobHost::Identify(const std::wstring& path) {
  UniqueHandle file(CreateFileW(path.c_str(), 0,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  BY_HANDLE_FILE_INFORMATION info;
  if (!file.valid() || !GetFileInformationByHandle(file.get(), &info)) return std::nullopt;
  if (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) return std::nullopt;
  FileIdentity identity;
  identity.volume_serial = info.dwVolumeSerialNumber;
  identity.file_index = (std::uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  identity.size = (std::uint64_t{info.nFileSizeHigh} << 32) | info.nFileSizeLow;
  identity.last_write = (std::uint64_t{info.ftLastWriteTime.dwHighDateTime} << 32) |
                        info.ftLastWriteTime.dwLowDateTime;
  return identity;
}

Result<std::unique_ptr<mpq::ByteSource>> Win32JobHost::OpenToRead(const std::wstring& path) {
  return mpq::OpenToRead(path);
}

Result<std::wstring> ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return SystemFailure("find the program's own path", GetLastError());
    if (length < path.size()) {
      path.resize(length);
      return path;
    }
    path.resize(path.size() * 2);
  }
}

Result<std::wstring> ProgramFolder() {
  auto executable = ExecutablePath();
  if (!executable) return executable;
  return FolderOf(*executable);
}

}  // namespace veltrane
