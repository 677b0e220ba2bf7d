// Planning an update (update.h): which blocks and names change and what new bytes the
// update stores; placement.cpp then lays the pieces out.
#include <algorithm>
#include <optional>
#include <string>

#include "archiver/side_files.h"
#include "archiver/update_work.h"

namespace veltrane::mpq {
namespace {

// Frees a vector's memory now (assigning {} would keep its capacity).
template <class T>
void Release(std::vector<T>& values) {
  std::vector<T>().swap(values);
}

}  // namespace

ByteRange RangeOf(const Work& work, std::uint32_t block) {
  return ReachOf(work.archive, work.view, block);
}

void StoreMember(Work& work, std::uint32_t block, std::span<const std::byte> content,
                 const Packing& packing, const PackedSectors* previous) {
  EncodedMember encoded = EncodeMember(content, work.archive.SectorSize(), packing, previous);
  BlockEntry& entry = work.archive.blocks[block];
  if (block < work.original_blocks) work.dead.push_back(RangeOf(work, block));
  entry.packed_size = static_cast<std::uint32_t>(encoded.bytes.size());
  entry.size = static_cast<std::uint32_t>(content.size());
  entry.flags = encoded.flags;
  work.pieces.push_back({block, std::move(encoded.bytes)});
}

void AddHashPiece(Work& work, std::vector<std::byte> table) {
  const Header& old = work.archive.header;
  work.dead.push_back(TableRange(work.archive, old.hash_position, old.hash_count));
  work.pieces.push_back({Piece::kTable, std::move(table)});
}

void SealHashTable(Work& work) {
  if (work.archive.hashes.empty()) return;
  if (work.hashes_changed) AddHashPiece(work, EncodeHashTable(work.archive));
  Release(work.archive.hashes);
}

Result<std::optional<ReadableMember>> ReadSideFile(Work& work, std::uint32_t block,
                                                   const char* name) {
  const BlockEntry entry = work.archive.blocks[block];
  auto stored = ReadStoredBytes(work.source, work.archive, entry);
  if (!stored) return stored.error();
  auto sectors = ReadPackedSectors(*stored, work.archive, entry, name);
  auto content = sectors ? DecodePackedSectors(*sectors, entry, work.archive.SectorSize(), name)
                         : DecodeMember(*stored, work.archive, entry, name);
  if (!content) return std::optional<ReadableMember>();
  return std::optional(ReadableMember{std::move(*content), std::move(sectors)});
}

namespace {

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
    work.dead.push_back(RangeOf(work, old));
    work.archive.blocks[old] = BlockEntry{};
    work.freed_blocks.push_back(old);
  }
}

struct Claim {
  std::uint32_t block = 0;
  bool added = false;  // the name took a free slot
};

