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

namespace veltrane::mpq::test {
namespace {

constexpr std::uint32_t kZlib = MPQ_COMPRESSION_ZLIB;
constexpr std::uint32_t kPkware = MPQ_COMPRESSION_PKWARE;

std::vector<MemberRecipe> MixedMembers() {
  return {
      {"war3map.j", MakeContent(20000, 1), MPQ_FILE_COMPRESS, kZlib},
      {"war3map.w3e", MakeContent(9000, 2), MPQ_FILE_COMPRESS, kPkware},
      {"war3map.doo", MakeContent(7000, 3), MPQ_FILE_IMPLODE, 0},
      {"war3map.wts", MakeContent(5000, 4), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED, kZlib},
      {"Units\\war3map.w3u", MakeContent(6000, 5),
       MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY, kZlib},
      {"war3map.shd", MakeContent(9000, 6), MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC, kZlib},
      {"war3map.mmp", MakeContent(3000, 7, false), 0, 0},
      {"war3map.wpm", MakeContent(9000, 8, false), MPQ_FILE_COMPRESS, kZlib},
      {"war3mapMap.blp", MakeContent(900, 9), MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT, kZlib},
      {"war3map.imp", {}, MPQ_FILE_COMPRESS, kZlib},
  };
}

struct Case {
  std::string label;
  ArchiveRecipe recipe;
  std::string name;  // member to store
  Bytes content;
  std::size_t preamble = 0;
  std::function<void(Bytes&, std::size_t header)> damage;  // applied to the fresh archive
  std::function<void(const std::filesystem::path&)> edit;  // then applied to its tables
  std::vector<MemberRecipe> also;  // further names that must read back as given
  std::string error;               // when set: the run must fail with this in its message
  bool made_listfile = false;      // a (listfile) made by renaming a member
  bool made_attributes = false;    // an (attributes) made by renaming a member
  Bytes kept;                      // bytes after the archive that must stay in the file
};

// A member name as the format compares names: ASCII upper case, '/' taken as '\\'.
std::string Folded(std::string name) {
  for (char& c : name) {
    if (c == '/') c = '\\';
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
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

// Gives member `from` the name `to` (only right for members that aren't enciphered).
void Rename(Archive& archive, const std::string& from, const std::string& to) {
  const auto slot = FindMember(archive, from);
  ASSERT_TRUE(slot.has_value());
  const std::uint32_t block = archive.hashes[*slot].block;
  archive.hashes[*slot].block = kDeletedSlot;
  PlaceName(archive, *FindSlotFor(archive, to), to, block);
}

Bytes ListingOf(const std::vector<MemberRecipe>& members) {
  std::string text;
  for (const auto& member : members) text += member.name + "\r\n";
  for (int i = 0; i < 200; ++i) text += "Units\\Custom" + std::to_string(i) + ".mdx\r\n";
  return ToBytes(text);
}

// Moves `name`'s entry one slot on and leaves a deleted entry where it was, so a search
// must walk past the deleted entry to find it.
void PutBehindDeleted(Archive& archive, const std::string& name) {
  const auto slot = FindMember(archive, name);
  ASSERT_TRUE(slot.has_value());
  const std::uint32_t next = (*slot + 1) % archive.hashes.size();
  ASSERT_EQ(archive.hashes[next].block, kFreeSlot) << "pick a name with a free slot after it";
  archive.hashes[next] = archive.hashes[*slot];
  archive.hashes[*slot].block = kDeletedSlot;
}

// Fills every free slot with a name that points at no block (readers skip those).
void FillFreeSlots(Archive& archive) {
  for (auto& entry : archive.hashes) {
    if (entry.block == kFreeSlot) entry = HashEntry{0x1234, 0x5678, 0, 0, 0x7FFFFFFF};
  }
}

// Moves the hash table into the preamble, before the header; its position wraps at 32 bits.
void TablesBeforeHeader(Bytes& bytes, std::size_t header) {
  EditHeader(bytes, header, [&](Header& h) {
    const std::uint32_t size = h.hash_count * 16;
    ASSERT_LE(64 + size, header);
    std::copy_n(bytes.begin() + header + h.hash_position, size, bytes.begin() + 64);
    h.hash_position = static_cast<std::uint32_t>(64 - header);
  });
}

// Rebuilds the hash table with `count` entries (fewer than it has), each name placed where
// the game starts its search, hash & (count - 1), or on the next free slot after it.
void ShrinkHashTable(const std::filesystem::path& path, std::uint32_t count) {
  Bytes bytes = ReadBytes(path);
  Archive archive = *ParseArchive(bytes, path.string());
  std::vector<HashEntry> table(count);
  std::vector<std::string> names = {"(listfile)", "(attributes)"};
  for (const auto& member : MixedMembers()) names.push_back(member.name);
  for (const auto& name : names) {
    for (std::uint32_t old : MemberSlots(archive, name)) {
      std::uint32_t slot = HashName(name, HashKind::kTableIndex) & (count - 1);
      while (table[slot].block != kFreeSlot) slot = (slot + 1) & (count - 1);
      table[slot] = archive.hashes[old];
    }
  }
  archive.hashes = table;
  const auto encoded = EncodeHashTable(archive);
  std::copy(encoded.begin(), encoded.end(),
            bytes.begin() + archive.Absolute(archive.header.hash_position));
  EditHeader(bytes, archive.header_offset, [&](Header& h) { h.hash_count = count; });
  WriteBytes(path, bytes);
}

// (attributes) as some tools write it: version 100, CRC32s, file times and MD5s (all zero)
// for one entry fewer than the `blocks` of the archive.
Bytes AttributesOneShort(std::size_t blocks) {
  Bytes out = ToBytes(std::string("\x64\0\0\0\x07\0\0\0", 8));
  out.resize(8 + (blocks - 1) * (4 + 8 + 16));
  return out;
}

template <class Base>
void AddTableShapes(std::vector<Case>& cases, Base base) {
  Case behind = base("ReplaceBehindDeletedEntry", "war3map.j", MakeContent(4000, 40));
  behind.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) { PutBehindDeleted(a, "war3map.j"); });
  };
  cases.push_back(behind);
  Case full = base("FullTableReplace", "war3map.wts", MakeContent(4000, 41));
  full.edit = [](const std::filesystem::path& path) { EditTables(path, FillFreeSlots); };
  cases.push_back(full);
  full.label = "FullTableAddFails";
  full.name = "war3map.wtg";
  full.error = "has no free slot";
  cases.push_back(full);
  Case reuse = full;
  reuse.label = "FullTableAddTakesDeletedSlot";
  reuse.error.clear();
  reuse.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      FillFreeSlots(a);
      a.hashes[7].block = kDeletedSlot;
    });
  };
  cases.push_back(reuse);
  Case shared = base("ReplaceSharedBlockKeepsAlias", "war3map.j", MakeContent(4000, 42));
  shared.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      PlaceName(a, *FindSlotFor(a, "alias.j"), "alias.j",
                a.hashes[*FindMember(a, "war3map.j")].block);
    });
  };
  shared.also = {{"alias.j", MixedMembers()[0].content}};
  cases.push_back(shared);
  for (auto [label, flags, compression] :
       {std::tuple{"ListfilePkware", MPQ_FILE_COMPRESS, kPkware},
        std::tuple{"ListfileImplodedSingleUnit", MPQ_FILE_IMPLODE | MPQ_FILE_SINGLE_UNIT, 0u},
        std::tuple{"ListfileZlibSectors", MPQ_FILE_COMPRESS, kZlib}}) {
    Case made = base(label, "war3map.wtg", MakeContent(4000, 44));
    made.recipe.listfile = false;
    made.recipe.sector_size = 1024;  // several sectors
    made.recipe.members.push_back({"list.tmp", ListingOf(made.recipe.members),
                                   static_cast<std::uint32_t>(flags), compression});
    made.made_listfile = true;
    made.edit = [](const std::filesystem::path& path) {
      EditTables(path, [](Archive& a) { Rename(a, "list.tmp", "(listfile)"); });
    };
    cases.push_back(made);
  }
  // A name entry pointing one past the block table (readers skip it) in front of the real
  // one: the block appended for a new member must not bring it to life.
  Case dangling = base("DanglingEntryStaysDead", "war3map.wtg", MakeContent(4000, 45));
  dangling.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      const std::uint32_t slot = *FindMember(a, "war3map.j");
      PutBehindDeleted(a, "war3map.j");
      PlaceName(a, slot, "war3map.j", static_cast<std::uint32_t>(a.blocks.size()));
    });
  };
  cases.push_back(dangling);
  Case odd = base("HashTableOfNinetySix", "war3map.j", MakeContent(4000, 46));
  odd.recipe.max_files = 128;
  odd.edit = [](const std::filesystem::path& path) { ShrinkHashTable(path, 96); };
  cases.push_back(odd);
  Case short_attributes = base("AttributesOneEntryShort", "war3map.wtg", MakeContent(4000, 47));
  short_attributes.recipe.attributes = false;
  short_attributes.made_attributes = true;
  short_attributes.recipe.members.push_back(
      {"attr.tmp", AttributesOneShort(short_attributes.recipe.members.size() + 2)});
  short_attributes.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) { Rename(a, "attr.tmp", "(attributes)"); });
  };
  cases.push_back(short_attributes);
  Case wrap = base("HashTableBeforeHeader", "war3map.wtg", MakeContent(4000, 43));
  wrap.preamble = 2048;
  wrap.damage = TablesBeforeHeader;
  cases.push_back(wrap);
}

