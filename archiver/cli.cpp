#include "archiver/cli.h"

#include <new>
#include <stdexcept>
#include <string>

#include "archiver/update.h"

namespace veltrane::mpq {
namespace {

constexpr const char* kUsage =
    "usage: mpqadd a <archive> <file> <name>\n"
    "  Stores the content of <file> in the MPQ archive <archive> under <name>, replacing\n"
    "  the member of that name if there is one (names compare case-insensitively, '/'\n"
    "  equals '\\'). The archive is updated in place; on failure it is left unchanged\n"
    "  (or, when only the clearing after the update fails, updated).\n"
    "  Every locale of <name> gets the new content. The bytes the update frees are zeroed\n"
    "  or reused, so no trace of the old member or tables is left and the archive grows\n"
    "  only by what does not fit there.\n";

// One failure line, in the common form after the program's name.
int Report(std::FILE* err, const std::string& message) {
  std::fprintf(err, "mpqadd: %s\n", message.c_str());
  return 1;
}

int Add(const NativePath& archive, const NativePath& file, const std::string& name,
        std::FILE* err) {
  auto input = ReadInputFile(file);
  if (!input) return Report(err, input.message());
  auto handle = OpenArchiveFile(archive);
  if (!handle) return Report(err, handle.message());
  auto done = AddToArchive(**handle, name, *input, NativeToUtf8(archive));
  if (!done) return Report(err, done.message());
  return 0;
}

}  // namespace

int RunMpqadd(std::span<const NativePath> args, std::FILE* out, std::FILE* err) {
  const std::string command = args.size() == 1 || args.size() == 4 ? NativeToUtf8(args[0]) : "";
  if (args.size() == 1 && (command == "--help" || command == "-h" || command == "/?")) {
    std::fputs(kUsage, out);
    return 0;
  }
  if (args.size() == 4 && (command == "a" || command == "A")) {
    const std::string archive = NativeToUtf8(args[1]);
    try {
      return Add(args[1], args[2], NativeToUtf8(args[3]), err);
    } catch (const std::bad_alloc&) {
      // Every buffer the update writes from is made while planning, before the first write.
      return Report(err, CannotOn("update archive", archive,
                                  "out of memory before anything was written; the archive is as "
                                  "it was")
                             .message);
    } catch (const std::length_error&) {
      // A 32-bit process cannot hold a buffer of 2 GiB or more; nothing was written yet.
      return Report(err, CannotOn("update archive", archive,
                                  "a file or member is too large for this program's memory")
                             .message);
    }
  }
  std::fputs(kUsage, err);
  return 2;
}

}  // namespace veltrane::mpq
