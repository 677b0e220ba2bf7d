// Stands in for the archiver in the job's Wine tests. It records how it was called (its
// arguments and the current folder, one per line in UTF-8, in "archiver-call.txt" beside
// itself) and, like "a <archive> <file> <name>", appends the named file's bytes and a
// marker to the archive, so a test can see that the copy came before it and the move after.
// Copied under a name with "idle" in it, it changes nothing and still exits 0, as an archiver
// that fails without saying so; with "slow" in it, it first waits until a file "release"
// is beside it (a test makes it when the job may end; at most two minutes). With
// "hiding" in it, it empties war3map.wtg in the block table and leaves the old stored bytes
// where they were, as an archiver that does not clear the space an update frees. With
// "damaging" in it, it runs the mpqadd.exe beside it with its own arguments and then flips
// one byte inside war3map.j's stored data, as an archiver that damages another member.
#include <windows.h>

#include <shellapi.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>

#include "archiver/archive.h"
#include "archiver/crypt.h"
#include "archiver/file.h"
#include "common/text.h"
#include "tests/job/win_files.h"

namespace {

std::wstring CurrentFolder() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetCurrentDirectoryW(MAX_PATH, path);
  return std::wstring(path, length);
}

// The scratch map opened for writing, with its tables; nothing when either fails.
struct Scratch {
  std::unique_ptr<veltrane::mpq::ArchiveFile> file;
  veltrane::mpq::Archive archive;
};

std::optional<Scratch> OpenScratch(const std::wstring& archive_path) {
  auto file = veltrane::mpq::OpenArchiveFile(archive_path);
  if (!file) return std::nullopt;
  auto archive = veltrane::mpq::ParseArchive(**file, "scratch map");
  if (!archive) return std::nullopt;
  return Scratch{std::move(*file), std::move(*archive)};
}

// Every war3map.wtg entry's block made empty, the block table written back in its place.
int HideTriggers(const std::wstring& archive_path) {
  using namespace veltrane::mpq;
  auto scratch = OpenScratch(archive_path);
  if (!scratch) return 6;
  Archive& archive = scratch->archive;
  std::byte field[4];
  if (!scratch->file->ReadAt(archive.header_offset + 20, field)) return 8;  // block table position
  const std::uint32_t a = HashName("war3map.wtg", HashKind::kNameA);
  const std::uint32_t b = HashName("war3map.wtg", HashKind::kNameB);
  for (const HashEntry& entry : archive.hashes) {
    if (entry.name_a != a || entry.name_b != b || entry.block >= archive.blocks.size()) continue;
    archive.blocks[entry.block].size = 0;
    archive.blocks[entry.block].packed_size = 0;
  }
  const auto table = EncodeBlockTable(archive);
  if (!scratch->file->WriteAt(archive.Absolute(LoadLe32(field)), table)) return 9;
  return 0;
}

// One byte in the middle of war3map.j's stored data inverted.
int DamageScript(const std::wstring& archive_path) {
  using namespace veltrane::mpq;
  auto scratch = OpenScratch(archive_path);
  if (!scratch) return 10;
  const Archive& archive = scratch->archive;
  const auto slot = FindMember(archive, "war3map.j");
  if (!slot) return 12;
  const BlockEntry& block = archive.blocks[archive.hashes[*slot].block];
  const std::uint64_t at = archive.Absolute(block.position) + block.packed_size / 2;
  std::byte value[1];
  if (!scratch->file->ReadAt(at, value)) return 13;
  value[0] = ~value[0];
  return scratch->file->WriteAt(at, value) ? 0 : 14;
}

// Runs the mpqadd.exe in this program's folder with `arguments` and gives its exit code.
int RunMpqadd(const std::wstring& arguments) {
  const std::wstring program = veltrane::testing::OwnFolder() + L"\\mpqadd.exe";
  std::wstring command = L"\"" + program + L"\" " + arguments;
  STARTUPINFOW startup{};
  startup.cb = sizeof(startup);
  PROCESS_INFORMATION process{};
  if (!CreateProcessW(program.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &startup, &process)) {
    return 15;
  }
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 16;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
  return static_cast<int>(code);
}

}  // namespace

std::wstring OwnName() {
  wchar_t path[MAX_PATH];
  const DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
  const std::wstring full(path, length);
  return full.substr(full.find_last_of(L'\\') + 1);
}

// Waits until the test lets the job end: a fixed time could run out before a busy machine
// got through the test's steps.
void WaitForRelease() {
  const std::wstring release = veltrane::testing::OwnFolder() + L"\\release";
  const ULONGLONG deadline = GetTickCount64() + 120000;
  while (GetFileAttributesW(release.c_str()) == INVALID_FILE_ATTRIBUTES &&
         GetTickCount64() < deadline) {
    Sleep(50);
  }
}

int wmain() {
  const std::wstring name = OwnName();
  if (name.find(L"slow") != std::wstring::npos) WaitForRelease();
  if (name.find(L"idle") != std::wstring::npos) return 0;
  int count = 0;
  wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr) return 3;
  std::ofstream record(
      std::filesystem::path(veltrane::testing::OwnFolder() + L"\\archiver-call.txt"),
      std::ios::binary);
  for (int i = 1; i < count; ++i) record << veltrane::ToUtf8(args[i]) << "\n";
  record << "cwd=" << veltrane::ToUtf8(CurrentFolder()) << "\n";
  if (count != 5) return 2;
  if (name.find(L"hiding") != std::wstring::npos) return HideTriggers(args[2]);
  if (name.find(L"damaging") != std::wstring::npos) {
    const int added =
        RunMpqadd(L"a \"" + std::wstring(args[2]) + L"\" \"" + args[3] + L"\" " + args[4]);
    return added != 0 ? added : DamageScript(args[2]);
  }

  std::ifstream added(std::filesystem::path(args[3]), std::ios::binary);
  if (!added) return 4;
  const std::string content((std::istreambuf_iterator<char>(added)), {});
  std::ofstream archive(std::filesystem::path(args[2]), std::ios::binary | std::ios::app);
  archive << content << "|added " << veltrane::ToUtf8(args[4]) << " (" << content.size()
          << " bytes)";
  return archive ? 0 : 5;
}
