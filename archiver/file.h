#pragma once
// The one interface through which the archiver reads and writes the archive file (reads are
// positioned, never of the whole file), and the reading of the file to add. Implemented for POSIX
// (file_posix.cpp) and Win32 (file_win.cpp). Paths are the platform's own strings: wide ones
// as the Win32 W calls take them, bytes as POSIX takes them.

#include <cstddef>
#include <cstdint>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "archiver/source.h"
#include "common/result.h"

namespace veltrane::mpq {

#ifdef _WIN32
using NativePath = std::wstring;
#else
using NativePath = std::string;
#endif

// A path or argument as UTF-8 text, for messages and member names.
std::string NativeToUtf8(const NativePath& text);

class ArchiveFile : public ByteSource {
 public:
  virtual Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) = 0;
  // Makes everything written so far durable before anything later is written. Files that
  // are written through to the disk have nothing left to do here.
  virtual Result<void> Flush() = 0;
  virtual Result<void> Truncate(std::uint64_t size) = 0;
};

// Opens an existing archive for reading and writing, refusing one that another process
// holds locked.
Result<std::unique_ptr<ArchiveFile>> OpenArchiveFile(const NativePath& path);

// Opens an existing file for positioned reading only, sharing it with every other user: a
// reader that looks at a file another program may still be writing or moving.
Result<std::unique_ptr<ByteSource>> OpenToRead(const NativePath& path);

// The largest archive or member the format (32-bit sizes and positions) can hold.
inline constexpr std::uint64_t kMaxArchiveBytes = 0xFFFFFFFF;

struct InputFile {
  std::vector<std::byte> content;
  std::uint64_t file_time = 0;  // last modification, in 100 ns units since 1601-01-01 UTC
};

Result<InputFile> ReadInputFile(const NativePath& path);

}  // namespace veltrane::mpq
