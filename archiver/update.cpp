#include "archiver/update.h"

#include <algorithm>
#include <optional>
#include <string>

#include "archiver/archive.h"
#include "archiver/byte_io.h"
#include "archiver/crypt.h"
#include "archiver/game_view.h"
#include "archiver/member.h"
#include "archiver/side_files.h"

namespace veltrane::mpq {
namespace {

// Frees a vector's memory now (assigning {} would keep its capacity).
template <class T>
void Release(std::vector<T>& values) {
  std::vector<T>().swap(values);
}

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
  std::vector<Span> dead;                       // what the update stops using
  std::vector<std::uint32_t> freed_blocks;      // block entries no name refers to any more
  std::optional<std::uint32_t> listfile_block;  // (listfile)'s, when the archive has one
};

// Where the stored bytes of one of the archive's blocks lie, as far as the game may read them.
Span SpanOf(const Work& work, std::uint32_t block) {
  return ReachOf(work.archive, work.view, block);
}

// Appends an empty block entry; its index. A name entry that already holds that index pointed
// past the end of the block table, so readers skipped it: it is marked deleted (searches go
// on past it as before) instead of coming to name the new block.
std::uint32_t AppendBlock(Work& work) {
  const auto block = static_cast<std::uint32_t>(work.archive.blocks.size());
  work.archive.blocks.emplace_back();
  for (HashEntry& entry : work.archive.hashes) {
    if (entry.block != block) continue;
    entry.block = kDeletedSlot;
    work.hashes_changed = true;
  }
  return block;
}

// Whether an entry of another name than the one in `slot` refers to `block`.
bool SharedWithOtherName(const Archive& archive, std::uint32_t slot, std::uint32_t block) {
  const HashEntry& own = archive.hashes[slot];
  return std::any_of(archive.hashes.begin(), archive.hashes.end(), [&](const HashEntry& e) {
    return e.block == block && (e.name_a != own.name_a || e.name_b != own.name_b);
  });
}

// The block a rewritten member goes to: its own, unless another name shares that entry and
// so must keep the old content.
std::uint32_t BlockForRewrite(Work& work, std::uint32_t slot) {
  const std::uint32_t block = work.archive.hashes[slot].block;
  if (!SharedWithOtherName(work.archive, slot, block)) return block;
  const std::uint32_t own = AppendBlock(work);
  work.archive.hashes[slot].block = own;
  work.hashes_changed = true;
  return own;
}

// Points every other locale of the name in `slots` at `block`; a block that no entry refers
// to any more is freed, its bytes dead.
void JoinLocales(Work& work, std::span<const std::uint32_t> slots, std::uint32_t block) {
  for (std::uint32_t slot : slots) {
    const std::uint32_t old = work.archive.hashes[slot].block;
    if (old == block) continue;
    work.archive.hashes[slot].block = block;
    work.hashes_changed = true;
    if (CountReferences(work.archive, old) > 0) continue;
    work.dead.push_back(SpanOf(work, old));
    work.archive.blocks[old] = BlockEntry{};
    work.freed_blocks.push_back(old);
  }
}

// The bookkeeping members are written again on every update, and (attributes) is mostly
// CRCs and MD5s that barely compress: they get zlib's fastest level, and are stored plain
// unless that saves a tenth. Rewritten, they keep every sector the update leaves unchanged
// as it was stored, so that they fit where they were. They stay in sectors: the game reads every
// member of a map as sectors and ignores the single-unit flag, and so do readers that follow it.
// Members the user stores get the smallest form.
constexpr Packing kSideFilePacking{kZlibFastest, 1};
constexpr Packing kMemberPacking{kZlibSmallest, 0};

void StoreMember(Work& work, std::uint32_t block, std::span<const std::byte> content,
                 const Packing& packing, const PackedSectors* previous = nullptr) {
  EncodedMember encoded = EncodeMember(content, work.archive.SectorSize(), packing, previous);
  BlockEntry& entry = work.archive.blocks[block];
  if (block < work.original_blocks) work.dead.push_back(SpanOf(work, block));
  entry.packed_size = static_cast<std::uint32_t>(encoded.bytes.size());
  entry.size = static_cast<std::uint32_t>(content.size());
  entry.flags = encoded.flags;
  work.pieces.push_back({block, std::move(encoded.bytes)});
}

// `table` as the hash table's piece; the old one is dead.
void AddHashPiece(Work& work, std::vector<std::byte> table) {
  const Header& old = work.archive.header;
  work.dead.push_back(TableSpan(work.archive, old.hash_position, old.hash_count));
  work.pieces.push_back({Piece::kTable, std::move(table)});
}

// Called once no hash entry can change any more: a changed hash table becomes a piece, and
// the decoded entries go, so that they are not held while the side files are encoded.
void SealHashTable(Work& work) {
  if (work.archive.hashes.empty()) return;
  if (work.hashes_changed) AddHashPiece(work, EncodeHashTable(work.archive));
  Release(work.archive.hashes);
}

struct Claim {
  std::uint32_t block = 0;
  bool added = false;  // the name took a free slot
};

// The block that will hold `name`: the replaced member's, or a new one in a free slot.
Result<Claim> ClaimBlock(Work& work, std::string_view name, std::string_view archive_path) {
  if (auto slot = FindMember(work.archive, name)) {
    const std::vector<std::uint32_t> slots = MemberSlots(work.archive, name);
    const std::uint32_t block = BlockForRewrite(work, *slot);
    JoinLocales(work, slots, block);
    return Claim{block};
  }
  const auto slot = FindSlotFor(work.archive, name);
  if (!slot) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "its hash table of " + std::to_string(work.archive.hashes.size()) +
                        " entries has no free slot");
  }
  const std::uint32_t block = AppendBlock(work);
  PlaceName(work.archive, *slot, name, block);
  work.hashes_changed = true;
  return Claim{block, true};
}