std::vector<Case> Cases() {
  auto base = [](std::string label, std::string name, Bytes content) {
    Case c;
    c.label = std::move(label);
    c.name = std::move(name);
    c.content = std::move(content);
    c.recipe.members = MixedMembers();
    c.recipe.max_files = 32;
    return c;
  };
  std::vector<Case> cases;
  cases.push_back(base("AddNew", "war3map.wtg", MakeContent(12000, 20)));
  cases.push_back(base("AddEmpty", "war3map.wtg", {}));
  cases.push_back(
      base("AddIncompressibleMultiSector", "war3map.wtg", MakeContent(30000, 21, false)));
  cases.push_back(base("AddInFolder", "Scripts/Custom.ai", MakeContent(500, 22)));
  for (const auto& member : MixedMembers()) {
    std::string label = "Replace_" + member.name;
    std::replace_if(
        label.begin(), label.end(), [](char c) { return !std::isalnum(c); }, '_');
    cases.push_back(base(label, member.name, MakeContent(15000, 23)));
  }
  cases.push_back(base("ReplaceFoldsCaseAndSlash", "UNITS/WAR3MAP.W3U", MakeContent(800, 24)));
  cases.push_back(base("ReplaceFoldsCase", "WAR3MAP.J", MakeContent(800, 24)));
  cases.push_back(base("ReplaceWithEmpty", "war3map.j", {}));
  struct Internal {
    const char* label;
    std::uint32_t flags;
  };
  for (auto [label, flags] : {
           Internal{"Encrypted", MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED},
           Internal{"EncryptedFixKey", MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED | MPQ_FILE_FIX_KEY},
           Internal{"Imploded", MPQ_FILE_IMPLODE},
           Internal{"SectorCrc", MPQ_FILE_COMPRESS | MPQ_FILE_SECTOR_CRC},
           Internal{"EncryptedSectorCrc", MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED |
                                              MPQ_FILE_FIX_KEY | MPQ_FILE_SECTOR_CRC},
           Internal{"Stored", MPQ_FILE_EXISTS},
           Internal{"SingleUnitEncrypted",
                    MPQ_FILE_COMPRESS | MPQ_FILE_SINGLE_UNIT | MPQ_FILE_ENCRYPTED},
       }) {
    Case c = base(std::string("SideFiles") + label, "war3map.wtg", MakeContent(3000, 25));
    c.recipe.internal_flags = flags;
    cases.push_back(c);
    c.label += "Replace";
    c.name = "war3map.wts";
    cases.push_back(c);
  }
  for (auto [listfile, attributes] : {std::pair{false, false}, {true, false}, {false, true}}) {
    Case c = base(std::string("Listfile") + (listfile ? "Yes" : "No") + "Attributes" +
                      (attributes ? "Yes" : "No"),
                  "war3map.wtg", MakeContent(3000, 26));
    c.recipe.listfile = listfile;
    c.recipe.attributes = attributes;
    cases.push_back(c);
  }
  for (std::uint32_t flags : {0x1u, 0x6u, 0xFu}) {
    Case c = base("AttributeArrays" + std::to_string(flags), "war3map.wtg", MakeContent(3000, 31));
    c.recipe.attribute_flags = flags;
    cases.push_back(c);
  }
  // The header search reads growing chunks: a header early, at a chunk's start, far on.
  for (std::size_t preamble : {512u, 1536u, 61440u, 200704u}) {
    Case c = base("Preamble" + std::to_string(preamble), "war3map.wtg", MakeContent(4000, 27));
    c.preamble = preamble;
    cases.push_back(c);
  }
  Case nonsense = base("HeaderFieldsNonsense", "war3map.wtg", MakeContent(4000, 28));
  nonsense.preamble = 512;
  nonsense.damage = [](Bytes& bytes, std::size_t header) {
    EditHeader(bytes, header, [](Header& h) {
      h.header_size = 0x00001234;
      h.archive_size = 0xDEADBEEF;
      h.format_version = 0x0001;
    });
  };
  cases.push_back(nonsense);
  Case trailing = base("TrailingDataKept", "war3map.wtg", MakeContent(4000, 29));
  trailing.kept = ToBytes("NGIS-trailing-signature-bytes");
  trailing.damage = [kept = trailing.kept](Bytes& bytes, std::size_t) {
    bytes.insert(bytes.end(), kept.begin(), kept.end());
  };
  cases.push_back(trailing);
  Case small_sectors = base("SmallSectors", "war3map.wtg", MakeContent(5000, 30));
  small_sectors.recipe.sector_size = 1024;
  cases.push_back(small_sectors);
  AddTableShapes(cases, base);
  return cases;
}

void PrintTo(const Case& c, std::ostream* out) {
  *out << c.label;
}

class Update : public MapTest<Case> {};

// Other members read back unchanged and verify clean; the stored member reads as the input.
void ExpectMembers(const std::filesystem::path& archive, const Case& c) {
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
  const Case& c = GetParam();
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

INSTANTIATE_TEST_SUITE_P(Archives, Update, testing::ValuesIn(Cases()),
                         [](const testing::TestParamInfo<Case>& info) { return info.param.label; });

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
