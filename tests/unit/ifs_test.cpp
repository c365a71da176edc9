// The ifs display's pure pieces.
#include <gtest/gtest.h>

#include "harmonic/ifs.h"

TEST(IfsState, StoresAreZeroedAndKeptOnSecondCall) {
  IfsState a;
  ASSERT_TRUE(a.alloc_ifs());
  for (IfsNode *b : a.work) {
    ASSERT_NE(b, nullptr);
    EXPECT_EQ(b[340].bin, 0);
  }
  EXPECT_EQ(sizeof(IfsNode), 16u);
  IfsNode *grid = a.grid;
  grid[21844].bin = 3;
  ASSERT_TRUE(a.alloc_ifs());
  EXPECT_EQ(a.grid, grid);
  EXPECT_EQ(a.grid[21844].bin, 3);
  a.release();
  EXPECT_EQ(a.grid, nullptr);
}
