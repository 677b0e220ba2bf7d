#pragma once
// Test helpers: archives built and read back with StormLib (the oracle), temporary folders,
// and running the real native mpqadd.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

namespace veltrane::mpq::test {

using Bytes = std::vector<std::byte>;

Bytes MakeContent(std::size_t size, std::uint32_t seed, bool compressible = true);
Bytes ToBytes(const std::string& text);
Bytes ReadBytes(const std::filesystem::path& path);
void WriteBytes(const std::filesystem::path& path, const Bytes& bytes);

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

struct MemberRecipe {
  std::string name;
  Bytes content;
  std::uint32_t flags = 0x00000200;  // MPQ_FILE_COMPRESS
  std::uint32_t compression = 0x02;  // MPQ_COMPRESSION_ZLIB
};

struct ArchiveRecipe {
  std::vector<MemberRecipe> members;
  bool listfile = true;
  bool attributes = true;
  std::uint32_t max_files = 16;  // hash table size is the next power of two
  std::uint32_t sector_size = 4096;
  std::uint32_t internal_flags = 0xFFFFFFFF;  // flags of (listfile)/(attributes); default
  std::uint32_t attribute_flags = 0x7;        // CRC32, file time and MD5
};

// Creates the archive with StormLib; fails the current test on any error.
void CreateArchive(const std::filesystem::path& path, const ArchiveRecipe& recipe);

// What StormLib reads for `name`, or nothing when it can't open or read it.
std::optional<Bytes> StormRead(const std::filesystem::path& archive, const std::string& name);

// SFileVerifyFile's error bits for `name` (CRC32 and MD5 from (attributes)); 0 is clean.
std::uint32_t StormVerify(const std::filesystem::path& archive, const std::string& name);

// SFileVerifyFile's bits saying which checks (attributes) holds for `name`.
std::uint32_t StormChecks(const std::filesystem::path& archive, const std::string& name);

// Whether StormLib's (listfile) scan names `name`.
bool StormListed(const std::filesystem::path& archive, const std::string& name);

struct RunResult {
  int exit_code = -1;
  std::string err;
};

// Runs the native mpqadd with `args` in `cwd`.
RunResult RunTool(const std::vector<std::string>& args, const std::filesystem::path& cwd = {});

std::filesystem::path ToolPath();

}  // namespace veltrane::mpq::test
