// The commit of an update plan (update.h): everything new past the old end, durably, then
// the header; and the writes both steps share.
#include "archiver/archive.h"
#include "archiver/update_steps.h"

namespace veltrane::mpq {

Result<void> WriteAll(ArchiveFile& file, std::span<const PlannedWrite> writes) {
  for (const PlannedWrite& write : writes) {
    auto done = file.WriteAt(write.offset, write.bytes);
    if (!done) return done;
  }
  return {};
}

Result<void> DurablyThenHeader(ArchiveFile& file, const UpdatePlan& plan, const HeaderBytes& header,
                               bool& touched) {
  Result<void> done = file.Flush();
  if (!done) return done;
  touched = true;
  done = file.WriteAt(plan.header_offset, header);
  if (done) done = file.Flush();
  return done;
}

namespace {

// Writes everything new past the old end, durably, then the header; on failure restores the
// file to its original bytes and size.
Result<void> CommitStaged(ArchiveFile& file, const UpdatePlan& plan) {
  Result<void> done = WriteAll(file, plan.staged);
  if (done) done = file.WriteAt(plan.staged_block_table_offset, plan.staged_block_table);
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

}  // namespace

Result<void> Commit(ArchiveFile& file, UpdatePlan& plan) {
  auto committed = CommitStaged(file, plan);
  if (!committed) return committed;
  return Settle(file, plan);
}

}  // namespace veltrane::mpq
