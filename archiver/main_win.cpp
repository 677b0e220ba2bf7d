#include <cstdio>
#include <vector>

#include "archiver/cli.h"

// Wide arguments keep every path Unicode; the file layer takes them as they are.
int wmain(int argc, wchar_t** argv) {
  const std::vector<veltrane::mpq::NativePath> args(argv + 1, argv + argc);
  return veltrane::mpq::RunMpqadd(args, stdout, stderr);
}
