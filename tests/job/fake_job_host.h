#pragma once
// A job host that records every call in order and can be told to fail one operation.

#include <map>
#include <set>
#include <string>
#include <vector>

#include "common/text.h"
#include "job/job_host.h"

namespace veltrane::testing {

class FakeJobHost : public JobHost {
 public:
  struct Call {
    std::string operation;
    std::wstring path;
    std::string bytes;
  };

  std::vector<Call> calls;
  std::set<std::wstring> existing_files;
  std::set<std::wstring> folders{L"C:\\", L"c:\\", L"C:\\Tools\\Veltrane", L"C:\\V"};
  std::map<std::wstring, std::wstring> environment;
  std::wstring failing_write;  // WriteFile to this path fails
  bool launch_fails = false;
  bool script_running = false;
  bool root_refuses_new_files = false;
  bool scratch_undeletable = false;
  std::wstring refused_create;     // CheckCanCreate of this path is denied
  std::uint32_t refusal_code = 5;  // the system's code of the denials above
  std::map<std::wstring, FileIdentity> identities;
  std::map<std::wstring, std::string> contents;  // what OpenToRead gives

  Result<> WriteFile(const std::wstring& path, std::string_view bytes) override {
    calls.push_back({"write", path, std::string(bytes)});
    if (path == failing_write) return Fail("Cannot write \"" + ToUtf8(path) + "\": disk full");
    existing_files.insert(path);
    return {};
  }
  bool FileExists(const std::wstring& path) override {
    calls.push_back({"exists", path, {}});
    return existing_files.count(path) != 0;
  }
  bool FolderExists(const std::wstring& path) override { return folders.count(path) != 0; }
  // Stands in for an OEM code page: ASCII and Latin-1 letters have bytes, nothing else.
  Result<std::string> EncodeForScript(std::wstring_view text) override {
    std::string out;
    for (const wchar_t c : text) {
      if (static_cast<unsigned>(c) > 0xFF) return Fail("no exact equivalent");
      out += static_cast<char>(c);
    }
    return out;
  }
  unsigned ScriptCodePage() override { return 437; }
  // Case is ignored for ASCII letters only, as far as the tests need.
  bool SamePath(const std::wstring& a, const std::wstring& b) override {
    auto lower = [](std::wstring text) {
      for (auto& c : text) c = c >= L'A' && c <= L'Z' ? c + 32 : c;
      return text;
    };
    return lower(a) == lower(b);
  }
  Result<> LaunchScript(const std::wstring& script_path,
                        const std::wstring& working_folder) override {
    calls.push_back({"launch", script_path, ToUtf8(working_folder)});
    if (launch_fails) return Fail("Cannot start \"" + ToUtf8(script_path) + "\": not found");
    return {};
  }
  bool ScriptRunning() override { return script_running; }
  Result<> CheckCanCreate(const std::wstring& path) override {
    if ((root_refuses_new_files && path == L"c:\\temp.w3m") || path == refused_create) {
      return Error{"Cannot create \"" + ToUtf8(path) + "\": denied", refusal_code};
    }
    return {};
  }
  Result<> CheckCanDelete(const std::wstring& path) override {
    if (scratch_undeletable) return Error{"Cannot delete \"" + ToUtf8(path) + "\": denied", 5};
    return {};
  }
  // Takes out "\\.\\" and doubled separators, as far as the tests need.
  std::wstring FullPath(const std::wstring& path) override {
    std::wstring plain = path;
    for (size_t at; (at = plain.find(L"\\.\\")) != std::wstring::npos;) plain.erase(at, 2);
    for (size_t at; (at = plain.find(L"\\\\", 1)) != std::wstring::npos;) plain.erase(at, 1);
    return plain;
  }
  std::wstring Environment(const std::wstring& name) override {
    const auto found = environment.find(name);
    return found == environment.end() ? std::wstring() : found->second;
  }
  std::optional<FileIdentity> Identify(const std::wstring& path) override {
    calls.push_back({"identify", path, {}});
    const auto found = identities.find(path);
    if (found == identities.end()) return std::nullopt;
    return found->second;
  }
  Result<std::unique_ptr<mpq::ByteSource>> OpenToRead(const std::wstring& path) override {
    const auto found = contents.find(path);
    if (found == contents.end()) return Fail("Cannot open \"" + ToUtf8(path) + "\": gone");
    const auto* bytes = reinterpret_cast<const std::byte*>(found->second.data());
    return std::unique_ptr<mpq::ByteSource>(
        std::make_unique<mpq::MemorySource>(std::span(bytes, found->second.size())));
  }
};

}  // namespace veltrane::testing
