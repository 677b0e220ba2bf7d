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
  std::wstring failing_write;  // WriteFile to this path fails
  bool launch_fails = false;
  bool paths_are_same = false;
  bool script_running = false;
  bool root_refuses_new_files = false;
  bool scratch_undeletable = false;
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
  // Stands in for an OEM code page: ASCII and Latin-1 letters have bytes, nothing else.
  Result<std::string> EncodeForScript(std::wstring_view text) override {
    std::string out;
    for (const wchar_t c : text) {
      if (static_cast<unsigned>(c) > 0xFF) return Fail("no exact equivalent");
      out += static_cast<char>(c);
    }
    return out;
  }
  bool SameFile(const std::wstring& a, const std::wstring& b, const std::wstring&) override {
    return paths_are_same || a == b;
  }
  Result<> LaunchScript(const std::wstring& script_path,
                        const std::wstring& working_folder) override {
    calls.push_back({"launch", script_path, ToUtf8(working_folder)});
    if (launch_fails) return Fail("Cannot start \"" + ToUtf8(script_path) + "\": not found");
    return {};
  }
  bool ScriptRunning() override { return script_running; }
  Result<> CheckCanCreate(const std::wstring& path) override {
    if (root_refuses_new_files) return Fail("Cannot create \"" + ToUtf8(path) + "\": denied");
    return {};
  }
  Result<> CheckCanDelete(const std::wstring& path) override {
    if (scratch_undeletable) return Fail("Cannot delete \"" + ToUtf8(path) + "\": denied");
    return {};
  }
  std::wstring FullPath(const std::wstring& path, const std::wstring& base) override {
    return path.find(L':') == std::wstring::npos ? base + L"\\" + path : path;
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
