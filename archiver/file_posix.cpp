#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "archiver/file.h"

namespace veltrane::mpq {
namespace {

// Seconds between 1601-01-01 and 1970-01-01.
constexpr std::uint64_t kEpochDelta = 11644473600ull;

Error SystemFail(const std::string& what, const std::filesystem::path& path, int error) {
  return Fail(what + " '" + PathToUtf8(path) + "': " + std::strerror(error));
}

class PosixFile final : public ArchiveFile {
 public:
  PosixFile(int fd, std::filesystem::path path) : fd_(fd), path_(std::move(path)) {}
  ~PosixFile() override { ::close(fd_); }

  Result<std::uint64_t> Size() override {
    struct stat info {};
    if (::fstat(fd_, &info) != 0) return SystemFail("cannot read archive", path_, errno);
    return static_cast<std::uint64_t>(info.st_size);
  }

  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    std::size_t done = 0;
    while (done < out.size()) {
      const ssize_t got =
          ::pread(fd_, out.data() + done, out.size() - done, static_cast<off_t>(offset + done));
      if (got < 0 && errno == EINTR) continue;
      if (got < 0) return SystemFail("cannot read archive", path_, errno);
      if (got == 0) return Fail("cannot read archive '" + PathToUtf8(path_) + "': it shrank");
      done += static_cast<std::size_t>(got);
    }
    return {};
  }

  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    std::size_t done = 0;
    while (done < data.size()) {
      const ssize_t put =
          ::pwrite(fd_, data.data() + done, data.size() - done, static_cast<off_t>(offset + done));
      if (put < 0 && errno == EINTR) continue;
      if (put < 0) return SystemFail("cannot write archive", path_, errno);
      done += static_cast<std::size_t>(put);
    }
    return {};
  }

  // The archive is opened with O_DSYNC: each write is on the disk when it returns. fsync
  // would also write out whatever else of the file is still cached (a copy made a moment
  // ago) without making our writes any safer.
  Result<void> Flush() override { return {}; }

  Result<void> Truncate(std::uint64_t size) override {
    if (::ftruncate(fd_, static_cast<off_t>(size)) != 0) {
      return SystemFail("cannot restore the size of archive", path_, errno);
    }
    return {};
  }

 private:
  int fd_;
  std::filesystem::path path_;
};

}  // namespace

Result<std::unique_ptr<ArchiveFile>> OpenArchiveFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDWR | O_CLOEXEC | O_DSYNC);
  if (fd < 0) return SystemFail("cannot open archive", path, errno);
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return Fail("cannot open archive '" + PathToUtf8(path) + "': not a regular file");
  }
  // Advisory: keeps two archivers from updating the same archive at once.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const int error = errno;
    ::close(fd);
    return SystemFail("cannot lock archive", path, error);
  }
  return std::unique_ptr<ArchiveFile>(new PosixFile(fd, path));
}

Result<InputFile> ReadInputFile(const std::filesystem::path& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return SystemFail("cannot open file to add", path, errno);
  InputFile out;
  struct stat info {};
  if (::fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    ::close(fd);
    return Fail("cannot read file to add '" + PathToUtf8(path) + "': not a regular file");
  }
  if (static_cast<std::uint64_t>(info.st_size) > kMaxArchiveBytes) {
    ::close(fd);
    return Fail("cannot add '" + PathToUtf8(path) +
                "': larger than 4 GiB, the most a member holds");
  }
  out.file_time = (static_cast<std::uint64_t>(info.st_mtim.tv_sec) + kEpochDelta) * 10000000ull +
                  static_cast<std::uint64_t>(info.st_mtim.tv_nsec) / 100;
  out.content.resize(static_cast<std::size_t>(info.st_size));
  std::size_t done = 0;
  while (done < out.content.size()) {
    const ssize_t got = ::read(fd, out.content.data() + done, out.content.size() - done);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      const int error = got < 0 ? errno : EIO;
      ::close(fd);
      return SystemFail("cannot read file to add", path, error);
    }
    done += static_cast<std::size_t>(got);
  }
  ::close(fd);
  return out;
}

}  // namespace veltrane::mpq
