#pragma once
// Reading an archive's header and tables, and finding members by name.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "archiver/format.h"
#include "archiver/header.h"
#include "archiver/source.h"
#include "common/result.h"

namespace veltrane::mpq {

struct Archive {
  std::uint64_t file_size = 0;      // when it was parsed
  std::uint64_t header_offset = 0;  // absolute, a multiple of 512
  Header header;                    // as it was read
  std::vector<HashEntry> hashes;
  std::vector<BlockEntry> blocks;

  std::uint32_t SectorSize() const { return 512u << header.sector_shift; }
  // Absolute file offset of a header-relative position, wrapping at 32 bits as the game does.
  std::uint64_t Absolute(std::uint32_t relative) const {
    return static_cast<std::uint32_t>(header_offset + relative);
  }
  // The header-relative position of an absolute offset past the header.
  std::uint32_t Relative(std::uint64_t absolute) const {
    return static_cast<std::uint32_t>(absolute - header_offset);
  }
};

// Parses the archive in `source`, reading only the header and the two tables (and, to find
// the header, the 512-byte boundaries before it); `path` only names it in messages.
Result<Archive> ParseArchive(ByteSource& source, std::string_view path);
Result<Archive> ParseArchive(std::span<const std::byte> file, std::string_view path);

// The hash slot the game's lookup takes for `name` in `locale`, as Storm reads a map: along
// the name's search path (deleted entries passed over, a free one ending it) it looks at the
// entries with the name's hashes whose block index lies inside the block table, of platform
// 0. For a locale other than neutral, the first entry of exactly that locale wins; failing
// that, and for the neutral locale, the last neutral entry on the path. Some maps hold
// several neutral entries of one name: the game reads the last. Nothing when none fits.
std::optional<std::uint32_t> LookUp(const Archive& archive, std::string_view name,
                                    std::uint16_t locale);

// Whether the block the entry in `slot` points at holds a member the game can open.
bool Opens(const Archive& archive, std::uint32_t slot);

// The slot of the member the game opens as `name` in the neutral locale, if there is one.
std::optional<std::uint32_t> FindMember(const Archive& archive, std::string_view name);

// The neutral locale and every locale an entry of the hash table names.
std::vector<std::uint16_t> LocalesIn(const Archive& archive);

// Every entry on `name`'s search path that a lookup of the name may take, in any locale,
// whether or not its block holds a member: what a replace of the name re-points.
std::vector<std::uint32_t> NameEntries(const Archive& archive, std::string_view name);

// The hash slot of every entry named `name`, in any locale, that points at a block in use.
std::vector<std::uint32_t> MemberSlots(const Archive& archive, std::string_view name);

// The recorded length of every entry named `name`, in any locale, that points at a block in
// use, as the block table gives it: no member is read. Empty when the name isn't there.
std::vector<std::uint32_t> MemberLengths(const Archive& archive, std::string_view name);

// The block entry of every entry named `name`, in any locale, that points at a block in use.
std::vector<BlockEntry> MemberBlocks(const Archive& archive, std::string_view name);

// The first deleted or free slot on `name`'s search path, if the table has one.
std::optional<std::uint32_t> FindSlotFor(const Archive& archive, std::string_view name);

// Fills `slot` with `name` pointing at `block`.
void PlaceName(Archive& archive, std::uint32_t slot, std::string_view name, std::uint32_t block);

// How many hash entries refer to `block`.
std::size_t CountReferences(const Archive& archive, std::uint32_t block);

// A table's entries enciphered, as they are stored (for HashEntry and BlockEntry).
template <class Entry>
std::vector<std::byte> EncodeTable(std::span<const Entry> entries);

// The archive's tables, as they are stored.
std::vector<std::byte> EncodeHashTable(const Archive& archive);
std::vector<std::byte> EncodeBlockTable(const Archive& archive);

}  // namespace veltrane::mpq
