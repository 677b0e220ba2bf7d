// Interruptions: a write or flush failing at each point in turn, a full disk, and a real
// mpqadd killed at random moments. The archive reads exactly as before or exactly as after.
#include <StormLib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <random>
#include <thread>

#include "archiver/file.h"
#include "archiver/update.h"
#include "storm_fixture.h"

namespace veltrane::mpq::test {
namespace {

// Passes calls through to the real file, failing the `fail_at`-th write or flush.
class FailingFile final : public ArchiveFile {
 public:
  FailingFile(ArchiveFile& real, int fail_write_at, int fail_flush_at)
      : real_(real), fail_write_at_(fail_write_at), fail_flush_at_(fail_flush_at) {}
  Result<std::uint64_t> Size() override { return real_.Size(); }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    return real_.ReadAt(offset, out);
  }
  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    if (++writes_ == fail_write_at_) return Fail("cannot write archive: injected failure");
    return real_.WriteAt(offset, data);
  }
  Result<void> Flush() override {
    if (++flushes_ == fail_flush_at_) return Fail("cannot flush archive: injected failure");
    return real_.Flush();
  }
  Result<void> Truncate(std::uint64_t size) override { return real_.Truncate(size); }

 private:
  ArchiveFile& real_;
  int fail_write_at_;
  int fail_flush_at_;
  int writes_ = 0;
  int flushes_ = 0;
};

// Passes calls through to the real file and records each write (offset and size) and flush.
class RecordingFile final : public ArchiveFile {
 public:
  struct Event {
    std::uint64_t offset = 0;
    std::size_t size = 0;  // 0: a flush
  };
  explicit RecordingFile(ArchiveFile& real) : real_(real) {}
  Result<std::uint64_t> Size() override { return real_.Size(); }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    return real_.ReadAt(offset, out);
  }
  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    events.push_back({offset, data.size()});
    return real_.WriteAt(offset, data);
  }
  Result<void> Flush() override {
    events.push_back({});
    return real_.Flush();
  }
  Result<void> Truncate(std::uint64_t size) override { return real_.Truncate(size); }
  std::vector<Event> events;

 private:
  ArchiveFile& real_;
};

ArchiveRecipe SmallMap() {
  ArchiveRecipe recipe;
  recipe.members = {{"war3map.j", MakeContent(30000, 1)},
                    {"war3map.wts", MakeContent(9000, 2), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED}};
  return recipe;
}

TEST(Crash, FailingEachWriteAndFlushLeavesArchiveByteIdentical) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  CreateArchive(archive, SmallMap());
  const Bytes before = ReadBytes(archive);
  InputFile input{MakeContent(20000, 3), 133000000000000000ull};
  for (bool flushes : {false, true}) {
    int step = 1;
    for (;; ++step) {
      auto real = OpenArchiveFile(archive.string());
      ASSERT_TRUE(real.ok()) << real.message();
      FailingFile failing(**real, flushes ? 0 : step, flushes ? step : 0);
      auto done = AddToArchive(failing, "war3map.j", input, archive.string());
      real->reset();
      if (done) break;
      EXPECT_NE(done.message().find("injected failure"), std::string::npos);
      ASSERT_EQ(ReadBytes(archive), before)
          << "after failing at " << (flushes ? "flush " : "write ") << step;
    }
    EXPECT_GE(step, 3);  // the tail and the header are separate writes, each flushed
    EXPECT_EQ(StormRead(archive, "war3map.j"), input.content);
    WriteBytes(archive, before);
  }
}

