#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "archiver/source.h"
#include "common/result.h"

namespace veltrane {

// What tells one file apart from another and from its own earlier state: a file replaced by
// a move across volumes may keep the index of the file it replaced, so the size and the last
// write time are part of it.
struct FileIdentity {
  std::uint32_t volume_serial = 0;
  std::uint64_t file_index = 0;
  std::uint64_t size = 0;
  std::uint64_t last_write = 0;
  bool operator==(const FileIdentity&) const = default;
  // Whether both name one file, whatever state each was seen in.
  bool SameFileAs(const FileIdentity& other) const {
    return volume_serial == other.volume_serial && file_index == other.file_index;
  }
};

// The platform operations a run of the job needs. The Win32 host fulfils it; tests use a
// recording fake. Each failure comes back as a message naming the operation, the path and
// the system's reason.
class JobHost {
 public:
  virtual ~JobHost() = default;

  // Creates or replaces the file with exactly these bytes, never leaving it half written.
  virtual Result<> WriteFile(const std::wstring& path, std::string_view bytes) = 0;
  virtual bool FileExists(const std::wstring& path) = 0;
  virtual bool FolderExists(const std::wstring& path) = 0;
  // The text as the command interpreter's code page encodes it, exactly: a character with
  // no byte of its own there is an error rather than a look-alike substitute.
  virtual Result<std::string> EncodeForScript(std::wstring_view text) = 0;
  // The code page in which the command interpreter reads the job script.
  virtual unsigned ScriptCodePage() = 0;
  // Whether two full paths are spelled alike, ignoring case as the file system does.
  virtual bool SamePath(const std::wstring& a, const std::wstring& b) = 0;
  // Starts the script through the command interpreter, in its own minimized console that
  // takes the focus, with the given working folder; does not wait. The host keeps the
  // script's process to tell its end.
  virtual Result<> LaunchScript(const std::wstring& script_path,
                                const std::wstring& working_folder) = 0;
  // Whether the script this host launched last is still running.
  virtual bool ScriptRunning() = 0;

  // Whether this user may create the file at `path`, tried with another name in its folder
  // and leaving nothing behind. The failure names `path`.
  virtual Result<> CheckCanCreate(const std::wstring& path) = 0;
  // Whether this user may delete the existing file at `path`, without deleting it.
  virtual Result<> CheckCanDelete(const std::wstring& path) = 0;
  // A full path in its plain form: "." and ".." taken out, "/" made "\\", the trailing dots
  // and spaces that the system drops dropped.
  virtual std::wstring FullPath(const std::wstring& full_path) = 0;
  // The value of an environment variable of this process, empty when it has none.
  virtual std::wstring Environment(const std::wstring& name) = 0;
  // The identity of the file at the full path; nothing when there is no file to open there.
  virtual std::optional<FileIdentity> Identify(const std::wstring& path) = 0;
  // The file's bytes for positioned reading.
  virtual Result<std::unique_ptr<mpq::ByteSource>> OpenToRead(const std::wstring& path) = 0;
};

}  // namespace veltrane
