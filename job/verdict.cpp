#include "job/verdict.h"

#include <algorithm>
#include <functional>

#include "archiver/archive.h"
#include "archiver/member.h"
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

}  // namespace

// Shorter stored data could turn up in any file by chance.
constexpr std::size_t kLeastTraceBytes = 16;
// The search reads this much at a time, besides what a needle needs to span two pieces.
constexpr std::size_t kSearchPiece = 1 << 20;

std::vector<std::vector<std::byte>> OldTriggerData(mpq::ByteSource& map, const std::wstring& path) {
  auto archive = mpq::ParseArchive(map, ToUtf8(path));
  if (!archive) return {};
  std::vector<std::vector<std::byte>> stored_data;
  for (const mpq::BlockEntry& block : mpq::MemberBlocks(*archive, ToUtf8(kPlaceholderName))) {
    if (block.packed_size < kLeastTraceBytes) continue;
    auto stored = mpq::ReadStoredBytes(map, *archive, block);
    if (stored && stored->size() >= kLeastTraceBytes) stored_data.push_back(std::move(*stored));
  }
  return stored_data;
}

Result<bool> ContainsAny(mpq::ByteSource& source, std::span<const std::vector<std::byte>> needles) {
  std::size_t longest = 0;
  for (const auto& needle : needles) longest = std::max(longest, needle.size());
  if (longest == 0) return false;
  auto size = source.Size();
  if (!size) return size.error();
  // Each piece starts with the last longest-1 bytes of the one before, so a needle that
  // spans two pieces is found whole in the second.
  std::vector<std::byte> window;
  std::uint64_t offset = 0;
  while (offset < *size) {
    const std::size_t kept = std::min(window.size(), longest - 1);
    std::copy(window.end() - static_cast<std::ptrdiff_t>(kept), window.end(), window.begin());
    const auto fresh =
        static_cast<std::size_t>(std::min<std::uint64_t>(kSearchPiece, *size - offset));
    window.resize(kept + fresh);
    auto read = source.ReadAt(offset, std::span(window).subspan(kept));
    if (!read) return read.error();
    offset += fresh;
    for (const auto& needle : needles) {
      if (needle.empty() || needle.size() > window.size()) continue;
      const std::boyer_moore_horspool_searcher searcher(needle.begin(), needle.end());
      if (std::search(window.begin(), window.end(), searcher) != window.end()) return true;
    }
  }
  return false;
}

ProtectionCheck CheckProtection(mpq::ByteSource& source, const std::wstring& path,
                                std::span<const std::vector<std::byte>> old_trigger_data) {
  auto archive = mpq::ParseArchive(source, ToUtf8(path));
  if (!archive) return {Protection::kNotArchive, archive.message()};
  const auto lengths = mpq::MemberLengths(*archive, ToUtf8(kPlaceholderName));
  if (lengths.empty()) return {Protection::kNoPlaceholder, {}};
  for (const auto length : lengths) {
    if (length != 0) return {Protection::kPlaceholderData, {}};
  }
  auto found = ContainsAny(source, old_trigger_data);
  if (!found) return {Protection::kNotArchive, found.message()};
  if (*found) return {Protection::kTraceLeft, {}};
  return {Protection::kProtected, {}};
}

JobFacts GatherFacts(const JobLaunch& launch, JobHost& host) {
  JobFacts facts;
  facts.before = launch.destination_before;
  facts.after = host.Identify(launch.destination_full);
  facts.scratch_left = host.FileExists(std::wstring(kScratchMap));
  if (!IsNew(facts)) return facts;
  std::vector<std::vector<std::byte>> old_trigger_data;
  if (auto map = host.OpenToRead(launch.source_full)) {
    old_trigger_data = OldTriggerData(**map, launch.source_full);
  }
  auto destination = host.OpenToRead(launch.destination_full);
  if (!destination) {
    facts.destination = {Protection::kNotArchive, destination.message()};
  } else {
    facts.destination = CheckProtection(**destination, launch.destination_full, old_trigger_data);
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
