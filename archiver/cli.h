#pragma once
// The command line of mpqadd, independent of how the platform hands over its arguments.

#include <cstdio>
#include <span>

#include "archiver/file.h"

namespace veltrane::mpq {

// Runs `mpqadd <args...>` (the platform's own argument strings, without the program name);
// returns the exit code. Usage goes to `out` for --help and to `err` otherwise; failures are
// one line on `err`.
int RunMpqadd(std::span<const NativePath> args, std::FILE* out, std::FILE* err);

}  // namespace veltrane::mpq
