// Interruptions: a write or flush failing at each point in turn, a full disk, and a real
// mpqadd killed at random moments. The archive reads exactly as before or exactly as after.
#include <StormLib.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <functional>
#include <new>
#include <optional>
#include <random>
#include <thread>

#include "archiver/file.h"
#include "archiver/update.h"
#include "storm_fixture.h"

namespace veltrane::mpq::test {
namespace {

// A write, flush or cut that the update asks of the file.
struct FileCall {
  enum Kind { kWrite, kFlush, kCut } kind = kFlush;
  std::uint64_t offset = 0;  // of a write, or the size a cut leaves
  std::span<const std::byte> data;
};

// Passes every call through to the real file, but lets `decide` see each write, flush and
// cut first: when it returns a result, that result stands for the call, which is not passed.
class InterposedFile final : public ArchiveFile {
 public:
  using Decide = std::function<std::optional<Result<void>>(const FileCall&)>;
  InterposedFile(ArchiveFile& real, Decide decide) : real_(real), decide_(std::move(decide)) {}
  Result<std::uint64_t> Size() override { return real_.Size(); }
  Result<void> ReadAt(std::uint64_t offset, std::span<std::byte> out) override {
    return real_.ReadAt(offset, out);
  }
  Result<void> WriteAt(std::uint64_t offset, std::span<const std::byte> data) override {
    if (auto decided = decide_({FileCall::kWrite, offset, data})) return *decided;
    return real_.WriteAt(offset, data);
  }
  Result<void> Flush() override {
    if (auto decided = decide_({FileCall::kFlush, 0, {}})) return *decided;
    return real_.Flush();
  }
  Result<void> Truncate(std::uint64_t size) override {
    if (auto decided = decide_({FileCall::kCut, size, {}})) return *decided;
    return real_.Truncate(size);
  }

 private:
  ArchiveFile& real_;
  Decide decide_;
};

// Fails the `fail_write_at`-th write or the `fail_flush_at`-th flush (counting from 1).
InterposedFile::Decide FailAt(int fail_write_at, int fail_flush_at) {
  return [=, writes = 0, flushes = 0](const FileCall& call) mutable -> std::optional<Result<void>> {
    if (call.kind == FileCall::kWrite && ++writes == fail_write_at) {
      return Fail("cannot write archive: injected failure");
    }
    if (call.kind == FileCall::kFlush && ++flushes == fail_flush_at) {
      return Fail("cannot flush archive: injected failure");
    }
    return std::nullopt;
  };
}

ArchiveRecipe SmallMap() {
  ArchiveRecipe recipe;
  recipe.members = {{"war3map.j", MakeContent(30000, 1)},
                    {"war3map.wts", MakeContent(9000, 2), MPQ_FILE_COMPRESS | MPQ_FILE_ENCRYPTED}};
  return recipe;
}

// A failure in the commit restores the file byte for byte; one after it, while settling,
// leaves the committed archive.
TEST(Crash, FailingEachWriteAndFlushLeavesArchiveBeforeOrAfter) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  CreateArchive(archive, SmallMap());
  const Bytes before = ReadBytes(archive);
  InputFile input{MakeContent(20000, 3), 133000000000000000ull};
  for (bool flushes : {false, true}) {
    int step = 1, restored = 0;
    for (;; ++step) {
      auto real = OpenArchiveFile(archive.string());
      ASSERT_TRUE(real.ok()) << real.message();
      InterposedFile failing(**real, FailAt(flushes ? 0 : step, flushes ? step : 0));
      auto done = AddToArchive(failing, "war3map.j", input, archive.string());
      real->reset();
      if (done) break;
      EXPECT_NE(done.message().find("injected failure"), std::string::npos);
      const std::string at = (flushes ? "flush " : "write ") + std::to_string(step);
      if (ReadBytes(archive) == before) {
        ++restored;
      } else {
        EXPECT_EQ(StormRead(archive, "war3map.j"), input.content) << at;
        EXPECT_EQ(StormVerify(archive, "war3map.j"), 0u) << at;
      }
      WriteBytes(archive, before);
    }
    EXPECT_GE(restored, 2);  // the tail and the header are separate writes, each flushed
    EXPECT_GT(step - 1, restored) << "settling fails too";
    EXPECT_EQ(StormRead(archive, "war3map.j"), input.content);
    WriteBytes(archive, before);
  }
}

// mpqadd says memory ran out before anything was written: so every write of the commit and
// of settling comes from a buffer the plan made, and neither step makes one of its own.
TEST(Crash, EveryWriteComesFromABufferOfThePlan) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  CreateArchive(archive, SmallMap());
  auto real = OpenArchiveFile(archive.string());
  ASSERT_TRUE(real.ok()) << real.message();
  const InputFile input{MakeContent(20000, 3), 133000000000000000ull};
  auto plan = PlanAdd(**real, "war3map.j", input, archive.string());
  ASSERT_TRUE(plan.ok()) << plan.message();
  std::vector<std::span<const std::byte>> buffers(plan->pieces.begin(), plan->pieces.end());
  for (const auto* buffer : {&plan->staged_block_table, &plan->settled_block_table, &plan->zeros}) {
    buffers.emplace_back(*buffer);
  }
  for (const auto* header : {&plan->staged_header, &plan->settled_header}) {
    buffers.emplace_back(*header);
  }
  std::vector<std::uint64_t> strays;
  InterposedFile watched(**real, [&](const FileCall& call) -> std::optional<Result<void>> {
    const auto inside = [&](std::span<const std::byte> buffer) {
      return call.data.data() >= buffer.data() &&
             call.data.data() + call.data.size() <= buffer.data() + buffer.size();
    };
    if (call.kind == FileCall::kWrite && std::none_of(buffers.begin(), buffers.end(), inside)) {
      strays.push_back(call.offset);
    }
    return std::nullopt;
  });
  ASSERT_TRUE(Commit(watched, *plan).ok());
  real->reset();
  EXPECT_TRUE(strays.empty()) << "a write at " << strays.front() << " from a buffer of its own";
  EXPECT_EQ(StormRead(archive, "war3map.j"), input.content);
}

