#include "job/member_pairs.h"

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string_view>
#include <tuple>
#include <utility>

#include "archiver/byte_io.h"
#include "archiver/crypt.h"
#include "archiver/game_view.h"
#include "archiver/member.h"
#include "archiver/side_files.h"
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
    "war3map.j",       "scripts\\war3map.j", "war3map.lua",      "scripts\\war3map.lua",
    "war3map.w3e",     "war3map.w3i",        "war3map.wts",      "war3map.shd",
    "war3map.wpm",     "war3map.doo",        "war3mapUnits.doo", "war3map.w3r",
    "war3map.w3c",     "war3map.w3s",        "war3map.w3u",      "war3map.w3t",
    "war3map.w3a",     "war3map.w3b",        "war3map.w3d",      "war3map.w3q",
    "war3map.imp",     "war3map.mmp",        "war3map.wct",      "war3mapMap.blp",
    "war3mapMap.tga",  "war3mapPreview.tga", "war3mapMisc.txt",  "war3mapSkin.txt",
    "war3mapExtra.txt"};

// The slot of the member the game opens as `name` in `locale`, if it opens one.
std::optional<std::uint32_t> Opened(const mpq::Archive& archive, std::string_view name,
                                    std::uint16_t locale) {
  const auto slot = mpq::LookUp(archive, name, locale);
  if (slot && mpq::Opens(archive, *slot)) return slot;
  return std::nullopt;
}

// The map's (listfile) content, or nothing when it has none that decodes: the neutral one,
// else the first of any locale.
std::vector<std::byte> ListfileOf(mpq::ByteSource& map, const mpq::Archive& archive) {
  auto slot = mpq::FindMember(archive, mpq::kListfileName);
  if (!slot) {
    const auto slots = mpq::MemberSlots(archive, mpq::kListfileName);
    if (slots.empty()) return {};
    slot = slots.front();
  }
  const mpq::BlockEntry& block = archive.blocks[archive.hashes[*slot].block];
  auto stored = mpq::ReadStoredBytes(map, archive, block);
  if (!stored) return {};
  auto content = mpq::DecodeMember(*stored, archive, block, mpq::kListfileName);
  return content ? std::move(*content) : std::vector<std::byte>{};
}

// Every name the map's (listfile) gives and the well-known ones, by their name hashes.
std::map<NameHashes, std::string> NamesOf(mpq::ByteSource& map, const mpq::Archive& archive) {
  std::map<NameHashes, std::string> names;
  for (const char* name : kWellKnownNames) names.emplace(HashesOf(name), name);
  const auto listfile = ListfileOf(map, archive);
  for (const std::string_view name : mpq::ListfileNames(listfile)) {
    names.insert_or_assign(HashesOf(name), std::string(name));
  }
  return names;
}

// The slots of the entries that point at a member, by name hashes and locale, in table order.
using EntryKey = std::tuple<std::uint32_t, std::uint32_t, std::uint16_t>;
std::map<EntryKey, std::vector<std::uint32_t>> LiveEntries(const mpq::Archive& archive) {
  std::map<EntryKey, std::vector<std::uint32_t>> entries;
  for (std::uint32_t slot = 0; slot < archive.hashes.size(); ++slot) {
    const mpq::HashEntry& entry = archive.hashes[slot];
    if (mpq::Opens(archive, slot)) {
      entries[EntryKey{entry.name_a, entry.name_b, entry.locale}].push_back(slot);
    }
  }
  return entries;
}

