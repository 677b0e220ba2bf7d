#include "job/verdict.h"

#include <gtest/gtest.h>

#include "archiver/archive.h"
#include "tests/job/fake_job_host.h"

namespace veltrane {
namespace {

using testing::FakeJobHost;

struct Entry {
  const char* name;
  std::uint16_t locale;
  std::uint32_t length;
};

// An archive of header and tables only, behind a preamble: enough for the verdict, which
// reads nothing else.
std::string ArchiveBytes(const std::vector<Entry>& entries) {
  mpq::Archive archive;
  archive.hashes.resize(16);
  for (const auto& entry : entries) {
    const auto slot = mpq::FindSlotFor(archive, entry.name);
    const auto block = static_cast<std::uint32_t>(archive.blocks.size());
    mpq::PlaceName(archive, *slot, entry.name, block);
    archive.hashes[*slot].locale = entry.locale;
    archive.blocks.push_back({0, entry.length, entry.length, mpq::kFlagExists});
  }
  const auto hashes = mpq::EncodeHashTable(archive);
  const auto blocks = mpq::EncodeBlockTable(archive);
  std::string bytes(512, 'P');  // a preamble, as maps have
  auto u32 = [&](std::uint32_t v) {
    for (int i = 0; i < 4; ++i) bytes += static_cast<char>(v >> (8 * i));
  };
  u32(mpq::kHeaderSignature);
  u32(32);
  u32(static_cast<std::uint32_t>(32 + hashes.size() + blocks.size()));
  u32(3 << 16);  // format version 0, sector shift 3
  u32(32);
  u32(static_cast<std::uint32_t>(32 + hashes.size()));
  u32(static_cast<std::uint32_t>(archive.hashes.size()));
  u32(static_cast<std::uint32_t>(archive.blocks.size()));
  for (const auto b : hashes) bytes += static_cast<char>(b);
  for (const auto b : blocks) bytes += static_cast<char>(b);
  return bytes;
}

const std::wstring kDestination = L"C:\\Maps\\Out.w3m";
const FileIdentity kOld{1, 10, 500, 100};
const FileIdentity kNew{1, 11, 900, 200};

struct Case {
  const char* label;
  std::optional<FileIdentity> before, after;
  bool scratch_left;
  std::string content;  // the destination's bytes, when it is new
  bool success;
  std::vector<const char*> says;
};

class VerdictFromFiles : public ::testing::TestWithParam<Case> {};

TEST_P(VerdictFromFiles, GivesTheRightReport) {
  const Case& c = GetParam();
  FakeJobHost host;
  if (c.after) host.identities[kDestination] = *c.after;
  if (c.scratch_left) host.existing_files.insert(L"c:\\temp.w3m");
  host.contents[kDestination] = c.content;
  const JobLaunch launch{L"Out.w3m", kDestination, c.before};

  const JobReport report = Judge(launch.destination, GatherFacts(launch, host));
  EXPECT_EQ(report.success, c.success) << report.text;
  EXPECT_NE(report.text.find("\"Out.w3m\""), std::string::npos) << report.text;
  for (const char* part : c.says) {
    EXPECT_NE(report.text.find(part), std::string::npos) << report.text;
  }
  if (!c.success) {
    EXPECT_EQ(report.text.find("ready"), std::string::npos) << report.text;
  }
}

const std::string kProtected = ArchiveBytes({{"war3map.j", 0, 40}, {"war3map.wtg", 0, 0}});

INSTANTIATE_TEST_SUITE_P(
    AllFacts, VerdictFromFiles,
    ::testing::Values(
        Case{"NewAndProtected", std::nullopt, kNew, false, kProtected, true, {"ready"}},
        Case{"ReplacedAndProtected", kOld, kNew, false, kProtected, true, {"ready"}},
        Case{"SameIndexButChanged",
             kOld,
             FileIdentity{1, 10, 500, 101},
             false,
             kProtected,
             true,
             {"ready"}},
        Case{"EveryLocaleEmpty",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 0}, {"war3map.wtg", 0x409, 0}}),
             true,
             {"ready"}},
        Case{"OneLocaleHoldsData",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 0}, {"war3map.wtg", 0x409, 77}}),
             false,
             {"not protected", "still holds data", "It replaced the file", "Do not publish"}},
        Case{"PlaceholderHoldsData",
             std::nullopt,
             kNew,
             false,
             ArchiveBytes({{"war3map.wtg", 0, 3000}}),
             false,
             {"not protected", "still holds data"}},
        Case{"NoPlaceholder",
             kOld,
             kNew,
             false,
             ArchiveBytes({{"war3map.j", 0, 40}}),
             false,
             {"not protected", "no war3map.wtg", "It replaced the file"}},
        Case{"NotAnArchive",
             kOld,
             kNew,
             false,
             "plain text, no archive",
             false,
             {"not protected", "not a map archive", "It replaced the file"}},
        Case{"NewButScratchLeft", kOld, kNew, true, kProtected, false, {"left behind"}},
        Case{"CopyFailedNothingThere",
             std::nullopt,
             std::nullopt,
             false,
             "",
             false,
             {"could not copy", "not replaced"}},
        Case{"CopyFailedStaleCopyStays",
             kOld,
             kOld,
             false,
             kProtected,
             false,
             {"could not copy", "not replaced", "not from this job"}},
        Case{"MoveFailed",
             std::nullopt,
             std::nullopt,
             true,
             "",
             false,
             {"could not move", "still there", "not replaced"}},
        Case{"MoveFailedStaleCopyStays",
             kOld,
             kOld,
             true,
             kProtected,
             false,
             {"could not move", "not from this job"}}),
    [](const auto& info) { return std::string(info.param.label); });

TEST(VerdictFromFiles, ADestinationThatCannotBeOpenedIsNotProtected) {
  FakeJobHost host;
  host.identities[kDestination] = kNew;
  const JobReport report =
      Judge(L"Out.w3m", GatherFacts(JobLaunch{L"Out.w3m", kDestination, std::nullopt}, host));
  EXPECT_FALSE(report.success);
  EXPECT_NE(report.text.find("not protected"), std::string::npos) << report.text;
}

}  // namespace
}  // namespace veltrane
