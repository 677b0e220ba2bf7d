#include "job/compose_script.h"

#include <gtest/gtest.h>

namespace veltrane {
namespace {

const JobPaths kTypical{L"c:\\mpq2k\\mpq2k.exe", L"c:\\MyMap.w3m", L"c:\\MyMapProtected.w3m",
                        L"C:\\Tools\\Veltrane"};

TEST(ComposeScript, GivesTheFiveLinesExactlyWhenNoScratchMapExists) {
  EXPECT_EQ(ComposeScript(kTypical, false),
            L"@echo off\r\n"
            L"cd \"C:\\Tools\\Veltrane\"\r\n"
            L"copy \"c:\\MyMap.w3m\" c:\\temp.w3m\r\n"
            L"\"c:\\mpq2k\\mpq2k.exe\" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\n"
            L"move c:\\temp.w3m \"c:\\MyMapProtected.w3m\"");
}

TEST(ComposeScript, DeletesALeftOverScratchMapOnTheThirdLine) {
  EXPECT_EQ(ComposeScript(kTypical, true),
            L"@echo off\r\n"
            L"cd \"C:\\Tools\\Veltrane\"\r\n"
            L"del c:\\temp.w3m\r\n"
            L"copy \"c:\\MyMap.w3m\" c:\\temp.w3m\r\n"
            L"\"c:\\mpq2k\\mpq2k.exe\" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\n"
            L"move c:\\temp.w3m \"c:\\MyMapProtected.w3m\"");
}

TEST(ComposeScript, EveryLineEndIsCrLfAndTheTextEndsWithTheClosingQuote) {
  for (const bool scratch : {false, true}) {
    const std::wstring script = ComposeScript(kTypical, scratch);
    for (size_t i = 0; i < script.size(); ++i) {
      if (script[i] == L'\n') {
        ASSERT_GT(i, 0u);
        EXPECT_EQ(script[i - 1], L'\r') << "bare LF at " << i;
      }
    }
    EXPECT_EQ(script.back(), L'"');
  }
}

TEST(ComposeScript, EmptyInputsStillGiveEveryLine) {
  EXPECT_EQ(ComposeScript(JobPaths{}, false),
            L"@echo off\r\ncd \"\"\r\ncopy \"\" c:\\temp.w3m\r\n"
            L"\"\" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\nmove c:\\temp.w3m \"\"");
}

TEST(ComposeScript, InsertsPathsVerbatimInsideTheTemplatesQuotes) {
  const JobPaths paths{L" C:\\Program Files\\arch.exe ", L"D:\\maps\\a & b ^ (1).w3m",
                       L"D:\\maps\\a & b ^ (1).w3m", L"C:\\"};
  EXPECT_EQ(ComposeScript(paths, false),
            L"@echo off\r\n"
            L"cd \"C:\\\"\r\n"
            L"copy \"D:\\maps\\a & b ^ (1).w3m\" c:\\temp.w3m\r\n"
            L"\" C:\\Program Files\\arch.exe \" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\n"
            L"move c:\\temp.w3m \"D:\\maps\\a & b ^ (1).w3m\"");
}

TEST(ComposeScript, DoublesEveryPercentSignFromAnInput) {
  const JobPaths paths{L"C:\\100%\\a.exe", L"C:\\%PATH%.w3m", L"C:\\%%.w3m", L"C:\\50%"};
  EXPECT_EQ(ComposeScript(paths, false),
            L"@echo off\r\n"
            L"cd \"C:\\50%%\"\r\n"
            L"copy \"C:\\%%PATH%%.w3m\" c:\\temp.w3m\r\n"
            L"\"C:\\100%%\\a.exe\" a  c:\\temp.w3m war3map.wtg war3map.wtg\r\n"
            L"move c:\\temp.w3m \"C:\\%%%%.w3m\"");
}

}  // namespace
}  // namespace veltrane
