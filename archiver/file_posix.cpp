#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archiver/file.h"
#include "common/unique_posix.h"

namespace veltrane::mpq {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpochDelta = 11644473600ull;

Error SystemFail(std::string_view what, const NativePath& path, int error) {
  return CannotOn(what, path, std::strerror(error));
}

class PosixFile final : public ArchiveFile {
 public:
  PosixFile(UniqueFd fd, NativePath path) : fd_(std::move(fd)), path_(std::move(path)) {}

  Result<std::uint64_t> Size() override {
    struct stat info {};
    if (::fstat(fd_.get(), &info) != 0) return SystemFail("read archive", path_, errno);
    return static_cast<std::uint64_t>(info.st_size);
  }

  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got = ::pread(fd_.get(), out.data() + done, out.size() - done,
                                  static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return SystemFail("read archive", path_, errno);
      if (got == 0) return CannotOn("read archive", path_, "it shrank");
      done += static_cast<std::size_t>(got);
    }
    return {};
  }

  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t put = ::pwrite(fd_.get(), data.data() + done, data.size() - done,
                                   static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return SystemFail("write archive", path_, errno);
      done += static_cast<std::size_t>(put);
    }
    return {};
  }

  // The archive is opened with O_DSYNC: each write is on the disk when it returns. fsync
  // would also write out whatever else of the file is still cached (a copy made a moment
  // ago) without making our writes any safer.
  Result<void> Flush() override { return {}; }

  Result<void> Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_.get(), static_cast<off_t>(size)) != 0) {
      return SystemFail("set the size of archive", path_, errno);
    }
    return {};
  }

 private:
  UniqueFd fd_;
  NativePath path_;
};

// Reads the whole of `fd` into `out`, which holds its size.
Result<void> ReadWhole(int fd, std::vector<std::byte>& out, const NativePath& path) {
  std::size_t done = 0;
  while (done < out.size()) {
    const ssize_t got = ::read(fd, out.data() + done, out.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) return SystemFail("read file to add", path, got < 0 ? errno : EIO);
    done += static_cast<std::size_t>(got);
  }
  return {};
}

}  // namespace

std::string NativeToUtf8(const NativePath& text) {
  return text;
}

Result<std::unique_ptr<ArchiveFile>> OpenArchiveFile(const NativePath& path) {
  UniqueFd fd(::open(path.c_str(), O_RDWR | O_CLOEXEC | O_DSYNC));
  if (!fd.valid()) return SystemFail("open archive", path, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return CannotOn("open archive", path, "not a regular file");
  }
  // Advisory: keeps two archivers from updating the same archive at once.
  if (::flock(fd.get(), LOCK_EX | LOCK_NB) != 0) return SystemFail("lock archive", path, errno);
  return std::unique_ptr<ArchiveFile>(new PosixFile(std::move(fd), path));
}

Result<std::unique_ptr<ByteSource>> OpenToRead(const NativePath& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return SystemFail("open", path, errno);
  return std::unique_ptr<ByteSource>(new PosixFile(std::move(fd), path));
}

Result<InputFile> ReadInputFile(const NativePath& path) {
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (!fd.valid()) return SystemFail("open file to add", path, errno);
  struct stat info {};
  if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode)) {
    return CannotOn("read file to add", path, "not a regular file");
  }
  if (static_cast<std::uint64_t>(info.st_size) > kMaxArchiveBytes) {
    return CannotOn("add", path, "larger than 4 GiB, the most a member holds");
  }
  InputFile out;
  out.file_time = (static_cast<std::uint64_t>(info.st_mtim.tv_sec) + kEpochDelta) * 10000000ull +
                  static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
  out.content.resize(static_cast<std::size_t>(info.st_size));
  auto read = ReadWhole(fd.get(), out.content, path);
  if (!read) return read.error();
  return out;
}

}  // namespace veltrane::mpq
