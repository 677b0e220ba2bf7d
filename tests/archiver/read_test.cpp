// Planning an update reads the archive piecewise: never the data of members it leaves alone,
// and a failed read fails the whole update instead of being taken for a damaged member.
#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "archiver/archive.h"
#include "archiver/byte_io.h"
#include "archiver/member.h"
#include "archiver/update.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

struct Range {
  std::uint64_t offset;
  std::uint64_t size;
  bool Holds(const Range& inner) const {
    return inner.offset >= offset && inner.offset + inner.size <= offset + size;
  }
};

// Archive bytes in memory that records every read and can fail the `fail_at`-th.
class RecordingSource final : public ByteSource {
 public:
  explicit RecordingSource(const Bytes& bytes, int fail_at = 0)
      : memory_(bytes), fail_at_(fail_at) {}
  Result<std::uint64_t> Size() override { return memory_.Size(); }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    reads.push_back({offset, out.size()});
    if (static_cast<int>(reads.size()) == fail_at_) {
      return Fail("cannot read archive: injected failure");
    }
    return memory_.ReadAt(offset, out);
  }
  std::vector<Range> reads;

 private:
  MemorySource memory_;
  int fail_at_;
};

// A map with one large member, many names (so (listfile) spans sectors) and both
// bookkeeping members stored with `internal_flags`.
Bytes LargeMap(std::uint32_t internal_flags) {
  TempDir dir;
  ArchiveRecipe recipe;
  recipe.sector_size = 1024;
  recipe.max_files = 128;
  recipe.internal_flags = internal_flags;
  recipe.members = {{"war3map.w3e", MakeContent(3 << 20, 1, false), 0, 0},
                    {"war3map.j", MakeContent(40000, 2)}};
  for (int i = 0; i < 60; ++i) {
    recipe.members.push_back({"Units\\Custom" + std::to_string(i) + ".mdx", MakeContent(700, 3)});
  }
  CreateArchive(dir / "map.w3m", recipe);
  return ReadBytes(dir / "map.w3m");
}

// Where a member's sector offset table lies (the game's reach of it is read from there).
Range OffsetTableOf(const Archive& archive, const BlockEntry& block) {
  const std::uint64_t sectors = (block.size + archive.SectorSize() - 1) / archive.SectorSize();
  return {archive.Absolute(block.position), (sectors + 2) * 4};
}

// Where the header, the tables, every member's sector offset table and the bookkeeping
// members' stored bytes lie.
std::vector<Range> NeededRanges(const Bytes& bytes) {
  const Archive archive = *ParseArchive(bytes, "map.w3m");
  std::vector<Range> ranges = {
      {archive.header_offset, kHeaderSize},
      {archive.Absolute(archive.header.hash_position), archive.hashes.size() * 16},
      {archive.Absolute(archive.header.block_position), archive.blocks.size() * 16}};
  for (const BlockEntry& block : archive.blocks) ranges.push_back(OffsetTableOf(archive, block));
  for (const char* name : {kListfileName, kAttributesName}) {
    const auto slot = FindMember(archive, name);
    EXPECT_TRUE(slot.has_value()) << name;
    if (!slot) continue;
    const BlockEntry& block = archive.blocks[archive.hashes[*slot].block];
    ranges.push_back({archive.Absolute(block.position), block.packed_size});
  }
  return ranges;
}

struct Storage {
  const char* label;
  std::uint32_t flags;  // of (listfile) and (attributes)
};

void PrintTo(const Storage& storage, std::ostream* out) {
  *out << storage.label;
}

class PlanReads : public testing::TestWithParam<Storage> {};

