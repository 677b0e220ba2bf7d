#pragma once
// The owner of a POSIX file descriptor.

#include <unistd.h>

#include "common/unique.h"

namespace veltrane {

struct FdTraits {
  static int Empty() { return -1; }
  static bool Live(int fd) { return fd >= 0; }
  static void Release(int fd) { ::close(fd); }
};
using UniqueFd = Unique<FdTraits>;

}  // namespace veltrane
