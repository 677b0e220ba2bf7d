#include "job/job_host_win.h"

#include <windows.h>

#include <objbase.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <span>

#include "common/system_error_win.h"
#include "common/text.h"

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

bool IsAbsolute(std::wstring_view path) {
  if (path.size() >= 2 && (path[0] == L'\\' || path[0] == L'/')) return true;
  return path.size() >= 3 && path[1] == L':' && (path[2] == L'\\' || path[2] == L'/');
}

std::wstring FullPathOf(const std::wstring& path, const std::wstring& base_folder) {
  const std::wstring joined = IsAbsolute(path) ? path : base_folder + L"\\" + path;
  const DWORD needed = GetFullPathNameW(joined.c_str(), 0, nullptr, nullptr);
  if (needed == 0) return joined;
  std::wstring full(needed, L'\0');
  const DWORD length = GetFullPathNameW(joined.c_str(), needed, full.data(), nullptr);
  if (length == 0 || length >= needed) return joined;
  full.resize(length);
  return full;
}

std::string Describe(wchar_t c) {
  char code[16];
  std::snprintf(code, sizeof code, "U+%04X", static_cast<unsigned>(c));
  return QuotedUtf8(std::wstring(1, c)) + " (" + code + ")";
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

// Moves the side file over the target. The command interpreter keeps a finished script
// open for a moment after its last command, so a busy target is tried again for a while.
Result<> ReplaceWith(const std::wstring& side_path, const std::wstring& target) {
  constexpr int kTries = 20;
  constexpr DWORD kPauseMs = 50;
  for (int attempt = 1;; ++attempt) {
    if (MoveFileExW(side_path.c_str(), target.c_str(),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
      return {};
    }
    const DWORD error = GetLastError();
    const bool busy = error == ERROR_SHARING_VIOLATION || error == ERROR_ACCESS_DENIED;
    if (!busy || attempt == kTries) {
      Error failure = SystemFailure("write", target, error);
      if (busy) failure.message += " Is the previous job still running?";
      return failure;
    }
    Sleep(kPauseMs);
  }
}

Result<std::wstring> InterpreterPath() {
  std::wstring folder(MAX_PATH, L'\0');
  const UINT length = GetSystemDirectoryW(folder.data(), MAX_PATH);
  if (length == 0 || length >= MAX_PATH) {
    return SystemFailure("find the system folder for", L"cmd.exe", GetLastError());
  }
  folder.resize(length);
  return folder + L"\\cmd.exe";
}

// cmd.exe /c with the quoted path, inside one more pair of quotes: the interpreter strips
// the outer pair and keeps the rest of the line as it stands.
Result<> StartInterpreter(const std::wstring& script_path, const std::wstring& working_folder,
                          UniqueHandle& process) {
  auto interpreter = InterpreterPath();
  if (!interpreter) return interpreter.error();
  std::wstring command = L"\"" + *interpreter + L"\" /c \"\"" + script_path + L"\"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESHOWWINDOW;
  startup.wShowWindow = SW_SHOWMINIMIZED;
  PROCESS_INFORMATION started{};
  if (!CreateProcessW(interpreter->c_str(), command.data(), nullptr, nullptr, FALSE,
                      CREATE_NEW_CONSOLE, nullptr, working_folder.c_str(), &startup, &started)) {
    return SystemFailure("start", script_path, GetLastError());
  }
  CloseHandle(started.hThread);
  process.reset(started.hProcess);
  return {};
}

// A file name in the folder of `path` that no one else picks: this process and a counter.
std::wstring ProbeName(const std::wstring& path) {
  static unsigned counter = 0;
  const size_t separator = path.find_last_of(L"\\/");
  const std::wstring folder = separator == std::wstring::npos ? L"" : path.substr(0, separator + 1);
  return folder + L"veltrane-probe-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
         std::to_wstring(++counter) + L".tmp";
}

// Reads an open file at given offsets, for the archive reader.
class HandleSource final : public mpq::ByteSource {
 public:
  HandleSource(UniqueHandle file, std::wstring path) : file_(std::move(file)), path_(path) {}

  Result<std::uint64_t> Size() override {
    LARGE_INTEGER size;
    if (!GetFileSizeEx(file_.get(), &size)) return SystemFailure("read", path_, GetLastError());
    return static_cast<std::uint64_t>(size.QuadPart);
  }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    while (!out.empty()) {
      OVERLAPPED at{};
      at.Offset = static_cast<DWORD>(offset);
      at.OffsetHigh = static_cast<DWORD>(offset >> 32);
      const DWORD chunk = static_cast<DWORD>(std::min<size_t>(out.size(), 1u << 20));
      DWORD read = 0;
      if (!::ReadFile(file_.get(), out.data(), chunk, &read, &at)) {
        return SystemFailure("read", path_, GetLastError());
      }
      if (read == 0) return Fail("Cannot read \"" + ToUtf8(path_) + "\": it ends early");
      out = out.subspan(read);
      offset += read;
    }
    return {};
  }

 private:
  UniqueHandle file_;
  std::wstring path_;
};

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

Result<std::string> Win32JobHost::EncodeForScript(std::wstring_view text) {
  std::string bytes;
  if (EncodeExactly(text, bytes)) return bytes;
  std::string ignored;
  for (size_t i = 0; i < text.size(); ++i) {
    if (!EncodeExactly(text.substr(i, 1), ignored)) {
      return Fail("the character " + Describe(text[i]) + " has no exact equivalent in code page " +
                  std::to_string(GetOEMCP()) +
                  ", in which the command interpreter reads the job script.");
    }
  }
  return Fail("it cannot be written in code page " + std::to_string(GetOEMCP()) +
              ", in which the command interpreter reads the job script.");
}

bool Win32JobHost::SameFile(const std::wstring& a, const std::wstring& b,
                            const std::wstring& base_folder) {
  const std::wstring full_a = FullPathOf(a, base_folder);
  const std::wstring full_b = FullPathOf(b, base_folder);
  return CompareStringOrdinal(full_a.c_str(), static_cast<int>(full_a.size()), full_b.c_str(),
                              static_cast<int>(full_b.size()), TRUE) == CSTR_EQUAL;
}

Result<> Win32JobHost::LaunchScript(const std::wstring& script_path,
                                    const std::wstring& working_folder) {
  script_.reset();
  // The script's path goes in as the file to open, never as a command line, so a folder
  // with spaces can't be split into a program name and arguments.
  // The shell may hand a launch to COM components, which need COM on this thread. It starts
  // with the first launch rather than with the program, to keep the start quick.
  static const HRESULT com =
      CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
  (void)com;
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC | SEE_MASK_NOCLOSEPROCESS;
  info.lpVerb = L"open";
  info.lpFile = script_path.c_str();
  info.lpDirectory = working_folder.c_str();
  info.nShow = SW_SHOWMINIMIZED;
  if (!ShellExecuteExW(&info)) return SystemFailure("start", script_path, GetLastError());
  if (info.hProcess != nullptr) {
    script_.reset(info.hProcess);
    return {};
  }
  // The shell started the script through a handler that gave no process: without one, the
  // end of the job can't be told. This second start runs before the first can do much; the
  // command interpreter is started directly, as the shell itself would.
  return StartInterpreter(script_path, working_folder, script_);
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

std::wstring Win32JobHost::FullPath(const std::wstring& path, const std::wstring& base_folder) {
  return FullPathOf(path, base_folder);
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
  UniqueHandle file(CreateFileW(path.c_str(), GENERIC_READ,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!file.valid()) return SystemFailure("open", path, GetLastError());
  return std::unique_ptr<mpq::ByteSource>(std::make_unique<HandleSource>(std::move(file), path));
}

Result<std::wstring> ExecutablePath() {
  std::wstring path(MAX_PATH, L'\0');
  for (;;) {
    const DWORD length = GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
    if (length == 0) return SystemFailure("find the program's own path", L"", GetLastError());
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
  std::wstring path = std::move(*executable);
  const size_t separator = path.find_last_of(L"\\/");
  path.resize(separator == std::wstring::npos ? 0 : separator);
  // A drive root keeps its separator: "C:" alone would name the drive's current folder.
  if (path.size() == 2 && path[1] == L':') path += L'\\';
  return path;
}

}  // namespace veltrane