// The crash-safety promise in the order of calls: everything new lands past the old end and is
// flushed, then the header is written in one write and flushed, and nothing comes after.
TEST(Crash, HeaderIsWrittenLastAfterTheFlushedTail) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  ArchiveRecipe recipe = SmallMap();
  CreateArchive(archive, recipe);
  const Bytes preamble(1024, std::byte{0x48});
  Bytes bytes = preamble;
  const Bytes fresh = ReadBytes(archive);
  bytes.insert(bytes.end(), fresh.begin(), fresh.end());
  WriteBytes(archive, bytes);
  auto real = OpenArchiveFile(archive.string());
  ASSERT_TRUE(real.ok()) << real.message();
  RecordingFile recording(**real);
  const InputFile input{MakeContent(20000, 3), 1};
  ASSERT_TRUE(AddToArchive(recording, "war3map.wtg", input, archive.string()).ok());

  const auto& events = recording.events;
  ASSERT_GE(events.size(), 4u);
  const auto& header = events[events.size() - 2];
  EXPECT_EQ(header.offset, preamble.size());
  EXPECT_EQ(header.size, 32u);
  EXPECT_EQ(events.back().size, 0u) << "the header write is flushed";
  EXPECT_EQ(events[events.size() - 3].size, 0u) << "the tail is flushed before the header";
  for (std::size_t i = 0; i + 3 < events.size(); ++i) {
    EXPECT_TRUE(events[i].size == 0 || events[i].offset >= bytes.size())
        << "write " << i << " at " << events[i].offset << " lands inside the old archive";
  }
}

// A full disk: an archive on a tiny tmpfs and more data than fits.
TEST(Crash, FullDiskLeavesArchiveByteIdentical) {
  TempDir dir;
  const auto mount_point = dir / "disk";
  std::filesystem::create_directory(mount_point);
  if (::mount("tmpfs", mount_point.c_str(), "tmpfs", 0, "size=192k") != 0) {
    GTEST_SKIP() << "cannot mount a tmpfs here";
  }
  const auto archive = mount_point / "map.w3m";
  CreateArchive(archive, SmallMap());
  const Bytes before = ReadBytes(archive);
  WriteBytes(dir / "big.bin", MakeContent(400000, 4, false));
  const RunResult run = RunTool({"a", archive.string(), "big.bin", "war3map.wtg"}, dir.path());
  const Bytes after = ReadBytes(archive);
  ::umount(mount_point.c_str());
  EXPECT_NE(run.exit_code, 0);
  EXPECT_NE(run.err.find("No space left on device"), std::string::npos) << run.err;
  EXPECT_EQ(after, before);
}

// Kills a real mpqadd at random moments; the archive must then read as before or as after.
TEST(Crash, KilledProcessLeavesArchiveBeforeOrAfter) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  const ArchiveRecipe recipe = SmallMap();
  CreateArchive(archive, recipe);
  const Bytes original = ReadBytes(archive);
  const Bytes input = MakeContent(3 << 20, 5);
  WriteBytes(dir / "input.bin", input);

  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(RunTool({"a", archive.string(), "input.bin", "war3map.j"}, dir.path()).exit_code, 0);
  const auto full_run = std::chrono::steady_clock::now() - start;
  std::mt19937 random(7);
  int before_count = 0, after_count = 0;
  for (int round = 0; round < 12; ++round) {
    WriteBytes(archive, original);
    const pid_t child = ::fork();
    if (child == 0) {
      ::chdir(dir.path().c_str());
      ::execl(MPQADD_PATH, MPQADD_PATH, "a", archive.c_str(), "input.bin", "war3map.j", nullptr);
      ::_exit(127);
    }
    std::this_thread::sleep_for(full_run * (40 + random() % 80) / 100);  // some finish
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    const auto j = StormRead(archive, "war3map.j");
    ASSERT_TRUE(j.has_value()) << "round " << round;
    if (*j == input) {
      ++after_count;
    } else {
      ASSERT_EQ(*j, recipe.members[0].content) << "round " << round;
      ++before_count;
    }
    EXPECT_EQ(StormRead(archive, "war3map.wts"), recipe.members[1].content) << "round " << round;
    EXPECT_EQ(StormVerify(archive, "war3map.j"), 0u) << "round " << round;
  }
  RecordProperty("killed_before", before_count);
  RecordProperty("killed_after", after_count);
}

}  // namespace
}  // namespace veltrane::mpq::test
