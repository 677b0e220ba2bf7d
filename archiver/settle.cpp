// Settling a committed update plan (update.h): the freed bytes zeroed, the pieces moved into
// freed space, durably, then the header and the cut.
#include <algorithm>
#include <vector>

#include "archiver/update_steps.h"

namespace veltrane::mpq {
namespace {

Result<void> WriteZeros(ArchiveFile& file, std::span<const ByteRange> ranges,
                        std::span<const std::byte> zeros) {
  for (const ByteRange& range : ranges) {
    for (std::uint64_t at = range.begin; at < range.end; at += zeros.size()) {
      const auto size =
          static_cast<std::size_t>(std::min<std::uint64_t>(zeros.size(), range.end - at));
      auto done = file.WriteAt(at, std::span(zeros).first(size));
      if (!done) return done;
    }
  }
  return {};
}

}  // namespace

// On a failure before the new header is durable, the committed header is written back.
Result<void> Settle(ArchiveFile& file, UpdatePlan& plan) {
  Result<void> done = WriteZeros(file, plan.clear, plan.zeros);
  if (done) done = WriteAll(file, plan.settled);
  if (done) done = file.WriteAt(plan.settled_block_table_offset, plan.settled_block_table);
  bool header_touched = false;
  if (done) done = DurablyThenHeader(file, plan, plan.settled_header, header_touched);
  if (!done && header_touched) (void)file.WriteAt(plan.header_offset, plan.staged_header);
  if (done) done = file.Truncate(plan.final_size);
  if (done) done = file.Flush();
  if (done) return done;
  return Fail(done.message() +
              "; the archive holds the new member, but the space it freed may still hold old data");
}

}  // namespace veltrane::mpq
