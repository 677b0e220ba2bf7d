#include <iostream>
#include <string>
#include <vector>

#include "archiver/cli.h"
#include "common/text.h"

// Wide arguments keep every path Unicode; they are handed on as UTF-8.
int wmain(int argc, wchar_t** argv) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i) args.push_back(veltrane::ToUtf8(argv[i]));
  return veltrane::mpq::RunMpqadd(args, std::cout, std::cerr);
}
