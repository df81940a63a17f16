// Queries over constructed effects on a hand-built design: one effect's columns of the
// current observation (a spline crossed with a polynomial against the products formed here),
// the per-column means kept after the reading pass, and the inverse member maps of
// MULTIMEMBER and COLLECTION effect variables.
#include "constructedrecords.h"
#include "design/levconstructed.h"
#include "design/levnames.h"
#include "design/levquery.h"
#include "design/levtables.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <memory>
#include <vector>

namespace {

// A pool of zeroed blocks freed with the test.
struct TestPool : QkPool {
  std::vector<std::unique_ptr<char[]>> blocks;
  TestPool() : QkPool{} {
    allocate = [](QkPool* p, size_t size, uint32_t) -> void* {
      auto& b = static_cast<TestPool*>(p)->blocks;
      b.push_back(std::make_unique<char[]>(size));
      std::fill_n(b.back().get(), size, 0);
      return b.back().get();
    };
  }
};

// The spline (record 0) and the degree-2 polynomial (record 1) of constructedrecords.h;
// effects 0: the spline; 1: spline*polynomial; 2: the polynomial.
struct Fixture : constructedtest::SplineAndPolynomial {
  TestPool pool;
  std::vector<int32_t> lists[3] = {{0}, {0, 1}, {1}};
  LevEffect effects[3]{};

  Fixture() : SplineAndPolynomial({-3, -2, -1, -0.5, 0, 0.5, 1, 2, 3}, 2) {
    design.effects = effects;
    design.effectCount = 3;
    design.libraryPool = &pool;
    int32_t first = 0;
    for (int32_t e = 0; e < 3; ++e) {
      LevEffect& ef = effects[e];
      ef.constructedCount = static_cast<int32_t>(lists[e].size());
      ef.constructed = lists[e].data();
      ef.classColumnCount = 1;
      ef.columnCount = 1;
      for (int32_t k : lists[e])
        ef.columnCount *= records[k].columnCount;
      ef.firstColumn = first;
      first += ef.columnCount;
    }
    design.columnCount = first;
    for (LevEffect& ef : effects)
      zlevLevelsAllOne(&ctx, &ef, nullptr, &pool);
  }
};

TEST(ConstructedQueries, EffectColumnsAreTheSplineTimesThePolynomialTerms) {
  Fixture f;
  for (const auto& [x, z] : {std::pair{0.3, -1.2}, std::pair{-1.7, 0.4}}) {
    f.numeric = {x, z};
    std::vector<double> s(7), sp(35);
    ASSERT_EQ(zlevGetEfCols(&f.ctx, 0, s.data()), 7);
    // A B-spline basis inside its knots sums to 1.
    double total = 0;
    for (double v : s)
      total += v;
    EXPECT_NEAR(total, 1.0, 1e-14);
    ASSERT_EQ(zlevGetEfCols(&f.ctx, 1, sp.data()), 35);
    const double p[] = {x, z, x * x, x * z, z * z};
    // The spline's columns vary slowest.
    for (size_t j = 0; j < 7; ++j)
      for (size_t t = 0; t < 5; ++t)
        EXPECT_NEAR(sp[j * 5 + t], s[j] * p[t], 1e-14) << j << " " << t;
    std::vector<double> q(5);
    ASSERT_EQ(zlevGetEfNosepCols(&f.ctx, 2, 0, q.data()), 5);
    for (size_t t = 0; t < 5; ++t)
      EXPECT_DOUBLE_EQ(q[t], p[t]);
  }
}

TEST(ConstructedQueries, ColumnMeansOfSplineAndPolynomialEffects) {
  Fixture f;
  std::vector<double> sums(static_cast<size_t>(f.design.columnCount));
  for (size_t c = 0; c < sums.size(); ++c)
    sums[c] = 1.0 + 0.5 * static_cast<double>(c) + (c % 3 == 0 ? 2.0 : 0.0);
  std::vector<double> means(3), divisor = {0.0, hostMissing(), 4.0};
  const double scale = 0.25;
  zlevEfMeans(&f.ctx, sums.data(), means.data(), divisor.data(), scale);
  // Effect means: the column sums of the effect times the scale; a divisor that is 0 or
  // missing leaves the mean undivided.
  double e0 = 0, e1 = 0, e2 = 0;
  for (size_t c = 0; c < 7; ++c)
    e0 += sums[c];
  for (size_t c = 7; c < 42; ++c)
    e1 += sums[c];
  for (size_t c = 42; c < 47; ++c)
    e2 += sums[c];
  EXPECT_DOUBLE_EQ(means[0], scale * e0);
  EXPECT_DOUBLE_EQ(means[1], scale * e1);
  EXPECT_DOUBLE_EQ(means[2], scale * e2 / 4.0);
  // A lone spline or polynomial: each column's own mean.
  ASSERT_NE(f.effects[0].columnMeans, nullptr);
  ASSERT_NE(f.effects[2].columnMeans, nullptr);
  for (size_t c = 0; c < 7; ++c)
    EXPECT_DOUBLE_EQ(f.effects[0].columnMeans[c], scale * sums[c]);
  for (size_t c = 0; c < 5; ++c)
    EXPECT_DOUBLE_EQ(f.effects[2].columnMeans[c], scale * sums[42 + c]);
  // The spline crossed with the polynomial: the columns of one spline column share the
  // average of their sums.
  ASSERT_NE(f.effects[1].columnMeans, nullptr);
  for (size_t j = 0; j < 7; ++j) {
    double group = 0;
    for (size_t t = 0; t < 5; ++t)
      group += sums[7 + j * 5 + t];
    for (size_t t = 0; t < 5; ++t)
      EXPECT_NEAR(f.effects[1].columnMeans[j * 5 + t], scale * group / 5, 1e-14) << j;
  }
}

// A design with CLASS variables a (A, B, C) and b (B, D), a MULTIMEMBER effect of a and b
// over the union A, B, C, D and a COLLECTION of x, a and b.
struct MemberFixture {
  TestPool pool;
  LevVariable classes[2]{};
  std::vector<int32_t> members = {0, 1}, numerics = {0};
  std::vector<int32_t> mapA = {0, 1, 2}, mapB = {1, 3};
  std::vector<int32_t*> maps = {mapA.data(), mapB.data()};
  LevEftVar records[2]{};
  LevDesign design{};