// The map with a preamble, as maps have, and its bytes.
Bytes MapWithPreamble(const std::filesystem::path& archive, std::size_t preamble) {
  CreateArchive(archive, SmallMap());
  Bytes bytes(preamble, std::byte{0x48});
  const Bytes fresh = ReadBytes(archive);
  bytes.insert(bytes.end(), fresh.begin(), fresh.end());
  WriteBytes(archive, bytes);
  return bytes;
}

// The crash-safety promise in the order of calls. The commit: everything new lands past the
// old end and is flushed, then the header is written in one write and flushed. Settling:
// zeros and the moved pieces land in the old archive past its header and are flushed, then
// the header, a flush, the cut (never below the old size) and a flush.
TEST(Crash, HeadersComeAfterTheirDurableWrites) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  const std::size_t preamble = 1024;
  const Bytes bytes = MapWithPreamble(archive, preamble);
  auto real = OpenArchiveFile(archive.string());
  ASSERT_TRUE(real.ok()) << real.message();
  struct Event {
    std::uint64_t offset = 0;  // of a write, or the size a cut leaves
    std::size_t size = 0;      // 0: a flush or a cut
    bool zeros = false;        // a write of zeros only
    bool cut = false;
  };
  std::vector<Event> events;
  InterposedFile recording(**real, [&](const FileCall& call) {
    const bool zeros = std::all_of(call.data.begin(), call.data.end(),
                                   [](std::byte b) { return b == std::byte{0}; });
    events.push_back({call.offset, call.data.size(), zeros && call.kind == FileCall::kWrite,
                      call.kind == FileCall::kCut});
    return std::optional<Result<void>>();
  });
  const InputFile input{MakeContent(20000, 3), 1};
  ASSERT_TRUE(AddToArchive(recording, "war3map.j", input, archive.string()).ok());

  std::vector<std::size_t> headers;
  for (std::size_t i = 0; i < events.size(); ++i) {
    if (events[i].size != 0 && events[i].offset == preamble) headers.push_back(i);
  }
  ASSERT_EQ(headers.size(), 2u);
  for (std::size_t header : headers) {
    EXPECT_EQ(events[header].size, 32u);
    EXPECT_EQ(events[header - 1].size, 0u) << "the writes before the header are flushed";
    EXPECT_EQ(events[header + 1].size, 0u) << "the header write is flushed";
  }
  ASSERT_EQ(events.size(), headers[1] + 4);
  const auto& cut = events[headers[1] + 2];
  EXPECT_TRUE(cut.cut);
  EXPECT_GE(cut.offset, bytes.size());
  EXPECT_EQ(events.back().size, 0u) << "the cut is flushed";
  bool zeros = false;
  for (std::size_t i = 0; i < headers[1]; ++i) {
    const auto& e = events[i];
    if (e.size == 0 || i == headers[0]) continue;
    EXPECT_GE(e.offset, preamble + 32) << "write " << i;
    if (i < headers[0]) {
      EXPECT_GE(e.offset, bytes.size()) << "write " << i << " lands inside the old archive";
    } else {
      EXPECT_LE(e.offset + e.size, cut.offset) << "write " << i << " lands past the cut";
    }
    zeros = zeros || (e.zeros && i > headers[0]);
  }
  EXPECT_TRUE(zeros) << "the freed bytes are cleared after the commit";
}

// A kill after each write or cut in turn: the archive reads as before or as after.
TEST(Crash, KilledAtEachStepLeavesArchiveBeforeOrAfter) {
  TempDir dir;
  const auto archive = dir / "map.w3m";
  const Bytes before = MapWithPreamble(archive, 512);
  const ArchiveRecipe recipe = SmallMap();
  const InputFile input{MakeContent(20000, 3), 1};
  int after_count = 0;
  for (int kept = 0;; ++kept) {
    WriteBytes(archive, before);
    auto real = OpenArchiveFile(archive.string());
    ASSERT_TRUE(real.ok()) << real.message();
    // Writes and cuts after the first `kept` are lost, as in a kill at that moment, though
    // the update is told they succeeded.
    int calls = 0;
    InterposedFile killed(**real, [&](const FileCall& call) -> std::optional<Result<void>> {
      if (call.kind == FileCall::kFlush || ++calls <= kept) return std::nullopt;
      return Result<void>();
    });
    ASSERT_TRUE(AddToArchive(killed, "war3map.j", input, archive.string()).ok());
    real->reset();
    const auto j = StormRead(archive, "war3map.j");
    ASSERT_TRUE(j.has_value()) << "killed after " << kept;
    if (*j == input.content) ++after_count;
    if (*j != input.content) {
      EXPECT_EQ(*j, recipe.members[0].content) << "killed after " << kept;
    }
    EXPECT_EQ(StormRead(archive, "war3map.wts"), recipe.members[1].content) << kept;
    EXPECT_EQ(StormVerify(archive, "war3map.j"), 0u) << "killed after " << kept;
    EXPECT_EQ(StormVerify(archive, "(attributes)"), 0u) << "killed after " << kept;
    if (calls <= kept) break;
  }
  EXPECT_GE(after_count, 3) << "kills while settling leave the committed archive";
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
