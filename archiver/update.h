#pragma once
// Adding or replacing one member of an archive, safely in place: everything new goes past
// the current end of the file and is flushed, then the header is rewritten in one write.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string_view>
#include <vector>

#include "archiver/file.h"
#include "common/result.h"

namespace veltrane::mpq {

// The bytes an update writes: the pieces of `tail` one after another from `tail_offset` (the
// old end of the file, and so the size it is cut back to on failure), then `header` at
// `header_offset`. `old_header` restores the header if its write fails.
struct UpdatePlan {
  std::uint64_t tail_offset = 0;
  std::vector<std::vector<std::byte>> tail;
  std::uint64_t header_offset = 0;
  std::vector<std::byte> header;
  std::vector<std::byte> old_header;
};

// Plans storing `input` under `name` in the archive read through `source`. Reads only the
// header, the tables and the stored bytes of (attributes), and of (listfile) when the name
// is new. A replace keeps the hash table where it is and writes only the member,
// (attributes) and the block table anew; an add, or a replace of a block that another name
// shares, also writes the hash table anew.
Result<UpdatePlan> PlanAdd(ByteSource& source, std::string_view name, const InputFile& input,
                           std::string_view archive_path);

// Writes the plan; on failure restores the file to its original bytes and size.
Result<void> Commit(ArchiveFile& file, const UpdatePlan& plan);

// Plans with reads through `file`, then commits.
Result<void> AddToArchive(ArchiveFile& file, std::string_view name, const InputFile& input,
                          std::string_view archive_path);

}  // namespace veltrane::mpq
