// Failures: one clear line on stderr, a non-zero exit, and the archive byte-identical.
#include <StormLib.h>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <algorithm>
#include <functional>

#include "common/unique_posix.h"
#include "storm_fixture.h"
#include "tables.h"

namespace veltrane::mpq::test {
namespace {

struct BadCase {
  std::string label;
  std::function<void(Bytes& archive)> damage;  // on a valid archive's bytes
  std::string expected;                        // part of the message
  std::string input = "input.bin";             // the file argument
};

// A damage that sets one field of the header.
template <class Field>
std::function<void(Bytes&)> SetHeader(Field Header::*field, Field value) {
  return [=](Bytes& bytes) { EditHeader(bytes, 0, [&](Header& h) { h.*field = value; }); };
}

std::vector<BadCase> BadCases() {
  return {
      {"NotAnArchive", [](Bytes& b) { b = MakeContent(5000, 3, false); }, "not an MPQ archive"},
      {"EmptyFile", [](Bytes& b) { b.clear(); }, "not an MPQ archive"},
      {"NotAnArchiveLarge", [](Bytes& b) { b = MakeContent(300000, 4, false); },
       "not an MPQ archive"},
      {"SignatureOffBoundary", [](Bytes& b) { b.insert(b.begin(), 1000, std::byte{0}); },
       "not an MPQ archive"},
      {"SignatureTooNearTheEnd",
       [](Bytes& b) {
         b = MakeContent(543, 5, false);  // the 32-byte header at 512 would not fit
         SetU32(b, 512, 0x1A51504D);
       },
       "not an MPQ archive"},
      {"Truncated", [](Bytes& b) { b.resize(b.size() * 3 / 5); }, "lies outside the file"},
      {"HashCountHuge", SetHeader(&Header::hash_count, 0x10000000u),
       "hash table (268435456 entries"},
      {"HashCountZero", SetHeader(&Header::hash_count, 0u), "hash table is empty"},
      {"BlockTablePastEnd", SetHeader(&Header::block_position, 0x7FFFFFF0u), "block table"},
      {"BlockCountHuge", SetHeader(&Header::block_count, 0xFFFFFFFFu), "block table"},
      {"SectorShiftHuge", SetHeader<std::uint16_t>(&Header::sector_shift, 40),
       "sector size shift 40"},
      {"InputMissing", nullptr, "mpqadd: Cannot open file to add \"missing.bin\": No such file",
       "missing.bin"},
      {"InputIsFolder", nullptr, "not a regular file", "."},
  };
}

void PrintTo(const BadCase& c, std::ostream* out) {
  *out << c.label;
}

class BadInput : public MapTest<BadCase> {};

TEST_P(BadInput, FailsWithOneLineAndLeavesArchiveAsItWas) {
  const BadCase& c = GetParam();
  ArchiveRecipe recipe;
  recipe.members = {{"war3map.j", MakeContent(9000, 1)}};
  CreateArchive(archive, recipe);
  Bytes before = ReadBytes(archive);
  if (c.damage) c.damage(before);
  WriteBytes(archive, before);
  WriteBytes(dir / "input.bin", MakeContent(3000, 2));

  const RunResult run = RunTool({"a", archive.string(), c.input, "war3map.wtg"}, dir.path());
  EXPECT_NE(run.exit_code, 0);
  EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  if (c.input == "input.bin") {
    EXPECT_NE(run.err.find(archive.string()), std::string::npos);
  }
  EXPECT_EQ(ReadBytes(archive), before);
}

INSTANTIATE_TEST_SUITE_P(Archives, BadInput, testing::ValuesIn(BadCases()),
                         [](const testing::TestParamInfo<BadCase>& info) {
                           return info.param.label;
                         });

TEST(BadArchivePath, MissingOrFolderOrLocked) {
  TempDir dir;
  WriteBytes(dir / "input.bin", MakeContent(100, 1));
  const auto archive = dir / "map.w3m";
  ArchiveRecipe recipe;
  CreateArchive(archive, recipe);
  const Bytes before = ReadBytes(archive);
  UniqueFd holder(::open(archive.c_str(), O_RDWR));
  ASSERT_TRUE(holder.valid());
  ASSERT_EQ(::flock(holder.get(), LOCK_EX | LOCK_NB), 0);
  struct {
    std::string archive;
    std::string expected;
  } const cases[] = {
      {(dir / "absent.w3m").string(), "mpqadd: Cannot open archive \"" +
                                          (dir / "absent.w3m").string() +
                                          "\": No such file or directory\n"},
      {dir.path().string(), "Cannot open archive"},
      {archive.string(), "mpqadd: Cannot lock archive \"" + archive.string() + "\": "},
  };
  for (const auto& c : cases) {
    const RunResult run = RunTool({"a", c.archive, "input.bin", "x.txt"}, dir.path());
    EXPECT_NE(run.exit_code, 0) << c.archive;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
    EXPECT_NE(run.err.find(c.expected), std::string::npos) << run.err;
  }
  holder.reset();
  EXPECT_EQ(ReadBytes(archive), before);
}

// Root may write to files without write permission, so the archive sits on a read-only mount.
TEST(BadArchivePath, ReadOnlyArchive) {
  TempDir dir;
  WriteBytes(dir / "input.bin", MakeContent(100, 1));
  const auto disk = dir / "disk";
  std::filesystem::create_directory(disk);
  if (::mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const auto archive = disk / "map.w3m";
  CreateArchive(archive, ArchiveRecipe{});
  const Bytes before = ReadBytes(archive);
  const bool read_only =
      ::mount("tmpfs", disk.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=1m") == 0;
  const RunResult run = RunTool({"a", archive.string(), "input.bin", "x.txt"}, dir.path());
  const Bytes after = ReadBytes(archive);
  ::umount(disk.c_str());
  ASSERT_TRUE(read_only);
  EXPECT_NE(run.exit_code, 0);
  EXPECT_NE(run.err.find("Cannot open archive \"" + archive.string() + "\": Read-only file system"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(after, before);
}

TEST(Usage, WrongArgumentsShowUsage) {
  const std::vector<std::vector<std::string>> wrong = {
      {}, {"a"}, {"a", "x.w3m", "f"}, {"x", "x.w3m", "f", "n"}, {"a", "x.w3m", "f", "n", "extra"}};
  for (const auto& args : wrong) {
    const RunResult run = RunTool(args);
    EXPECT_NE(run.exit_code, 0);
    EXPECT_NE(run.err.find("usage: mpqadd a <archive> <file> <name>"), std::string::npos);
  }
  const RunResult help = RunTool({"--help"});
  EXPECT_EQ(help.exit_code, 0);
  EXPECT_EQ(help.err, "");
}

}  // namespace
}  // namespace veltrane::mpq::test
