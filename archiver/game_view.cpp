#include "archiver/game_view.h"

#include <algorithm>
#include <string>

#include "archiver/byte_io.h"
#include "archiver/crypt.h"
#include "archiver/header.h"

namespace veltrane::mpq {
namespace {

// The header search reads the file in chunks that grow to this size (a multiple of 512).
constexpr std::size_t kFirstScanChunk = 4 << 10;
constexpr std::size_t kMaxScanChunk = 64 << 10;

// The words of a sector offset table, deciphered with `key` when it has one; nothing when
// the key gives no table the game could read: its first sector must start after the table
// and be no longer than a sector. A wrong key gives random words, which this almost never
// lets through.
std::optional<std::vector<std::uint32_t>> Decipher(std::span<const std::byte> stored,
                                                   std::optional<std::uint32_t> key,
                                                   std::uint32_t sector_size) {
  std::vector<std::byte> plain(stored.begin(), stored.end());
  if (key) Decrypt(plain, *key);
  std::vector<std::uint32_t> words(plain.size() / 4);
  for (std::size_t i = 0; i < words.size(); ++i) words[i] = LoadLe32(&plain[i * 4]);
  if (key && words.size() >= 2 && (words[1] < words[0] || words[1] - words[0] > sector_size)) {
    return std::nullopt;
  }
  return words;
}

// The sizes the first word of a member's sector offset table has: the table's own size,
// with or without the word that ends the sector CRCs.
std::vector<std::uint32_t> FirstWords(const BlockEntry& block, std::uint64_t sectors) {
  std::vector<std::uint32_t> words{static_cast<std::uint32_t>((sectors + 1) * 4)};
  if (block.flags & kFlagSectorCrc) words.push_back(static_cast<std::uint32_t>((sectors + 2) * 4));
  return words;
}

// Whether the table is one the game reads whole: it starts with its own size, and each
// sector starts where the one before ends, no longer than a sector.
bool Readable(std::span<const std::uint32_t> words, std::span<const std::uint32_t> first,
              std::uint32_t sector_size) {
  if (std::find(first.begin(), first.end(), words.front()) == first.end()) return false;
  for (std::size_t i = 1; i < words.size(); ++i) {
    if (words[i] < words[i - 1] || words[i] - words[i - 1] > sector_size) return false;
  }
  return true;
}

// The keys that may decipher an enciphered sector offset table: the one the member's name
// gives when it is known, else every key that turns the first stored word into a size the
// table can have.
std::vector<std::optional<std::uint32_t>> TableKeys(std::span<const std::byte> stored,
                                                    const BlockEntry& block,
                                                    std::span<const std::uint32_t> first,
                                                    std::optional<std::string_view> name) {
  if ((block.flags & kFlagEncrypted) == 0) return {std::nullopt};
  if (name) {
    const bool fix_key = (block.flags & kFlagFixKey) != 0;
    return {MemberKey(*name, block.position, block.size, fix_key) - 1};
  }
  std::vector<std::optional<std::uint32_t>> keys;
  for (std::uint32_t word : first) {
    for (std::uint32_t key : KeysDeciphering(LoadLe32(stored.data()), word)) keys.push_back(key);
  }
  return keys;
}

// The extent a compressed member's sector offset table gives, from its stored words (as
// many as lie in the file); nothing when no key deciphers it. The game reads sector i from
// offset i to offset i + 1, so the largest offset bounds it. A member of the single-unit form
// counts only when its first word is the table's size. Every key that gives a first sector
// the game could read is taken, and the furthest extent kept.
std::optional<MemberExtent> SectorExtent(std::span<const std::byte> stored, const BlockEntry& block,
                                         std::uint32_t sector_size, std::uint64_t sectors,
                                         std::optional<std::string_view> name) {
  const std::vector<std::uint32_t> first = FirstWords(block, sectors);
  std::optional<MemberExtent> extent;
  for (const auto& key : TableKeys(stored, block, first, name)) {
    const auto words = Decipher(stored, key, sector_size);
    if (!words) continue;
    const bool readable = Readable(*words, first, sector_size);
    if ((block.flags & kFlagSingleUnit) && !readable) continue;
    MemberExtent found{*std::max_element(words->begin(), words->end()),
                       readable ? words->back() : 0u};
    if (!extent) extent = MemberExtent{};
    extent->furthest = std::max(extent->furthest, found.furthest);
    extent->end = std::max(extent->end, found.end);
  }
  return extent;
}

std::vector<bool> NamedBlocks(const Archive& archive) {
  std::vector<bool> named(archive.blocks.size());
  for (const HashEntry& entry : archive.hashes) {
    if (entry.block < named.size()) named[entry.block] = true;
  }
  return named;
}

}  // namespace

Result<MemberExtent> ReadMemberExtent(ByteSource& source, const Archive& archive,
                                      const BlockEntry& block,
                                      std::optional<std::string_view> name) {
  const std::uint64_t start = archive.Absolute(block.position);
  if (start >= archive.file_size) return MemberExtent{};
  const std::uint64_t room = archive.file_size - start;
  const bool compressed = (block.flags & (kFlagImplode | kFlagCompress)) != 0;
  if (!compressed || block.size == 0) {
    const std::uint64_t size = std::min<std::uint64_t>(block.size, room);
    return MemberExtent{size, size};
  }
  const std::uint32_t sector_size = archive.SectorSize();
  const std::uint64_t sectors = (std::uint64_t{block.size} + sector_size - 1) / sector_size;
  // The table has a word per sector and one that ends the last; with sector CRCs, one more
  // that ends them.
  const std::uint64_t table_words = sectors + ((block.flags & kFlagSectorCrc) ? 2 : 1);
  const std::uint64_t words = std::min<std::uint64_t>(table_words, room / 4);
  if (words < 2) return MemberExtent{};
  std::vector<std::byte> stored(static_cast<std::size_t>(words * 4));
  auto read = source.ReadAt(start, stored);
  if (!read) return read.error();
  if (auto extent = SectorExtent(stored, block, sector_size, sectors, name)) return *extent;
  // An enciphered sectored member whose key no first word gives might still be read by a
  // game that knows its name in a way not seen here: nothing after it is taken as free.
  const bool unknown = (block.flags & kFlagEncrypted) && !(block.flags & kFlagSingleUnit);
  return unknown ? MemberExtent{room, room} : MemberExtent{};
}

BlockEntry AsTheGameReads(ByteSource& source, const Archive& archive, BlockEntry block,
                          std::optional<std::string_view> name) {
  auto extent = ReadMemberExtent(source, archive, block, name);
  // A table that can't be read leaves the packed size: reading the member's stored data
  // then fails with the reader's message.
  if (!extent) return block;
  block.packed_size = static_cast<std::uint32_t>(
      std::clamp<std::uint64_t>(extent->furthest, block.packed_size, kFreeSlot));
  return block;
}

bool GameTakesHeader(std::span<const std::byte, kHeaderSize> stored) {
  return LoadLe32(stored.data()) == kHeaderSignature && DecodeHeader(stored).header_size >= 32;
}

Result<std::optional<std::uint64_t>> LocateHeader(ByteSource& source, std::uint64_t size) {
  std::vector<std::byte> chunk;
  std::size_t step = kFirstScanChunk;
  for (std::uint64_t start = 0; start + kHeaderSize <= size; start += chunk.size()) {
    chunk.resize(static_cast<std::size_t>(std::min<std::uint64_t>(step, size - start)));
    auto read = source.ReadAt(start, chunk);
    if (!read) return read.error();
    for (std::size_t at = 0; at + kHeaderSize <= chunk.size(); at += kHeaderAlignment) {
      if (GameTakesHeader(std::span(chunk).subspan(at).first<kHeaderSize>())) {
        return std::optional(start + at);
      }
    }
    step = std::min(step * 2, kMaxScanChunk);
  }
  return std::optional<std::uint64_t>();
}

Result<std::vector<std::byte>> ReadTableAsGame(ByteSource& source, std::uint64_t file_size,
                                               std::uint64_t position, std::uint32_t count,
                                               const char* what, std::string_view path) {
  const std::uint64_t bytes = std::uint64_t{count} * kEntrySize;
  const bool cut = position > file_size || bytes > file_size - position;
  if (cut && (position >= file_size || count > kMostCutTableEntries)) {
    return CannotOn("read archive", path,
                    std::string("the ") + what + " (" + std::to_string(count) +
                        " entries at offset " + std::to_string(position) +
                        ") lies outside the file of " + std::to_string(file_size) + " bytes");
  }
  std::vector<std::byte> stored(static_cast<std::size_t>(bytes));
  const std::uint64_t in_file = std::min(bytes, file_size - position);
  auto read = source.ReadAt(position, std::span(stored).first(static_cast<std::size_t>(in_file)));
  if (!read) return read.error();
  return stored;
}

ByteRange TableRange(const Archive& archive, std::uint32_t position, std::uint64_t count) {
  const std::uint64_t begin = archive.Absolute(position);
  return {begin, begin + count * kEntrySize};
}

bool HashTableMustMove(const Archive& archive) {
  const ByteRange table = TableRange(archive, archive.header.hash_position, archive.hashes.size());
  return table.begin < archive.header_offset + kHeaderSize && table.end > archive.header_offset;
}

Result<GameView> ReadGameView(ByteSource& source, const Archive& archive) {
  GameView view;
  view.named = NamedBlocks(archive);
  view.reach.resize(archive.blocks.size());
  const Header& header = archive.header;
  view.archive_end = archive.header_offset + kHeaderSize;
  for (const ByteRange& table :
       {TableRange(archive, header.hash_position, archive.hashes.size()),
        TableRange(archive, header.block_position, archive.blocks.size())}) {
    view.archive_end = std::max(view.archive_end, std::min(table.end, archive.file_size));
  }
  for (std::size_t i = 0; i < archive.blocks.size(); ++i) {
    const BlockEntry& block = archive.blocks[i];
    if ((block.flags & kFlagExists) == 0) continue;
    view.reach[i] = block.packed_size;
    const std::uint64_t start = archive.Absolute(block.position);
    if (!view.named[i] || start >= archive.file_size) continue;
    auto extent = ReadMemberExtent(source, archive, block, std::nullopt);
    if (!extent) return extent.error();
    const std::uint64_t room = archive.file_size - start;
    view.reach[i] = static_cast<std::uint32_t>(
        std::max<std::uint64_t>(block.packed_size, std::min(extent->furthest, room)));
    view.archive_end = std::max(view.archive_end, start + std::min(extent->end, room));
  }
  return view;
}

ByteRange ReachOf(const Archive& archive, const GameView& view, std::uint32_t block) {
  const std::uint64_t begin = archive.Absolute(archive.blocks[block].position);
  return {begin, begin + (block < view.reach.size() ? view.reach[block] : 0)};
}

std::optional<std::uint32_t> MemberOverHeader(const Archive& archive, const GameView& view) {
  const std::uint64_t header = archive.header_offset;
  for (std::uint32_t i = 0; i < view.reach.size(); ++i) {
    const ByteRange span = ReachOf(archive, view, i);
    if (view.named[i] && span.size() > 0 && span.begin < header + kHeaderSize &&
        span.end > header) {
      return i;
    }
  }
  return std::nullopt;
}

}  // namespace veltrane::mpq
