#include "job/verdict.h"

#include <algorithm>
#include <cstdio>

#include "archiver/archive.h"
#include "archiver/member.h"
#include "common/text.h"
#include "job/job_paths.h"
#include "job/read_back.h"

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
      return "its " + ToUtf8(kPlaceholderName) +
             " still holds data (the archiver did not replace it)";
    case Protection::kNoPlaceholder:
      return "it has no " + ToUtf8(kPlaceholderName) + " (the archiver did not add it)";
    case Protection::kNotArchive:
      if (!check.why_unopened.empty()) return "it could not be opened (" + check.why_unopened + ")";
      return "it is not a Warcraft III map";
    case Protection::kTraceLeft:
      return "its old trigger data is still inside the file, in space the archive no longer "
             "uses, where archive tools can read it (the archiver did not clear it); the bundled "
             "mpqadd.exe clears it";
    case Protection::kProtected:
      break;
  }
  return "";
}

ProtectionCheck Checked(Protection state, std::string why_unopened = {}) {
  ProtectionCheck check;
  check.state = state;
  check.why_unopened = std::move(why_unopened);
  return check;
}

// At most this many damaged members are named; the rest are counted.
constexpr std::size_t kMembersNamed = 3;

// A member in plain words: its name, or where the map keeps it when the map names it nowhere;
// a locale other than the neutral one is said too.
std::string Described(const DamagedMember& member) {
  std::string text = member.name.empty()
                         ? "a file that the map's (listfile) does not name (entry " +
                               std::to_string(member.map_slot) + " of its hash table)"
                         : member.name;
  if (member.locale != 0) {
    char locale[8];
    std::snprintf(locale, sizeof(locale), "0x%X", static_cast<unsigned>(member.locale));
    text += std::string(" in locale ") + locale;
  }
  return text;
}

std::string WhatIsWrong(const DamagedMember& member) {
  const std::string named = Described(member);
  switch (member.fault) {
    case MemberFault::kMissing:
      return named + " is missing";
    case MemberFault::kCutShort:
      return named + " is cut short (the file ends inside its data)";
    case MemberFault::kUnreadable:
      return named + " cannot be read";
    case MemberFault::kDiffers:
      return named + " does not read back as it is in the map";
    case MemberFault::kUncheckable:
      return named +
             " was stored anew, enciphered under a name the map does not give, so it "
             "cannot be compared with the map";
    case MemberFault::kAdded:
      return named + " is in the copy but not in the map";
  }
  return named;
}

std::string DamageList(const std::vector<DamagedMember>& damaged) {
  std::string text;
  for (std::size_t i = 0; i < std::min(damaged.size(), kMembersNamed); ++i) {
    text += (i == 0 ? "" : "; ") + WhatIsWrong(damaged[i]);
  }
  if (damaged.size() > kMembersNamed) {
    text += "; and " + std::to_string(damaged.size() - kMembersNamed) + " more";
  }
  return text;
}

// The end of every report on a new destination that must not be published.
std::string DoNotPublish(const JobFacts& facts) {
  // The file that was there, an earlier protected copy maybe, is gone: the user must know.
  const std::string replaced =
      facts.before ? " It replaced the file that was there before the job." : "";
  return replaced + " Do not publish it. It stays where it is.";
}

}  // namespace

// Shorter stored data could turn up in any file by chance.
constexpr std::size_t kLeastTraceBytes = 16;

std::vector<std::vector<std::byte>> OldTriggerData(mpq::ByteSource& map,
                                                   const mpq::Archive& archive) {
  std::vector<std::vector<std::byte>> stored_data;
  for (const mpq::BlockEntry& block : mpq::MemberBlocks(archive, ToUtf8(kPlaceholderName))) {
    if (block.packed_size < kLeastTraceBytes) continue;
    auto stored = mpq::ReadStoredBytes(map, archive, block);
    if (stored && stored->size() >= kLeastTraceBytes) stored_data.push_back(std::move(*stored));
  }
  return stored_data;
}

