// Planning an update (update.h), its second half: where each piece and table goes in the
// commit and once settled, the headers of both steps, and the writes that put them there.
#include <algorithm>
#include <optional>
#include <string>

#include "archiver/update_work.h"

namespace veltrane::mpq {
namespace {

// Settling writes zeros over the freed ranges from one buffer of at most this size.
constexpr std::uint64_t kZeroPiece = 64 << 10;

// Where every block and table still in use after the update lies, but for the pieces the
// update writes anew: the header, the hash table when it stays, and each block in use.
std::vector<ByteRange> LiveRanges(const Work& work) {
  const Archive& archive = work.archive;
  std::vector<ByteRange> live{{archive.header_offset, archive.header_offset + kHeaderSize}};
  if (!work.hashes_changed) {
    live.push_back(TableRange(archive, archive.header.hash_position, archive.header.hash_count));
  }
  std::vector<bool> rewritten(archive.blocks.size());
  for (const Piece& piece : work.pieces) {
    if (piece.block != Piece::kTable) rewritten[piece.block] = true;
  }
  for (std::uint32_t i = 0; i < archive.blocks.size(); ++i) {
    if (!rewritten[i] && (archive.blocks[i].flags & kFlagExists)) live.push_back(RangeOf(work, i));
  }
  return live;
}

// The unchanged hash table as a piece, its bytes as they are stored.
Result<void> MoveHashTable(Work& work) {
  const Header& old = work.archive.header;
  std::vector<std::byte> table(std::size_t{old.hash_count} * kEntrySize);
  auto read = work.source.ReadAt(work.archive.Absolute(old.hash_position), table);
  if (!read) return read;
  AddHashPiece(work, std::move(table));
  return {};
}

// The index of the hash table's piece among the pieces.
std::size_t HashPieceIndex(const Work& work) {
  const auto piece = std::find_if(work.pieces.begin(), work.pieces.end(),
                                  [](const Piece& p) { return p.block == Piece::kTable; });
  return static_cast<std::size_t>(piece - work.pieces.begin());
}

// Where each piece, and the block table after them, goes for good (`settled`) and in the
// commit (`staged`). A piece settled past the old end is written there in the commit; every
// other piece and the block table are staged past everything settled.
struct Layout {
  std::vector<std::uint64_t> settled;
  std::vector<std::uint64_t> staged;
  std::vector<ByteRange> free;
  std::uint64_t final_size = 0;
  std::uint64_t staged_end = 0;
};

Layout LayOut(const Work& work, std::vector<ByteRange> live, std::uint64_t old_size) {
  std::vector<std::uint64_t> sizes;
  for (const Piece& piece : work.pieces) sizes.push_back(piece.bytes.size());
  sizes.push_back(std::uint64_t{work.archive.blocks.size()} * kEntrySize);
  Layout layout;
  // Only the archive's own bytes are freed: neither the preamble before the header nor what
  // follows the last byte the game reads (a signature) is ever written.
  layout.free = FreeRanges(work.dead, std::move(live), work.archive.header_offset + kHeaderSize,
                           work.view.archive_end);
  layout.settled = PlacePieces(sizes, layout.free, old_size);
  layout.final_size = old_size;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    layout.final_size = std::max(layout.final_size, layout.settled[i] + sizes[i]);
  }
  std::uint64_t cursor = layout.final_size;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    if (sizes[i] == 0) {
      // An empty member points just past the header: readers refuse a block at the end.
      layout.settled[i] = work.archive.header_offset + kHeaderSize;
      layout.staged.push_back(layout.settled[i]);
      continue;
    }
    const bool in_place = layout.settled[i] >= old_size && i + 1 < sizes.size();
    layout.staged.push_back(in_place ? layout.settled[i] : cursor);
    if (!in_place) cursor += sizes[i];
  }
  layout.staged_end = cursor;
  return layout;
}

// Fills the plan's writes and block table from the layout; the pieces and the block
// entries move into the plan.
void FillWrites(Work& work, const Layout& layout, UpdatePlan& plan) {
  const Archive& archive = work.archive;
  std::vector<ByteRange> placed;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> moved;  // block, settled position
  for (std::size_t i = 0; i < work.pieces.size(); ++i) {
    Piece& piece = work.pieces[i];
    const std::uint64_t settled = layout.settled[i], staged = layout.staged[i];
    placed.push_back({settled, settled + piece.bytes.size()});
    if (piece.block != Piece::kTable) {
      work.archive.blocks[piece.block].position = archive.Relative(staged);
      if (settled != staged) moved.emplace_back(piece.block, archive.Relative(settled));
    }
    const std::span<const std::byte> bytes = plan.pieces.emplace_back(std::move(piece.bytes));
    if (bytes.empty()) continue;
    plan.staged.push_back({staged, bytes});
    if (settled != staged) plan.settled.push_back({settled, bytes});
  }
  std::vector<BlockEntry>& blocks = work.archive.blocks;
  plan.staged_block_table = EncodeTable<BlockEntry>(blocks);
  for (const auto& [block, position] : moved) blocks[block].position = position;
  plan.settled_block_table = EncodeTable<BlockEntry>(blocks);
  plan.staged_block_table_offset = layout.staged.back();
  plan.settled_block_table_offset = layout.settled.back();
  placed.push_back({plan.settled_block_table_offset,
                    plan.settled_block_table_offset + plan.settled_block_table.size()});
  plan.clear = FreeRanges(layout.free, std::move(placed), 0, plan.old_size);
  std::uint64_t widest = 0;
  for (const ByteRange& range : plan.clear) widest = std::max(widest, range.size());
  plan.zeros.resize(static_cast<std::size_t>(std::min<std::uint64_t>(widest, kZeroPiece)));
  plan.final_size = layout.final_size;
}

