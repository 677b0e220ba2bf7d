#include "archiver/archive.h"

#include <algorithm>
#include <type_traits>

#include "archiver/crypt.h"
#include "archiver/file.h"
#include "archiver/game_view.h"
#include "archiver/records.h"

namespace veltrane::mpq {
namespace {

template <class Entry>
std::uint32_t TableKey() {
  return std::is_same_v<Entry, HashEntry> ? HashTableKey() : BlockTableKey();
}

struct TableAt {
  std::uint64_t position;
  std::uint32_t count;
  const char* what;
};

// Reads a table as the game does, deciphers it, and decodes its entries.
template <class Entry>
Result<std::vector<Entry>> ReadTable(ByteSource& source, std::uint64_t file_size,
                                     const TableAt& table, std::string_view path) {
  auto stored = ReadTableAsGame(source, file_size, table.position, table.count, table.what, path);
  if (!stored) return stored.error();
  Decrypt(*stored, TableKey<Entry>());
  std::vector<Entry> entries(table.count);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    entries[i] = DecodeRecord<Entry>(stored->data() + i * kEntrySize);
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

// Visits the entries on `name`'s search path that the game takes as the name's: those with
// its name hashes whose block index lies inside the block table. Whether that block holds a
// member is asked only of the entry a lookup chooses.
template <class Visit>
void WalkNameEntries(const Archive& archive, std::string_view name, Visit visit) {
  const std::uint32_t a = HashName(name, HashKind::kNameA);
  const std::uint32_t b = HashName(name, HashKind::kNameB);
  WalkSearchPath(archive, name, [&](std::uint32_t slot) {
    const HashEntry& entry = archive.hashes[slot];
    if (entry.name_a != a || entry.name_b != b || entry.block >= archive.blocks.size()) {
      return false;
    }
    return visit(slot);
  });
}

// The name's entries whose block holds a member.
template <class Visit>
void WalkLiveEntries(const Archive& archive, std::string_view name, Visit visit) {
  WalkNameEntries(archive, name,
                  [&](std::uint32_t slot) { return Opens(archive, slot) && visit(slot); });
}

}  // namespace

Result<Archive> ParseArchive(ByteSource& source, std::string_view path) {
  auto size = source.Size();
  if (!size) return size.error();
  if (*size > kMaxArchiveBytes) {
    return CannotOn("read archive", path, "larger than 4 GiB");
  }
  auto header_offset = LocateHeader(source, *size);
  if (!header_offset) return header_offset.error();
  if (!*header_offset) {
    return CannotOn("read archive", path,
                    "not an MPQ archive (no header at any 512-byte boundary)");
  }
  Archive archive;
  archive.file_size = *size;
  archive.header_offset = **header_offset;
  HeaderBytes stored;
  auto read = source.ReadAt(archive.header_offset, stored);
  if (!read) return read.error();
  // The game reads every header as version 1 and uses neither its sizes nor its version.
  archive.header = DecodeHeader(stored);
  const Header& header = archive.header;
  if (header.sector_shift > 22) {
    return CannotOn(
        "read archive", path,
        "sector size shift " + std::to_string(header.sector_shift) + " is out of range");
  }
  if (header.hash_count == 0) {
    return CannotOn("read archive", path, "the hash table is empty");
  }
  auto hashes = ReadTable<HashEntry>(
      source, *size, {archive.Absolute(header.hash_position), header.hash_count, "hash table"},
      path);
  if (!hashes) return hashes.error();
  archive.hashes = std::move(*hashes);
  auto blocks = ReadTable<BlockEntry>(
      source, *size, {archive.Absolute(header.block_position), header.block_count, "block table"},
      path);
  if (!blocks) return blocks.error();
  archive.blocks = std::move(*blocks);
  return archive;
}

Result<Archive> ParseArchive(std::span<const std::byte> file, std::string_view path) {
  MemorySource source(file);
  return ParseArchive(source, path);
}

std::optional<std::uint32_t> LookUp(const Archive& archive, std::string_view name,
                                    std::uint16_t locale) {
  std::optional<std::uint32_t> exact;
  std::optional<std::uint32_t> neutral;
  WalkNameEntries(archive, name, [&](std::uint32_t slot) {
    const HashEntry& entry = archive.hashes[slot];
    // The platform is the field's low byte; writers leave the high one at 0xFF or 0.
    if ((entry.platform & 0xFF) != 0) return false;
    if (locale != 0 && entry.locale == locale) {
      exact = slot;
      return true;
    }
    if (entry.locale == 0) neutral = slot;
    return false;
  });
  return exact ? exact : neutral;
}

bool Opens(const Archive& archive, std::uint32_t slot) {
  const std::uint32_t block = archive.hashes[slot].block;
  return block < archive.blocks.size() && (archive.blocks[block].flags & kFlagExists) != 0;
}

std::optional<std::uint32_t> FindMember(const Archive& archive, std::string_view name) {
  const auto slot = LookUp(archive, name, 0);
  if (slot && Opens(archive, *slot)) return slot;
  return std::nullopt;
}

std::vector<std::uint16_t> LocalesIn(const Archive& archive) {
  std::vector<std::uint16_t> locales{0};
  for (const HashEntry& entry : archive.hashes) {
    if (entry.block < archive.blocks.size()) locales.push_back(entry.locale);
  }
  std::sort(locales.begin(), locales.end());
  locales.erase(std::unique(locales.begin(), locales.end()), locales.end());
  return locales;
}

std::vector<std::uint32_t> NameEntries(const Archive& archive, std::string_view name) {
  std::vector<std::uint32_t> slots;
  WalkNameEntries(archive, name, [&](std::uint32_t slot) {
    slots.push_back(slot);
    return false;
  });
  return slots;
}

std::vector<std::uint32_t> MemberSlots(const Archive& archive, std::string_view name) {
  std::vector<std::uint32_t> slots;
  WalkLiveEntries(archive, name, [&](std::uint32_t slot) {
    slots.push_back(slot);
    return false;
  });
  return slots;
}

std::vector<std::uint32_t> MemberLengths(const Archive& archive, std::string_view name) {
  std::vector<std::uint32_t> lengths;
  WalkLiveEntries(archive, name, [&](std::uint32_t slot) {
    lengths.push_back(archive.blocks[archive.hashes[slot].block].size);
    return false;
  });
  return lengths;
}

std::vector<BlockEntry> MemberBlocks(const Archive& archive, std::string_view name) {
  std::vector<BlockEntry> blocks;
  WalkLiveEntries(archive, name, [&](std::uint32_t slot) {
    blocks.push_back(archive.blocks[archive.hashes[slot].block]);
    return false;
  });
  return blocks;
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

template <class Entry>
std::vector<std::byte> EncodeTable(std::span<const Entry> entries) {
  std::vector<std::byte> out(entries.size() * kEntrySize);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EncodeRecord(entries[i], out.data() + i * kEntrySize);
  }
  Encrypt(out, TableKey<Entry>());
  return out;
}
template std::vector<std::byte> EncodeTable(std::span<const HashEntry>);
template std::vector<std::byte> EncodeTable(std::span<const BlockEntry>);

std::vector<std::byte> EncodeHashTable(const Archive& archive) {
  return EncodeTable<HashEntry>(archive.hashes);
}

std::vector<std::byte> EncodeBlockTable(const Archive& archive) {
  return EncodeTable<BlockEntry>(archive.blocks);
}

}  // namespace veltrane::mpq
