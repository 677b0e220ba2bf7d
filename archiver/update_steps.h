#pragma once
// The two steps that carry out an update plan (update.h), each ending in one durable header
// write: the commit (commit.cpp) and settling (settle.cpp), and what both write with.

#include <span>

#include "archiver/file.h"
#include "archiver/update.h"
#include "common/result.h"

namespace veltrane::mpq {

// Writes each of `writes` where it goes.
Result<void> WriteAll(ArchiveFile& file, std::span<const PlannedWrite> writes);

// Makes what was written durable, then writes `header` and makes it durable. `touched` tells
// the caller that the header on disk may have changed, so that it can put the old one back.
Result<void> DurablyThenHeader(ArchiveFile& file, const UpdatePlan& plan, const HeaderBytes& header,
                               bool& touched);

// Zeroes the freed bytes and moves the pieces into freed space, durably, then points the
// header at them and cuts the file back. The committed archive stays whole throughout.
Result<void> Settle(ArchiveFile& file, UpdatePlan& plan);

}  // namespace veltrane::mpq