// The neutral locale and every locale either file names.
std::vector<std::uint16_t> LocalesOf(const mpq::Archive& map, const mpq::Archive& copy) {
  std::vector<std::uint16_t> locales = mpq::LocalesIn(map);
  for (const std::uint16_t locale : mpq::LocalesIn(copy)) {
    if (std::find(locales.begin(), locales.end(), locale) == locales.end()) {
      locales.push_back(locale);
    }
  }
  return locales;
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

// Both files and their archives.
struct Files {
  mpq::ByteSource& map;
  const mpq::Archive& map_archive;
  mpq::ByteSource& copy;
  const mpq::Archive& copy_archive;
};

// The pair of what the map's entry in `map_slot` and the copy's in `copy_slot` hold, each
// read as far as the game reads the member `name` (unnamed: as far as any key reaches).
MemberPair PairOf(const Files& files, DamagedMember member, std::optional<std::uint32_t> map_slot,
                  std::optional<std::uint32_t> copy_slot) {
  MemberPair pair;
  pair.member = std::move(member);
  const auto name =
      pair.member.name.empty() ? std::nullopt : std::optional<std::string_view>(pair.member.name);
  if (map_slot) {
    const mpq::Archive& archive = files.map_archive;
    const mpq::BlockEntry& recorded = archive.blocks[archive.hashes[*map_slot].block];
    pair.map_block = mpq::AsTheGameReads(files.map, archive, recorded, name);
    pair.map_recorded_packed = recorded.packed_size;
    pair.map_start = archive.Absolute(pair.map_block->position);
    if (pair.map_start <= archive.file_size) {
      pair.map_stored =
          std::min<std::uint64_t>(pair.map_block->packed_size, archive.file_size - pair.map_start);
    }
  }
  if (copy_slot) {
    const mpq::Archive& archive = files.copy_archive;
    pair.copy_block = mpq::AsTheGameReads(files.copy, archive,
                                          archive.blocks[archive.hashes[*copy_slot].block], name);
    pair.copy_start = archive.Absolute(pair.copy_block->position);
  }
  pair.same_stored =
      pair.map_block && pair.copy_block &&
      SameStoredForm(files.map_archive, *pair.map_block, files.copy_archive, *pair.copy_block);
  return pair;
}

bool Changed(const NameHashes& hashes) {
  static const std::array changed = {HashesOf(ToUtf8(kPlaceholderName)),
                                     HashesOf(mpq::kListfileName), HashesOf(mpq::kAttributesName)};
  return std::find(changed.begin(), changed.end(), hashes) != changed.end();
}

// What each lookup of a known name finds in both files, each distinct pair once.
void PairNamed(const Files& files, const std::map<NameHashes, std::string>& names,
               std::vector<MemberPair>& pairs) {
  const auto locales = LocalesOf(files.map_archive, files.copy_archive);
  std::set<std::pair<std::int64_t, std::int64_t>> seen;
  for (const auto& [hashes, name] : names) {
    if (Changed(hashes)) continue;
    for (const std::uint16_t locale : locales) {
      const auto in_map = Opened(files.map_archive, name, locale);
      const auto in_copy = Opened(files.copy_archive, name, locale);
      if (!in_map && !in_copy) continue;
      if (!seen.emplace(in_map ? *in_map : -1, in_copy ? *in_copy : -1).second) continue;
      pairs.push_back(PairOf(files, {name, in_map.value_or(0), locale, {}}, in_map, in_copy));
    }
  }
}

// Each member of the map whose name is not known, with the copy's entries of the same name
// hashes and locale, the i-th with the i-th; an entry the copy has beyond the map's is
// paired with the map's last, so whichever the game takes must hold the same.
void PairUnnamed(const Files& files, const std::map<NameHashes, std::string>& names,
                 std::vector<MemberPair>& pairs) {
  const auto in_copy = LiveEntries(files.copy_archive);
  for (const auto& [key, map_slots] : LiveEntries(files.map_archive)) {
    const NameHashes hashes{std::get<0>(key), std::get<1>(key)};
    if (names.contains(hashes) || Changed(hashes)) continue;
    const auto found = in_copy.find(key);
    const std::size_t copies = found == in_copy.end() ? 0 : found->second.size();
    for (std::size_t i = 0; i < std::max(map_slots.size(), copies); ++i) {
      const std::uint32_t map_slot = map_slots[std::min(i, map_slots.size() - 1)];
      std::optional<std::uint32_t> copy_slot;
      if (i < copies) copy_slot = found->second[i];
      pairs.push_back(PairOf(files, {"", map_slot, std::get<2>(key), {}}, map_slot, copy_slot));
    }
  }
}

}  // namespace

std::vector<MemberPair> PairMembers(mpq::ByteSource& map, const mpq::Archive& map_archive,
                                    mpq::ByteSource& copy, const mpq::Archive& copy_archive) {
  const Files files{map, map_archive, copy, copy_archive};
  const auto names = NamesOf(map, map_archive);
  std::vector<MemberPair> pairs;
  PairNamed(files, names, pairs);
  PairUnnamed(files, names, pairs);
  // In the order of the map's hash table, as the report names them; the copy's own last.
  std::stable_sort(pairs.begin(), pairs.end(), [](const MemberPair& a, const MemberPair& b) {
    return std::pair(!a.map_block, a.member.map_slot) < std::pair(!b.map_block, b.member.map_slot);
  });
  return pairs;
}

Result<std::optional<MemberFault>> CompareDecoded(const MemberPair& pair, mpq::ByteSource& map,
                                                  const mpq::Archive& map_archive,
                                                  mpq::ByteSource& copy,
                                                  const mpq::Archive& copy_archive) {
  if (!pair.copy_block) return std::optional(MemberFault::kMissing);
  if (!pair.map_block) return std::optional(MemberFault::kAdded);
  const bool encrypted = ((pair.map_block->flags | pair.copy_block->flags) & mpq::kFlagEncrypted);
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
  auto map_stored = mpq::ReadStoredBytes(map, map_archive, *pair.map_block);
  if (!map_stored) return map_stored.error();
  const auto in_map = mpq::DecodeMember(*map_stored, map_archive, *pair.map_block, name);
  if (!in_map || *in_map != *in_copy) return std::optional(MemberFault::kDiffers);
  return std::optional<MemberFault>();
}

Result<bool> KeptUnreadable(const MemberPair& pair, mpq::ByteSource& map,
                            const mpq::Archive& map_archive, mpq::ByteSource& copy,
                            const mpq::Archive& copy_archive) {
  if (!pair.same_stored) return false;
  const std::string_view name =
      pair.member.name.empty() ? std::string_view("member") : std::string_view(pair.member.name);
  auto map_stored = mpq::ReadStoredBytes(map, map_archive, *pair.map_block);
  if (!map_stored) return map_stored.error();
  if (mpq::DecodeMember(*map_stored, map_archive, *pair.map_block, name)) return false;
  // The bytes its block table gives it, as far as the map's file holds them.
  const auto kept = static_cast<std::size_t>(
      std::min<std::uint64_t>(pair.map_recorded_packed, map_stored->size()));
  if (pair.copy_start > copy_archive.file_size || kept > copy_archive.file_size - pair.copy_start) {
    return false;
  }
  std::vector<std::byte> in_copy(kept);
  auto read = copy.ReadAt(pair.copy_start, in_copy);
  if (!read) return read.error();
  return std::equal(in_copy.begin(), in_copy.end(), map_stored->begin());
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
      const auto block =
          mpq::AsTheGameReads(copy, copy_archive, copy_archive.blocks[entry.block], name);
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
