// The whole job against a plain copy of the same map, both launched as a minimized batch
// script through the job's own Win32 host and timed the same way:
//   bench_job_vs_copy <archiver.exe> <work folder> <repetitions> <map>...
// Job: RunJob with the real host, from its return until the destination is in place and
// the scratch map c:\temp.w3m is gone. Copy: a script holding only "copy <map> <dest>",
// launched by the same host call, from the launch's return until the destination has the
// map's size and no writer holds it. Runs alternate which goes first. Prints per map:
//   map <path> <bytes> job <median ms> copy <median ms> checked <yes|no> copied <median ms>
// where "checked" says the job's last destination is an archive whose war3map.wtg is empty,
// and "copied" is the part of the job until its scratch copy had the map's full size (-1 when
// the poll never saw it so: a small map's copy can come and go between two polls).
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <span>
#include <string>
#include <vector>

#include "archiver/archive.h"
#include "bench/job/bench_clock_win.h"
#include "common/text.h"
#include "job/job_host_win.h"
#include "job/run_job.h"

namespace {

using veltrane::bench::NowMs;

constexpr double kTimeoutMs = 300000;
const std::wstring kScratch(veltrane::kScratchMap);

[[noreturn]] void Die(const std::string& message) {
  std::fprintf(stderr, "bench_job_vs_copy: %s\n", message.c_str());
  std::exit(1);
}

// Whether the file is an archive whose war3map.wtg member is empty.
bool PlaceholderIsEmpty(const std::wstring& path) {
  HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                            FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  bool empty = false;
  LARGE_INTEGER size;
  HANDLE mapping = CreateFileMappingW(file, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (GetFileSizeEx(file, &size) && mapping != nullptr) {
    if (const void* view = MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, 0)) {
      const std::span bytes(static_cast<const std::byte*>(view),
                            static_cast<size_t>(size.QuadPart));
      if (auto archive = veltrane::mpq::ParseArchive(bytes, "destination")) {
        if (auto slot = veltrane::mpq::FindMember(*archive, "war3map.wtg")) {
          const auto block = archive->hashes[*slot].block;
          empty = block < archive->blocks.size() && archive->blocks[block].size == 0;
        }
      }
      UnmapViewOfFile(view);
    }
  }
  if (mapping != nullptr) CloseHandle(mapping);
  CloseHandle(file);
  return empty;
}

class Bench {
 public:
  Bench(std::wstring archiver, const std::wstring& work)
      : archiver_(std::move(archiver)),
        program_folder_(work + L"\\job"),
        copy_folder_(work + L"\\copy"),
        job_destination_(work + L"\\out-job.w3m"),
        copy_destination_(work + L"\\out-copy.w3m"),
        copy_script_(copy_folder_ + L"\\copy.bat") {
    CreateDirectoryW(program_folder_.c_str(), nullptr);
    CreateDirectoryW(copy_folder_.c_str(), nullptr);
  }

  // The whole job's time, and within it the time until the scratch map has the map's full
  // size: the script's start and its copy step. The rest is the archiver and the move.
  struct JobTimes {
    double total;
    double copied;
  };

  JobTimes Job(const std::wstring& map) {
    Clear();
    const std::int64_t size = veltrane::bench::SizeOf(map);
    const veltrane::JobPaths paths{archiver_, map, job_destination_, program_folder_};
    if (auto ran = veltrane::RunJob(paths, host_); !ran) Die(ran.message());
    const double launched = NowMs();
    double copied = -1;
    const double done = veltrane::bench::WaitUntil(
        [&] {
          if (copied < 0 && veltrane::bench::SizeOf(kScratch) == size) copied = NowMs();
          return !veltrane::bench::Exists(kScratch) && veltrane::bench::Exists(job_destination_) &&
                 veltrane::bench::ClosedByWriters(job_destination_);
        },
        kTimeoutMs);
    if (done < 0) Die("the job did not finish for " + veltrane::ToUtf8(map));
    return {done - launched, copied < 0 ? -1 : copied - launched};
  }

  double Copy(const std::wstring& map) {
    Clear();
    const std::int64_t size = veltrane::bench::SizeOf(map);
    auto script =
        host_.EncodeForScript(L"@echo off\r\ncopy \"" + map + L"\" \"" + copy_destination_ + L"\"");
    if (!script) Die(script.message());
    if (auto written = host_.WriteFile(copy_script_, *script); !written) Die(written.message());
    if (auto launched = host_.LaunchScript(copy_script_, copy_folder_); !launched) {
      Die(launched.message());
    }
    const double launched = NowMs();
    const double done = veltrane::bench::WaitUntil(
        [&] {
          return veltrane::bench::SizeOf(copy_destination_) == size &&
                 veltrane::bench::ClosedByWriters(copy_destination_);
        },
        kTimeoutMs);
    if (done < 0) Die("the copy did not finish for " + veltrane::ToUtf8(map));
    return done - launched;
  }

  bool JobResultChecked() { return PlaceholderIsEmpty(job_destination_); }

  // Removes the previous run's outputs and waits until its scripts have ended.
  void Clear() {
    for (const std::wstring& script : {program_folder_ + L"\\temp.bat", copy_script_}) {
      if (veltrane::bench::WaitUntil([&] { return veltrane::bench::Released(script); }, 20000) <
          0) {
        Die("a script stayed open: " + veltrane::ToUtf8(script));
      }
    }
    for (const std::wstring& path : {job_destination_, copy_destination_, kScratch}) {
      if (!veltrane::bench::Remove(path)) Die("cannot delete " + veltrane::ToUtf8(path));
    }
  }

 private:
  veltrane::Win32JobHost host_;
  std::wstring archiver_;
  std::wstring program_folder_;
  std::wstring copy_folder_;
  std::wstring job_destination_;
  std::wstring copy_destination_;
  std::wstring copy_script_;
};

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc < 5) {
    std::fprintf(stderr,
                 "usage: bench_job_vs_copy <archiver.exe> <work folder> <repetitions> <map>...\n");
    return 2;
  }
  const int repetitions = _wtoi(argv[3]);
  Bench bench(argv[1], argv[2]);
  for (int m = 4; m < argc; ++m) {
    const std::wstring map = argv[m];
    std::vector<double> job, job_copied, copy;
    const auto run_job = [&] {
      const auto times = bench.Job(map);
      job.push_back(times.total);
      if (times.copied >= 0) job_copied.push_back(times.copied);
      return bench.JobResultChecked();
    };
    bool checked = false;
    for (int i = 0; i < repetitions; ++i) {
      // Alternating the order keeps either side from always finding the other's cache state.
      if (i % 2 == 0) {
        checked = run_job();
        copy.push_back(bench.Copy(map));
      } else {
        copy.push_back(bench.Copy(map));
        checked = run_job();
      }
      if (!checked) Die("the job's destination has no empty war3map.wtg: " + veltrane::ToUtf8(map));
    }
    bench.Clear();
    std::printf("map %s %lld job %.1f copy %.1f checked %s copied %.1f\n",
                veltrane::ToUtf8(map).c_str(), static_cast<long long>(veltrane::bench::SizeOf(map)),
                veltrane::bench::Median(job), veltrane::bench::Median(copy), checked ? "yes" : "no",
                job_copied.empty() ? -1.0 : veltrane::bench::Median(job_copied));
    std::fflush(stdout);
  }
  return 0;
}
