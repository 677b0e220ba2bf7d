#include <windows.h>

#include "archiver/file.h"
#include "common/system_error_win.h"
#include "common/text.h"

namespace veltrane::mpq {
namespace {

// Reads `size` bytes at `offset` in chunks that fit a DWORD.
bool ReadHandleAt(HANDLE handle, std::uint64_t offset, std::byte* data, std::size_t size) {
  std::size_t done = 0;
  while (done < size) {
    OVERLAPPED at{};
    const std::uint64_t position = offset + done;
    at.Offset = static_cast<DWORD>(position);
    at.OffsetHigh = static_cast<DWORD>(position >> 32);
    const DWORD want = static_cast<DWORD>(std::min<std::size_t>(size - done, 1u << 30));
    DWORD got = 0;
    if (!ReadFile(handle, data + done, want, &got, &at)) return false;
    if (got == 0) {
      SetLastError(ERROR_HANDLE_EOF);
      return false;
    }
    done += got;
  }
  return true;
}

Result<std::uint64_t> SizeOf(HANDLE handle, std::string_view what, const NativePath& path) {
  LARGE_INTEGER size{};
  if (!GetFileSizeEx(handle, &size)) return SystemFailure(what, path, GetLastError());
  return static_cast<std::uint64_t>(size.QuadPart);
}

class WinFile final : public ArchiveFile {
 public:
  WinFile(UniqueHandle handle, NativePath path)
      : handle_(std::move(handle)), path_(std::move(path)) {}

  Result<std::uint64_t> Size() override { return SizeOf(handle_.get(), "read archive", path_); }

  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    if (!ReadHandleAt(handle_.get(), offset, out.data(), out.size())) {
      return SystemFailure("read archive", path_, GetLastError());
    }
    return {};
  }

  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      OVERLAPPED at{};
      const std::uint64_t position = offset + done;
      at.Offset = static_cast<DWORD>(position);
      at.OffsetHigh = static_cast<DWORD>(position >> 32);
      const DWORD want = static_cast<DWORD>(std::min<std::size_t>(data.size() - done, 1u << 30));
      DWORD put = 0;
      if (!WriteFile(handle_.get(), data.data() + done, want, &put, &at) || put == 0) {
        return SystemFailure("write archive", path_, GetLastError());
      }
      done += put;
    }
    return {};
  }

  // The archive is opened write-through: each write is on the disk when it returns. Flushing
  // the whole file would also write out whatever else of it is still cached (a map copied a
  // moment ago, hundreds of megabytes) without making our writes any safer.
  Result<void> Flush() override { return {}; }

  Result<void> Truncate(std::uint64_t size) override {
    LARGE_INTEGER position{};
    position.QuadPart = static_cast<LONGLONG>(size);
    if (!SetFilePointerEx(handle_.get(), position, nullptr, FILE_BEGIN) ||
        !SetEndOfFile(handle_.get())) {
      return SystemFailure("set the size of archive", path_, GetLastError());
    }
    return {};
  }

 private:
  UniqueHandle handle_;
  NativePath path_;
};

std::uint64_t FromFileTime(const FILETIME& time) {
  return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

}  // namespace

std::string NativeToUtf8(const NativePath& text) {
  return ToUtf8(text);
}

Result<std::unique_ptr<ArchiveFile>> OpenArchiveFile(const NativePath& path) {
  // Others may read while we update; a writer elsewhere makes the open fail (sharing violation).
  UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ,
                                  nullptr, OPEN_EXISTING,
                                  FILE_ATTRIBUTE_NORMAL | FILE_FLAG_WRITE_THROUGH, nullptr));
  if (!handle.valid()) return SystemFailure("open archive", path, GetLastError());
  return std::unique_ptr<ArchiveFile>(new WinFile(std::move(handle), path));
}

Result<std::unique_ptr<ByteSource>> OpenToRead(const NativePath& path) {
  UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_READ,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) return SystemFailure("open", path, GetLastError());
  return std::unique_ptr<ByteSource>(new WinFile(std::move(handle), path));
}

Result<InputFile> ReadInputFile(const NativePath& path) {
  UniqueHandle handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
  if (!handle.valid()) return SystemFailure("open file to add", path, GetLastError());
  auto size = SizeOf(handle.get(), "read file to add", path);
  if (!size) return size.error();
  if (*size > kMaxArchiveBytes) {
    return CannotOn("add", NativeToUtf8(path), "larger than 4 GiB, the most a member holds");
  }
  InputFile out;
  FILETIME written{};
  if (!GetFileTime(handle.get(), nullptr, nullptr, &written)) {
    return SystemFailure("read the time of file to add", path, GetLastError());
  }
  out.file_time = FromFileTime(written);
  out.content.resize(static_cast<std::size_t>(*size));
  if (!ReadHandleAt(handle.get(), 0, out.content.data(), out.content.size())) {
    return SystemFailure("read file to add", path, GetLastError());
  }
  return out;
}

}  // namespace veltrane::mpq
