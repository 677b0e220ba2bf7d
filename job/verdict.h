#pragma once
// How a finished job went, judged from the files it leaves rather than from exit codes:
// the user's archiver may not report its failures.

#include <cstddef>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "archiver/archive.h"
#include "archiver/source.h"
#include "common/result.h"
#include "job/job_host.h"
#include "job/member_pairs.h"
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
  std::string why_unopened;  // the system's reason when the file could not be opened at all
  // The map's members that the copy lacks or gives back otherwise; read only when every
  // war3map.wtg entry is empty.
  std::vector<DamagedMember> damaged;
  std::string why_not_compared;  // why the copy could not be read back against the map
};

// Reads the copy's header and tables and, once every war3map.wtg entry is empty, the whole
// copy once against `map`: every member the job leaves as it was must read back as in the
// map, and none of the map's old trigger data may be left anywhere in the copy.
ProtectionCheck CheckProtection(mpq::ByteSource& copy, const std::wstring& copy_path,
                                Result<mpq::ByteSource*> map, const std::wstring& map_path);

// The stored bytes of the map's war3map.wtg entries, in every locale, that are long enough
// to be told apart from chance: the trace the old trigger data would leave in a copy.
std::vector<std::vector<std::byte>> OldTriggerData(mpq::ByteSource& map,
                                                   const mpq::Archive& archive);

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
