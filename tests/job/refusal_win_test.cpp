// The refusals on real files under Wine, with the real host: other spellings of the map, the
// job's own files and paths the script can't use are refused before anything is written, and
// the map and a left-over scratch map stay byte-identical.
#include <gtest/gtest.h>

#include "common/text.h"
#include "job/job_host_win.h"
#include "job/run_job.h"
#include "tests/job/win_files.h"

namespace veltrane {
namespace {

using namespace testing;

struct Place {
  TempFolder root{L"refusals"};
  std::wstring program = root / L"program";
  std::wstring map = root / L"A long map name.w3m";
  JobPaths paths{OwnFolder() + L"\\fake_archiver.exe", map, root / L"out.w3m", program};
};

struct RefusedOnDisk {
  const char* label;
  void (*arrange)(Place&);
  std::string says;  // in the message
};

class RefusedOnRealFiles : public ::testing::TestWithParam<RefusedOnDisk> {};

TEST_P(RefusedOnRealFiles, WithNothingWrittenOrDeleted) {
  Place place;
  CreateDirectoryW(place.program.c_str(), nullptr);
  WriteBytes(kScratch, "LEFT-OVER");
  WriteBytes(place.map, "MAP-BYTES");
  GetParam().arrange(place);
  WriteBytes(place.map, "MAP-BYTES");  // the map may now be the left-over scratch map
  const std::string scratch_before = ReadBytes(kScratch);

  Win32JobHost host;
  const auto result = RunJob(place.paths, host);
  ASSERT_FALSE(result) << "the job ran";
  EXPECT_NE(result.message().find(GetParam().says), std::string::npos) << result.message();
  EXPECT_EQ(ReadBytes(place.map), "MAP-BYTES");
  EXPECT_EQ(ReadBytes(kScratch), scratch_before);
  EXPECT_FALSE(Exists(place.program + L"\\war3map.wtg"));
  EXPECT_FALSE(Exists(place.program + L"\\temp.bat"));
  DeleteFileW(kScratch.c_str());
}

std::wstring ShortName(const std::wstring& path) {
  wchar_t name[MAX_PATH] = {};
  return GetShortPathNameW(path.c_str(), name, MAX_PATH) ? name : path;
}

INSTANTIATE_TEST_SUITE_P(
    Table, RefusedOnRealFiles,
    ::testing::Values(
        RefusedOnDisk{"AHardLinkToTheMap",
                      [](Place& p) {
                        ASSERT_TRUE(
                            CreateHardLinkW(p.paths.destination.c_str(), p.map.c_str(), nullptr));
                      },
                      "names the same file as the map path"},
        RefusedOnDisk{"TheMapsShortName",
                      [](Place& p) {
                        p.paths.destination = ShortName(p.map);
                        ASSERT_NE(p.paths.destination, p.map) << "no short name";
                      },
                      "names the same file as the map path"},
        RefusedOnDisk{"TheMapAtTheScratchMapWithALeftOver",
                      [](Place& p) { p.map = p.paths.map = kScratch; },
                      "it names \"c:\\temp.w3m\", a file that the job itself writes or deletes"},
        RefusedOnDisk{"AFolderAsDestination",
                      [](Place& p) {
                        p.paths.destination = p.root / L"out";
                        CreateDirectoryW(p.paths.destination.c_str(), nullptr);
                      },
                      "it is a folder. Name a file in it, such as "},
        RefusedOnDisk{"AnEmptyDestination", [](Place& p) { p.paths.destination.clear(); },
                      "Cannot use the destination path: it is empty."},
        RefusedOnDisk{"AMissingDestinationFolder",
                      [](Place& p) { p.paths.destination = p.root / L"no such\\out.w3m"; },
                      "does not exist."},
        RefusedOnDisk{"AnArchiverPathThatNamesNoFile",
                      [](Place& p) { p.paths.archiver = p.root / L"mpq2k.exe"; },
                      "there is no program file there."}),
    [](const auto& info) { return std::string(info.param.label); });

// The suggestion names a file in the folder, from the map's name.
TEST(RefusedOnRealFiles, AFolderAsDestinationSuggestsAFileInIt) {
  Place place;
  CreateDirectoryW(place.program.c_str(), nullptr);
  WriteBytes(place.map, "MAP-BYTES");
  place.paths.destination = place.root.path();
  Win32JobHost host;
  const auto result = RunJob(place.paths, host);
  ASSERT_FALSE(result);
  EXPECT_NE(result.message().find(QuotedUtf8(place.root / L"A long map name protected.w3m")),
            std::string::npos)
      << result.message();
}

}  // namespace
}  // namespace veltrane
