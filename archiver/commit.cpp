// Carrying out an update plan (update.h): the commit, then the settling, each ending in one
// durable header write.
#include <algorithm>

#include "archiver/byte_io.h"
#include "archiver/crypt.h"
#include "archiver/update.h"

namespace veltrane::mpq {
namespace {

Result<void> WriteAll(ArchiveFile& file, std::span<const PlannedWrite> writes) {
  for (const PlannedWrite& write : writes) {
    auto done = file.WriteAt(write.offset, write.bytes);
    if (!done) return done;
  }
  return {};
}

Result<void> WriteZeros(ArchiveFile& file, std::span<const Span> spans) {
  constexpr std::uint64_t kChunk = 64 << 10;
  std::uint64_t widest = 0;
  for (const Span& span : spans) widest = std::max(widest, span.size());
  const std::vector<std::byte> zeros(static_cast<std::size_t>(std::min(widest, kChunk)));
  for (const Span& span : spans) {
    for (std::uint64_t at = span.begin; at < span.end; at += kChunk) {
      const auto size = static_cast<std::size_t>(std::min(kChunk, span.end - at));
      auto done = file.WriteAt(at, std::span(zeros).first(size));
      if (!done) return done;
    }
  }
  return {};
}

// Makes what was written durable, then writes `header` and makes it durable. `touched` tells
// the caller that the header on disk may have changed, so that it can put the old one back.
Result<void> DurablyThenHeader(ArchiveFile& file, const UpdatePlan& plan, const HeaderBytes& header,
                               bool& touched) {
  Result<void> done = file.Flush();
  if (!done) return done;
  touched = true;
  done = file.WriteAt(plan.header_offset, header);
  if (done) done = file.Flush();
  return done;
}

// Writes everything new past the old end, durably, then the header; on failure restores the
// file to its original bytes and size.
Result<void> CommitStaged(ArchiveFile& file, const UpdatePlan& plan) {
  Result<void> done = WriteAll(file, plan.staged);
  if (done) done = file.WriteAt(plan.staged_block_table_at, plan.staged_block_table);
  bool header_touched = false;
  if (done) done = DurablyThenHeader(file, plan, plan.staged_header, header_touched);
  if (done) return done;
  // Back to the original bytes: the old header first, then the old size.
  Result<void> restored;
  if (header_touched) restored = file.WriteAt(plan.header_offset, plan.old_header);
  if (restored) restored = file.Truncate(plan.old_size);
  if (restored) restored = file.Flush();
  if (!restored) return Fail(done.message() + "; restoring failed too: " + restored.message());
  return done;
}

// The block table as committed, with the moved blocks at their settled positions.
void SettleBlockTable(UpdatePlan& plan) {
  std::vector<std::byte>& table = plan.staged_block_table;
  Decrypt(table, BlockTableKey());
  for (const auto& [block, position] : plan.moved_blocks) {
    StoreLe(table.data() + std::size_t{block} * kEntrySize, position, 4);
  }
  Encrypt(table, BlockTableKey());
}

// Zeroes the freed bytes and moves the pieces into freed space, durably, then points the
// header at them and cuts the file back. The committed archive stays whole throughout: on
// a failure before the new header is durable, the committed header is written back.
Result<void> Settle(ArchiveFile& file, UpdatePlan& plan) {
  Result<void> done = WriteZeros(file, plan.clear);
  if (done) done = WriteAll(file, plan.settled);
  if (done) {
    SettleBlockTable(plan);
    done = file.WriteAt(plan.settled_block_table, plan.staged_block_table);
  }
  bool header_touched = false;
  if (done) done = DurablyThenHeader(file, plan, plan.settled_header, header_touched);
  if (!done && header_touched) (void)file.WriteAt(plan.header_offset, plan.staged_header);
  if (done) done = file.Truncate(plan.final_size);
  if (done) done = file.Flush();
  if (done) return done;
  return Fail(done.message() +
              "; the archive holds the new member, but the space it freed may still hold old data");
}

}  // namespace

Result<void> Commit(ArchiveFile& file, UpdatePlan& plan) {
  auto committed = CommitStaged(file, plan);
  if (!committed) return committed;
  return Settle(file, plan);
}

}  // namespace veltrane::mpq
