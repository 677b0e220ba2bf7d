#pragma once
// Reading a member's content out of the archive, and encoding new content.

#include <cstddef>
#include <cstdint>
#include <optional>
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

// A member's sectors as stored, deciphered but still packed: a new encoding of the member
// takes over the sectors whose content it leaves as it was, byte for byte.
struct PackedSectors {
  std::vector<std::byte> bytes;
  std::vector<std::uint32_t> offsets;  // sector i is bytes[offsets[i], offsets[i + 1])
};

// The sectors of the member `name` described by `block`, or nothing when it isn't stored in
// compressed sectors that a member of ours can hold as they are (zlib or PKWARE with a mask
// byte), or its offset table is damaged.
std::optional<PackedSectors> ReadPackedSectors(std::span<const std::byte> stored,
                                               const Archive& archive, const BlockEntry& block,
                                               std::string_view name);

// The content of the member whose sectors ReadPackedSectors gave.
MemberContent DecodePackedSectors(const PackedSectors& sectors, const BlockEntry& block,
                                  std::uint32_t sector_size, std::string_view name);

struct EncodedMember {
  std::vector<std::byte> bytes;  // what goes into the archive
  std::uint32_t flags = 0;       // block flags describing `bytes`
};

// Stores `content` in zlib-compressed sectors of `sector_size` bytes, each sector kept raw
// where compression doesn't shrink it; the whole member is stored plain when the sectors
// and their offset table would not save what `packing` asks. Never enciphered. A sector whose
// content is the same as that of the same sector of `previous` keeps its packed bytes: the
// rewritten member then takes no more room than before for all it leaves unchanged.
EncodedMember EncodeMember(std::span<const std::byte> content, std::uint32_t sector_size,
                           const Packing& packing = {}, const PackedSectors* previous = nullptr);

}  // namespace veltrane::mpq
