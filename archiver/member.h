#pragma once
// Reading a member's content out of the archive bytes, and encoding new content.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/archive.h"
#include "common/result.h"

namespace veltrane::mpq {

// The content of the member `name` described by `block`, deciphered and decompressed.
Result<std::vector<std::byte>> ReadMember(std::span<const std::byte> file, const Archive& archive,
                                          const BlockEntry& block, std::string_view name);

struct EncodedMember {
  std::vector<std::byte> bytes;  // what goes into the archive
  std::uint32_t flags = 0;       // block flags describing `bytes`
};

// Stores `content` in zlib-compressed sectors of `sector_size` bytes, each sector kept raw
// where compression doesn't shrink it; the whole member is stored plain when the sectors
// and their offset table would not be smaller than the content. Never enciphered.
EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size);

}  // namespace veltrane::mpq
