#include "archiver/archive.h"

#include <algorithm>

#include "archiver/byte_io.h"
#include "archiver/crypt.h"

namespace veltrane::mpq {
namespace {

std::string Quote(std::string_view path) {
  std::string out(1, '\'');
  out.append(path).push_back('\'');
  return out;
}

// The first 512-byte boundary holding the header signature, as the game searches.
std::optional<std::uint64_t> LocateHeader(std::span<const std::byte> file) {
  for (std::uint64_t offset = 0; offset + kHeaderSize <= file.size(); offset += kHeaderAlignment) {
    ByteCursor cursor(file.subspan(static_cast<std::size_t>(offset), kHeaderSize));
    if (cursor.U32() == kHeaderSignature) return offset;
  }
  return std::nullopt;
}

// Copies a table of `count` entries from `position` and deciphers it.
Result<std::vector<std::byte>> ReadTable(std::span<const std::byte> file, std::uint64_t position,
                                         std::uint32_t count, std::uint32_t key,
                                         std::string_view what, std::string_view path) {
  std::span<const std::byte> slice;
  if (!SliceOf(file, position, std::uint64_t{count} * kEntrySize, slice)) {
    return Fail("cannot read archive " + Quote(path) + ": the " + std::string(what) + " (" +
                std::to_string(count) + " entries at offset " + std::to_string(position) +
                ") lies outside the file of " + std::to_string(file.size()) + " bytes");
  }
  std::vector<std::byte> table(slice.begin(), slice.end());
  Decrypt(table, key);
  return table;
}

std::vector<HashEntry> DecodeHashes(std::span<const std::byte> table) {
  std::vector<HashEntry> entries(table.size() / kEntrySize);
  ByteCursor cursor(table);
  for (auto& entry : entries) {
    entry.name_a = cursor.U32();
    entry.name_b = cursor.U32();
    entry.locale = cursor.U16();
    entry.platform = cursor.U16();
    entry.block = cursor.U32();
  }
  return entries;
}

std::vector<BlockEntry> DecodeBlocks(std::span<const std::byte> table) {
  std::vector<BlockEntry> entries(table.size() / kEntrySize);
  ByteCursor cursor(table);
  for (auto& entry : entries) {
    entry.position = cursor.U32();
    entry.packed_size = cursor.U32();
    entry.size = cursor.U32();
    entry.flags = cursor.U32();
  }
  return entries;
}

// Visits the search path of `name` in slot order until a free slot ends it or the walk has
// come back round; `visit` returns true to stop early.
template <class Visit>
void WalkSearchPath(const Archive& archive, std::string_view name, Visit visit) {
  const auto count = static_cast<std::uint32_t>(archive.hashes.size());
  if (count == 0) return;
  const std::uint32_t mask = count - 1;
  std::uint32_t slot = HashName(name, HashKind::kTableIndex) & mask;
  for (std::uint32_t step = 0; step < count; ++step) {
    if (visit(slot)) return;
    if (archive.hashes[slot].block == kFreeSlot) return;
    slot = (slot + 1) & mask;
  }
}

}  // namespace

Result<Archive> ParseArchive(std::span<const std::byte> file, std::string_view path) {
  const auto header_offset = LocateHeader(file);
  if (!header_offset) {
    return Fail("cannot read archive " + Quote(path) +
                ": not an MPQ archive (no header signature at any 512-byte boundary)");
  }
  Archive archive;
  archive.header_offset = *header_offset;
  ByteCursor cursor(file.subspan(static_cast<std::size_t>(*header_offset), kHeaderSize));
  cursor.Bytes(12);  // signature, header size and archive size are not used by the game
  cursor.U16();      // format version: read as version 1 whatever it says
  archive.sector_shift = cursor.U16();
  const std::uint32_t hash_position = cursor.U32();
  const std::uint32_t block_position = cursor.U32();
  const std::uint32_t hash_count = cursor.U32();
  const std::uint32_t block_count = cursor.U32();
  if (archive.sector_shift > 22) {
    return Fail("cannot read archive " + Quote(path) + ": sector size shift " +
                std::to_string(archive.sector_shift) + " is out of range");
  }
  if (hash_count == 0) {
    return Fail("cannot read archive " + Quote(path) + ": the hash table is empty");
  }
  auto hashes = ReadTable(file, archive.Absolute(hash_position), hash_count, HashTableKey(),
                          "hash table", path);
  if (!hashes) return hashes.error();
  auto blocks = ReadTable(file, archive.Absolute(block_position), block_count, BlockTableKey(),
                          "block table", path);
  if (!blocks) return blocks.error();
  archive.hashes = DecodeHashes(*hashes);
  archive.blocks = DecodeBlocks(*blocks);
  return archive;
}

std::optional<std::uint32_t> FindMember(const Archive& archive, std::string_view name) {
  const std::uint32_t a = HashName(name, HashKind::kNameA);
  const std::uint32_t b = HashName(name, HashKind::kNameB);
  std::optional<std::uint32_t> neutral;
  std::optional<std::uint32_t> localised;
  WalkSearchPath(archive, name, [&](std::uint32_t slot) {
    const HashEntry& entry = archive.hashes[slot];
    if (entry.name_a != a || entry.name_b != b || entry.block >= archive.blocks.size() ||
        (archive.blocks[entry.block].flags & kFlagExists) == 0) {
      return false;
    }
    if (entry.locale == 0) neutral = slot;
    if (!localised) localised = slot;
    return neutral.has_value();
  });
  return neutral ? neutral : localised;
}

std::optional<std::uint32_t> FindSlotFor(const Archive& archive, std::string_view name) {
  std::optional<std::uint32_t> found;
  WalkSearchPath(archive, name, [&](std::uint32_t slot) {
    const std::uint32_t block = archive.hashes[slot].block;
    if (block == kFreeSlot || block == kDeletedSlot) {
      found = slot;
      return true;
    }
    return false;
  });
  return found;
}

void PlaceName(Archive& archive, std::uint32_t slot, std::string_view name, std::uint32_t block) {
  HashEntry& entry = archive.hashes[slot];
  entry.name_a = HashName(name, HashKind::kNameA);
  entry.name_b = HashName(name, HashKind::kNameB);
  entry.locale = 0;
  entry.platform = 0;
  entry.block = block;
}

std::size_t CountReferences(const Archive& archive, std::uint32_t block) {
  return static_cast<std::size_t>(
      std::count_if(archive.hashes.begin(), archive.hashes.end(),
                    [&](const HashEntry& e) { return e.block == block; }));
}

std::vector<std::byte> EncodeHashTable(const Archive& archive) {
  std::vector<std::byte> out;
  out.reserve(archive.hashes.size() * kEntrySize);
  for (const auto& entry : archive.hashes) {
    PutU32(out, entry.name_a);
    PutU32(out, entry.name_b);
    PutU16(out, entry.locale);
    PutU16(out, entry.platform);
    PutU32(out, entry.block);
  }
  Encrypt(out, HashTableKey());
  return out;
}

std::vector<std::byte> EncodeBlockTable(const Archive& archive) {
  std::vector<std::byte> out;
  out.reserve(archive.blocks.size() * kEntrySize);
  for (const auto& entry : archive.blocks) {
    PutU32(out, entry.position);
    PutU32(out, entry.packed_size);
    PutU32(out, entry.size);
    PutU32(out, entry.flags);
  }
  Encrypt(out, BlockTableKey());
  return out;
}

}  // namespace veltrane::mpq
