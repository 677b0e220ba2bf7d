// The one owner of system resources: each value is released exactly once, whatever moves
// and resets it went through, and a POSIX descriptor really gets closed.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <vector>

#include "common/unique_posix.h"

namespace veltrane {
namespace {

std::vector<int> released;

struct CountingTraits {
  static int Empty() { return 0; }
  static bool Live(int value) { return value != 0; }
  static void Release(int value) { released.push_back(value); }
};
using Owner = Unique<CountingTraits>;

TEST(Unique, ReleasesEachValueOnce) {
  released.clear();
  {
    Owner a(1);
    Owner b(std::move(a));
    EXPECT_FALSE(a.valid());
    Owner c(2);
    c = std::move(b);  // releases 2, takes 1
    c.reset(3);        // releases 1
    Owner d(4);
    EXPECT_EQ(d.release(), 4);
    Owner empty;
  }  // releases 3
  EXPECT_EQ(released, (std::vector<int>{2, 1, 3}));
}

TEST(Unique, ClosesADescriptor) {
  int fd = -1;
  {
    UniqueFd owner(::open("/dev/null", O_RDONLY | O_CLOEXEC));
    ASSERT_TRUE(owner.valid());
    fd = owner.get();
  }
  EXPECT_EQ(::fcntl(fd, F_GETFD), -1);
  UniqueFd failed(::open("/nonexistent/file", O_RDONLY));
  EXPECT_FALSE(failed.valid());
}

}  // namespace
}  // namespace veltrane
