#pragma once
// How a finished job went, judged from the files it leaves rather than from exit codes:
// the user's archiver may not report its failures.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archiver/source.h"
#include "job/job_host.h"
#include "job/run_job.h"

namespace veltrane {

// What the destination holds as a map archive.
enum class Protection {
  kProtected,        // every war3map.wtg entry is present and empty
  kPlaceholderData,  // a war3map.wtg entry still holds data
  kNoPlaceholder,    // no war3map.wtg entry
  kNotArchive,       // it can't be read as a map archive
  kTraceLeft,        // war3map.wtg is empty, but the old trigger data is still in the file
};

struct ProtectionCheck {
  Protection state = Protection::kNotArchive;
  std::string why_not_archive;  // the reader's message for kNotArchive
};

// Reads the archive's header and tables and, once every war3map.wtg entry is empty, the
// whole file once, looking for any of `old_trigger_data`.
ProtectionCheck CheckProtection(mpq::ByteSource& source, const std::wstring& path,
                                std::span<const std::vector<std::byte>> old_trigger_data = {});

// The stored bytes of the map's war3map.wtg entries, in every locale, that are long enough
// to be told apart from chance: the trace the old trigger data would leave in a copy.
// Nothing when the map can't be read as an archive.
std::vector<std::vector<std::byte>> OldTriggerData(mpq::ByteSource& map, const std::wstring& path);

// Whether any of `needles` occurs anywhere in the source's bytes, read once from start to
// end in bounded pieces.
Result<bool> ContainsAny(mpq::ByteSource& source, std::span<const std::vector<std::byte>> needles);

// The facts a verdict rests on, taken when the script has ended. Gathering them may read the
// whole destination, so it happens off the window's thread.
struct JobFacts {
  std::optional<FileIdentity> before;  // the destination at the launch
  std::optional<FileIdentity> after;   // the destination now
  bool scratch_left = false;           // c:\temp.w3m is still there
  ProtectionCheck destination;         // looked at only when the destination is new
};

JobFacts GatherFacts(const JobLaunch& launch, JobHost& host);

struct JobReport {
  bool success = false;
  std::string text;  // UTF-8, for a message box
};

JobReport Judge(const std::wstring& destination, const JobFacts& facts);

}  // namespace veltrane