  explicit MemberFixture(bool fullRank) {
    classes[0].levelCount = 3;
    classes[0].referenceSelector = 2;
    classes[1].levelCount = 2;
    classes[1].referenceSelector = 0;
    design.classes = classes;
    design.classCount = 2;
    design.designFlags = fullRank ? LevDesignFlag::NonGlm : LevDesignFlags{};
    LevEftVar &m = records[0], &k = records[1];
    m.kind = EffectVarKind::MultiMember;
    m.classCount = 2;
    m.classes = members.data();
    m.columnCount = 4;
    m.memberMaps = maps.data();
    k.kind = EffectVarKind::Collection;
    k.numericCount = 1;
    k.numeric = numerics.data();
    k.classCount = 2;
    k.classes = members.data();
    k.columnCount = fullRank ? 1 + 2 + 1 : 1 + 3 + 2;
    design.constructed = records;
    design.constructedCount = 2;
    design.libraryPool = &pool;
  }

  std::vector<int32_t> inverse(int32_t record, int32_t member) const {
    const LevEftVar& ev = records[record];
    return std::vector<int32_t>(ev.inverseMaps[member], ev.inverseMaps[member] + ev.columnCount);
  }
};

TEST(ConstructedQueries, InverseMemberMapsGiveEachColumnsLevel) {
  using V = std::vector<int32_t>;
  MemberFixture glm(false);
  ASSERT_EQ(zlevMapEftLevInverse(&glm.design), 0);
  EXPECT_EQ(glm.inverse(0, 0), (V{0, 1, 2, -1}));
  EXPECT_EQ(glm.inverse(0, 1), (V{-1, 0, -1, 1}));
  EXPECT_EQ(glm.inverse(1, 0), (V{-1, 0, 1, 2, -1, -1}));
  EXPECT_EQ(glm.inverse(1, 1), (V{-1, -1, -1, -1, 0, 1}));
  // A full-rank coding leaves out each member's reference level: the last of a, the first
  // of b.
  MemberFixture ref(true);
  ASSERT_EQ(zlevMapEftLevInverse(&ref.design), 0);
  EXPECT_EQ(ref.inverse(1, 0), (V{-1, 0, 1, -1}));
  EXPECT_EQ(ref.inverse(1, 1), (V{-1, -1, -1, 1}));
  // A member effect without columns has no map.
  MemberFixture empty(false);
  empty.records[0].columnCount = 0;
  EXPECT_EQ(zlevMapEftLevInverse(&empty.design), 1);
}

} // namespace
