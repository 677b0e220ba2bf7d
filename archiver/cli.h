#pragma once
// The command line of mpqadd, independent of how the platform hands over its arguments.

#include <ostream>
#include <span>
#include <string>

namespace veltrane::mpq {

// Runs `mpqadd <args...>` (arguments in UTF-8, without the program name); returns the exit
// code. Usage goes to `out` for --help and to `err` otherwise; failures are one line on `err`.
int RunMpqadd(std::span<const std::string> args, std::ostream& out, std::ostream& err);

}  // namespace veltrane::mpq
