#include <gtest/gtest.h>

#include "common/text.h"

#include "tests/window/window_fixture_win.h"
#include "window/layout.h"
#include "window/setting_win.h"

namespace veltrane {
namespace {

using namespace testing;  // the window fixture and its helpers

enum class Stored { kNothing, kExistingFile, kMissingFile, kEmptyText, kUnreachable };
enum class Expect { kDefault, kBundled, kStored };

struct FirstRun {
  const char* what;
  bool bundled_beside_program;
  bool default_file_there;
  Stored stored;
  Expect archiver_box;
};

// Each case starts the window in its own program folder; c:\mpq2k\mpq2k.exe is made only for
// the cases that ask for it, so the prefix must not hold one already.
TEST_F(MainWindowTest, TheArchiverBoxStartsWithAStoredFileElseTheDefaultElseTheBundledOne) {
  const std::wstring default_path = L"c:\\mpq2k\\mpq2k.exe";
  ASSERT_EQ(GetFileAttributesW(default_path.c_str()), INVALID_FILE_ATTRIBUTES)
      << "needs a fresh prefix without c:\\mpq2k\\mpq2k.exe";
  const std::wstring stored_file = TempPath(L"stored tools\\mpq2k.exe");
  ASSERT_TRUE(MakeFile(stored_file));
  const std::wstring missing = TempPath(L"moved away\\mpq2k.exe");
  const FirstRun cases[] = {
      {"bundled beside", true, false, Stored::kNothing, Expect::kBundled},
      {"nothing at all", false, false, Stored::kNothing, Expect::kDefault},
      {"default there", true, true, Stored::kNothing, Expect::kDefault},
      {"stored file wins", true, true, Stored::kExistingFile, Expect::kStored},
      {"stored file gone", true, false, Stored::kMissingFile, Expect::kBundled},
      {"stored empty", false, false, Stored::kEmptyText, Expect::kDefault},
      // Only "not found" counts as missing: a share that can't be reached keeps the path.
      {"stored on an unreachable share", true, false, Stored::kUnreachable, Expect::kStored},
  };
  int number = 0;
  for (const FirstRun& run : cases) {
    SCOPED_TRACE(run.what);
    window_.reset();
    program_folder_ = TempPath(L"first run " + std::to_wstring(++number));
    const std::wstring bundled = program_folder_ + L"\\mpqadd.exe";
    if (run.bundled_beside_program) {
      ASSERT_TRUE(MakeFile(bundled));
    }
    if (run.default_file_there) {
      ASSERT_TRUE(MakeFile(default_path));
    }
    RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey(application_name_).c_str());
    const std::wstring value = run.stored == Stored::kExistingFile  ? stored_file
                               : run.stored == Stored::kMissingFile ? missing
                               : run.stored == Stored::kUnreachable
                                   ? L"\\\\nohost\\share\\mpq2k.exe"
                                   : L"";
    if (run.stored != Stored::kNothing) {
      ASSERT_TRUE(StoreArchiverPath(application_name_, value));
    }
    CreateWindowUnderTest();
    const std::wstring expected = run.archiver_box == Expect::kBundled  ? bundled
                                  : run.archiver_box == Expect::kStored ? value
                                                                        : default_path;
    EXPECT_EQ(Text(kArchiverBox), expected);
    DeleteFileW(bundled.c_str());
    DeleteFileW(default_path.c_str());
    RemoveDirectoryW(L"c:\\mpq2k");
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, SettingsKey(application_name_).c_str());
}

TEST(ArchiverSetting, EachExecutableNameKeepsItsOwnValue) {
  const std::wstring first = L"veltrane-setting-a";
  const std::wstring second = L"veltrane-setting-b";
  for (const auto& name : {first, second}) {
    RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\VB and VBA Program Settings\\" + name).c_str());
  }
  EXPECT_EQ(ReadArchiverPath(first), std::nullopt);
  ASSERT_TRUE(StoreArchiverPath(first, L"C:\\first.exe"));
  EXPECT_EQ(ReadArchiverPath(second), std::nullopt);
  ASSERT_TRUE(StoreArchiverPath(second, L""));
  EXPECT_EQ(ReadArchiverPath(first), L"C:\\first.exe");
  EXPECT_EQ(ReadArchiverPath(second), L"");

  HKEY opened;
  ASSERT_EQ(
      RegOpenKeyExW(HKEY_CURRENT_USER,
                    (L"Software\\VB and VBA Program Settings\\" + first + L"\\Settings").c_str(), 0,
                    KEY_READ, &opened),
      ERROR_SUCCESS);
  const Unique<KeyTraits> key(opened);
  DWORD type = 0;
  EXPECT_EQ(RegQueryValueExW(key.get(), L"LocMPQ2K", nullptr, &type, nullptr, nullptr),
            ERROR_SUCCESS);
  EXPECT_EQ(type, static_cast<DWORD>(REG_SZ));
}

// A value that is there but is no string can't be read: the box starts as if none were
// stored, and storing the box keeps that value rather than replacing the user's setting.
TEST(ArchiverSetting, AValueThatCannotBeReadIsKept) {
  const std::wstring name = L"veltrane-setting-unreadable";
  const std::wstring key = SettingsKey(name);
  for (const DWORD type : {DWORD{REG_DWORD}, DWORD{REG_BINARY}}) {
    SCOPED_TRACE(type);
    RegDeleteTreeW(HKEY_CURRENT_USER, key.c_str());
    EXPECT_EQ(*LoadArchiverPath(name), std::nullopt) << "no key is no setting";
    const DWORD data = 7;
    ASSERT_EQ(
        RegSetKeyValueW(HKEY_CURRENT_USER, key.c_str(), L"LocMPQ2K", type, &data, sizeof data),
        ERROR_SUCCESS);
    const auto loaded = LoadArchiverPath(name);
    ASSERT_FALSE(loaded);
    EXPECT_NE(loaded.message().find(ToUtf8(key)), std::string::npos) << loaded.message();
    EXPECT_EQ(InitialArchiverPath(name, L""), L"c:\\mpq2k\\mpq2k.exe");

    const auto stored = StoreArchiverPath(name, L"c:\\mpq2k\\mpq2k.exe");
    ASSERT_FALSE(stored);
    EXPECT_NE(stored.message().find("The stored path is kept"), std::string::npos)
        << stored.message();
    DWORD kept_type = 0;
    DWORD kept = 0;
    DWORD size = sizeof kept;
    ASSERT_EQ(RegGetValueW(HKEY_CURRENT_USER, key.c_str(), L"LocMPQ2K", RRF_RT_ANY, &kept_type,
                           &kept, &size),
              ERROR_SUCCESS);
    EXPECT_EQ(kept_type, type);
    EXPECT_EQ(kept, data);
  }
  RegDeleteTreeW(HKEY_CURRENT_USER, (L"Software\\VB and VBA Program Settings\\" + name).c_str());
}

TEST(ArchiverSetting, ApplicationNameIsTheExecutablesBaseName) {
  EXPECT_EQ(ApplicationName(L"C:\\Program Files\\Veltrane\\veltrane.exe"), L"veltrane");
  EXPECT_EQ(ApplicationName(L"C:\\a.b\\My Tool.v2.EXE"), L"My Tool.v2");
  EXPECT_EQ(ApplicationName(L"tool"), L"tool");
}

}  // namespace
}  // namespace veltrane
