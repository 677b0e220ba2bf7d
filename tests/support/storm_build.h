#pragma once
// Archives built with StormLib, the independent writer, for the tests and benchmarks that
// want an archive another writer made (some tests also edit or write bytes by hand).

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

namespace veltrane::test_support {

struct StormMember {
  std::string name;
  std::vector<std::byte> content;
  std::uint32_t flags = 0x00000200;  // MPQ_FILE_COMPRESS
  std::uint32_t compression = 0x02;  // MPQ_COMPRESSION_ZLIB
  std::uint16_t locale = 0;          // neutral
};

struct StormArchive {
  std::vector<StormMember> members;
  bool listfile = true;
  bool attributes = true;
  std::uint32_t max_files = 16;  // hash table size is the next power of two
  std::uint32_t sector_size = 4096;
  std::uint32_t internal_flags = 0xFFFFFFFF;  // flags of (listfile)/(attributes); default
  std::uint32_t attribute_flags = 0x7;        // CRC32, file time and MD5
};

// Writes an archive member by member, so a large one needn't be held in memory.
class StormBuilder {
 public:
  // Creates the archive at `path` (replacing a file there) and adds `recipe.members`.
  StormBuilder(const std::filesystem::path& path, const StormArchive& recipe);
  ~StormBuilder();
  StormBuilder(const StormBuilder&) = delete;
  StormBuilder& operator=(const StormBuilder&) = delete;

  // Adds a member; false (and error() says why) once anything has failed.
  bool Add(const StormMember& member);
  // Closes the archive; what failed first, or "" when all went well.
  std::string Finish();

 private:
  void* mpq_ = nullptr;
  std::string error_;
};

// Builds the whole archive in one call; what failed, or "".
std::string BuildStormArchive(const std::filesystem::path& path, const StormArchive& recipe);

}  // namespace veltrane::test_support