ProtectionCheck CheckProtection(mpq::ByteSource& copy, const std::wstring& copy_path,
                                Result<mpq::ByteSource*> map, const std::wstring& map_path) {
  auto archive = mpq::ParseArchive(copy, ToUtf8(copy_path));
  if (!archive) return Checked(Protection::kNotArchive);
  const auto lengths = mpq::MemberLengths(*archive, ToUtf8(kPlaceholderName));
  if (lengths.empty()) return Checked(Protection::kNoPlaceholder);
  for (const auto length : lengths) {
    if (length != 0) return Checked(Protection::kPlaceholderData);
  }
  ProtectionCheck check = Checked(Protection::kProtected);
  if (!map) {
    check.why_not_compared = map.message();
    return check;
  }
  auto map_archive = mpq::ParseArchive(**map, ToUtf8(map_path));
  if (!map_archive) {
    check.why_not_compared = map_archive.message();
    return check;
  }
  const auto old_trigger_data = OldTriggerData(**map, *map_archive);
  auto read_back = ReadBackCopy(**map, *map_archive, copy, *archive, old_trigger_data);
  if (!read_back) {
    check.why_not_compared = read_back.message();
    return check;
  }
  check.damaged = std::move(read_back->damaged);
  if (read_back->trace_found) check.state = Protection::kTraceLeft;
  return check;
}

JobFacts GatherFacts(const JobLaunch& launch, JobHost& host) {
  JobFacts facts;
  facts.before = launch.destination_before;
  facts.after = host.Identify(launch.destination_full);
  facts.scratch_left = host.FileExists(std::wstring(kScratchMap));
  if (!IsNew(facts)) return facts;
  auto destination = host.OpenToRead(launch.destination_full);
  if (!destination) {
    facts.destination = Checked(Protection::kNotArchive, destination.message());
    return facts;
  }
  auto map = host.OpenToRead(launch.map_full);
  facts.destination = CheckProtection(
      **destination, launch.destination_full,
      map ? Result<mpq::ByteSource*>(map->get()) : Result<mpq::ByteSource*>(map.error()),
      launch.map_full);
  return facts;
}

JobReport Judge(const std::wstring& destination, const JobFacts& facts) {
  const std::string named = QuotedUtf8(destination);
  const ProtectionCheck& copy = facts.destination;
  if (IsNew(facts) && !copy.damaged.empty()) {
    return {false, "The file at " + named + " is damaged: " + DamageList(copy.damaged) + "." +
                       DoNotPublish(facts)};
  }
  if (IsNew(facts) && copy.state != Protection::kProtected) {
    return {false, "The file at " + named + " is not protected: " + WhyUnprotected(copy) + "." +
                       DoNotPublish(facts)};
  }
  if (IsNew(facts) && !copy.why_not_compared.empty()) {
    return {false, "The file at " + named +
                       " could not be read back against the map, so no one can tell whether it "
                       "works: " +
                       copy.why_not_compared + "." + DoNotPublish(facts)};
  }
  if (IsNew(facts) && facts.scratch_left) {
    return {false, "The protected copy is at " + named + ", but the scratch map " +
                       ToUtf8(kScratchMap) + " was left behind."};
  }
  if (IsNew(facts)) return {true, "The protected copy is ready: " + named + "."};
  if (facts.scratch_left) {
    return {false, "The job could not move its copy from " + ToUtf8(kScratchMap) + " to " + named +
                       ": the scratch map is still there." + kNotReplaced + OlderFileNote(facts)};
  }
  return {false,
          "The job could not copy the map to " + ToUtf8(kScratchMap) +
              ": the map is missing or unreadable, or drive C: refused the copy. No protected "
              "copy was made at " +
              named + "." + kNotReplaced + OlderFileNote(facts)};
}

}  // namespace veltrane