// The block that will hold `name`: the replaced member's, or a new one in a free slot. Every
// entry a lookup of the name may take, in any locale, comes to point at it, so no lookup
// finds the old content; the entry the game takes for the neutral locale, else the first,
// gives the block.
Result<Claim> ClaimBlock(Work& work, std::string_view name, std::string_view archive_path) {
  const std::vector<std::uint32_t> slots = NameEntries(work.archive, name);
  if (!slots.empty()) {
    const std::uint32_t slot = FindMember(work.archive, name).value_or(slots.front());
    const std::uint32_t block = BlockForRewrite(work, slot);
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

// A bookkeeping member's slot and readable content, if the archive has it; fails only when
// the archive file can't be read.
struct SideFile {
  std::uint32_t slot = 0;
  ReadableMember member;
};

Result<std::optional<SideFile>> FindSideFile(Work& work, const char* name) {
  const auto slot = FindMember(work.archive, name);
  if (!slot) return std::optional<SideFile>();
  auto member = ReadSideFile(work, work.archive.hashes[*slot].block, name);
  if (!member) return member.error();
  if (!*member) return std::optional<SideFile>();
  return std::optional<SideFile>(SideFile{*slot, std::move(**member)});
}

// The rewritten (listfile): its block, and what (attributes) records of it when the archive
// has (attributes), so its content needn't be held any longer.
struct ListfileChange {
  std::uint32_t block = 0;
  ContentDigest digest;
};

// Adds `name` to (listfile) when it has one that lacks it.
Result<std::optional<ListfileChange>> UpdateListfile(Work& work, std::string_view name) {
  auto listfile = FindSideFile(work, kListfileName);
  if (!listfile) return listfile.error();
  if (!*listfile || ListfileHas((*listfile)->member.content, name)) {
    return std::optional<ListfileChange>();
  }
  ReadableMember& old = (*listfile)->member;
  auto content = ListfileWith(old.content, name);
  Release(old.content);
  ListfileChange change;
  change.block = BlockForRewrite(work, (*listfile)->slot);
  if (FindMember(work.archive, kAttributesName)) change.digest = DigestOf(content);
  StoreMember(work, change.block, content, kSideFilePacking, old.sectors ? &*old.sectors : nullptr);
  return std::optional(change);
}

// Brings (attributes) up to date for the changed blocks, when it has a layout we know.
Result<void> UpdateAttributes(Work& work, std::uint32_t target, const InputFile& input,
                              const std::optional<ListfileChange>& list,
                              std::size_t original_blocks) {
  auto side = FindSideFile(work, kAttributesName);
  if (!side) return side.error();
  if (!*side) return {};
  ReadableMember& old = (*side)->member;
  auto attributes = Attributes::Parse(std::move(old.content), original_blocks);
  if (!attributes) return {};
  const std::uint32_t own = BlockForRewrite(work, (*side)->slot);
  SealHashTable(work);
  attributes->Resize(work.archive.blocks.size());
  attributes->Describe(target, input.content, input.file_time);
  if (list) attributes->Describe(list->block, list->digest, attributes->FileTime(list->block));
  attributes->Clear(own);
  for (std::uint32_t freed : work.freed_blocks) attributes->Clear(freed);
  StoreMember(work, own, attributes->bytes(), kSideFilePacking,
              old.sectors ? &*old.sectors : nullptr);
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

// The block of the member `name` has now whose stored data starts before the archive's
// header (a position that wraps round past 4 GiB): a replace would leave it there, since
// nothing before the header is ever written.
std::optional<std::uint32_t> ReplacedDataBeforeArchive(const Archive& archive, const GameView& view,
                                                       std::string_view name) {
  for (const std::uint32_t slot : NameEntries(archive, name)) {
    const std::uint32_t block = archive.hashes[slot].block;
    const ByteRange data = ReachOf(archive, view, block);
    if (Opens(archive, slot) && data.size() > 0 && data.begin < archive.header_offset) return block;
  }
  return std::nullopt;
}

// A block table that runs past the file's end is read there as zeros deciphered: entries no
// one wrote. Unless a name entry points at one of them, the game reads the archive the same
// with only the entries the file holds, so the update keeps just those and never writes out
// a table the file never held.
void DropUnheldBlocks(Archive& archive) {
  const ByteRange table = TableRange(archive, archive.header.block_position, archive.blocks.size());
  if (table.end <= archive.file_size) return;
  const std::uint64_t held = table.begin < archive.file_size ? archive.file_size - table.begin : 0;
  std::uint64_t keep = (held + kEntrySize - 1) / kEntrySize;
  for (const HashEntry& entry : archive.hashes) {
    if (entry.block < archive.blocks.size()) keep = std::max<std::uint64_t>(keep, entry.block + 1);
  }
  archive.blocks.resize(static_cast<std::size_t>(keep));
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
  if (auto block = ReplacedDataBeforeArchive(*archive, *view, name)) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the data the member has now (block " + std::to_string(*block) +
                        ") lies before the archive's header, where its position wraps round, "
                        "and the update never writes there, so it could not be cleared; the "
                        "archive is left as it was");
  }
  if (const ByteRange table =
          TableRange(*archive, archive->header.hash_position, archive->hashes.size());
      table.end > archive->file_size) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "its hash table of " + std::to_string(archive->hashes.size()) +
                        " entries runs past the file's end, and readers find names in such a "
                        "table by rules of their own, so no rewrite of it could keep every name "
                        "where they find it now; the archive is left as it was");
  }
  if (auto block = MemberOverHeader(*archive, *view)) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the data of block " + std::to_string(*block) +
                        " shares bytes with the archive header, which the update rewrites; "
                        "the archive is left as it was");
  }
  DropUnheldBlocks(*archive);
  const std::size_t original_blocks = archive->blocks.size();
  // A hash table the header change would alter is written anew.
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
