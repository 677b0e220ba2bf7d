#pragma once
// StormLib as the reference encoder for the codec tests: archives it writes, read back as
// raw sector bytes, and PKWARE streams from the library's implode entry point.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <span>
#include <vector>

namespace veltrane::mpq::test {

struct RawSector {
  std::vector<std::byte> bytes;  // as stored in the archive
  std::size_t size;              // its size once decoded
};

struct RawMember {
  std::uint32_t flags;  // block table flags
  std::vector<RawSector> sectors;
};

// Adds `data` to a new archive at `archive` with StormLib's SFileAddFileEx and returns the
// member's sectors as they lie in the file.
RawMember AddAndReadBack(const std::filesystem::path& archive, std::span<const std::byte> data,
                         std::uint32_t flags, std::uint32_t compression);

// A PKWARE stream made by the library's implode: mode 0 binary or 1 ASCII; dictionary
// 1024, 2048 or 4096 bytes.
std::vector<std::byte> StormImplode(std::span<const std::byte> data, unsigned mode,
                                    unsigned dictionary);

}  // namespace veltrane::mpq::test
