#include "common/unique_handle.h"

#include <gtest/gtest.h>

#include <vector>

namespace glimmora {
namespace {

std::vector<int> closed;

struct FakeTraits {
  using Handle = int;
  static Handle Invalid() noexcept { return -1; }
  static void Close(Handle h) noexcept { closed.push_back(h); }
};
using FakeHandle = UniqueHandle<FakeTraits>;

TEST(UniqueHandle, ClosesOnceWhateverWayItMoves) {
  closed.clear();
  {
    FakeHandle a(3);
    FakeHandle b(std::move(a));
    EXPECT_FALSE(a);
    FakeHandle c(4);
    c = std::move(b);  // 4 is released here, 3 moves on
    EXPECT_EQ(closed, std::vector<int>{4});
    EXPECT_EQ(c.get(), 3);
  }
  EXPECT_EQ(closed, (std::vector<int>{4, 3}));
}

TEST(UniqueHandle, ReleaseGivesUpOwnership) {
  closed.clear();
  {
    FakeHandle a(7);
    EXPECT_EQ(a.release(), 7);
  }
  EXPECT_TRUE(closed.empty());
}

}  // namespace
}  // namespace glimmora