// The header of the archive with its tables at `hash` (unless the old one stays) and
// `block`, ending at `end`.
HeaderBytes NewHeader(const Work& work, std::optional<std::uint64_t> hash, std::uint64_t block,
                      std::uint64_t end) {
  const Archive& archive = work.archive;
  Header header = archive.header;
  header.header_size = kHeaderSize;
  header.format_version = 0;
  header.archive_size = archive.Relative(end);
  if (hash) header.hash_position = archive.Relative(*hash);
  header.block_position = archive.Relative(block);
  header.block_count = static_cast<std::uint32_t>(archive.blocks.size());
  return EncodeHeader(header);
}

// What a trial move changes, to be put back when it doesn't help.
struct Undo {
  std::size_t pieces = 0;
  std::size_t dead = 0;
  bool hashes_changed = false;
  std::uint32_t block = 0;
  BlockEntry entry;
};

Undo MarkOf(const Work& work, std::uint32_t block = 0) {
  const BlockEntry entry =
      block < work.archive.blocks.size() ? work.archive.blocks[block] : BlockEntry{};
  return {work.pieces.size(), work.dead.size(), work.hashes_changed, block, entry};
}

// Lays out again after a trial move: kept when the archive then ends sooner, else undone.
void KeepIfShorter(Work& work, Layout& layout, std::uint64_t old_size, const Undo& undo) {
  Layout moved = LayOut(work, LiveRanges(work), old_size);
  if (moved.final_size < layout.final_size) {
    layout = std::move(moved);
    return;
  }
  work.pieces.resize(undo.pieces);
  work.dead.resize(undo.dead);
  work.hashes_changed = undo.hashes_changed;
  if (undo.block < work.archive.blocks.size()) work.archive.blocks[undo.block] = undo.entry;
}

// (listfile) written anew with its sectors as they are stored, unless the update writes it
// anyway or it doesn't read; whether it was.
Result<bool> RewriteListfile(Work& work, std::uint32_t block) {
  if (std::any_of(work.pieces.begin(), work.pieces.end(),
                  [&](const Piece& piece) { return piece.block == block; })) {
    return false;
  }
  auto listfile = ReadSideFile(work, block, kListfileName);
  if (!listfile) return listfile.error();
  if (!*listfile) return false;
  const ReadableMember& old = **listfile;
  StoreMember(work, block, old.content, kSideFilePacking, old.sectors ? &*old.sectors : nullptr);
  return true;
}

// The layout of the pieces, with the hash table and then (listfile) written anew where that
// makes the archive end sooner.
Result<Layout> ShortestLayout(Work& work, std::uint64_t old_size) {
  Layout layout = LayOut(work, LiveRanges(work), old_size);
  // A hash table that stays may stand between the freed places of (attributes) and the
  // block table, so that a rewritten (attributes) a few bytes longer than before fits in
  // neither. Written anew as well, it frees one run that all of them can share.
  if (!work.hashes_changed && layout.final_size > old_size) {
    const Undo undo = MarkOf(work);
    work.hashes_changed = true;
    auto read = MoveHashTable(work);
    if (!read) return read.error();
    KeepIfShorter(work, layout, old_size, undo);
  }
  // (listfile) usually stands just before that run: moved into a freed place elsewhere (the
  // replaced member's), its own place joins the run.
  if (layout.final_size > old_size && work.listfile_block) {
    const Undo undo = MarkOf(work, *work.listfile_block);
    auto moved = RewriteListfile(work, *work.listfile_block);
    if (!moved) return moved.error();
    if (*moved) KeepIfShorter(work, layout, old_size, undo);
  }
  return layout;
}

}  // namespace

Result<void> PlanWrites(Work& work, UpdatePlan& plan, std::string_view name,
                        std::string_view archive_path) {
  const Header& old = work.archive.header;
  work.dead.push_back(TableRange(work.archive, old.block_position, old.block_count));
  SealHashTable(work);
  auto layout = ShortestLayout(work, plan.old_size);
  if (!layout) return layout.error();
  if (layout->staged_end > kMaxArchiveBytes) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the archive would grow past 4 GiB");
  }
  std::optional<std::uint64_t> staged_hash, settled_hash;
  if (work.hashes_changed) {
    const std::size_t hash_piece = HashPieceIndex(work);
    staged_hash = layout->staged[hash_piece];
    settled_hash = layout->settled[hash_piece];
  }
  plan.staged_header = NewHeader(work, staged_hash, layout->staged.back(), layout->staged_end);
  plan.settled_header = NewHeader(work, settled_hash, layout->settled.back(), layout->final_size);
  FillWrites(work, *layout, plan);
  return {};
}

}  // namespace veltrane::mpq
