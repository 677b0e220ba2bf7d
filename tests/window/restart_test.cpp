#include <gtest/gtest.h>

#include "window/restart.h"

namespace veltrane {
namespace {

struct RefusalCase {
  const char* what;
  bool elevated;
  bool restarted;
  DeniedPlace denied;
  OnRefusal expected;
  const wchar_t* question_names;  // for the cases that ask: what the question's content names
};

// Only a denial of the job's own places, in a process neither elevated nor restarted, asks.
TEST(RestartTest, ARefusalAsksOnlyWhenRunningAsAdministratorCanHelpAndNoRestartHappened) {
  const RefusalCase cases[] = {
      {"scratch denied", false, false, DeniedPlace::kScratchMap, OnRefusal::kAsk,
       L"root of drive C:, where the job makes its copy c:\\temp.w3m."},
      {"program folder denied", false, false, DeniedPlace::kProgramFolder, OnRefusal::kAsk,
       L"write in \"C:\\Program Files\\Veltrane\", where the job writes its script."},
      {"another error", false, false, DeniedPlace::kNone, OnRefusal::kRefuse, nullptr},
      {"elevated, scratch denied", true, false, DeniedPlace::kScratchMap, OnRefusal::kRefuse,
       nullptr},
      {"restarted, scratch denied", false, true, DeniedPlace::kScratchMap, OnRefusal::kRefuse,
       nullptr},
  };
  for (const RefusalCase& c : cases) {
    SCOPED_TRACE(c.what);
    EXPECT_EQ(DecideOnRefusal(c.elevated, c.restarted, c.denied), c.expected);
    if (c.question_names == nullptr) continue;
    const std::wstring denied_path =
        c.denied == DeniedPlace::kScratchMap ? L"c:\\temp.w3m" : L"C:\\Program Files\\Veltrane";
    const RestartQuestion question =
        QuestionFor(Refusal("refused", c.denied, denied_path), L"C:\\Program Files\\Veltrane");
    EXPECT_EQ(question.main_instruction, L"Run this job as administrator?");
    EXPECT_NE(question.content.find(c.question_names), std::wstring::npos);
  }
}

}  // namespace
}  // namespace veltrane
