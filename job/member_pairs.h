#pragma once
// Each member of a map paired with what a copy of it holds under the same name hashes and
// locale, and the checks of the pairs that can't be settled by comparing stored bytes.

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
};

struct DamagedMember {
  std::string name;            // as the map names it; empty when its (listfile) does not
  std::uint32_t map_slot = 0;  // the map's hash table entry, which tells an unnamed one
  std::uint16_t locale = 0;
  MemberFault fault = MemberFault::kDiffers;
  bool operator==(const DamagedMember&) const = default;
};

// A map member and its counterpart in the copy.
struct MemberPair {
  DamagedMember member;       // fault is meaningless until the pair is found damaged
  mpq::BlockEntry map_block;  // packed_size widened to the stored range the game reads
  std::optional<mpq::BlockEntry> copy_block;  // likewise; nothing when the copy lacks it
  std::uint64_t map_start = 0;                // absolute offsets of the stored data
  std::uint64_t copy_start = 0;
  std::uint64_t map_stored = 0;  // how many of the map's stored bytes lie inside its file
  bool same_stored = false;      // equal stored bytes mean equal content
};

// Every member of `map` except war3map.wtg, (listfile) and (attributes), which the job
// changes, paired with the copy's entry of the same name hashes and locale, as the game finds
// it. Names come from the map's (listfile) and the names every map uses.
std::vector<MemberPair> PairMembers(mpq::ByteSource& map, const mpq::Archive& map_archive,
                                    mpq::ByteSource& copy, const mpq::Archive& copy_archive);

// Decodes both sides of a pair whose stored bytes can't be compared directly; the fault, or
// nothing when both give the same content. Fails only when a file can't be read.
Result<std::optional<MemberFault>> CompareDecoded(const MemberPair& pair, mpq::ByteSource& map,
                                                  const mpq::Archive& map_archive,
                                                  mpq::ByteSource& copy,
                                                  const mpq::Archive& copy_archive);

// The copy's (listfile) and (attributes), every locale, that fail to decode, and the one
// the map has that the copy lacks.
Result<std::vector<DamagedMember>> CheckBookkeeping(const mpq::Archive& map_archive,
                                                    mpq::ByteSource& copy,
                                                    const mpq::Archive& copy_archive);

}  // namespace veltrane
