// Which entry of a name the game takes, along the name's search path: the archiver's lookup
// against StormLib's, and a replace that empties whatever any locale's lookup reads.
#include <gtest/gtest.h>

#include <optional>
#include <vector>

#include "archiver/crypt.h"
#include "archiver/member.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

constexpr std::uint16_t kGerman = 0x407;
constexpr const char* kName = "war3map.j";

// What an entry on the name's path points at: one of the three members' blocks, a deleted
// slot, or a block index past the end of the block table.
enum class Points { kA, kB, kC, kDeleted, kPastTheCount };

struct PathEntry {
  std::uint16_t locale;
  Points at;
};

struct LookupCase {
  const char* label;
  std::vector<PathEntry> path;  // from the name's home slot on
  char neutral;                 // the member each lookup reads: 'A', 'B', 'C' or '-' for none
  char german;
};

const std::vector<std::pair<const char*, Bytes>>& Members() {
  static const std::vector<std::pair<const char*, Bytes>> members = {
      {kName, MakeContent(3000, 1)},
      {"other.bin", MakeContent(2000, 2)},
      {"third.bin", MakeContent(1000, 3)}};
  return members;
}

std::optional<Bytes> Expected(char member) {
  if (member == '-') return std::nullopt;
  return Members()[static_cast<std::size_t>(member - 'A')].second;
}

// Lays the name's entries out as the row says, from its home slot on, and the other two
// members' entries after them.
void LayOutPath(Archive& archive, const std::vector<PathEntry>& path) {
  std::vector<std::uint32_t> blocks;
  for (const auto& [name, content] : Members()) {
    blocks.push_back(archive.hashes[*FindMember(archive, name)].block);
  }
  archive.hashes.assign(archive.hashes.size(), HashEntry{});
  const auto mask = static_cast<std::uint32_t>(archive.hashes.size() - 1);
  const std::uint32_t home = HashName(kName, HashKind::kTableIndex) & mask;
  for (std::uint32_t i = 0; i < path.size(); ++i) {
    const std::uint32_t slot = (home + i) & mask;
    PlaceName(archive, slot, kName, 0);
    HashEntry& entry = archive.hashes[slot];
    entry.locale = path[i].locale;
    switch (path[i].at) {
      case Points::kDeleted:
        entry.block = kDeletedSlot;
        break;
      case Points::kPastTheCount:
        // Past the hash table's size too, which StormLib's table of members has.
        entry.block = static_cast<std::uint32_t>(archive.hashes.size() + 1000);
        break;
      default:
        entry.block = blocks[static_cast<std::size_t>(path[i].at)];
    }
  }
  for (std::size_t i = 1; i < Members().size(); ++i) {
    PlaceName(archive, *FindSlotFor(archive, Members()[i].first), Members()[i].first, blocks[i]);
  }
}

// What the archiver's lookup gives for the name in `locale`, read with its own reader.
std::optional<Bytes> OurRead(const std::filesystem::path& path, std::uint16_t locale) {
  const Bytes bytes = ReadBytes(path);
  const Archive archive = LoadTables(path);
  const auto slot = LookUp(archive, kName, locale);
  if (!slot || !Opens(archive, *slot)) return std::nullopt;
  auto content = ReadMember(bytes, archive, archive.blocks[archive.hashes[*slot].block], kName);
  return content ? std::optional(*content) : std::nullopt;
}

class GameLookup : public MapTest<LookupCase> {};

TEST_P(GameLookup, TakesTheEntryStormTakesAndAReplaceEmptiesIt) {
  const LookupCase& c = GetParam();
  ArchiveRecipe recipe;
  recipe.listfile = recipe.attributes = false;
  for (const auto& [name, content] : Members()) recipe.members.push_back({name, content});
  CreateArchive(archive, recipe);
  EditTables(archive, [&](Archive& a) { LayOutPath(a, c.path); });

  for (const auto& [locale, member] :
       {std::pair{std::uint16_t{0}, c.neutral}, {kGerman, c.german}}) {
    EXPECT_EQ(StormRead(archive, kName, locale), Expected(member)) << "StormLib, " << locale;
    EXPECT_EQ(OurRead(archive, locale), Expected(member)) << "ours, " << locale;
  }

  WriteBytes(dir / "empty", Bytes{});
  const RunResult run = RunTool({"a", archive.string(), "empty", kName}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  for (const auto& [locale, member] :
       {std::pair{std::uint16_t{0}, c.neutral}, {kGerman, c.german}}) {
    EXPECT_EQ(StormRead(archive, kName, locale),
              member == '-' ? std::nullopt : std::optional(Bytes{}))
        << "after the replace, " << locale;
  }
  for (std::size_t i = 1; i < Members().size(); ++i) {
    EXPECT_EQ(StormRead(archive, Members()[i].first), Members()[i].second) << Members()[i].first;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Paths, GameLookup,
    testing::Values(
        LookupCase{"OneNeutralEntry", {{0, Points::kA}}, 'A', 'A'},
        LookupCase{"SecondNeutralFurtherOn", {{0, Points::kA}, {0, Points::kB}}, 'B', 'B'},
        LookupCase{"DeletedBeforeTheReal", {{0, Points::kDeleted}, {0, Points::kA}}, 'A', 'A'},
        LookupCase{"ExactLocale", {{0, Points::kA}, {kGerman, Points::kB}}, 'A', 'B'},
        LookupCase{"FirstExactLocaleWins",
                   {{kGerman, Points::kB}, {0, Points::kA}, {kGerman, Points::kC}, {0, Points::kC}},
                   'C',
                   'B'},
        LookupCase{"OnlyLocalised", {{kGerman, Points::kB}}, '-', 'B'},
        LookupCase{
            "BlockIndexPastTheCount", {{0, Points::kA}, {0, Points::kPastTheCount}}, 'A', 'A'}),
    [](const testing::TestParamInfo<LookupCase>& info) { return info.param.label; });

}  // namespace
}  // namespace veltrane::mpq::test
