// Layouts the game reads that archive tools and protectors leave: each changes one thing in
// a valid map. mpqadd either replaces war3map.wtg with every other member reading back
// as before, or refuses with the file byte-identical; the map's own header before the
// archive and a signature after it are never written.
#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>

#include "archiver/archive.h"
#include "archiver/crypt.h"
#include "archiver/game_view.h"
#include "archiver/records.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

constexpr std::size_t kPreamble = 1024;  // a map header and more before the archive
constexpr std::uint16_t kGerman = 0x407;
const Bytes kTail = MakeContent(300, 90, false);  // a signature's place after the archive

std::vector<MemberRecipe> MapMembers() {
  return {
      {"war3map.w3e", MakeContent(9000, 91)},
      {"war3map.j", MakeContent(20000, 92), MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC,
       MPQ_COMPRESSION_ZLIB},
      {"war3map.mmp", MakeContent(3000, 93, false), 0, 0},
      {"war3map.wts", MakeContent(5000, 94), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED,
       MPQ_COMPRESSION_ZLIB},
      {"war3map.wtg", MakeContent(6000, 95)},  // last: its stored bytes follow every other's
  };
}

// The map's bytes: the preamble, the archive at `header`, and the tail (when it has one).
struct Map {
  Bytes bytes;
  std::size_t header = kPreamble;
  bool tail = true;
  Archive tables() const { return *ParseArchive(bytes, "map.w3m"); }
  std::size_t TailAt() const { return tail ? bytes.size() - kTail.size() : bytes.size(); }
};

// Writes the header and both tables of `archive` back where its header says they lie.
void Store(Map& map, const Archive& archive) {
  EditHeader(map.bytes, archive.header_offset, [&](Header& h) { h = archive.header; });
  const auto hashes = EncodeHashTable(archive);
  const auto blocks = EncodeBlockTable(archive);
  std::copy(hashes.begin(), hashes.end(),
            map.bytes.begin() + archive.Absolute(archive.header.hash_position));
  std::copy(blocks.begin(), blocks.end(),
            map.bytes.begin() + archive.Absolute(archive.header.block_position));
}

BlockEntry& BlockOf(Archive& archive, const std::string& name) {
  return archive.blocks[archive.hashes[*FindMember(archive, name)].block];
}

// Inserts `count` bytes at `at`, moving every header-relative position at or past it on.
void OpenGap(Map& map, Archive& archive, std::size_t at, std::uint32_t count) {
  const auto relative = static_cast<std::uint32_t>(at - archive.header_offset);
  map.bytes.insert(map.bytes.begin() + static_cast<std::ptrdiff_t>(at), count, std::byte{0});
  for (BlockEntry& block : archive.blocks) {
    if (block.position >= relative) block.position += count;
  }
  archive.header.block_position += count;
  archive.header.hash_position += count;
  archive.header.archive_size += count;
}

// The hash table moved to start 16 bytes into the header: its first entry is what the
// header's last four fields decipher to, and the names that entry displaces move on.
void HashTableOverHeader(Map& map) {
  Archive archive = map.tables();
  const auto count = static_cast<std::uint32_t>(archive.hashes.size());
  OpenGap(map, archive, map.header + kHeaderSize, count * kEntrySize - 16);
  archive.header.hash_position = 16;
  HeaderBytes stored = EncodeHeader(archive.header);
  Decrypt(std::span(stored).subspan(16), HashTableKey());
  std::vector<HashEntry> table(count);
  table[0] = DecodeRecord<HashEntry>(&stored[16]);
  ASSERT_GE(table[0].block, archive.blocks.size()) << "the header's entry must name no block";
  for (const char* name : {"(listfile)", "(attributes)", "war3map.w3e", "war3map.j", "war3map.mmp",
                           "war3map.wts", "war3map.wtg"}) {
    for (std::uint32_t old : MemberSlots(archive, name)) {
      std::uint32_t slot = HashName(name, HashKind::kTableIndex) & (count - 1);
      while (slot == 0 || table[slot].block != kFreeSlot) slot = (slot + 1) & (count - 1);
      table[slot] = archive.hashes[old];
    }
  }
  archive.hashes = table;
  Store(map, archive);
  ASSERT_EQ(map.tables().hashes[0].block, table[0].block) << "the header must hold entry 0";
}

