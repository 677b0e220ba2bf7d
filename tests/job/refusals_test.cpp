// The table of refusals, asked through a run: each row's message, and nothing written or
// launched.
#include <gtest/gtest.h>

#include "job/run_job.h"
#include "tests/job/ready_host.h"

namespace veltrane {
namespace {

using namespace testing;

struct Refused {
  const char* label;
  JobPaths paths;
  void (*arrange)(FakeJobHost&);
  std::string says;  // the whole message, or its start when `whole` is false
  bool whole = true;
  DeniedPlace denied = DeniedPlace::kNone;
  const wchar_t* denied_path = L"";
};

class RunJobRefuses : public ::testing::TestWithParam<Refused> {};

// Every refusal comes before anything is written or launched.
TEST_P(RunJobRefuses, WritingAndLaunchingNothing) {
  FakeJobHost host = ReadyHost();
  GetParam().arrange(host);
  const auto result = RunJob(GetParam().paths, host);
  ASSERT_FALSE(result);
  const std::string& message = result.message();
  if (GetParam().whole) {
    EXPECT_EQ(message, GetParam().says);
  } else {
    EXPECT_EQ(message.substr(0, GetParam().says.size()), GetParam().says) << message;
  }
  EXPECT_EQ(result.error().denied, GetParam().denied);
  EXPECT_EQ(result.error().denied_path, GetParam().denied_path);
  EXPECT_TRUE(Steps(host).empty()) << "wrote " << ToUtf8(Steps(host)[0].path);
  for (const auto& call : host.calls) EXPECT_NE(call.operation, "launch");
}

// Makes every other row of the table refuse too.
void EverythingWrong(FakeJobHost& h) {
  h.root_refuses_new_files = true;
  h.refused_create = L"C:\\V\\war3map.wtg";
  h.existing_files.clear();
}

void ScriptRuns(FakeJobHost& h) {
  EverythingWrong(h);
  h.script_running = true;
}

const JobPaths kAllWrong{L"", L"a\"", L"", L"C:\\V"};
const std::string kCannotUseDestination = "Cannot use the destination path ";
const std::string kScratchAdvice =
    " The job makes its copy there, and Windows lets only a program run as administrator create "
    "or delete files in the root of drive C:. Run Veltrane as administrator.";
const std::string kFolderDenied =
    "Cannot create \"C:\\Tools\\Veltrane\\war3map.wtg\": denied The job writes war3map.wtg and "
    "temp.bat beside the program, in \"C:\\Tools\\Veltrane\".";

JobPaths With(int field, std::wstring text, JobPaths paths = kPaths) {
  std::wstring* fields[] = {&paths.archiver, &paths.map, &paths.destination, &paths.program_folder};
  *fields[field] = std::move(text);
  return paths;
}
constexpr int kArchiverBox = 0, kMapBox = 1, kDestinationBox = 2, kFolder = 3;

INSTANTIATE_TEST_SUITE_P(
    Table, RunJobRefuses,
    ::testing::Values(Refused{"ARunningJobWinsOverEveryOtherRefusal", kAllWrong, ScriptRuns,
                              "A job is still running. Wait for its report before starting "
                              "another: both would "
                              "use c:\\temp.w3m."},
                      Refused{"ScratchCannotBeCreated", kAllWrong, EverythingWrong,
                              "Cannot create \"c:\\temp.w3m\": denied" + kScratchAdvice, true,
                              DeniedPlace::kScratchMap, L"c:\\temp.w3m"},
                      Refused{"ScratchCannotBeDeleted", kPaths,
                              [](FakeJobHost& h) {
                                h.existing_files.insert(L"c:\\temp.w3m");
                                h.scratch_undeletable = true;
                              },
                              "Cannot delete \"c:\\temp.w3m\": denied" + kScratchAdvice, true,
                              DeniedPlace::kScratchMap, L"c:\\temp.w3m"},
                      Refused{"ScratchFailsOtherwise", kPaths,
                              [](FakeJobHost& h) {
                                h.root_refuses_new_files = true;
                                h.refusal_code = 21;
                              },
                              "Cannot create \"c:\\temp.w3m\": denied The job makes its copy "
                              "there."},
                      Refused{
                          "ProgramFolderDenied", kPaths,
                          [](FakeJobHost& h) {
                            h.refused_create = L"C:\\Tools\\Veltrane\\war3map.wtg";
                          },
                          kFolderDenied +
                              " Windows lets only a program run as administrator write there. Run "
                              "Veltrane as administrator, or move it to a folder of your own.",
                          true, DeniedPlace::kProgramFolder, L"C:\\Tools\\Veltrane"},
                      Refused{"ProgramFolderFailsOtherwise", kPaths,
                              [](FakeJobHost& h) {
                                h.refused_create = L"C:\\Tools\\Veltrane\\war3map.wtg";
                                h.refusal_code = 21;
                              },
                              kFolderDenied},
                      Refused{"EmptyDestination", With(kDestinationBox, L""), Nothing,
                              "Cannot use the destination path: it is empty."},
                      Refused{"BlankMap", With(kMapBox, L"  "), Nothing,
                              "Cannot use the map path \"  \": it is empty."},
                      Refused{
                          "QuoteInArchiver", With(kArchiverBox, L"c:\\a\" & calc & \".exe"),
                          Nothing,
                          "Cannot use the archiver path \"c:\\a\" & calc & \".exe\": it contains a "
                          "double "
                          "quote, a line break or a NUL character, which no file name can hold."},
                      Refused{"LineFeedInMap", With(kMapBox, L"c:\\m.w3m\ndel c:\\*"), Nothing,
                              "Cannot use the map path ", false},
                      Refused{"CarriageReturnInDestination", With(kDestinationBox, L"c:\\x\r.w3m"),
                              Nothing, kCannotUseDestination, false},
                      Refused{"NulInMap", With(kMapBox, std::wstring(L"c:\\m\0x", 6)), Nothing,
                              "Cannot use the map path ", false},
                      Refused{"QuoteInFolder", With(kFolder, L"C:\\V\""), Nothing,
                              "Cannot use the program folder ", false},
                      Refused{"NotInTheConsolesCodePage",
                              With(kDestinationBox, L"c:\\\x5730\\out.w3m"), Nothing,
                              kCannotUseDestination +
                                  "\"c:\\\xe5\x9c\xb0\\out.w3m\": the job's script can hold only "
                                  "the characters "
                                  "of the console's code page (437 on this system), and "
                                  "\"\xe5\x9c\xb0\" is not "
                                  "one of them. Rename the file or folder, or choose another."},
                      Refused{"TheProgramFolderNotInTheConsolesCodePage",
                              With(kFolder, L"C:\\\x5730"), Nothing,
                              "Cannot use the program folder \"C:\\\xe5\x9c\xb0\": the job's "
                              "script can hold only the characters of the console's code page",
                              false},
                      Refused{"DevicePath", With(kMapBox, L"\\\\?\\c:\\MyMap.w3m"), Nothing,
                              "Cannot use the map path \"\\\\?\\c:\\MyMap.w3m\": it is a device "
                              "path (\\\\?\\ "
                              "or \\\\.\\), which the job's script cannot use."},
                      Refused{"RelativeToAnotherDrivesFolder", With(kDestinationBox, L"d:out.w3m"),
                              Nothing,
                              kCannotUseDestination +
                                  "\"d:out.w3m\": it is taken from the current folder of drive d:, "
                                  "which the "
                                  "job's script does not know. Give the full path."},
                      Refused{
                          "RelativeWithTheProgramOnAShare",
                          With(kFolder, L"\\\\server\\share", With(kDestinationBox, L"out.w3m")),
                          Nothing,
                          kCannotUseDestination + "\"out.w3m\": it is not a full path, and the "
                                                  "job's script runs in the "
                                                  "program folder \"\\\\server\\share\", which is "
                                                  "on no drive letter. Give the "
                                                  "full path."},
                      Refused{"LongerThanTheInterpreterTakes",
                              With(kDestinationBox, L"c:\\" + std::wstring(300, L'x')), Nothing,
                              kCannotUseDestination + "\"c:\\" + std::string(300, 'x') +
                                  "\": its full path has 303 characters, and the command "
                                  "interpreter takes at "
                                  "most 259. Choose a shorter path."},
                      Refused{"TheMapByItsShortName", With(kDestinationBox, L"C:\\MYMAP~1.W3M"),
                              [](FakeJobHost& h) {
                                h.identities[L"c:\\MyMap.w3m"] = {7, 42, 100, 5};
                                h.identities[L"C:\\MYMAP~1.W3M"] = {7, 42, 100, 5};
                              },
                              kCannotUseDestination +
                                  "\"C:\\MYMAP~1.W3M\": it names the same file as the map path "
                                  "\"c:\\MyMap.w3m\". The job would replace the map with its "
                                  "protected copy; "
                                  "choose another destination."},
                      Refused{"TheMapRootedOnTheProgramsDrive",
                              With(kDestinationBox, L"\\MYMAP.w3m"), Nothing,
                              kCannotUseDestination +
                                  "\"\\MYMAP.w3m\": it names the same file as the map",
                              false},
                      Refused{
                          "TheMapRelativeToTheProgramsDrive",
                          With(kMapBox, L"C:\\Tools\\Veltrane\\m.w3m",
                               With(kDestinationBox, L"C:m.w3m")),
                          Nothing,
                          kCannotUseDestination + "\"C:m.w3m\": it names the same file as the map",
                          false},
                      Refused{"TheMapIsTheScratchMap", With(kMapBox, L"C:\\TEMP~1.W3M"),
                              [](FakeJobHost& h) {
                                h.existing_files.insert(L"c:\\temp.w3m");
                                h.identities[L"c:\\temp.w3m"] = {7, 1, 2, 3};
                                h.identities[L"C:\\TEMP~1.W3M"] = {7, 1, 2, 3};
                              },
                              "Cannot use the map path \"C:\\TEMP~1.W3M\": it names "
                              "\"c:\\temp.w3m\", a file "
                              "that the job itself writes or deletes. Choose another file."},
                      Refused{"TheDestinationIsTheScript", With(kDestinationBox, L"temp.BAT"),
                              Nothing,
                              kCannotUseDestination + "\"temp.BAT\": it names "
                                                      "\"C:\\Tools\\Veltrane\\temp.bat\", a file",
                              false},
                      Refused{"TheDestinationIsThePlaceholder",
                              With(kDestinationBox, L".\\war3map.wtg"), Nothing,
                              kCannotUseDestination + "\".\\war3map.wtg\": it names ", false},
                      Refused{"TheDestinationIsAFolder", With(kDestinationBox, L"C:\\maps\\out"),
                              [](FakeJobHost& h) { h.folders.insert(L"C:\\maps\\out"); },
                              kCannotUseDestination +
                                  "\"C:\\maps\\out\": it is a folder. Name a file in it, such as "
                                  "\"C:\\maps\\out\\MyMap protected.w3m\"."},
                      Refused{"TheDestinationsFolderIsMissing",
                              With(kDestinationBox, L"C:\\no such\\out.w3m"), Nothing,
                              kCannotUseDestination + "\"C:\\no such\\out.w3m\": its folder "
                                                      "\"C:\\no such\" does not exist."},
                      Refused{"NoArchiverThere", kPaths,
                              [](FakeJobHost& h) { h.existing_files.clear(); },
                              "Cannot use the archiver path \"c:\\mpq2k\\mpq2k.exe\": there is no "
                              "program file "
                              "there."},
                      Refused{"AMapFolder", With(kMapBox, L"C:\\maps"),
                              [](FakeJobHost& h) { h.folders.insert(L"C:\\maps"); },
                              "Cannot use the map path \"C:\\maps\": it is a folder, not a map. "
                              "Choose a map file in it."},
                      Refused{"NoMapThere", With(kMapBox, L"c:\\missing.w3m"), Nothing,
                              "Cannot use the map path \"c:\\missing.w3m\": there is no file "
                              "there."},
                      Refused{"AStarInTheMap", With(kMapBox, L"C:\\maps\\*.w3m"), Nothing,
                              "Cannot use the map path \"C:\\maps\\*.w3m\": it contains * or ?, "
                              "which the command interpreter reads as a pattern for many files, "
                              "not as one file's name. Give the name of one file."},
                      Refused{"AQuestionMarkInTheDestination", With(kDestinationBox, L"map?.w3x"),
                              Nothing, kCannotUseDestination + "\"map?.w3x\": it contains * or ?",
                              false},
                      Refused{"AStarInTheArchiver", With(kArchiverBox, L"mpq*"), Nothing,
                              "Cannot use the archiver path \"mpq*\": it contains * or ?", false},
                      Refused{
                          "ABatchArchiver", With(kArchiverBox, L"C:\\tools\\wrap.bat"),
                          [](FakeJobHost& h) { h.existing_files.insert(L"C:\\tools\\wrap.bat"); },
                          "Cannot use the archiver path \"C:\\tools\\wrap.bat\": it runs "
                          "the batch file \"C:\\tools\\wrap.bat\". The job's script would "
                          "not come back from it, so the protected copy would stay in "
                          "c:\\temp.w3m and never reach the destination. Choose the "
                          "archiver's program file (.exe) itself."},
                      Refused{"ABatchArchiverAlongPathWithPathext", With(kArchiverBox, L"wrap"),
                              [](FakeJobHost& h) {
                                h.environment[L"PATH"] = L"C:\\bin";
                                h.environment[L"PATHEXT"] = L".EXE;.CMD";
                                h.existing_files.insert(L"C:\\bin\\wrap.CMD");
                              },
                              "Cannot use the archiver path \"wrap\": it runs the batch file "
                              "\"C:\\bin\\wrap.CMD\".",
                              false},
                      Refused{"NoArchiverAlongPath", With(kArchiverBox, L"mpq2k"),
                              [](FakeJobHost& h) {
                                h.environment[L"PATH"] = L"C:\\bin";
                                h.existing_files.insert(L"C:\\bin\\mpq2k.txt");
                              },
                              "Cannot use the archiver path \"mpq2k\": there is no program of that "
                              "name in the "
                              "program folder or in a folder of PATH."}),
    [](const auto& info) { return std::string(info.param.label); });

}  // namespace
}  // namespace veltrane
