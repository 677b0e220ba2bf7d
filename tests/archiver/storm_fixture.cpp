#include "storm_fixture.h"

#include <StormLib.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <random>

#include "common/unique_posix.h"

namespace veltrane::mpq::test {

Bytes MakeContent(std::size_t size, std::uint32_t seed, bool compressible) {
  std::mt19937 random(seed);
  Bytes out(size);
  for (std::size_t i = 0; i < size; ++i) {
    out[i] = compressible ? std::byte("trigger war3map "[(i / 7 + random() % 3) % 16])
                          : std::byte(random() & 0xFF);
  }
  return out;
}

Bytes ToBytes(const std::string& text) {
  Bytes out;
  for (char c : text) out.push_back(static_cast<std::byte>(c));
  return out;
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "mpqadd-test-XXXXXX").string();
  EXPECT_NE(::mkdtemp(pattern.data()), nullptr);
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

void CreateArchive(const std::filesystem::path& path, const ArchiveRecipe& recipe) {
  ASSERT_EQ(test_support::BuildStormArchive(path, recipe), "");
}

namespace {

HANDLE OpenForRead(const std::filesystem::path& archive) {
  HANDLE mpq = nullptr;
  if (!SFileOpenArchive(archive.c_str(), 0, STREAM_FLAG_READ_ONLY, &mpq)) return nullptr;
  return mpq;
}

}  // namespace

std::optional<Bytes> StormRead(const std::filesystem::path& archive, const std::string& name,
                               std::uint16_t locale) {
  HANDLE mpq = OpenForRead(archive);
  if (mpq == nullptr) return std::nullopt;
  std::optional<Bytes> out;
  HANDLE file = nullptr;
  SFileSetLocale(locale);
  const bool opened = SFileOpenFileEx(mpq, name.c_str(), SFILE_OPEN_FROM_MPQ, &file);
  SFileSetLocale(0);
  if (opened) {
    const DWORD size = SFileGetFileSize(file, nullptr);
    Bytes data(size);
    DWORD got = 0;
    if (size != SFILE_INVALID_SIZE &&
        (size == 0 || (SFileReadFile(file, data.data(), size, &got, nullptr) && got == size))) {
      out = std::move(data);
    }
    SFileCloseFile(file);
  }
  SFileCloseArchive(mpq);
  return out;
}

namespace {

DWORD VerifyBits(const std::filesystem::path& archive, const std::string& name) {
  HANDLE mpq = OpenForRead(archive);
  if (mpq == nullptr) return VERIFY_OPEN_ERROR;
  const DWORD result = SFileVerifyFile(
      mpq, name.c_str(), SFILE_VERIFY_SECTOR_CRC | SFILE_VERIFY_FILE_CRC | SFILE_VERIFY_FILE_MD5);
  SFileCloseArchive(mpq);
  return result;
}

}  // namespace

std::uint32_t StormVerify(const std::filesystem::path& archive, const std::string& name) {
  return VerifyBits(archive, name) & VERIFY_FILE_ERROR_MASK;
}

std::uint32_t StormChecks(const std::filesystem::path& archive, const std::string& name) {
  return VerifyBits(archive, name) & (VERIFY_FILE_HAS_CHECKSUM | VERIFY_FILE_HAS_MD5);
}

bool StormListed(const std::filesystem::path& archive, const std::string& name) {
  HANDLE mpq = OpenForRead(archive);
  if (mpq == nullptr) return false;
  SFILE_FIND_DATA found{};
  bool listed = false;
  HANDLE find = SFileFindFirstFile(mpq, "*", &found, nullptr);
  for (bool more = find != nullptr; more; more = SFileFindNextFile(find, &found)) {
    if (strcasecmp(found.cFileName, name.c_str()) == 0) listed = true;
  }
  if (find != nullptr) SFileFindClose(find);
  SFileCloseArchive(mpq);
  return listed;
}

std::filesystem::path ToolPath() {
  return MPQADD_PATH;
}

RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  int pipe_fds[2];
  if (::pipe(pipe_fds) != 0) return {};
  UniqueFd read_end(pipe_fds[0]);
  UniqueFd write_end(pipe_fds[1]);
  const pid_t child = ::fork();
  if (child == 0) {
    ::dup2(write_end.get(), 2);
    read_end.reset();
    if (!cwd.empty() && ::chdir(cwd.c_str()) != 0) ::_exit(126);
    std::vector<char*> argv{const_cast<char*>(MPQADD_PATH)};
    for (const auto& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
    argv.push_back(nullptr);
    ::execv(MPQADD_PATH, argv.data());
    ::_exit(127);
  }
  write_end.reset();
  RunResult result;
  char buffer[4096];
  for (ssize_t got; (got = ::read(read_end.get(), buffer, sizeof(buffer))) > 0;) {
    result.err.append(buffer, static_cast<std::size_t>(got));
  }
  int status = 0;
  ::waitpid(child, &status, 0);
  result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return result;
}

}  // namespace veltrane::mpq::test
