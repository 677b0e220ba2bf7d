// The rows of the update table: archives of every shape mpqadd has to handle, each with
// the member to store in it.
#include "update_cases.h"

#include <StormLib.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "archiver/archive.h"
#include "archiver/crypt.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

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

UpdateCase Base(std::string label, std::string name, Bytes content) {
  UpdateCase c;
  c.label = std::move(label);
  c.name = std::move(name);
  c.content = std::move(content);
  c.recipe.members = MixedMembers();
  c.recipe.max_files = 32;
  return c;
}

// Adds and replaces of ordinary members.
void AddMemberCases(std::vector<UpdateCase>& cases) {
  cases.push_back(Base("AddNew", "war3map.wtg", MakeContent(12000, 20)));
  cases.push_back(Base("AddEmpty", "war3map.wtg", {}));
  cases.push_back(
      Base("AddIncompressibleMultiSector", "war3map.wtg", MakeContent(30000, 21, false)));
  cases.push_back(Base("AddInFolder", "Scripts/Custom.ai", MakeContent(500, 22)));
  for (const auto& member : MixedMembers()) {
    std::string label = "Replace_" + member.name;
    std::replace_if(
        label.begin(), label.end(), [](char c) { return !std::isalnum(c); }, '_');
    cases.push_back(Base(label, member.name, MakeContent(15000, 23)));
  }
  cases.push_back(Base("ReplaceFoldsCaseAndSlash", "UNITS/WAR3MAP.W3U", MakeContent(800, 24)));
  cases.push_back(Base("ReplaceFoldsCase", "WAR3MAP.J", MakeContent(800, 24)));
  cases.push_back(Base("ReplaceWithEmpty", "war3map.j", {}));
}

// Bookkeeping members stored in every form, or missing.
void AddSideFileCases(std::vector<UpdateCase>& cases) {
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
    UpdateCase c = Base(std::string("SideFiles") + label, "war3map.wtg", MakeContent(3000, 25));
    c.recipe.internal_flags = flags;
    cases.push_back(c);
    c.label += "Replace";
    c.name = "war3map.wts";
    cases.push_back(c);
  }
  for (auto [listfile, attributes] : {std::pair{false, false}, {true, false}, {false, true}}) {
    UpdateCase c = Base(std::string("Listfile") + (listfile ? "Yes" : "No") + "Attributes" +
                            (attributes ? "Yes" : "No"),
                        "war3map.wtg", MakeContent(3000, 26));
    c.recipe.listfile = listfile;
    c.recipe.attributes = attributes;
    cases.push_back(c);
  }
  for (std::uint32_t flags : {0x1u, 0x6u, 0xFu}) {
    UpdateCase c =
        Base("AttributeArrays" + std::to_string(flags), "war3map.wtg", MakeContent(3000, 31));
    c.recipe.attribute_flags = flags;
    cases.push_back(c);
  }
}

// Where the header lies, what it holds, and what follows the archive.
void AddHeaderCases(std::vector<UpdateCase>& cases) {
  // The header search reads growing chunks: a header early, at a chunk's start, far on.
  for (std::size_t preamble : {512u, 1536u, 61440u, 200704u}) {
    UpdateCase c =
        Base("Preamble" + std::to_string(preamble), "war3map.wtg", MakeContent(4000, 27));
    c.preamble = preamble;
    cases.push_back(c);
  }
  UpdateCase nonsense = Base("HeaderFieldsNonsense", "war3map.wtg", MakeContent(4000, 28));
  nonsense.preamble = 512;
  nonsense.damage = [](Bytes& bytes, std::size_t header) {
    EditHeader(bytes, header, [](Header& h) {
      h.header_size = 0x00001234;
      h.archive_size = 0xDEADBEEF;
      h.format_version = 0x0001;
    });
  };
  cases.push_back(nonsense);
  UpdateCase trailing = Base("TrailingDataKept", "war3map.wtg", MakeContent(4000, 29));
  trailing.kept = ToBytes("NGIS-trailing-signature-bytes");
  trailing.damage = [kept = trailing.kept](Bytes& bytes, std::size_t) {
    bytes.insert(bytes.end(), kept.begin(), kept.end());
  };
  cases.push_back(trailing);
  UpdateCase small_sectors = Base("SmallSectors", "war3map.wtg", MakeContent(5000, 30));
  small_sectors.recipe.sector_size = 1024;
  cases.push_back(small_sectors);
}

