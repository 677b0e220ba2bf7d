#pragma once
// Reading a member's content out of the archive, and encoding new content.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/archive.h"
#include "archiver/codec/compression.h"
#include "common/result.h"

namespace veltrane::mpq {

// A member's content, deciphered and decompressed, or why the member is damaged.
using MemberContent = Result<std::vector<std::byte>>;

// The stored bytes of `block`, as many of them as lie inside the archive file (decoding
// reports a block that claims more as damaged). Fails only when the file can't be read.
Result<std::vector<std::byte>> ReadStoredBytes(ByteSource& source, const Archive& archive,
                                               const BlockEntry& block);

// Decodes the stored bytes of the member `name` described by `block`.
MemberContent DecodeMember(std::span<const std::byte> stored, const Archive& archive,
                           const BlockEntry& block, std::string_view name);

// Both steps over archive bytes in memory.
MemberContent ReadMember(std::span<const std::byte> file, const Archive& archive,
                         const BlockEntry& block, std::string_view name);

// How a member is compressed: zlib's level, and how much compression must save, in tenths
// of the content, for the member to be stored compressed rather than plain.
struct Packing {
  int zlib_level = kZlibSmallest;
  unsigned least_saving_tenths = 0;  // 0: any saving at all
};

struct EncodedMember {
  std::vector<std::byte> bytes;  // what goes into the archive
  std::uint32_t flags = 0;       // block flags describing `bytes`
};

// Stores `content` in zlib-compressed sectors of `sector_size` bytes, each sector kept raw
// where compression doesn't shrink it; the whole member is stored plain when the sectors
// and their offset table would not save what `packing` asks. Never enciphered.
EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size,
                           const Packing& packing = {});

}  // namespace veltrane::mpq
