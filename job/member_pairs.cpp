#include "job/member_pairs.h"

#include <algorithm>
#include <array>
#include <map>
#include <string_view>
#include <tuple>
#include <utility>

#include "archiver/byte_io.h"
#include "archiver/crypt.h"
#include "archiver/member.h"
#include "common/text.h"
#include "job/job_paths.h"

namespace veltrane {
namespace {

using NameHashes = std::pair<std::uint32_t, std::uint32_t>;

NameHashes HashesOf(std::string_view name) {
  return {mpq::HashName(name, mpq::HashKind::kNameA), mpq::HashName(name, mpq::HashKind::kNameB)};
}

// Members every map holds, named even when a map comes without its (listfile).
constexpr std::array kWellKnownNames = {
    "war3map.j",        "scripts\\war3map.j", "war3map.w3e",     "war3map.w3i",
    "war3map.wts",      "war3map.shd",        "war3map.wpm",     "war3map.doo",
    "war3mapUnits.doo", "war3map.w3r",        "war3map.w3c",     "war3map.w3s",
    "war3map.w3u",      "war3map.w3t",        "war3map.w3a",     "war3map.w3b",
    "war3map.w3d",      "war3map.w3q",        "war3map.imp",     "war3map.mmp",
    "war3map.wct",      "war3mapMap.blp",     "war3mapMap.tga",  "war3mapPreview.tga",
    "war3mapMisc.txt",  "war3mapSkin.txt",    "war3mapExtra.txt"};

bool Live(const mpq::Archive& archive, const mpq::HashEntry& entry) {
  return entry.block < archive.blocks.size() &&
         (archive.blocks[entry.block].flags & mpq::kFlagExists) != 0;
}

// The map's (listfile) content, or nothing when it has none that decodes.
std::vector<std::byte> ListfileOf(mpq::ByteSource& map, const mpq::Archive& archive) {
  const auto slot = mpq::FindMember(archive, mpq::kListfileName);
  if (!slot) return {};
  const mpq::BlockEntry& block = archive.blocks[archive.hashes[*slot].block];
  auto stored = mpq::ReadStoredBytes(map, archive, block);
  if (!stored) return {};
  auto content = mpq::DecodeMember(*stored, archive, block, mpq::kListfileName);
  return content ? std::move(*content) : std::vector<std::byte>{};
}

// Every name the map's (listfile) gives (lines split at CR, LF and ';') and the well-known
// ones, by their name hashes.
std::map<NameHashes, std::string> NamesOf(mpq::ByteSource& map, const mpq::Archive& archive) {
  std::map<NameHashes, std::string> names;
  for (const char* name : kWellKnownNames) names.emplace(HashesOf(name), name);
  const auto listfile = ListfileOf(map, archive);
  std::string line;
  for (std::size_t i = 0; i <= listfile.size(); ++i) {
    const char c = i < listfile.size() ? static_cast<char>(listfile[i]) : '\n';
    if (c != '\r' && c != '\n' && c != ';') {
      line += c;
    } else if (!line.empty()) {
      names.insert_or_assign(HashesOf(line), line);
      line.clear();
    }
  }
  return names;
}

// The first entry of each name hashes and locale that points at a block in use, by table
// order: how a member is found in the copy when the map gives no name to search along.
using EntryKey = std::tuple<std::uint32_t, std::uint32_t, std::uint16_t>;
std::map<EntryKey, mpq::BlockEntry> FirstEntries(const mpq::Archive& archive) {
  std::map<EntryKey, mpq::BlockEntry> first;
  for (const mpq::HashEntry& entry : archive.hashes) {
    if (Live(archive, entry)) {
      first.emplace(EntryKey{entry.name_a, entry.name_b, entry.locale},
                    archive.blocks[entry.block]);
    }
  }
  return first;
}

// The copy's entry of the same name hashes and locale: found along the name's search path as
// the game looks it up, or, for a name the map does not give, anywhere in the table.
std::optional<mpq::BlockEntry> CounterpartIn(const mpq::Archive& copy,
                                             const std::map<EntryKey, mpq::BlockEntry>& unnamed,
                                             const mpq::HashEntry& entry, const std::string& name) {
  if (!name.empty()) {
    for (const std::uint32_t slot : mpq::MemberSlots(copy, name)) {
      if (copy.hashes[slot].locale == entry.locale) return copy.blocks[copy.hashes[slot].block];
    }
    return std::nullopt;
  }
  const auto found = unnamed.find(EntryKey{entry.name_a, entry.name_b, entry.locale});
  if (found == unnamed.end()) return std::nullopt;
  return found->second;
}

// `block` with its packed size widened to the stored data the game reads: a member in
// compressed sectors ends where its sector offset table says, whatever its packed size.
// An enciphered table needs the member's name; without it the packed size stands.
mpq::BlockEntry AsTheGameReads(mpq::ByteSource& source, const mpq::Archive& archive,
                               mpq::BlockEntry block, const std::string& name) {
  const bool compressed = (block.flags & (mpq::kFlagCompress | mpq::kFlagImplode)) != 0;
  const bool encrypted = (block.flags & mpq::kFlagEncrypted) != 0;
  if (!compressed || (block.flags & mpq::kFlagSingleUnit) || block.size == 0 ||
      (encrypted && name.empty())) {
    return block;
  }
  const std::uint64_t sectors =
      (std::uint64_t{block.size} + archive.SectorSize() - 1) / archive.SectorSize();
  const std::uint64_t start = archive.Absolute(block.position);
  const std::uint64_t table_bytes = (sectors + 1) * 4;
  if (start > archive.file_size || table_bytes > archive.file_size - start) return block;
  std::vector<std::byte> table(static_cast<std::size_t>(table_bytes));
  // A table that can't be read leaves the packed size: reading the member's stored data
  // then fails with the reader's message.
  if (!source.ReadAt(start, table)) return block;
  if (encrypted) {
    const bool fix_key = (block.flags & mpq::kFlagFixKey) != 0;
    mpq::Decrypt(table, mpq::MemberKey(name, block.position, block.size, fix_key) - 1);
  }
  const std::uint32_t end = mpq::LoadLe32(&table[table.size() - 4]);
  block.packed_size = std::max(block.packed_size, end);
  return block;
}

bool SameStoredForm(const mpq::Archive& map_archive, const mpq::BlockEntry& in_map,
                    const mpq::Archive& copy_archive, const mpq::BlockEntry& in_copy) {
  // Sectors are deciphered and unpacked by the archive's sector size, and a position-adjusted
  // key depends on where the member lies.
  const bool key_moves = (in_map.flags & mpq::kFlagEncrypted) && (in_map.flags & mpq::kFlagFixKey);
  return in_map.flags == in_copy.flags && in_map.size == in_copy.size &&
         in_map.packed_size == in_copy.packed_size &&
         map_archive.SectorSize() == copy_archive.SectorSize() &&
         (!key_moves || in_map.position == in_copy.position);
}

MemberFault DecodeFault(const mpq::Archive& archive, const mpq::BlockEntry& block,
                        std::size_t stored_size) {
  const std::uint64_t start = archive.Absolute(block.position);
  const bool inside = start <= archive.file_size;
  return inside && stored_size < block.packed_size ? MemberFault::kCutShort
                                                   : MemberFault::kUnreadable;
}

}  // namespace

std::vector<MemberPair> PairMembers(mpq::ByteSource& map, const mpq::Archive& map_archive,
                                    mpq::ByteSource& copy, const mpq::Archive& copy_archive) {
  const auto names = NamesOf(map, map_archive);
  const auto unnamed = FirstEntries(copy_archive);
  const std::array changed = {HashesOf(ToUtf8(kPlaceholderName)), HashesOf(mpq::kListfileName),
                              HashesOf(mpq::kAttributesName)};
  std::vector<MemberPair> pairs;
  for (std::uint32_t slot = 0; slot < map_archive.hashes.size(); ++slot) {
    const mpq::HashEntry& entry = map_archive.hashes[slot];
    const NameHashes hashes{entry.name_a, entry.name_b};
    if (!Live(map_archive, entry) ||
        std::find(changed.begin(), changed.end(), hashes) != changed.end()) {
      continue;
    }
    MemberPair pair;
    const auto named = names.find(hashes);
    pair.member = {named == names.end() ? "" : named->second, slot, entry.locale, {}};
    const std::string& name = pair.member.name;
    pair.map_block = AsTheGameReads(map, map_archive, map_archive.blocks[entry.block], name);
    pair.map_start = map_archive.Absolute(pair.map_block.position);
    if (pair.map_start <= map_archive.file_size) {
      pair.map_stored = std::min<std::uint64_t>(pair.map_block.packed_size,
                                                map_archive.file_size - pair.map_start);
    }
    if (auto in_copy = CounterpartIn(copy_archive, unnamed, entry, name)) {
      pair.copy_block = AsTheGameReads(copy, copy_archive, *in_copy, name);
      pair.copy_start = copy_archive.Absolute(pair.copy_block->position);
      pair.same_stored =
          SameStoredForm(map_archive, pair.map_block, copy_archive, *pair.copy_block);
    }
    pairs.push_back(std::move(pair));
  }
  return pairs;
}

Result<std::optional<MemberFault>> CompareDecoded(const MemberPair& pair, mpq::ByteSource& map,
                                                  const mpq::Archive& map_archive,
                                                  mpq::ByteSource& copy,
                                                  const mpq::Archive& copy_archive) {
  if (!pair.copy_block) return std::optional(MemberFault::kMissing);
  const bool encrypted = ((pair.map_block.flags | pair.copy_block->flags) & mpq::kFlagEncrypted);
  if (encrypted && pair.member.name.empty()) return std::optional(MemberFault::kUncheckable);
  // Both arms are views: a ternary of a literal and a std::string would make a temporary
  // string that the view outlives.
  const std::string_view name =
      pair.member.name.empty() ? std::string_view("member") : std::string_view(pair.member.name);
  auto copy_stored = mpq::ReadStoredBytes(copy, copy_archive, *pair.copy_block);
  if (!copy_stored) return copy_stored.error();
  const auto in_copy = mpq::DecodeMember(*copy_stored, copy_archive, *pair.copy_block, name);
  if (!in_copy) {
    return std::optional(DecodeFault(copy_archive, *pair.copy_block, copy_stored->size()));
  }
  auto map_stored = mpq::ReadStoredBytes(map, map_archive, pair.map_block);
  if (!map_stored) return map_stored.error();
  const auto in_map = mpq::DecodeMember(*map_stored, map_archive, pair.map_block, name);
  if (!in_map || *in_map != *in_copy) return std::optional(MemberFault::kDiffers);
  return std::optional<MemberFault>();
}

Result<std::vector<DamagedMember>> CheckBookkeeping(const mpq::Archive& map_archive,
                                                    mpq::ByteSource& copy,
                                                    const mpq::Archive& copy_archive) {
  std::vector<DamagedMember> damaged;
  for (const char* name : {mpq::kListfileName, mpq::kAttributesName}) {
    const auto slots = mpq::MemberSlots(copy_archive, name);
    if (slots.empty() && !mpq::MemberSlots(map_archive, name).empty()) {
      damaged.push_back({name, 0, 0, MemberFault::kMissing});
    }
    for (const std::uint32_t slot : slots) {
      const mpq::HashEntry& entry = copy_archive.hashes[slot];
      const auto block = AsTheGameReads(copy, copy_archive, copy_archive.blocks[entry.block], name);
      auto stored = mpq::ReadStoredBytes(copy, copy_archive, block);
      if (!stored) return stored.error();
      if (!mpq::DecodeMember(*stored, copy_archive, block, name)) {
        damaged.push_back(
            {name, slot, entry.locale, DecodeFault(copy_archive, block, stored->size())});
      }
    }
  }
  return damaged;
}

}  // namespace veltrane
