// What an update leaves behind: the replaced member's old stored bytes and the old block
// table appear nowhere in the file, the archive does not grow (an add by little more than
// the new member), protecting twice changes nothing more, and StormLib reads everything.
#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>

#include "archiver/member.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

constexpr std::uint16_t kGerman = 0x407;

struct TraceCase {
  std::string label;
  std::uint32_t hash_entries;
  std::string name;  // the member stored, empty, twice in a row: replaced, or added first
  std::int64_t most_growth = 0;  // bytes, beyond the new member's stored size
  bool shared = false;           // another name shares the block of `name`
  bool locales = false;          // `name` is also there in German
  bool map_header = false;       // behind a map's own header, so readers take it as a map
  std::uint32_t doodads = 12;    // small members besides; many make (attributes) span sectors
  std::size_t wtg_bytes = 9000;  // of compressible content, or random with `wtg_random`
  bool wtg_random = false;
  std::uint32_t attribute_flags = 0x7;  // 0x3: no MD5s, so a new file time makes it longer
};

// Puts the 512-byte header of a map before the archive; readers that see it read every
// member as the game does, in sectors, whatever the single-unit flag says.
void PrependMapHeader(const std::filesystem::path& archive) {
  const std::string magic = "HM3W";
  Bytes file(512, std::byte{0});
  std::transform(magic.begin(), magic.end(), file.begin(), [](char c) { return std::byte(c); });
  const Bytes body = ReadBytes(archive);
  file.insert(file.end(), body.begin(), body.end());
  WriteBytes(archive, file);
}

void PrintTo(const TraceCase& c, std::ostream* out) {
  *out << c.label;
}

// The stored bytes of every entry of `name`, and the block table as stored.
std::vector<Bytes> OldStorage(const Bytes& file, const std::string& name) {
  const Archive archive = *ParseArchive(file, "map.w3m");
  std::vector<Bytes> stored;
  for (const BlockEntry& block : MemberBlocks(archive, name)) {
    const auto at = file.begin() + archive.Absolute(block.position);
    stored.emplace_back(at, at + block.packed_size);
  }
  const auto table = file.begin() + archive.Absolute(archive.header.block_position);
  stored.emplace_back(table, table + archive.blocks.size() * kEntrySize);
  return stored;
}

class Trace : public MapTest<TraceCase> {};

TEST_P(Trace, NoOldBytesNoGrowthAndReadsBack) {
  const TraceCase& c = GetParam();
  ArchiveRecipe recipe;
  recipe.max_files = c.hash_entries - 2;  // StormLib reserves room for its two side files
  recipe.attribute_flags = c.attribute_flags;
  recipe.members = {{"war3map.j", MakeContent(20000, 1)},
                    {"war3map.wtg", MakeContent(c.wtg_bytes, 2, !c.wtg_random)}};
  if (c.locales) {
    recipe.members.push_back(
        {"war3map.wtg", MakeContent(7000, 40), MPQ_FILE_COMPRESS, MPQ_COMPRESSION_ZLIB, kGerman});
  }
  for (std::uint32_t i = 0; i < c.doodads; ++i) {
    recipe.members.push_back({"doodad" + std::to_string(i), MakeContent(300, 3 + i)});
  }
  CreateArchive(archive, recipe);
  if (c.map_header) PrependMapHeader(archive);
  if (c.shared) {
    EditTables(archive, [](Archive& a) {
      PlaceName(a, *FindSlotFor(a, "alias.wtg"), "alias.wtg",
                a.hashes[*FindMember(a, "war3map.wtg")].block);
    });
  }
  ASSERT_EQ(LoadTables(archive).hashes.size(), c.hash_entries);
  WriteBytes(dir / "empty", Bytes{});
  for (int round = 0; round < 2; ++round) {
    const Bytes before = ReadBytes(archive);
    const std::vector<Bytes> old = OldStorage(before, c.name);
    const RunResult run = RunTool({"a", archive.string(), "empty", c.name}, dir.path());
    ASSERT_EQ(run.exit_code, 0) << run.err;
    const Bytes after = ReadBytes(archive);
    EXPECT_EQ(StormRead(archive, c.name), Bytes{}) << "round " << round;
    // The second round stores what is already there: its tables may come out the same.
    for (std::size_t i = 0; round == 0 && i < old.size(); ++i) {
      if (old[i].size() < 16 || (c.shared && i + 1 < old.size())) continue;
      EXPECT_FALSE(test_support::Holds(after, old[i]))
          << (i + 1 < old.size() ? "old stored bytes " : "old block table ") << "round " << round;
    }
    EXPECT_LE(static_cast<std::int64_t>(after.size() - before.size()), c.most_growth)
        << "round " << round;
  }
  for (const auto& member : recipe.members) {
    const bool stored = member.name == c.name;
    EXPECT_EQ(StormRead(archive, member.name, member.locale), stored ? Bytes{} : member.content)
        << member.name;
    EXPECT_EQ(StormVerify(archive, member.name), 0u) << member.name;
  }
  if (c.shared) {
    EXPECT_EQ(StormRead(archive, "alias.wtg"), recipe.members[1].content);
  }
  EXPECT_TRUE(StormListed(archive, c.name));
  EXPECT_EQ(StormVerify(archive, "(attributes)"), 0u);
  EXPECT_EQ(StormVerify(archive, "(listfile)"), 0u);
}

INSTANTIATE_TEST_SUITE_P(
    Maps, Trace,
    testing::Values(TraceCase{"Replace64", 64, "war3map.wtg"},
                    TraceCase{"Replace2048", 2048, "war3map.wtg"},
                    TraceCase{"Replace16384", 16384, "war3map.wtg"},
                    TraceCase{"Add64", 64, "war3map.new", 4096},
                    TraceCase{"Add2048", 2048, "war3map.new", 4096},
                    TraceCase{"Add16384", 16384, "war3map.new", 4096},
                    TraceCase{"SharedBlock", 64, "war3map.wtg", 4096, true},
                    TraceCase{"TwoLocales", 64, "war3map.wtg", 0, false, true},
                    TraceCase{"BehindAMapHeader", 64, "war3map.wtg", 0, false, false, true},
                    TraceCase{"ManyMembers", 4096, "war3map.wtg", 0, false, false, false, 2000},
                    // The replaced member's place is too small for (attributes), which comes
                    // out longer, but holds (listfile), which stands before the freed run.
                    TraceCase{"ListfileMovesAside", 64, "war3map.wtg", 0, false, false, true, 40,
                              200, true, 0x3}),
    [](const testing::TestParamInfo<TraceCase>& info) { return info.param.label; });

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
