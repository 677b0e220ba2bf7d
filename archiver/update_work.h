#pragma once
// What planning an update (update.h) works on, shared by its two halves: what the update
// stores (update.cpp) and where each piece goes in the commit and once settled
// (placement.cpp).

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/archive.h"
#include "archiver/free_space.h"
#include "archiver/game_view.h"
#include "archiver/member.h"
#include "archiver/update.h"

namespace veltrane::mpq {

// New bytes the update stores: a member's (block says which) or a table's.
struct Piece {
  static constexpr std::uint32_t kTable = 0xFFFFFFFF;
  std::uint32_t block = kTable;
  std::vector<std::byte> bytes;
};

struct Work {
  Archive archive;
  GameView view;  // of the archive as it was
  ByteSource& source;
  std::size_t original_blocks = 0;
  // Whether any hash entry changed. While none has, the hash table on disk stays valid and
  // is not written again.
  bool hashes_changed = false;
  std::vector<Piece> pieces;
  std::vector<ByteRange> dead;                  // what the update stops using
  std::vector<std::uint32_t> freed_blocks;      // block entries no name refers to any more
  std::optional<std::uint32_t> listfile_block;  // (listfile)'s, when the archive has one
};

// The bookkeeping members are written again on every update, and (attributes) is mostly
// CRCs and MD5s that barely compress: they get zlib's fastest level, and are stored plain
// unless that saves a tenth. Rewritten, they keep every sector the update leaves unchanged
// as it was stored, so that they fit where they were. They stay in sectors: the game reads
// every member of a map as sectors and ignores the single-unit flag, and so do readers that
// follow it. Members the user stores get the smallest form.
inline constexpr Packing kSideFilePacking{kZlibFastest, 1};
inline constexpr Packing kMemberPacking{kZlibSmallest, 0};

// Where the stored bytes of one of the archive's blocks lie, as far as the game may read them.
ByteRange RangeOf(const Work& work, std::uint32_t block);

// Encodes `content` as the piece of `block`; the block's old bytes are dead. A sector whose
// content `previous` holds unchanged keeps its stored bytes.
void StoreMember(Work& work, std::uint32_t block, std::span<const std::byte> content,
                 const Packing& packing, const PackedSectors* previous = nullptr);

// A member's content and, when it is stored in sectors a rewrite can keep, those sectors.
struct ReadableMember {
  std::vector<std::byte> content;
  std::optional<PackedSectors> sectors;
};

// The content of the bookkeeping member `name` in `block`; nothing when it doesn't decode
// (the game doesn't need it, so it is left as it is). Fails only when the file can't be read.
Result<std::optional<ReadableMember>> ReadSideFile(Work& work, std::uint32_t block,
                                                   const char* name);

// `table` as the hash table's piece; the old one is dead.
void AddHashPiece(Work& work, std::vector<std::byte> table);

// Called once no hash entry can change any more: a changed hash table becomes a piece, and
// the decoded entries go, so that they are not held while the side files are encoded.
void SealHashTable(Work& work);

// Lays out the pieces and tables for the commit and for settling, and fills the plan with
// the writes of both; `name` and `archive_path` name the update in messages.
Result<void> PlanWrites(Work& work, UpdatePlan& plan, std::string_view name,
                        std::string_view archive_path);

}  // namespace veltrane::mpq
