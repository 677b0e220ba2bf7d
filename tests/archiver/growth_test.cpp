// How much an update grows the archive: a replace appends only the member, (attributes) and
// the block table, leaving the hash table in place; StormLib reads everything back.
#include <StormLib.h>
#include <gtest/gtest.h>

#include "archiver/member.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

struct GrowthCase {
  std::string label;
  std::uint32_t hash_entries;
  std::string name;  // the member stored, empty, twice in a row: replaced, or added first
};

void PrintTo(const GrowthCase& c, std::ostream* out) {
  *out << c.label;
}

class Growth : public testing::TestWithParam<GrowthCase> {};

TEST_P(Growth, StaysWithinNewBytesAndReadsBack) {
  const GrowthCase& c = GetParam();
  TempDir dir;
  const auto archive = dir / "map.w3m";
  ArchiveRecipe recipe;
  recipe.max_files = c.hash_entries - 2;  // StormLib reserves room for its two side files
  recipe.members = {{"war3map.j", MakeContent(20000, 1)}, {"war3map.wtg", MakeContent(9000, 2)}};
  for (std::uint32_t i = 0; i < 12; ++i) {
    recipe.members.push_back({"doodad" + std::to_string(i), MakeContent(300, 3 + i)});
  }
  CreateArchive(archive, recipe);
  const Archive fresh = LoadTables(archive);
  ASSERT_EQ(fresh.hashes.size(), c.hash_entries);
  const bool adds = !FindMember(fresh, c.name);
  WriteBytes(dir / "empty", Bytes{});
  std::uint64_t previous_growth = 0;
  for (int round = 0; round < 2; ++round) {
    const Bytes before = ReadBytes(archive);
    const RunResult run = RunTool({"a", archive.string(), "empty", c.name}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Bytes after = ReadBytes(archive);
    const Archive tables = LoadTables(archive);
    const bool hash_moves = adds && round == 0;  // only an added name needs a new hash table
    EXPECT_EQ(GetU32(after, kHashPositionField) != GetU32(before, kHashPositionField), hash_moves)
        << "round " << round;
    // The bound: the new tables, the blocks written past the old end, and 512 bytes.
    std::uint64_t bound = (tables.blocks.size() + (hash_moves ? c.hash_entries : 0)) * 16 + 512;
    for (const BlockEntry& block : tables.blocks) {
      if (tables.Absolute(block.position) >= before.size()) bound += block.packed_size;
    }
    const std::uint64_t growth = after.size() - before.size();
    EXPECT_LE(growth, bound) << "round " << round;
    if (round == 1) {
      EXPECT_LE(growth, previous_growth) << "protecting twice compounds";
    }
    previous_growth = growth;
  }
  for (const auto& member : recipe.members) {
    EXPECT_EQ(StormRead(archive, member.name), member.name == c.name ? Bytes{} : member.content);
    EXPECT_EQ(StormVerify(archive, member.name), 0u) << member.name;
  }
  EXPECT_EQ(StormRead(archive, c.name), Bytes{});
  EXPECT_TRUE(StormListed(archive, c.name));
  EXPECT_EQ(StormVerify(archive, "(attributes)"), 0u);
}

INSTANTIATE_TEST_SUITE_P(Maps, Growth,
                         testing::Values(GrowthCase{"Replace64", 64, "war3map.wtg"},
                                         GrowthCase{"Replace2048", 2048, "war3map.wtg"},
                                         GrowthCase{"Replace16384", 16384, "war3map.wtg"},
                                         GrowthCase{"Add2048", 2048, "war3map.new"}),
                         [](const testing::TestParamInfo<GrowthCase>& info) {
                           return info.param.label;
                         });

// Bookkeeping members are stored plain unless compression saves a tenth, the user's members
// whenever it saves anything: random bytes of 200 values (which save about 4%) and 19
// sectors of random bytes before one of zeros save less, text saves more.
TEST(Packing, SideFilesNeedATenthSaved) {
  Bytes few_values = MakeContent(5 * 4096, 7, false);
  for (auto& b : few_values) b = std::byte(std::to_integer<unsigned>(b) % 200);
  Bytes one_zero_sector = MakeContent(19 * 4096, 8, false);
  one_zero_sector.resize(20 * 4096);
  for (const auto& [content, side_flags] : {std::pair{few_values, kFlagExists},
                                            {one_zero_sector, kFlagExists},
                                            {MakeContent(20000, 9), kFlagExists | kFlagCompress}}) {
    EXPECT_EQ(EncodeMember(content, 4096, {kZlibFastest, 1}).flags, side_flags);
    EXPECT_EQ(EncodeMember(content, 4096).flags, kFlagExists | kFlagCompress);
  }
}

}  // namespace
}  // namespace veltrane::mpq::test
