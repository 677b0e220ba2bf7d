#include "archiver/cli.h"

#include <new>
#include <stdexcept>

#include "archiver/file.h"
#include "archiver/update.h"

namespace veltrane::mpq {
namespace {

constexpr const char* kUsage =
    "usage: mpqadd a <archive> <file> <name>\n"
    "  Stores the content of <file> in the MPQ archive <archive> under <name>, replacing\n"
    "  the member of that name if there is one (names compare case-insensitively, '/'\n"
    "  equals '\\'). The archive is updated in place; on failure it is left unchanged.\n";

int Add(const std::string& archive, const std::string& file, const std::string& name,
        std::ostream& err) {
  auto input = ReadInputFile(PathFromUtf8(file));
  if (!input) {
    err << "mpqadd: " << input.message() << "\n";
    return 1;
  }
  auto handle = OpenArchiveFile(PathFromUtf8(archive));
  if (!handle) {
    err << "mpqadd: " << handle.message() << "\n";
    return 1;
  }
  auto done = AddToArchive(**handle, name, *input, archive);
  if (!done) {
    err << "mpqadd: " << done.message() << "\n";
    return 1;
  }
  return 0;
}

}  // namespace

int RunMpqadd(std::span<const std::string> args, std::ostream& out, std::ostream& err) {
  if (args.size() == 1 && (args[0] == "--help" || args[0] == "-h" || args[0] == "/?")) {
    out << kUsage;
    return 0;
  }
  if (args.size() == 4 && (args[0] == "a" || args[0] == "A")) {
    try {
      return Add(args[1], args[2], args[3], err);
    } catch (const std::bad_alloc&) {
      // Everything is built in memory before the first write, so the archive is untouched.
      err << "mpqadd: cannot update archive '" << args[1] << "': out of memory\n";
      return 1;
    } catch (const std::length_error&) {
      // A 32-bit process cannot hold a buffer of 2 GiB or more; nothing was written yet.
      err << "mpqadd: cannot update archive '" << args[1]
          << "': a file or member is too large for this program's memory\n";
      return 1;
    }
  }
  err << kUsage;
  return 2;
}

}  // namespace veltrane::mpq