// Member `name` really ends `cut` bytes past its recorded packed size, and war3map.wtg's
// recorded range starts where that size ends: the member's last bytes lie in it.
void DataPastPackedSize(Map& map, const std::string& name, std::uint32_t cut) {
  Archive archive = map.tables();
  BlockEntry& member = BlockOf(archive, name);
  BlockEntry& wtg = BlockOf(archive, "war3map.wtg");
  member.packed_size -= cut;
  const std::uint32_t wtg_end = wtg.position + wtg.packed_size;
  wtg.position = member.position + member.packed_size;
  wtg.packed_size = wtg_end - wtg.position;
  Store(map, archive);
}

// A header the game passes over (its size is under 32) at the boundary before the real
// one, pointing at the same tables.
void DecoyHeader(Map& map) {
  const std::size_t decoy = map.header - 512;
  std::copy_n(map.bytes.begin() + map.header, kHeaderSize, map.bytes.begin() + decoy);
  EditHeader(map.bytes, decoy, [](Header& h) {
    h.header_size = 16;
    h.hash_position += 512;
    h.block_position += 512;
  });
}

struct LayoutCase {
  std::string label;
  std::function<void(Map&)> change;
  std::string refusal = {};  // part of the message when mpqadd must refuse
  bool tail = true;
  bool locales = false;    // war3map.wtg also in German
  bool no_growth = false;  // the replace must not make the file longer
};

void PrintTo(const LayoutCase& c, std::ostream* out) {
  *out << c.label;
}

std::vector<LayoutCase> LayoutCases() {
  return {
      {"Valid", [](Map&) {}},
      {"HashTableOverHeader", HashTableOverHeader},
      {"CompressedDataPastPackedSize", [](Map& m) { DataPastPackedSize(m, "war3map.j", 100); }},
      {"PlainDataPastPackedSize", [](Map& m) { DataPastPackedSize(m, "war3map.mmp", 100); }},
      {"SectorCrcsPastPackedSize", [](Map& m) { DataPastPackedSize(m, "war3map.j", 10); }},
      {"DecoyHeaderBefore", DecoyHeader},
      {"MemberOverHeader",
       [](Map& m) {
         Archive archive = m.tables();
         BlockOf(archive, "war3map.mmp").position = 0;
         Store(m, archive);
       },
       "shares bytes with the archive header"},
      {"WtgPackedSizeIntoTail",
       [](Map& m) {
         Archive archive = m.tables();
         BlockEntry& wtg = BlockOf(archive, "war3map.wtg");
         wtg.packed_size = archive.Relative(m.TailAt() + 200) - wtg.position;
         Store(m, archive);
       }},
      {"FreedLocaleBlockSharedByAnotherName",
       [](Map& m) {
         Archive archive = m.tables();
         const auto slots = MemberSlots(archive, "war3map.wtg");
         const auto german = std::find_if(slots.begin(), slots.end(), [&](std::uint32_t s) {
           return archive.hashes[s].locale == kGerman;
         });
         PlaceName(archive, *FindSlotFor(archive, "alias.wtg"), "alias.wtg",
                   archive.hashes[*german].block);
         Store(m, archive);
       },
       "", true, true},
      {"BlockCountPastFileEnd",
       [](Map& m) { EditHeader(m.bytes, m.header, [](Header& h) { h.block_count += 4; }); }, "",
       false},
      {"HashCountPastFileEnd",
       [](Map& m) { EditHeader(m.bytes, m.header, [](Header& h) { h.hash_count = 4096; }); },
       "runs past the file's end", false},
      // As protectors leave it: tens of thousands of entries, a handful of them real.
      {"BlockCountFarPastFileEnd",
       [](Map& m) { EditHeader(m.bytes, m.header, [](Header& h) { h.block_count += 86000; }); }, "",
       false, false, true},
      {"WtgDataBeforeTheArchive",
       [](Map& m) {
         Archive archive = m.tables();
         BlockOf(archive, "war3map.wtg").position = archive.Relative(16 + (1ull << 32));
         Store(m, archive);
       },
       "lies before the archive's header"},
  };
}

Map MakeMap(const std::filesystem::path& path, const LayoutCase& c) {
  ArchiveRecipe recipe;
  recipe.members = MapMembers();
  recipe.max_files = 30;
  if (c.locales)
    recipe.members.push_back({"war3map.wtg", MakeContent(4000, 96), 0x200, 2, kGerman});
  CreateArchive(path, recipe);
  Map map;
  map.tail = c.tail;
  map.bytes = ToBytes("HM3W");
  map.bytes.resize(kPreamble, std::byte{0x5A});
  const Bytes archive = ReadBytes(path);
  map.bytes.insert(map.bytes.end(), archive.begin(), archive.end());
  if (c.tail) map.bytes.insert(map.bytes.end(), kTail.begin(), kTail.end());
  return map;
}

class GameLayout : public MapTest<LayoutCase> {};

