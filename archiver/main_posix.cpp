#include <iostream>
#include <string>
#include <vector>

#include "archiver/cli.h"

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  return veltrane::mpq::RunMpqadd(args, std::cout, std::cerr);
}
