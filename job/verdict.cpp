#include "job/verdict.h"

#include "archiver/archive.h"
#include "common/text.h"
#include "job/job_paths.h"

namespace veltrane {
namespace {

constexpr const char* kNotReplaced = " The destination was not replaced.";

bool IsNew(const JobFacts& facts) {
  return facts.after.has_value() && facts.after != facts.before;
}

std::string OlderFileNote(const JobFacts& facts) {
  return facts.after ? " The file that is there is not from this job." : "";
}

std::string WhyUnprotected(const ProtectionCheck& check) {
  switch (check.state) {
    case Protection::kPlaceholderData:
      return "its war3map.wtg still holds data (the archiver did not replace it)";
    case Protection::kNoPlaceholder:
      return "it has no war3map.wtg (the archiver did not add it)";
    case Protection::kNotArchive:
      return "it is not a map archive (" + check.why_not_archive + ")";
    case Protection::kProtected:
      break;
  }
  return "";
}

}  // namespace

ProtectionCheck CheckProtection(mpq::ByteSource& source, const std::wstring& path) {
  auto archive = mpq::ParseArchive(source, ToUtf8(path));
  if (!archive) return {Protection::kNotArchive, archive.message()};
  const auto lengths = mpq::MemberLengths(*archive, ToUtf8(kPlaceholderName));
  if (lengths.empty()) return {Protection::kNoPlaceholder, {}};
  for (const auto length : lengths) {
    if (length != 0) return {Protection::kPlaceholderData, {}};
  }
  return {Protection::kProtected, {}};
}

JobFacts GatherFacts(const JobLaunch& launch, JobHost& host) {
  JobFacts facts;
  facts.before = launch.destination_before;
  facts.after = host.Identify(launch.destination_full);
  facts.scratch_left = host.FileExists(std::wstring(kScratchMap));
  if (!IsNew(facts)) return facts;
  auto source = host.OpenToRead(launch.destination_full);
  if (!source) {
    facts.destination = {Protection::kNotArchive, source.message()};
  } else {
    facts.destination = CheckProtection(**source, launch.destination_full);
  }
  return facts;
}

JobReport Judge(const std::wstring& destination, const JobFacts& facts) {
  const std::string named = QuotedUtf8(destination);
  if (IsNew(facts) && facts.destination.state != Protection::kProtected) {
    // The file that was there, an earlier protected copy maybe, is gone: the user must know.
    const std::string replaced =
        facts.before ? " It replaced the file that was there before the job." : "";
    return {false, "The file at " + named +
                       " is not protected: " + WhyUnprotected(facts.destination) + "." + replaced +
                       " Do not publish it. It stays where it is."};
  }
  if (IsNew(facts) && facts.scratch_left) {
    return {false, "The protected copy is at " + named +
                       ", but the scratch map c:\\temp.w3m was left behind."};
  }
  if (IsNew(facts)) return {true, "The protected copy is ready: " + named + "."};
  if (facts.scratch_left) {
    return {false, "The job could not move its copy from c:\\temp.w3m to " + named +
                       ": the scratch map is still there." + kNotReplaced + OlderFileNote(facts)};
  }
  return {false,
          "The job could not copy the map to c:\\temp.w3m: the map is missing or "
          "unreadable, or drive C: refused the copy. No protected copy was made at " +
              named + "." + kNotReplaced + OlderFileNote(facts)};
}

}  // namespace veltrane
