// mpqadd on archives of every shape it has to handle; StormLib reads the result back.
#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <map>
#include <tuple>

#include "archiver/archive.h"
#include "archiver/crypt.h"
#include "storm_fixture.h"
#include "tables.h"
#include "update_cases.h"

namespace veltrane::mpq::test {
namespace {

// A member name as the format compares names: ASCII upper case, '/' taken as '\\'.
std::string Folded(std::string name) {
  std::transform(name.begin(), name.end(), name.begin(), FoldNameChar);
  return name;
}

// How many lines of (listfile) name each member, by folded name.
std::map<std::string, int> ListfileCounts(const std::filesystem::path& archive) {
  std::map<std::string, int> counts;
  const auto listfile = StormRead(archive, "(listfile)");
  if (!listfile) return counts;
  std::string line;
  for (std::byte b : *listfile) {
    const char c = static_cast<char>(b);
    if (c != '\r' && c != '\n' && c != ';') {
      line += c;
    } else if (!line.empty()) {
      ++counts[Folded(line)];
      line.clear();
    }
  }
  if (!line.empty()) ++counts[Folded(line)];
  return counts;
}

// Members named *.tmp stand in for bookkeeping members StormLib won't let us write.
bool IsStandIn(const std::string& name) {
  return name.ends_with(".tmp");
}

class Update : public MapTest<UpdateCase> {};

// Other members read back unchanged and verify clean; the stored member reads as the input.
void ExpectMembers(const std::filesystem::path& archive, const UpdateCase& c) {
  for (const auto& member : c.recipe.members) {
    if (Folded(member.name) == Folded(c.name) || IsStandIn(member.name)) continue;
    EXPECT_EQ(StormRead(archive, member.name), member.content) << member.name;
    EXPECT_EQ(StormVerify(archive, member.name), 0u) << member.name;
  }
  std::string stored = c.name;  // StormLib looks names up with '\\' only
  std::replace(stored.begin(), stored.end(), '/', '\\');
  EXPECT_EQ(StormRead(archive, stored), c.content);
  EXPECT_EQ(StormVerify(archive, stored), 0u);
  if (c.recipe.listfile || c.made_listfile) {
    EXPECT_TRUE(StormListed(archive, stored));
    EXPECT_EQ(StormVerify(archive, "(listfile)"), 0u);
    for (const auto& [name, count] : ListfileCounts(archive)) EXPECT_EQ(count, 1) << name;
  }
  if (c.recipe.attributes || c.made_attributes) {
    EXPECT_EQ(StormVerify(archive, "(attributes)"), 0u);
    // (attributes) describes the stored member, so the checks above really ran.
    const std::uint32_t wanted = ((c.recipe.attribute_flags & 1) ? VERIFY_FILE_HAS_CHECKSUM : 0) |
                                 ((c.recipe.attribute_flags & 4) ? VERIFY_FILE_HAS_MD5 : 0);
    if (!c.content.empty()) {
      EXPECT_EQ(StormChecks(archive, stored), wanted);
    }
  }
  for (const auto& member : c.also) {
    EXPECT_EQ(StormRead(archive, member.name), member.content) << member.name;
  }
}

TEST_P(Update, StoresMemberAndKeepsEverythingElse) {
  const UpdateCase& c = GetParam();
  CreateArchive(archive, c.recipe);
  Bytes before(c.preamble, std::byte{0x48});
  const Bytes fresh = ReadBytes(archive);
  before.insert(before.end(), fresh.begin(), fresh.end());
  if (c.damage) c.damage(before, c.preamble);
  WriteBytes(archive, before);
  if (c.edit) c.edit(archive);
  before = ReadBytes(archive);
  WriteBytes(dir / "input.bin", c.content);

  const RunResult run = RunTool({"a", archive.string(), "input.bin", c.name}, dir.path());
  if (!c.error.empty()) {
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.err.find(c.error), std::string::npos) << run.err;
    EXPECT_EQ(ReadBytes(archive), before);
    return;
  }
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(run.err, "");

  // The preamble and what follows the archive stay; the file grows by little more than the
  // stored member.
  const Bytes after = ReadBytes(archive);
  ASSERT_GE(after.size(), before.size());
  EXPECT_LE(after.size(), before.size() + c.content.size() + 4096);
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + c.preamble, after.begin()));
  if (!c.kept.empty()) {
    EXPECT_TRUE(test_support::Holds(after, c.kept));
  }
  ExpectMembers(archive, c);

  // One name entry for the member, whether it was added or replaced.
  const Archive tables = LoadTables(archive);
  const auto a = HashName(c.name, HashKind::kNameA);
  EXPECT_EQ(std::count_if(tables.hashes.begin(), tables.hashes.end(),
                          [&](const HashEntry& e) {
                            return e.name_a == a && e.block < tables.blocks.size();
                          }),
            1);
}

INSTANTIATE_TEST_SUITE_P(Archives, Update, testing::ValuesIn(UpdateCases()),
                         [](const testing::TestParamInfo<UpdateCase>& info) {
                           return info.param.label;
                         });

// One name under two locales, the localised entry first on the search path: a replace
// stores the member in the neutral entry's block, and the localised entry, which a game of
// that language reads, comes to name the same block.
TEST(UpdateLocales, ReplacesEveryLocale) {
  constexpr std::uint16_t kGerman = 0x407;
  TempDir dir;
  const auto archive = dir / "map.w3m";
  ArchiveRecipe recipe;
  const Bytes german = MakeContent(3000, 50), neutral = MakeContent(3000, 51);
  recipe.members = {{"war3map.j", german, MPQ_FILE_COMPRESS, kZlib, kGerman},
                    {"war3map.j", neutral, MPQ_FILE_COMPRESS, kZlib, 0}};
  CreateArchive(archive, recipe);
  const Archive tables = LoadTables(archive);
  const std::uint32_t mask = static_cast<std::uint32_t>(tables.hashes.size()) - 1;
  std::uint32_t slot = HashName("war3map.j", HashKind::kTableIndex) & mask;
  while (tables.hashes[slot].name_a != HashName("war3map.j", HashKind::kNameA)) {
    slot = (slot + 1) & mask;
  }
  ASSERT_EQ(tables.hashes[slot].locale, kGerman) << "the localised entry must come first";
  const Bytes input = MakeContent(2000, 52);
  WriteBytes(dir / "input.bin", input);

  const RunResult run = RunTool({"a", archive.string(), "input.bin", "war3map.j"}, dir.path());
  ASSERT_EQ(run.exit_code, 0) << run.err;
  EXPECT_EQ(StormRead(archive, "war3map.j"), input);
  EXPECT_EQ(StormRead(archive, "war3map.j", kGerman), input);
  const Archive after = LoadTables(archive);
  EXPECT_EQ(after.hashes[slot].block, after.hashes[*FindMember(after, "war3map.j")].block);
}

}  // namespace
}  // namespace veltrane::mpq::test
