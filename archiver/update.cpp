#include "archiver/update.h"

#include <optional>
#include <string>

#include "archiver/archive.h"
#include "archiver/byte_io.h"
#include "archiver/member.h"
#include "archiver/side_files.h"

namespace veltrane::mpq {
namespace {

// Collects what goes past the old end of the file and hands out header-relative positions.
class Tail {
 public:
  Tail(std::uint64_t start, std::uint64_t header_offset)
      : start_(start), header_offset_(header_offset) {}
  std::uint32_t Append(std::span<const std::byte> data) {
    const auto position = static_cast<std::uint32_t>(start_ + bytes_.size() - header_offset_);
    PutBytes(bytes_, data);
    return position;
  }
  std::uint64_t End() const { return start_ + bytes_.size(); }
  std::vector<std::byte>& bytes() { return bytes_; }

 private:
  std::uint64_t start_;
  std::uint64_t header_offset_;
  std::vector<std::byte> bytes_;
};

struct Work {
  Archive archive;
  Tail tail;
  std::span<const std::byte> file;
};

// The block a rewritten member goes to: its own, unless another name shares that entry.
std::uint32_t BlockForRewrite(Archive& archive, std::uint32_t slot) {
  const std::uint32_t block = archive.hashes[slot].block;
  if (CountReferences(archive, block) == 1) return block;
  archive.blocks.emplace_back();
  archive.hashes[slot].block = static_cast<std::uint32_t>(archive.blocks.size() - 1);
  return archive.hashes[slot].block;
}

void StoreMember(Work& work, std::uint32_t block, std::span<const std::byte> content) {
  EncodedMember encoded = EncodeMember(content, work.archive.SectorSize());
  BlockEntry& entry = work.archive.blocks[block];
  entry.position = work.tail.Append(encoded.bytes);
  entry.packed_size = static_cast<std::uint32_t>(encoded.bytes.size());
  entry.size = static_cast<std::uint32_t>(content.size());
  entry.flags = encoded.flags;
}

// The block that will hold `name`: the replaced member's, or a new one in a free slot.
Result<std::uint32_t> ClaimBlock(Archive& archive, std::string_view name,
                                 std::string_view archive_path) {
  if (auto slot = FindMember(archive, name)) return BlockForRewrite(archive, *slot);
  const auto slot = FindSlotFor(archive, name);
  if (!slot) {
    return Fail("cannot add '" + std::string(name) + "' to archive '" + std::string(archive_path) +
                "': its hash table of " + std::to_string(archive.hashes.size()) +
                " entries has no free slot");
  }
  archive.blocks.emplace_back();
  const auto block = static_cast<std::uint32_t>(archive.blocks.size() - 1);
  PlaceName(archive, *slot, name, block);
  return block;
}

// A bookkeeping member's slot and readable content, if the archive has it.
std::optional<std::pair<std::uint32_t, std::vector<std::byte>>> ReadSideFile(const Work& work,
                                                                             const char* name) {
  const auto slot = FindMember(work.archive, name);
  if (!slot) return std::nullopt;
  const BlockEntry& block = work.archive.blocks[work.archive.hashes[*slot].block];
  auto content = ReadMember(work.file, work.archive, block, name);
  if (!content) return std::nullopt;  // unreadable: left as it is, the game doesn't need it
  return std::make_pair(*slot, std::move(*content));
}

// Adds `name` to (listfile) when it has one that lacks it; the rewritten block and content.
std::optional<std::pair<std::uint32_t, std::vector<std::byte>>> UpdateListfile(
    Work& work, std::string_view name) {
  auto listfile = ReadSideFile(work, kListfileName);
  if (!listfile || ListfileHas(listfile->second, name)) return std::nullopt;
  auto content = ListfileWith(listfile->second, name);
  const std::uint32_t block = BlockForRewrite(work.archive, listfile->first);
  StoreMember(work, block, content);
  return std::make_pair(block, std::move(content));
}

// Brings (attributes) up to date for the changed blocks, when it has a layout we know.
void UpdateAttributes(Work& work, std::uint32_t target, const InputFile& input,
                      const std::optional<std::pair<std::uint32_t, std::vector<std::byte>>>& list,
                      std::size_t original_blocks) {
  auto side = ReadSideFile(work, kAttributesName);
  if (!side) return;
  auto attributes = ParseAttributes(side->second, original_blocks);
  if (!attributes) return;
  const std::uint32_t own = BlockForRewrite(work.archive, side->first);
  attributes->Resize(work.archive.blocks.size());
  attributes->Describe(target, input.content, input.file_time);
  if (list) {
    const std::uint64_t time =
        list->first < attributes->file_time.size() ? attributes->file_time[list->first] : 0;
    attributes->Describe(list->first, list->second, time);
  }
  attributes->Clear(own);
  StoreMember(work, own, EncodeAttributes(*attributes));
}

std::vector<std::byte> EncodeHeader(const Archive& archive, std::uint32_t archive_size,
                                    std::uint32_t hash_position, std::uint32_t block_position) {
  std::vector<std::byte> header;
  PutU32(header, kHeaderSignature);
  PutU32(header, kHeaderSize);
  PutU32(header, archive_size);
  PutU16(header, 0);  // format version 1
  PutU16(header, archive.sector_shift);
  PutU32(header, hash_position);
  PutU32(header, block_position);
  PutU32(header, static_cast<std::uint32_t>(archive.hashes.size()));
  PutU32(header, static_cast<std::uint32_t>(archive.blocks.size()));
  return header;
}

}  // namespace

Result<UpdatePlan> PlanAdd(std::span<const std::byte> file, std::string_view name,
                           const InputFile& input, std::string_view archive_path) {
  if (name.empty()) {
    return Fail("cannot add to archive '" + std::string(archive_path) +
                "': the member name is empty");
  }
  if (input.content.size() > kMaxArchiveBytes) {
    return Fail("cannot add '" + std::string(name) + "': larger than an archive member can be");
  }
  auto archive = ParseArchive(file, archive_path);
  if (!archive) return archive.error();
  const std::uint64_t header_offset = archive->header_offset;
  Work work{std::move(*archive), Tail(file.size(), header_offset), file};
  const std::size_t original_blocks = work.archive.blocks.size();
  auto target = ClaimBlock(work.archive, name, archive_path);
  if (!target) return target.error();
  StoreMember(work, *target, input.content);
  std::optional<std::pair<std::uint32_t, std::vector<std::byte>>> list;
  if (!SameMemberName(name, kListfileName)) list = UpdateListfile(work, name);
  if (!SameMemberName(name, kAttributesName)) {
    UpdateAttributes(work, *target, input, list, original_blocks);
  }
  const std::uint32_t hash_position = work.tail.Append(EncodeHashTable(work.archive));
  const std::uint32_t block_position = work.tail.Append(EncodeBlockTable(work.archive));
  if (work.tail.End() > kMaxArchiveBytes) {
    return Fail("cannot add '" + std::string(name) + "' to archive '" + std::string(archive_path) +
                "': the archive would grow past 4 GiB");
  }
  UpdatePlan plan;
  plan.original_size = file.size();
  plan.tail_offset = file.size();
  plan.tail = std::move(work.tail.bytes());
  plan.header_offset = work.archive.header_offset;
  plan.header = EncodeHeader(
      work.archive,
      static_cast<std::uint32_t>(plan.tail_offset + plan.tail.size() - plan.header_offset),
      hash_position, block_position);
  const auto old = file.subspan(static_cast<std::size_t>(plan.header_offset), kHeaderSize);
  plan.old_header.assign(old.begin(), old.end());
  return plan;
}

Result<void> Commit(ArchiveFile& file, const UpdatePlan& plan) {
  Result<void> done = file.WriteAt(plan.tail_offset, plan.tail);
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
  if (restored) restored = file.Truncate(plan.original_size);
  if (restored) restored = file.Flush();
  if (!restored) return Fail(done.message() + "; restoring failed too: " + restored.message());
  return done;
}

Result<void> AddToArchive(ArchiveFile& file, std::string_view name, const InputFile& input,
                          std::string_view archive_path) {
  auto bytes = file.ReadAll();
  if (!bytes) return bytes.error();
  auto plan = PlanAdd(*bytes, name, input, archive_path);
  if (!plan) return plan.error();
  return Commit(file, *plan);
}

}  // namespace veltrane::mpq
