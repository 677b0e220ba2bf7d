// Judging a protected copy against its map, against reading both files once (natively, and
// under Wine as the Windows build reads files):
//   bench_judge_copy <map> <copy> <runs>
// Each run reads both files once, from start to end in 1 MiB pieces (the floor any judging
// that reads both must pay), then judges the copy as the verdict does (CheckProtection: the
// tables, every member read back against the map, the search for the old trigger data).
// The files are read once first, so every run finds them in the page cache. Prints:
//   read <median ms> judge <median ms> ratio <judge / read> state <protection> damaged <count>
//   cpu <median processor ms of the reading> <of the judging>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "archiver/file.h"
#include "common/text.h"
#include "job/verdict.h"

namespace {

using veltrane::mpq::ByteSource;

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_judge_copy: %s\n", message.c_str());
  std::exit(1);
}

std::unique_ptr<ByteSource> Open(const std::string& path) {
#ifdef _WIN32
  const veltrane::mpq::NativePath native = veltrane::FromUtf8(path);
#else
  const veltrane::mpq::NativePath native = path;
#endif
  auto source = veltrane::mpq::OpenToRead(native);
  if (!source) Die(source.message());
  return std::move(*source);
}

double NowMs() {
  using namespace std::chrono;
  return duration<double, std::milli>(steady_clock::now().time_since_epoch()).count();
}

// This process's processor time: on a machine shared with other work, the wall time also
// counts the waits for a processor.
double CpuMs() {
  return 1000.0 * static_cast<double>(std::clock()) / CLOCKS_PER_SEC;
}

// Reads the whole file in 1 MiB pieces; the checksum keeps the reads from being left out.
unsigned ReadWhole(ByteSource& source) {
  auto size = source.Size();
  if (!size) Die(size.message());
  std::vector<std::byte> piece(1 << 20);
  unsigned sum = 0;
  for (std::uint64_t at = 0; at < *size; at += piece.size()) {
    const auto part = std::span(piece).first(
        static_cast<std::size_t>(std::min<std::uint64_t>(piece.size(), *size - at)));
    if (auto read = source.ReadAt(at, part); !read) Die(read.message());
    sum += std::to_integer<unsigned>(part.back());
  }
  return sum;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  return values[values.size() / 2];
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: bench_judge_copy <map> <copy> <runs>\n");
    return 2;
  }
  const std::string map_path = argv[1], copy_path = argv[2];
  const int runs = std::max(1, std::atoi(argv[3]));
  auto map = Open(map_path);
  auto copy = Open(copy_path);
  unsigned sum = ReadWhole(*map) + ReadWhole(*copy);
  std::vector<double> reads, judges, read_cpu, judge_cpu;
  veltrane::ProtectionCheck check;
  for (int i = 0; i < runs; ++i) {
    double start = NowMs(), cpu = CpuMs();
    sum += ReadWhole(*map) + ReadWhole(*copy);
    reads.push_back(NowMs() - start);
    read_cpu.push_back(CpuMs() - cpu);
    start = NowMs(), cpu = CpuMs();
    check = veltrane::CheckProtection(*copy, veltrane::FromUtf8(copy_path), map.get(),
                                      veltrane::FromUtf8(map_path));
    judges.push_back(NowMs() - start);
    judge_cpu.push_back(CpuMs() - cpu);
  }
  if (!check.why_not_compared.empty()) Die(check.why_not_compared);
  const double read = Median(reads), judge = Median(judges);
  std::printf("read %.1f judge %.1f ratio %.2f state %d damaged %zu cpu %.1f %.1f (sum %u)\n", read,
              judge, judge / read, static_cast<int>(check.state), check.damaged.size(),
              Median(read_cpu), Median(judge_cpu), sum & 1);
  return 0;
}