TEST_P(PlanReads, TouchOnlyHeaderTablesAndBookkeepingMembers) {
  const Bytes bytes = LargeMap(GetParam().flags);
  const std::vector<Range> needed = NeededRanges(bytes);
  RecordingSource source(bytes);
  const InputFile input{MakeContent(5000, 9), 1};
  auto plan = PlanAdd(source, "war3map.wtg", input, "map.w3m");
  ASSERT_TRUE(plan.ok()) << plan.message();
  std::uint64_t search_bytes = 0;
  for (const Range& read : source.reads) {
    if (read.offset < needed[0].offset + kHeaderSize && !needed[0].Holds(read)) {
      search_bytes += read.size;  // looking for the header
      continue;
    }
    EXPECT_TRUE(std::any_of(needed.begin(), needed.end(),
                            [&](const Range& range) { return range.Holds(read); }))
        << read.size << " bytes at " << read.offset;
  }
  EXPECT_LE(search_bytes, 64u << 10);
}

INSTANTIATE_TEST_SUITE_P(
    Bookkeeping, PlanReads,
    testing::Values(Storage{"Sectors", MPQ_FILE_COMPRESS},
                    Storage{"EncryptedSectors",
                            MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY},
                    Storage{"EncryptedSingleUnit",
                            MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT | MPQ_FILE_ENCRYPTED},
                    Storage{"Imploded", MPQ_FILE_IMPLODE}, Storage{"Stored", MPQ_FILE_EXISTS}),
    [](const testing::TestParamInfo<Storage>& info) { return info.param.label; });

// A replace finds its member through the hash table alone: of (listfile) only the sector
// offset table is read.
TEST(ReplacePlanReads, LeaveTheListfileUnread) {
  const Bytes bytes = LargeMap(MPQ_FILE_COMPRESS);
  const Archive archive = *ParseArchive(bytes, "map.w3m");
  const BlockEntry& listfile =
      archive.blocks[archive.hashes[*FindMember(archive, kListfileName)].block];
  const Range listed{archive.Absolute(listfile.position), listfile.packed_size};
  const Range table = OffsetTableOf(archive, listfile);
  RecordingSource source(bytes);
  auto plan = PlanAdd(source, "WAR3MAP.J", InputFile{MakeContent(5000, 9), 1}, "map.w3m");
  ASSERT_TRUE(plan.ok()) << plan.message();
  for (const Range& read : source.reads) {
    EXPECT_TRUE(read.offset + read.size <= listed.offset ||
                read.offset >= listed.offset + listed.size || table.Holds(read))
        << read.size << " bytes at " << read.offset;
  }
}

// Every read the plan makes, failed in turn: the plan fails with that read's message.
TEST(PlanReadFailure, FailsThePlanAtEachRead) {
  const Bytes bytes = LargeMap(MPQ_FILE_COMPRESS);
  const InputFile input{MakeContent(5000, 9), 1};
  int read = 1;
  for (;; ++read) {
    RecordingSource source(bytes, read);
    auto plan = PlanAdd(source, "war3map.wtg", input, "map.w3m");
    if (plan.ok()) break;
    EXPECT_NE(plan.message().find("injected failure"), std::string::npos)
        << "read " << read << ": " << plan.message();
  }
  EXPECT_GE(read, 6);  // search, header, two tables, two members' stored bytes
}

// A member whose sector offsets go backwards is damaged: a clear error, never an exception.
TEST(DamagedMember, SectorOffsetsGoingBackwardsFailCleanly) {
  const Bytes content = MakeContent(3 * 4096, 10);
  EncodedMember member = EncodeMember(content, 4096);
  ASSERT_EQ(member.flags, kFlagExists | kFlagCompress);
  const std::uint32_t second = LoadLe32(&member.bytes[8]), third = LoadLe32(&member.bytes[12]);
  StoreLe(&member.bytes[8], third, 4);
  StoreLe(&member.bytes[12], second, 4);
  Archive archive;
  archive.file_size = member.bytes.size();
  archive.header.sector_shift = 3;
  const BlockEntry block{0, static_cast<std::uint32_t>(member.bytes.size()),
                         static_cast<std::uint32_t>(content.size()), member.flags};
  MemberContent read = Fail("not read");
  EXPECT_NO_THROW(read = DecodeMember(member.bytes, archive, block, "war3map.wtg"));
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.message().find("the sector offset table is damaged"), std::string::npos)
      << read.message();
}

}  // namespace
}  // namespace veltrane::mpq::test
