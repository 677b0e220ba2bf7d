#pragma once
// Test helpers: archives built and read back with StormLib (the oracle), temporary folders
// (one per row of a case table), and running the real native mpqadd.

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/storm_build.h"
#include "tests/support/whole_file.h"

namespace veltrane::mpq::test {

using Bytes = std::vector<std::byte>;

Bytes MakeContent(std::size_t size, std::uint32_t seed, bool compressible = true);
Bytes ToBytes(const std::string& text);
using test_support::WriteBytes;
inline Bytes ReadBytes(const std::filesystem::path& path) {
  return test_support::ReadBytes<Bytes>(path);
}

class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

// A test of one map per row of a case table: each row gets its own temporary folder, and
// `archive` names the map in it.
template <class Case>
class MapTest : public testing::TestWithParam<Case> {
 protected:
  TempDir dir;
  const std::filesystem::path archive = dir / "map.w3m";
};

using MemberRecipe = test_support::StormMember;
using ArchiveRecipe = test_support::StormArchive;

// Creates the archive with StormLib; fails the current test on any error.
void CreateArchive(const std::filesystem::path& path, const ArchiveRecipe& recipe);

// What StormLib reads for `name` in `locale`, or nothing when it can't open or read it.
std::optional<Bytes> StormRead(const std::filesystem::path& archive, const std::string& name,
                               std::uint16_t locale = 0);

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
