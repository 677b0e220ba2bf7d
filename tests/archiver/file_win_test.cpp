// The Win32 archive file under Wine: sharing, Unicode paths, positioned reads,
// writes past the end, truncation, and the file time of the file to add.
#include <windows.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "archiver/file.h"
#include "common/text.h"

namespace veltrane::mpq {
namespace {

class FileWin : public testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           (L"mpqadd-\u00e9t\u00e9-" + std::to_wstring(GetCurrentProcessId()));
    std::filesystem::create_directories(dir_);
    path_ = dir_ / L"carte-\u00e9t\u00e9.w3m";
    std::ofstream(path_, std::ios::binary) << "0123456789";
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
  }
  std::filesystem::path dir_;
  std::filesystem::path path_;
};

std::vector<std::byte> Bytes(std::string_view text) {
  std::vector<std::byte> out;
  for (char c : text) out.push_back(static_cast<std::byte>(c));
  return out;
}

// The whole file through positioned reads, checked against the size it reports.
std::vector<std::byte> ReadWhole(ArchiveFile& file) {
  auto size = file.Size();
  EXPECT_TRUE(size.ok()) << size.message();
  std::vector<std::byte> all(size ? static_cast<std::size_t>(*size) : 0);
  auto read = file.ReadAt(0, all);
  EXPECT_TRUE(read.ok()) << read.message();
  return all;
}

TEST_F(FileWin, WritesPastTheEndThenTruncatesBack) {
  auto file = OpenArchiveFile(path_.wstring());
  ASSERT_TRUE(file.ok()) << file.message();
  ASSERT_TRUE((*file)->WriteAt(12, Bytes("tail")).ok());
  ASSERT_TRUE((*file)->WriteAt(0, Bytes("AB")).ok());
  ASSERT_TRUE((*file)->Flush().ok());
  auto all = ReadWhole(**file);
  ASSERT_EQ(all.size(), 16u);
  EXPECT_EQ(all[0], std::byte{'A'});
  EXPECT_EQ(all[15], std::byte{'l'});
  ASSERT_TRUE((*file)->Truncate(10).ok());
  EXPECT_EQ(ReadWhole(**file), Bytes("AB23456789"));
}

TEST_F(FileWin, ReadsAtAnOffsetAndFailsPastTheEnd) {
  auto file = OpenArchiveFile(path_.wstring());
  ASSERT_TRUE(file.ok()) << file.message();
  std::vector<std::byte> middle(4);
  ASSERT_TRUE((*file)->ReadAt(3, middle).ok());
  EXPECT_EQ(middle, Bytes("3456"));
  std::vector<std::byte> past(4);
  auto read = (*file)->ReadAt(8, past);
  ASSERT_FALSE(read.ok());
  EXPECT_NE(read.message().find("Cannot read archive \"" + ToUtf8(path_.wstring()) + "\": "),
            std::string::npos)
      << read.message();
}

TEST_F(FileWin, RefusesArchiveOpenForWritingElsewhere) {
  HANDLE holder = CreateFileW(path_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(holder, INVALID_HANDLE_VALUE);
  auto file = OpenArchiveFile(path_.wstring());
  CloseHandle(holder);
  ASSERT_FALSE(file.ok());
  EXPECT_NE(file.message().find("Cannot open archive \"" + ToUtf8(path_.wstring()) + "\": "),
            std::string::npos)
      << file.message();
}

TEST_F(FileWin, ReadsFileToAddWithItsModificationTime) {
  HANDLE handle = CreateFileW(path_.c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
  ASSERT_NE(handle, INVALID_HANDLE_VALUE);
  FILETIME time{0x12345600, 0x01D00000};
  ASSERT_TRUE(SetFileTime(handle, nullptr, nullptr, &time));
  CloseHandle(handle);
  auto input = ReadInputFile(path_.wstring());
  ASSERT_TRUE(input.ok()) << input.message();
  EXPECT_EQ(input->content, Bytes("0123456789"));
  EXPECT_EQ(input->file_time, 0x01D0000012345600ull);
  auto missing = ReadInputFile((dir_ / L"absent.txt").wstring());
  ASSERT_FALSE(missing.ok());
  EXPECT_NE(missing.message().find("Cannot open file to add \"" + ToUtf8(dir_.wstring())),
            std::string::npos);
}

}  // namespace
}  // namespace veltrane::mpq
