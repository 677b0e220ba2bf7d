#include <cstdio>
#include <cstdlib>
#include <vector>

#include "archiver/cli.h"

// An exception that escapes every handler ends the program at once. The toolchain's default
// handler would print its type first, and bring along a demangler that is a tenth of the
// program's size.
namespace __gnu_cxx {
void __verbose_terminate_handler() {
  std::abort();
}
}  // namespace __gnu_cxx

// Wide arguments keep every path Unicode; the file layer takes them as they are.
int wmain(int argc, wchar_t** argv) {
  const std::vector<veltrane::mpq::NativePath> args(argv + 1, argv + argc);
  return veltrane::mpq::RunMpqadd(args, stdout, stderr);
}
