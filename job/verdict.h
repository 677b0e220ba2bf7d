#pragma once
// How a finished job went, judged from the files it leaves rather than from exit codes:
// the user's archiver may not report its failures.

#include <optional>
#include <string>

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
};

struct ProtectionCheck {
  Protection state = Protection::kNotArchive;
  std::string why_not_archive;  // the reader's message for kNotArchive
};

// Reads only the archive's header and tables.
ProtectionCheck CheckProtection(mpq::ByteSource& source, const std::wstring& path);

// The facts a verdict rests on, taken when the script has ended.
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
