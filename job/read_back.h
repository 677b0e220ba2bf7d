#pragma once
// Reading a copy of a map back against the map, in one pass over the copy.

#include <cstddef>
#include <span>
#include <vector>

#include "archiver/archive.h"
#include "archiver/source.h"
#include "common/result.h"
#include "job/member_pairs.h"

namespace veltrane {

struct ReadBack {
  std::vector<DamagedMember> damaged;  // in the order of the map's hash table
  bool trace_found = false;            // one of the needles occurs in the copy
};

// Reads the copy once, from start to end in bounded pieces. Each piece is searched for any of
// `needles`, and the parts of it that hold the stored data of a member stored as in the map
// are compared with the map's bytes at the same place of that member, read as the piece needs
// them; so each file is read about once and neither is held whole. The members stored
// otherwise are then decoded on both sides, and the copy's (listfile) and (attributes) must
// decode. Fails only when a file can't be read.
Result<ReadBack> ReadBackCopy(mpq::ByteSource& map, const mpq::Archive& map_archive,
                              mpq::ByteSource& copy, const mpq::Archive& copy_archive,
                              std::span<const std::vector<std::byte>> needles);

}  // namespace veltrane
