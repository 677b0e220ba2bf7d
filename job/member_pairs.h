#pragma once
// What the game reads of a map paired with what it reads of a copy, name by name and locale
// by locale, and the checks of the pairs that can't be settled by comparing stored bytes.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "archiver/archive.h"
#include "archiver/source.h"

namespace veltrane {

// How a member of the map fails in the copy.
enum class MemberFault {
  kMissing,      // no entry of its name hashes and locale
  kCutShort,     // the file ends inside its stored data
  kUnreadable,   // its stored data can't be decoded
  kDiffers,      // it decodes to other content than the map's
  kUncheckable,  // stored anew and enciphered under a name the map does not give
  kAdded,        // the copy gives a member where the map gives none
};

struct DamagedMember {
  std::string name;            // as the map names it; empty when its (listfile) does not
  std::uint32_t map_slot = 0;  // the map's hash table entry, which tells an unnamed one
  std::uint16_t locale = 0;
  MemberFault fault = MemberFault::kDiffers;
  bool operator==(const DamagedMember&) const = default;
};

// What the game reads under one name and locale in the map, and what it reads in the copy.
struct MemberPair {
  DamagedMember member;  // fault is meaningless until the pair is found damaged
  // packed_size widened to the stored range the game reads; nothing when a file lacks it
  std::optional<mpq::BlockEntry> map_block;
  std::optional<mpq::BlockEntry> copy_block;
  std::uint32_t map_recorded_packed = 0;  // the map's packed size as its block table gives it
  std::uint64_t map_start = 0;            // absolute offsets of the stored data
  std::uint64_t copy_start = 0;
  std::uint64_t map_stored = 0;  // how many of the map's stored bytes lie inside its file
  bool same_stored = false;      // equal stored bytes mean equal content
};

// What the game's lookup finds in the map and in the copy for every name the map's (listfile)
// and the names every map uses give, in the neutral locale and every locale either file
// names, each distinct pair once; war3map.wtg, (listfile) and (attributes), which the job
// changes, are left out. A member of the map whose name is not known is paired with the
// copy's entries of the same name hashes and locale, in table order.
std::vector<MemberPair> PairMembers(mpq::ByteSource& map, const mpq::Archive& map_archive,
                                    mpq::ByteSource& copy, const mpq::Archive& copy_archive);

// Decodes both sides of a pair whose stored bytes can't be compared directly; the fault, or
// nothing when both give the same content. Fails only when a file can't be read.
Result<std::optional<MemberFault>> CompareDecoded(const MemberPair& pair, mpq::ByteSource& map,
                                                  const mpq::Archive& map_archive,
                                                  mpq::ByteSource& copy,
                                                  const mpq::Archive& copy_archive);

// Whether a pair found at fault is a member that the map itself can't give (it does not
// decode there) and whose stored bytes the copy keeps as they were: the job broke nothing.
Result<bool> KeptUnreadable(const MemberPair& pair, mpq::ByteSource& map,
                            const mpq::Archive& map_archive, mpq::ByteSource& copy,
                            const mpq::Archive& copy_archive);

// The copy's (listfile) and (attributes), every locale, that fail to decode, and the one
// the map has that the copy lacks.
Result<std::vector<DamagedMember>> CheckBookkeeping(const mpq::Archive& map_archive,
                                                    mpq::ByteSource& copy,
                                                    const mpq::Archive& copy_archive);

}  // namespace veltrane