struct SideFile {
  std::uint32_t slot = 0;
  std::vector<std::byte> content;
  std::optional<PackedSectors> sectors;  // as stored, for the rewrite to keep
};

// A bookkeeping member's slot and readable content, if the archive has it; fails only when
// the archive file can't be read.
Result<std::optional<SideFile>> ReadSideFile(Work& work, const char* name) {
  const auto slot = FindMember(work.archive, name);
  if (!slot) return std::optional<SideFile>();
  const BlockEntry& block = work.archive.blocks[work.archive.hashes[*slot].block];
  auto stored = ReadStoredBytes(work.source, work.archive, block);
  if (!stored) return stored.error();
  auto sectors = ReadPackedSectors(*stored, work.archive, block, name);
  auto content = sectors ? DecodePackedSectors(*sectors, block, work.archive.SectorSize(), name)
                         : DecodeMember(*stored, work.archive, block, name);
  // Unreadable: left as it is, the game doesn't need it.
  if (!content) return std::optional<SideFile>();
  return std::optional<SideFile>(SideFile{*slot, std::move(*content), std::move(sectors)});
}

// The rewritten (listfile): its block, and what (attributes) records of it when the archive
// has (attributes), so its content needn't be held any longer.
struct ListfileChange {
  std::uint32_t block = 0;
  ContentDigest digest;
};

// Adds `name` to (listfile) when it has one that lacks it.
Result<std::optional<ListfileChange>> UpdateListfile(Work& work, std::string_view name) {
  auto listfile = ReadSideFile(work, kListfileName);
  if (!listfile) return listfile.error();
  if (!*listfile || ListfileHas((*listfile)->content, name)) {
    return std::optional<ListfileChange>();
  }
  auto content = ListfileWith((*listfile)->content, name);
  Release((*listfile)->content);
  ListfileChange change;
  change.block = BlockForRewrite(work, (*listfile)->slot);
  if (FindMember(work.archive, kAttributesName)) change.digest = DigestOf(content);
  StoreMember(work, change.block, content, kSideFilePacking,
              (*listfile)->sectors ? &*(*listfile)->sectors : nullptr);
  return std::optional(change);
}

// Brings (attributes) up to date for the changed blocks, when it has a layout we know.
Result<void> UpdateAttributes(Work& work, std::uint32_t target, const InputFile& input,
                              const std::optional<ListfileChange>& list,
                              std::size_t original_blocks) {
  auto side = ReadSideFile(work, kAttributesName);
  if (!side) return side.error();
  if (!*side) return {};
  auto attributes = Attributes::Parse(std::move((*side)->content), original_blocks);
  if (!attributes) return {};
  const std::uint32_t own = BlockForRewrite(work, (*side)->slot);
  SealHashTable(work);
  attributes->Resize(work.archive.blocks.size());
  attributes->Describe(target, input.content, input.file_time);
  if (list) attributes->Describe(list->block, list->digest, attributes->FileTime(list->block));
  attributes->Clear(own);
  for (std::uint32_t freed : work.freed_blocks) attributes->Clear(freed);
  StoreMember(work, own, attributes->bytes(), kSideFilePacking,
              (*side)->sectors ? &*(*side)->sectors : nullptr);
  return {};
}

