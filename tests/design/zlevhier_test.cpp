// Effect containment: crossings contain their parts, continuous variables compare as
// multisets, SINGLECLASS relates only effects with CLASS variables, and the lists come out
// in ascending effect order; the multiset comparison restores its input.
#include "designfixture.h"

#include "design/levhier.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

using designtest::DesignFixture;
using Ints = std::vector<int32_t>;

namespace {

struct Hierarchy : ::testing::Test {
  DesignFixture f;
  HierarchyRequest req{};
  std::vector<int32_t> containingCounts, containedCounts;
  std::vector<int32_t*> containing, contained;
  void SetUp() override {
    f.data("A,B,D,x,z,y\n1,1,1,1,1,1\n");
    // 0 Intercept, 1 A, 2 B, 3 A*B, 4 x, 5 x*x, 6 A*x, 7 x*z, 8 A*D, 9 B(A)
    f.design({"A", "B", "D"}, {"x", "z"},
             {{"A", {}, {"A"}, {}},
              {"B", {}, {"B"}, {}},
              {"A*B", {}, {"A", "B"}, {}},
              {"x", {"x"}, {}, {}},
              {"x*x", {"x", "x"}, {}, {}},
              {"A*x", {"x"}, {"A"}, {}},
              {"x*z", {"x", "z"}, {}, {}},
              {"A*D", {}, {"A", "D"}, {}},
              {"B(A)", {}, {"B"}, {"A"}}});
  }
  void run(VsfHierarchy hierarchy, VsfMethod method) {
    const size_t E = static_cast<size_t>(f.des.effectCount);
    containingCounts.assign(E, 0);
    containedCounts.assign(E, 0);
    containing.assign(E, nullptr);
    contained.assign(E, nullptr);
    req.context = &f.ctx;
    req.allocator = v_global_gcb_anchor->defaultPool;
    req.hierarchy = hierarchy;
    req.method = method;
    req.containingCounts = containingCounts.data();
    req.containedCounts = containedCounts.data();
    req.containing = containing.data();
    req.contained = contained.data();
    ASSERT_EQ(zlevhier(&req), VsfStatus::Ok);
  }
  Ints containedBy(int32_t e) const {
    return Ints(contained[e], contained[e] + containedCounts[static_cast<size_t>(e)]);
  }
  Ints containingOf(int32_t e) const {
    return Ints(containing[e], containing[e] + containingCounts[static_cast<size_t>(e)]);
  }
};

TEST_F(Hierarchy, SingleRelatesCrossingsNestingsAndPowers) {
  run(VsfHierarchy::Single, VsfMethod::Forward);
  EXPECT_EQ(containedBy(3), (Ints{1, 2}));        // A*B contains A and B
  EXPECT_EQ(containingOf(1), (Ints{3, 6, 8, 9})); // A is in A*B, A*x, A*D, B(A)
  EXPECT_EQ(containedBy(5), (Ints{4}));           // x*x contains x
  EXPECT_EQ(containedBy(6), (Ints{1, 4}));        // A*x contains A and x
  EXPECT_EQ(containedBy(7), (Ints{4}));           // x*z contains x
  EXPECT_EQ(containedBy(9), (Ints{1, 2}));        // B(A) contains A and B
  // A*B and A*D are unrelated; the intercept takes no part.
  for (int32_t j : containedBy(8))
    EXPECT_NE(j, 3);
  EXPECT_TRUE(containedBy(0).empty());
  EXPECT_TRUE(containingOf(0).empty());
}

TEST_F(Hierarchy, SingleClassIgnoresEffectsWithoutClassVariables) {
  run(VsfHierarchy::SingleClass, VsfMethod::Forward);
  EXPECT_TRUE(containedBy(5).empty()); // x*x and x: no CLASS variable on either side
  EXPECT_TRUE(containedBy(7).empty());
  EXPECT_EQ(containedBy(6), (Ints{1, 4})); // A*x still contains x
}

TEST_F(Hierarchy, NoneComputesOnlyForBackward) {
  run(VsfHierarchy::None, VsfMethod::None);
  for (int32_t c : containedCounts)
    EXPECT_EQ(c, 0);
  run(VsfHierarchy::None, VsfMethod::Backward);
  EXPECT_EQ(containedBy(3), (Ints{1, 2}));
}

TEST(Containment, MultisetComparisonAndRestoredMarks) {
  int32_t a[2] = {4, 4};
  int32_t b[3] = {0, 4, 4};
  EXPECT_EQ(cont_lstcmp(a, 2, b, 3), -1);
  EXPECT_EQ(Ints(b, b + 3), (Ints{0, 4, 4}));
  int32_t c[1] = {4};
  EXPECT_EQ(cont_lstcmp(a, 2, c, 1), 1);
  int32_t d[2] = {0, 5};
  EXPECT_EQ(cont_lstcmp(a, 2, d, 2), 999);
  EXPECT_EQ(cont_lstcmp(nullptr, 0, d, 0), 0);
}

} // namespace