TEST_P(GameLayout, ReplacesWithEveryOtherMemberIntactOrRefusesUntouched) {
  const LayoutCase& c = GetParam();
  Map map = MakeMap(archive, c);
  c.change(map);
  WriteBytes(archive, map.bytes);
  WriteBytes(dir / "empty", Bytes{});

  const RunResult run = RunTool({"a", archive.string(), "empty", "war3map.wtg"}, dir.path());
  const Bytes after = ReadBytes(archive);
  if (!c.refusal.empty()) {
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.err.find(c.refusal), std::string::npos) << run.err;
    EXPECT_EQ(after, map.bytes);
    return;
  }
  ASSERT_EQ(run.exit_code, 0) << run.err;
  ASSERT_GE(after.size(), map.bytes.size());
  if (c.no_growth) {
    EXPECT_EQ(after.size(), map.bytes.size());
  }
  EXPECT_TRUE(std::equal(map.bytes.begin(), map.bytes.begin() + kPreamble, after.begin()))
      << "the preamble changed";
  EXPECT_TRUE(
      std::equal(map.bytes.begin() + map.TailAt(), map.bytes.end(), after.begin() + map.TailAt()))
      << "the tail changed";
  for (const auto& member : MapMembers()) {
    if (member.name == "war3map.wtg") continue;
    EXPECT_EQ(StormRead(archive, member.name), member.content) << member.name;
    EXPECT_EQ(StormVerify(archive, member.name), 0u) << member.name;
  }
  EXPECT_EQ(StormRead(archive, "war3map.wtg"), Bytes{});
  if (c.locales) {
    EXPECT_EQ(StormRead(archive, "war3map.wtg", kGerman), Bytes{});
    EXPECT_EQ(StormRead(archive, "alias.wtg"), MakeContent(4000, 96));
  }
}

INSTANTIATE_TEST_SUITE_P(Maps, GameLayout, testing::ValuesIn(LayoutCases()),
                         [](const testing::TestParamInfo<LayoutCase>& info) {
                           return info.param.label;
                         });

// In an archive StormLib writes, every member's data ends where its packed size says: the
// reach read from its sector offsets is that, enciphered (its key found from the table's
// first word) or not, whatever its form.
TEST(GameReach, OfEachStoredFormIsItsPackedSize) {
  const std::uint32_t forms[] = {
      MPQ_FILE_COMPRESS,
      MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED,
      MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY,
      MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_SECTOR_CRC,
      MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT | MPQ_FILE_ENCRYPTED,
      MPQ_FILE_IMPLODE | MPQ_FILE_ENCRYPTED,
      MPQ_FILE_ENCRYPTED,
  };
  TempDir dir;
  ArchiveRecipe recipe;
  for (std::uint32_t flags : forms) {
    recipe.members.push_back(
        {"member" + std::to_string(flags), MakeContent(9000, flags), flags, MPQ_COMPRESSION_ZLIB});
  }
  CreateArchive(dir / "map.w3m", recipe);
  const Bytes bytes = ReadBytes(dir / "map.w3m");
  const Archive archive = *ParseArchive(bytes, "map.w3m");
  MemorySource source(bytes);
  const GameView view = *ReadGameView(source, archive);
  EXPECT_EQ(view.archive_end, bytes.size());
  for (std::uint32_t flags : forms) {
    const std::uint32_t block =
        archive.hashes[*FindMember(archive, "member" + std::to_string(flags))].block;
    EXPECT_EQ(view.reach[block], archive.blocks[block].packed_size) << std::hex << flags;
  }
}

// An enciphered member whose sector offset table no key deciphers (its second word is
// damaged) may still be read by a game that knows its name: it reaches to the file's end.
TEST(GameReach, OfAnEncipheredMemberWithNoKeyIsTheRestOfTheFile) {
  TempDir dir;
  ArchiveRecipe recipe;
  recipe.members.push_back({"secret", MakeContent(9000, 7), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED,
                            MPQ_COMPRESSION_ZLIB});
  CreateArchive(dir / "map.w3m", recipe);
  Bytes bytes = ReadBytes(dir / "map.w3m");
  const Archive archive = *ParseArchive(bytes, "map.w3m");
  const std::uint32_t block = archive.hashes[*FindMember(archive, "secret")].block;
  const std::uint64_t start = archive.Absolute(archive.blocks[block].position);
  bytes[start + 5] ^= std::byte{0x40};
  MemorySource source(bytes);
  EXPECT_EQ(ReadGameView(source, archive)->reach[block], bytes.size() - start);
}

}  // namespace
}  // namespace veltrane::mpq::test
