// Element lists: set codes, membership, counting and pairs.
#include "effects/zlst.h"

#include <gtest/gtest.h>

namespace {

TEST(ZlstTest, SetComparisonCodes) {
  int32_t a12[] = {1, 2}, b21[] = {2, 1}, a1[] = {1}, a13[] = {1, 3};
  EXPECT_EQ(zlstcmp(a12, 2, b21, 2, 4), 0);
  EXPECT_EQ(zlstcmp(a1, 1, a12, 2, 4), -1);
  EXPECT_EQ(zlstcmp(a13, 2, a1, 1, 4), 1);
  EXPECT_EQ(zlstcmp(a13, 2, a12, 2, 4), 999);
  EXPECT_EQ(zlstcmp(nullptr, 0, nullptr, 0, 4), 0);
  EXPECT_EQ(zlstcmp(nullptr, 0, a1, 1, 4), -1);
}

TEST(ZlstTest, MultisetComparisonCountsRepeats) {
  int32_t a[] = {1, 1, 2}, b[] = {1, 2}, c[] = {2, 1, 1};
  EXPECT_EQ(zlstcmpMul(a, 3, c, 3, 4), 0);
  // Only 2 occurs equally often (one match of three); plain comparison sees equal sets.
  EXPECT_EQ(zlstcmpMul(a, 3, b, 2, 4), 999);
  EXPECT_EQ(zlstcmp(a, 3, b, 2, 4), 0);
}

TEST(ZlstTest, MembershipCountAndPairs) {
  int32_t l[] = {5, 7, 5, 9};
  int32_t x = 5, missing = 4;
  EXPECT_EQ(zlstmem(l, 4, &x, 4), 0);
  EXPECT_EQ(zlstmem(l, 4, &missing, 4), 4);
  EXPECT_EQ(zlstmem(l, 0, &x, 4), 0);
  EXPECT_EQ(zlstmul(l, 4, &x, 4), 2);
  EXPECT_EQ(zlstmul(l, 0, &x, 4), 0);
  int32_t m[] = {9, 5};
  int32_t ia[8], ib[8];
  EXPECT_EQ(zlstjn(l, 4, ia, m, 2, ib, 4), 3);
  EXPECT_EQ(ia[0], 0);
  EXPECT_EQ(ib[0], 1);
  EXPECT_EQ(ia[2], 3);
  EXPECT_EQ(ib[2], 0);
}

TEST(ZlstTest, NamesCompareWithoutTrailingBlanks) {
  EXPECT_TRUE(effSameName("AB  ", 4, "AB", 2));
  EXPECT_FALSE(effSameName("AB", 2, "ABC", 3));
  EXPECT_LT(effCollate("AB", 2, "AC", 2), 0);
  EXPECT_EQ(effCollate("AB", 2, "AB ", 3), 0);
}

} // namespace
