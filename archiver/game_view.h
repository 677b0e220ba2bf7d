#pragma once
// The archive as the game reads it, for the reader and the update alike: which header it
// takes, what it reads as each table, and how far each member's stored bytes reach.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/archive.h"
#include "archiver/free_space.h"
#include "archiver/source.h"
#include "common/result.h"

namespace veltrane::mpq {

// Whether the game takes the 32 bytes at a 512-byte boundary as the archive's header: they
// start with the signature and give a header size of at least 32. A header with a smaller
// size is passed over and the search goes on at the next boundary.
bool GameTakesHeader(std::span<const std::byte, kHeaderSize> stored);

// The offset of the header the game takes, searching the 512-byte boundaries in order; nothing
// when there is none. Only the scan buffer is held, whatever the size of the file.
Result<std::optional<std::uint64_t>> LocateHeader(ByteSource& source, std::uint64_t size);

// A table that reaches past the file's end is read as far as the file goes and the rest is
// taken as zeros, then deciphered whole, as the game reads it. A table larger than this that
// does so is refused: a count that large is damage, not a layout to keep.
inline constexpr std::uint64_t kMostCutTableEntries = 1 << 20;

// The stored bytes of a table of `count` entries at `position`, cut off tables filled with
// zeros; `what` and `path` name it in messages.
Result<std::vector<std::byte>> ReadTableAsGame(ByteSource& source, std::uint64_t file_size,
                                               std::uint64_t position, std::uint32_t count,
                                               const char* what, std::string_view path);

// The bytes a table of `count` entries at the header-relative `position` covers.
ByteRange TableRange(const Archive& archive, std::uint32_t position, std::uint64_t count);

// Whether the stored hash table shares bytes with the header: rewriting the header would
// change what the game reads as the table, so an update writes the table anew elsewhere. (A
// table that reaches past the file's end is refused before this is asked.)
bool HashTableMustMove(const Archive& archive);

// How far the game may read a member's stored bytes, from its position: `furthest` bounds
// every byte it may read, `end` is where a member the game reads whole ends (zero when it
// can't). The sector offsets of a compressed member give them, the content size of a plain
// one; neither looks at the recorded packed size. An enciphered offset table is deciphered
// with the key `name` gives or, without a name, with every key its first word allows; a
// table no key deciphers reaches to the file's end. Offsets may point past the file's end.
struct MemberExtent {
  std::uint64_t furthest = 0;
  std::uint64_t end = 0;
};
Result<MemberExtent> ReadMemberExtent(ByteSource& source, const Archive& archive,
                                      const BlockEntry& block,
                                      std::optional<std::string_view> name);

// `block` with its packed size widened to the stored bytes the game reads of the member
// `name`: decoding it then reads them all, as the game does. A block whose offsets can't be
// read is left as it is, so that decoding fails with the reader's message.
BlockEntry AsTheGameReads(ByteSource& source, const Archive& archive, BlockEntry block,
                          std::optional<std::string_view> name);

// What the game may read of each member, and where the archive it reads ends.
struct GameView {
  // Per block, how many bytes from its position the game may read: the recorded packed size
  // or, when longer, the extent of its sector offset table (compressed members) or of its
  // content (plain ones). Zero for blocks not in use.
  std::vector<std::uint32_t> reach;
  // The blocks a name entry points at: only these are read by the game.
  std::vector<bool> named;
  // One past the last byte the game reads: the header, both tables (as far as the file
  // goes) and every named member it reads whole, to the end its sector offsets or size
  // give. A recorded packed size is not taken: readers never look at it, and what follows
  // the archive (a signature) may lie within it. Nor is a member whose offsets are no table
  // the game reads: its bytes are kept by its reach, but they end nothing.
  std::uint64_t archive_end = 0;
};

// Reads the sector offset table of every named compressed member (and nothing else).
Result<GameView> ReadGameView(ByteSource& source, const Archive& archive);

// Where the stored bytes of `block` may be read by the game.
ByteRange ReachOf(const Archive& archive, const GameView& view, std::uint32_t block);

// The first named member whose bytes share any with the header, if one does.
std::optional<std::uint32_t> MemberOverHeader(const Archive& archive, const GameView& view);

}  // namespace veltrane::mpq