// Hash tables of unusual shapes: deleted and full slots, shared blocks, odd sizes, and a
// table before the header.
void AddHashTableCases(std::vector<UpdateCase>& cases) {
  UpdateCase behind = Base("ReplaceBehindDeletedEntry", "war3map.j", MakeContent(4000, 40));
  behind.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) { PutBehindDeleted(a, "war3map.j"); });
  };
  cases.push_back(behind);
  UpdateCase full = Base("FullTableReplace", "war3map.wts", MakeContent(4000, 41));
  full.edit = [](const std::filesystem::path& path) { EditTables(path, FillFreeSlots); };
  cases.push_back(full);
  full.label = "FullTableAddFails";
  full.name = "war3map.wtg";
  full.error = "has no free slot";
  cases.push_back(full);
  UpdateCase reuse = full;
  reuse.label = "FullTableAddTakesDeletedSlot";
  reuse.error.clear();
  reuse.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      FillFreeSlots(a);
      a.hashes[7].block = kDeletedSlot;
    });
  };
  cases.push_back(reuse);
  UpdateCase shared = Base("ReplaceSharedBlockKeepsAlias", "war3map.j", MakeContent(4000, 42));
  shared.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      PlaceName(a, *FindSlotFor(a, "alias.j"), "alias.j",
                a.hashes[*FindMember(a, "war3map.j")].block);
    });
  };
  shared.also = {{"alias.j", MixedMembers()[0].content}};
  cases.push_back(shared);
  // A name entry pointing one past the block table (readers skip it) in front of the real
  // one: the block appended for a new member must not bring it to life.
  UpdateCase dangling = Base("DanglingEntryStaysDead", "war3map.wtg", MakeContent(4000, 45));
  dangling.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) {
      const std::uint32_t slot = *FindMember(a, "war3map.j");
      PutBehindDeleted(a, "war3map.j");
      PlaceName(a, slot, "war3map.j", static_cast<std::uint32_t>(a.blocks.size()));
    });
  };
  cases.push_back(dangling);
  UpdateCase odd = Base("HashTableOfNinetySix", "war3map.j", MakeContent(4000, 46));
  odd.recipe.max_files = 128;
  odd.edit = [](const std::filesystem::path& path) { ShrinkHashTable(path, 96); };
  cases.push_back(odd);
  UpdateCase wrap = Base("HashTableBeforeHeader", "war3map.wtg", MakeContent(4000, 43));
  wrap.preamble = 2048;
  wrap.damage = TablesBeforeHeader;
  cases.push_back(wrap);
}

// Bookkeeping members other tools write, made by renaming members StormLib writes.
void AddForeignSideFileCases(std::vector<UpdateCase>& cases) {
  for (auto [label, flags, compression] :
       {std::tuple{"ListfilePkware", MPQ_FILE_COMPRESS, kPkware},
        std::tuple{"ListfileImplodedSingleUnit", MPQ_FILE_IMPLODE | MPQ_FILE_SINGLE_UNIT, 0u},
        std::tuple{"ListfileZlibSectors", MPQ_FILE_COMPRESS, kZlib}}) {
    UpdateCase made = Base(label, "war3map.wtg", MakeContent(4000, 44));
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
  UpdateCase short_attributes =
      Base("AttributesOneEntryShort", "war3map.wtg", MakeContent(4000, 47));
  short_attributes.recipe.attributes = false;
  short_attributes.made_attributes = true;
  short_attributes.recipe.members.push_back(
      {"attr.tmp", AttributesOneShort(short_attributes.recipe.members.size() + 2)});
  short_attributes.edit = [](const std::filesystem::path& path) {
    EditTables(path, [](Archive& a) { Rename(a, "attr.tmp", "(attributes)"); });
  };
  cases.push_back(short_attributes);
}

}  // namespace

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

std::vector<UpdateCase> UpdateCases() {
  std::vector<UpdateCase> cases;
  AddMemberCases(cases);
  AddSideFileCases(cases);
  AddHeaderCases(cases);
  AddHashTableCases(cases);
  AddForeignSideFileCases(cases);
  return cases;
}

void PrintTo(const UpdateCase& c, std::ostream* out) {
  *out << c.label;
}

}  // namespace veltrane::mpq::test
