#pragma once
// Adding or replacing one member of an archive, safely in place, in two steps that each end
// with one header write. The commit: everything new (the member, the bookkeeping members,
// the block table, and the hash table when an entry changed or the old one would be altered)
// goes past the current end of the file and is made durable, then the header points at it.
// Settling: the bytes the update freed are zeroed, the new pieces and tables are written
// again into the freed space, made durable, the header points at them, and the file is cut
// back to its old length or to the end of what still lies past it. A stop at any moment
// leaves the archive as before or as after.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <utility>
#include <vector>

#include "archiver/file.h"
#include "archiver/format.h"
#include "archiver/free_space.h"
#include "archiver/header.h"
#include "common/result.h"

namespace veltrane::mpq {

struct PlannedWrite {
  std::uint64_t offset = 0;
  std::span<const std::byte> bytes;  // into UpdatePlan::pieces
};

struct UpdatePlan {
  std::uint64_t old_size = 0;  // the file's size before; a failed commit cuts back to it
  std::uint64_t header_offset = 0;
  HeaderBytes old_header{};
  std::vector<std::vector<std::byte>> pieces;  // the bytes every write below points into
  // Every buffer the two steps write from is made while planning, so that memory can only
  // run out before the first write.
  std::vector<std::byte> staged_block_table;  // enciphered, as the commit writes it
  // The commit: pieces past the old end, the block table last, then the header.
  std::vector<PlannedWrite> staged;
  std::uint64_t staged_block_table_offset = 0;
  HeaderBytes staged_header{};
  // Settling: zeros over `clear`, the pieces that move into freed space, the block table
  // with the moved blocks' positions, the header, then the cut.
  std::vector<ByteRange> clear;
  std::vector<PlannedWrite> settled;
  std::vector<std::byte> settled_block_table;  // with the moved blocks' positions
  std::vector<std::byte> zeros;                // written over `clear`, a piece at a time
  std::uint64_t settled_block_table_offset = 0;
  HeaderBytes settled_header{};
  std::uint64_t final_size = 0;
};

// Plans storing `input` under `name` in the archive read through `source`. Reads only the
// header, the tables and the stored bytes of (attributes), and of (listfile) when the name
// is new. A replace stores the member in the block of the name's neutral entry (or a new
// block when another name shares it) and points the name's other locales at it too. The
// block table and (attributes) are written anew; (listfile) when the name is new; the hash
// table when an entry changed or when the new header or the writes past the end would alter
// it. Where the archive would still grow, the hash table and then (listfile) are written
// anew as well, so that their old places join the freed run.
Result<UpdatePlan> PlanAdd(ByteSource& source, std::string_view name, const InputFile& input,
                           std::string_view archive_path);

// Commits the plan, then settles it. A failed commit restores the file to its original
// bytes and size; a failed settling leaves the committed archive.
Result<void> Commit(ArchiveFile& file, UpdatePlan& plan);

// Plans with reads through `file`, then commits.
Result<void> AddToArchive(ArchiveFile& file, std::string_view name, const InputFile& input,
                          std::string_view archive_path);

}  // namespace veltrane::mpq
