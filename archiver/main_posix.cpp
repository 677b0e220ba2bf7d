#include <cstdio>
#include <vector>

#include "archiver/cli.h"

int main(int argc, char** argv) {
  const std::vector<veltrane::mpq::NativePath> args(argv + 1, argv + argc);
  return veltrane::mpq::RunMpqadd(args, stdout, stderr);
}
