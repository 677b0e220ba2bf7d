#include "archiver/update.h"

#include <optional>
#include <string>

#include "archiver/archive.h"
#include "archiver/byte_io.h"
#include "archiver/member.h"
#include "archiver/side_files.h"

namespace veltrane::mpq {
namespace {

// Collects what goes past the old end of the file, as pieces that are never copied, and
// hands out header-relative positions.
class Tail {
 public:
  Tail(std::uint64_t start, std::uint64_t header_offset)
      : start_(start), header_offset_(header_offset) {}
  std::uint32_t Append(std::vector<std::byte> data) {
    const auto position = static_cast<std::uint32_t>(End() - header_offset_);
    size_ += data.size();
    pieces_.push_back(std::move(data));
    return position;
  }
  std::uint64_t End() const { return start_ + size_; }
  std::vector<std::vector<std::byte>>& pieces() { return pieces_; }

 private:
  std::uint64_t start_;
  std::uint64_t header_offset_;
  std::uint64_t size_ = 0;
  std::vector<std::vector<std::byte>> pieces_;
};

// Frees a vector's memory now (assigning {} would keep its capacity).
template <class T>
void Release(std::vector<T>& values) {
  std::vector<T>().swap(values);
}

struct Work {
  Archive archive;
  Tail tail;
  ByteSource& source;
  // Whether any hash entry changed. While none has, the hash table on disk stays valid and
  // is not written again: a replace then grows the archive by no more than the new member,
  // the bookkeeping members and the block table.
  bool hashes_changed = false;
};

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

// The block a rewritten member goes to: its own, unless another name shares that entry and
// so must keep the old content.
std::uint32_t BlockForRewrite(Work& work, std::uint32_t slot) {
  const std::uint32_t block = work.archive.hashes[slot].block;
  if (CountReferences(work.archive, block) == 1) return block;
  const std::uint32_t own = AppendBlock(work);
  work.archive.hashes[slot].block = own;
  work.hashes_changed = true;
  return own;
}

// The bookkeeping members are written again on every update, and (attributes) is mostly
// CRCs and MD5s that barely compress: they get zlib's fastest level, and are stored plain
// unless that saves a tenth. Members the user stores get the smallest form.
constexpr Packing kSideFilePacking{kZlibFastest, 1};
constexpr Packing kMemberPacking{kZlibSmallest, 0};

void StoreMember(Work& work, std::uint32_t block, std::span<const std::byte> content,
                 const Packing& packing) {
  EncodedMember encoded = EncodeMember(content, work.archive.SectorSize(), packing);
  BlockEntry& entry = work.archive.blocks[block];
  entry.packed_size = static_cast<std::uint32_t>(encoded.bytes.size());
  entry.size = static_cast<std::uint32_t>(content.size());
  entry.flags = encoded.flags;
  entry.position = work.tail.Append(std::move(encoded.bytes));
}

struct Claim {
  std::uint32_t block = 0;
  bool added = false;  // the name took a free slot
};

// The block that will hold `name`: the replaced member's, or a new one in a free slot.
Result<Claim> ClaimBlock(Work& work, std::string_view name, std::string_view archive_path) {
  if (auto slot = FindMember(work.archive, name)) return Claim{BlockForRewrite(work, *slot)};
  const auto slot = FindSlotFor(work.archive, name);
  if (!slot) {
    return CannotOn(
        "add \"" + std::string(name) + "\" to archive", archive_path,
        "its hash table of " + std::to_string(work.archive.hashes.size()) + " entries has no free slot");
  }
  const std::uint32_t block = AppendBlock(work);
  PlaceName(work.archive, *slot, name, block);
  work.hashes_changed = true;
  return Claim{block, true};
}

struct SideFile {
  std::uint32_t slot = 0;
  std::vector<std::byte> content;
};

// A bookkeeping member's slot and readable content, if the archive has it; fails only when
// the archive file can't be read.
Result<std::optional<SideFile>> ReadSideFile(Work& work, const char* name) {
  const auto slot = FindMember(work.archive, name);
  if (!slot) return std::optional<SideFile>();
  const BlockEntry& block = work.archive.blocks[work.archive.hashes[*slot].block];
  auto stored = ReadStoredBytes(work.source, work.archive, block);
  if (!stored) return stored.error();
  auto content = DecodeMember(*stored, work.archive, block, name);
  // Unreadable: left as it is, the game doesn't need it.
  if (!content) return std::optional<SideFile>();
  return std::optional<SideFile>(SideFile{*slot, std::move(*content)});
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
  StoreMember(work, change.block, content, kSideFilePacking);
  return std::optional(change);
}

// Brings (attributes) up to date for the changed blocks, when it has a layout we know.
Result<void> UpdateAttributes(Work& work, std::uint32_t target, const InputFile& input,
                              const std::optional<ListfileChange>& list,
                              std::size_t original_blocks) {
  auto side = ReadSideFile(work, kAttributesName);
  if (!side) return side.error();
  if (!*side) return {};
  // Room for the block of (attributes) itself, should it need a new one.
  auto attributes =
      ParseAttributes((*side)->content, original_blocks, work.archive.blocks.size() + 1);
  Release((*side)->content);
  if (!attributes) return {};
  const std::uint32_t own = BlockForRewrite(work, (*side)->slot);
  attributes->Resize(work.archive.blocks.size());
  attributes->Describe(target, input.content, input.file_time);
  if (list) {
    const std::uint64_t time =
        list->block < attributes->file_time.size() ? attributes->file_time[list->block] : 0;
    attributes->Describe(list->block, list->digest, time);
  }
  attributes->Clear(own);
  const std::vector<std::byte> encoded = EncodeAttributes(*attributes);
  attributes.reset();
  StoreMember(work, own, encoded, kSideFilePacking);
  return {};
}

struct TablesAt {
  std::uint32_t hash_position;
  std::uint32_t block_position;
  std::uint32_t hash_count;
  std::uint32_t block_count;
};

std::vector<std::byte> EncodeHeader(std::uint16_t sector_shift, std::uint32_t archive_size,
                                    const TablesAt& tables) {
  std::vector<std::byte> header;
  PutU32(header, kHeaderSignature);
  PutU32(header, kHeaderSize);
  PutU32(header, archive_size);
  PutU16(header, 0);  // format version 1
  PutU16(header, sector_shift);
  PutU32(header, tables.hash_position);
  PutU32(header, tables.block_position);
  PutU32(header, tables.hash_count);
  PutU32(header, tables.block_count);
  return header;
}

// Stores `input` and brings the bookkeeping members up to date.
Result<void> StoreAll(Work& work, std::string_view name, const InputFile& input,
                      std::string_view archive_path) {
  const std::size_t original_blocks = work.archive.blocks.size();
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

// Where the header records the hash table's position.
constexpr std::size_t kHashPositionField = 16;

// Appends the block table, and the hash table when an entry changed (else the old one stays
// where `old_header` has it), each dropped from memory once encoded; the new header.
Result<std::vector<std::byte>> AppendTables(Work& work, std::span<const std::byte> old_header,
                                            std::string_view name, std::string_view archive_path) {
  const auto hash_count = static_cast<std::uint32_t>(work.archive.hashes.size());
  const auto block_count = static_cast<std::uint32_t>(work.archive.blocks.size());
  ByteCursor fields(old_header.subspan(kHashPositionField));
  std::uint32_t hash_position = fields.U32();
  if (work.hashes_changed) hash_position = work.tail.Append(EncodeHashTable(work.archive));
  Release(work.archive.hashes);
  const std::uint32_t block_position = work.tail.Append(EncodeBlockTable(work.archive));
  Release(work.archive.blocks);
  if (work.tail.End() > kMaxArchiveBytes) {
    return CannotOn("add \"" + std::string(name) + "\" to archive", archive_path,
                    "the archive would grow past 4 GiB");
  }
  const auto archive_size =
      static_cast<std::uint32_t>(work.tail.End() - work.archive.header_offset);
  return EncodeHeader(work.archive.sector_shift, archive_size,
                      {hash_position, block_position, hash_count, block_count});
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
  plan.tail_offset = archive->file_size;
  plan.header_offset = archive->header_offset;
  plan.old_header.resize(kHeaderSize);
  auto read = source.ReadAt(plan.header_offset, plan.old_header);
  if (!read) return read.error();
  Work work{std::move(*archive), Tail(plan.tail_offset, plan.header_offset), source};
  auto stored = StoreAll(work, name, input, archive_path);
  if (!stored) return stored.error();
  auto header = AppendTables(work, plan.old_header, name, archive_path);
  if (!header) return header.error();
  plan.header = std::move(*header);
  plan.tail = std::move(work.tail.pieces());
  return plan;
}

Result<void> Commit(ArchiveFile& file, const UpdatePlan& plan) {
  Result<void> done;
  std::uint64_t offset = plan.tail_offset;
  for (const auto& piece : plan.tail) {
    if (done) done = file.WriteAt(offset, piece);
    offset += piece.size();
  }
  if (done) done = file.Flush();
  bool header_touched = false;
  if (done) {
    header_touched = true;
    done = file.WriteAt(plan.header_offset, plan.header);
  }
  if (done) done = file.Flush();
  if (done) return done;
  // Back to the original bytes: the old header first, then the old size.
  Result<void> restored;
  if (header_touched) restored = file.WriteAt(plan.header_offset, plan.old_header);
  if (restored) restored = file.Truncate(plan.tail_offset);
  if (restored) restored = file.Flush();
  if (!restored) return Fail(done.message() + "; restoring failed too: " + restored.message());
  return done;
}

Result<void> AddToArchive(ArchiveFile& file, std::string_view name, const InputFile& input,
                          std::string_view archive_path) {
  auto plan = PlanAdd(file, name, input, archive_path);
  if (!plan) return plan.error();
  return Commit(file, *plan);
}

}  // namespace veltrane::mpq
