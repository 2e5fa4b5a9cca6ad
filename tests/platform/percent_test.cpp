#include "platform/percent.h"

#include <gtest/gtest.h>

namespace qm {
namespace {

TEST(Percent, RoundsDownCapsAndCountsNothingToDoAsDone) {
  struct Case {
    uint64_t part, whole;
    int expected;
  };
  const Case cases[] = {
      {0, 0, 100},   // nothing to do is all done
      {5, 0, 100},
      {0, 10, 0},
      {1, 3, 33},    // rounds down
      {2, 3, 66},
      {10, 10, 100},
      {11, 10, 100},  // a part past the whole stays at 100
      {UINT64_MAX, UINT64_MAX, 100},        // no overflow in part x 100
      {UINT64_MAX / 2, UINT64_MAX, 49},
      {UINT64_MAX, 1, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.part << " of " << c.whole);
    EXPECT_EQ(Percent(c.part, c.whole), c.expected);
  }
}

}  // namespace
}  // namespace qm