// Stores `input` and brings the bookkeeping members up to date.
Result<void> StoreAll(Work& work, std::string_view name, const InputFile& input,
                      std::string_view archive_path) {
  const std::size_t original_blocks = work.original_blocks;
  auto claim = ClaimBlock(work, name, archive_path);
  if (!claim) return claim.error();
  StoreMember(work, claim->block, input.content, kMemberPacking);
  std::optional<ListfileChange> list;
  // Only a name new to the hash table is new to (listfile); a replace leaves it unread.
  if (claim->added && !SameMemberName(name, kListfileName)) {
    auto changed = UpdateListfile(work, name);
    if (!changed) return changed.error();
    list = *changed;
  }
  if (SameMemberName(name, kAttributesName)) return {};
  return UpdateAttributes(work, claim->block, input, list, original_blocks);
}

// Where every block and table still in use after the update lies, but for the pieces the
// update writes anew: the header, the hash table when it stays, and each block in use.
std::vector<Span> LiveSpans(const Work& work) {
  const Archive& archive = work.archive;
  std::vector<Span> live{{archive.header_offset, archive.header_offset + kHeaderSize}};
  if (!work.hashes_changed) {
    live.push_back(TableSpan(archive, archive.header.hash_position, archive.header.hash_count));
  }
  std::vector<bool> rewritten(archive.blocks.size());
  for (const Piece& piece : work.pieces) {
    if (piece.block != Piece::kTable) rewritten[piece.block] = true;
  }
  for (std::uint32_t i = 0; i < archive.blocks.size(); ++i) {
    if (!rewritten[i] && (archive.blocks[i].flags & kFlagExists)) live.push_back(SpanOf(work, i));
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

std::size_t HashPiece(const Work& work) {
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
  std::vector<Span> free;
  std::uint64_t final_size = 0;
  std::uint64_t staged_end = 0;
};

Layout LayOut(const Work& work, std::vector<Span> live, std::uint64_t old_size) {
  std::vector<std::uint64_t> sizes;
  for (const Piece& piece : work.pieces) sizes.push_back(piece.bytes.size());
  sizes.push_back(std::uint64_t{work.archive.blocks.size()} * kEntrySize);
  Layout layout;
  // Only the archive's own bytes are freed: neither the preamble before the header nor what
  // follows the last byte the game reads (a signature) is ever written.
  layout.free = FreeSpans(work.dead, std::move(live), work.archive.header_offset + kHeaderSize,
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

// Fills the plan's writes and block table from the layout; the pieces move into the plan.
void FillWrites(Work& work, const Layout& layout, UpdatePlan& plan) {
  const Archive& archive = work.archive;
  std::vector<Span> placed;
  for (std::size_t i = 0; i < work.pieces.size(); ++i) {
    Piece& piece = work.pieces[i];
    const std::uint64_t settled = layout.settled[i], staged = layout.staged[i];
    placed.push_back({settled, settled + piece.bytes.size()});
    if (piece.block != Piece::kTable) {
      work.archive.blocks[piece.block].position = archive.Relative(staged);
      if (settled != staged) plan.moved_blocks.emplace_back(piece.block, archive.Relative(settled));
    }
    const std::span<const std::byte> bytes = plan.pieces.emplace_back(std::move(piece.bytes));
    if (bytes.empty()) continue;
    plan.staged.push_back({staged, bytes});
    if (settled != staged) plan.settled.push_back({settled, bytes});
  }
  plan.staged_block_table = EncodeBlockTable(work.archive);
  plan.settled_block_table = layout.settled.back();
  placed.push_back(
      {plan.settled_block_table, plan.settled_block_table + plan.staged_block_table.size()});
  plan.clear = FreeSpans(layout.free, std::move(placed), 0, plan.old_size);
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
  Layout moved = LayOut(work, LiveSpans(work), old_size);
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
  const BlockEntry entry = work.archive.blocks[block];
  auto stored = ReadStoredBytes(work.source, work.archive, entry);
  if (!stored) return stored.error();
  auto sectors = ReadPackedSectors(*stored, work.archive, entry, kListfileName);
  auto content =
      sectors ? DecodePackedSectors(*sectors, entry, work.archive.SectorSize(), kListfileName)
              : DecodeMember(*stored, work.archive, entry, kListfileName);
  if (!content) return false;
  StoreMember(work, block, *content, kSideFilePacking, sectors ? &*sectors : nullptr);
  return true;
}

// Lays out the pieces and tables and fills the plan.
Result<void> PlanWrites(Work& work, UpdatePlan& plan, std::string_view name,
                        std::string_view archive_path) {
  const Header& old = work.archive.header;
  work.dead.push_back(TableSpan(work.archive, old.block_position, old.block_count));
  SealHashTable(work);
  Layout layout = LayOut(work, LiveSpans(work), plan.old_size);
  // A hash table that stays may stand between the freed places of (attributes) and the
  // block table, so that a rewritten (attributes) a few bytes longer than before fits in
  // neither. Written anew as well, it frees one run that all of them can share.
  if (!work.hashes_changed && layout.final_size > plan.old_size) {
    const Undo undo = MarkOf(work);
    work.hashes_changed = true;
    auto read = MoveHashTable(work);
    if (!read) return read;
    KeepIfShorter(work, layout, plan.old_size, undo);
  }
  // (listfile) usually stands just before that run: moved into a freed place elsewhere (the
  // replaced member's), its own place joins the run.
  if (layout.final_size > plan.old_size && work.listfile_block) {
    const Undo undo = MarkOf(work, *work.listfile_block);
    auto moved = RewriteListfile(work, *work.listfile_block);
    if (!moved) return moved.error();
    if (*moved) KeepIfShorter(work, layout, plan.old_size, undo);
  }
  if (layout.staged_end > kMaxArchiveBytes) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the archive would grow past 4 GiB");
  }
  std::optional<std::uint64_t> staged_hash, settled_hash;
  if (work.hashes_changed) {
    const std::size_t hash_piece = HashPiece(work);
    staged_hash = layout.staged[hash_piece];
    settled_hash = layout.settled[hash_piece];
  }
  plan.staged_header = NewHeader(work, staged_hash, layout.staged.back(), layout.staged_end);
  plan.settled_header = NewHeader(work, settled_hash, layout.settled.back(), layout.final_size);
  FillWrites(work, layout, plan);
  plan.staged_block_table_at = layout.staged.back();
  return {};
}

}  // namespace

Result<UpdatePlan> PlanAdd(ByteSource& source, std::string_view name, const InputFile& input,
                           std::string_view archive_path) {
  if (name.empty()) {
    return CannotOn("add to archive", archive_path, "the member name is empty");
  }
  if (input.content.size() > kMaxArchiveBytes) {
    return CannotOn("add", name, "larger than an archive member can be");
  }
  auto archive = ParseArchive(source, archive_path);
  if (!archive) return archive.error();
  UpdatePlan plan;
  plan.old_size = archive->file_size;
  plan.header_offset = archive->header_offset;
  plan.old_header = EncodeHeader(archive->header);
  auto view = ReadGameView(source, *archive);
  if (!view) return view.error();
  if (auto block = MemberOverHeader(*archive, *view)) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the data of block " + std::to_string(*block) +
                        " shares bytes with the archive header, which the update rewrites; "
                        "the archive is left as it was");
  }
  const std::size_t original_blocks = archive->blocks.size();
  // A hash table the header change or the writes past the end would alter is written anew.
  const bool hash_must_move = HashTableMustMove(*archive);
  std::optional<std::uint32_t> listfile;
  if (auto slot = FindMember(*archive, kListfileName)) listfile = archive->hashes[*slot].block;
  Work work{std::move(*archive),
            std::move(*view),
            source,
            original_blocks,
            hash_must_move,
            {},
            {},
            {},
            listfile};
  auto stored = StoreAll(work, name, input, archive_path);
  if (!stored) return stored.error();
  auto planned = PlanWrites(work, plan, name, archive_path);
  if (!planned) return planned.error();
  return plan;
}

Result<void> AddToArchive(ArchiveFile& file, std::string_view name, const InputFile& input,
                          std::string_view archive_path) {
  auto plan = PlanAdd(file, name, input, archive_path);
  if (!plan) return plan.error();
  return Commit(file, *plan);
}

}  // namespace veltrane::mpq
