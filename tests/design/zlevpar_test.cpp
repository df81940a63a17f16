// CLASS codings: the coding rows of EFFECT, REFERENCE, POLYNOMIAL, ORDINAL and BATHTUB
// against their defining formulas, the orthogonal codings against an independent centring
// and Gram-Schmidt in long double, and the CLASS part of crossed and nested effects.
#include "designfixture.h"

#include "design/levlevel.h"

#include <gtest/gtest.h>

#include <cmath>

using designtest::DesignFixture;

namespace {

using Matrix = std::vector<std::vector<long double>>;

// Coding row of level i as the codings define it (the base forms, before any
// orthonormalising), for L levels and reference r; x the level's value for POLY.
std::vector<long double> baseRow(int coding, int L, int r, int i, long double x) {
  std::vector<long double> e(static_cast<size_t>(L - 1), 0.0L);
  switch (coding) {
  case 0:
  case 1:
  case 2:
  case 3:
    for (int k = 0; k < L - 1; ++k) {
      int col = i < r ? i : i - 1;
      if (i == r)
        e[k] = (coding == 0 || coding == 1) ? -1.0L : 0.0L;
      else
        e[k] = k == col ? 1.0L : 0.0L;
    }
    break;
  case 4:
  case 5:
    for (int k = 0; k < L - 1; ++k)
      e[k] = std::pow(x, k + 1);
    break;
  case 7:
  case 8:
    for (int k = 0; k < L - 1; ++k)
      e[k] = k < i ? 1.0L : 0.0L;
    break;
  default: {
    long double c = std::sqrt(1.5L * L / (static_cast<long double>(L) * L - 1));
    for (int k = 0; k < L - 1; ++k)
      e[k] = k < i ? c : -c;
  }
  }
  return e;
}

// Centre the columns, orthonormalise them in order (classical Gram-Schmidt, twice for
// accuracy) and scale by sqrt(L).
Matrix orthogonalForm(Matrix A) {
  const size_t n = A.size(), w = A[0].size();
  for (size_t j = 0; j < w; ++j) {
    long double m = 0;
    for (size_t i = 0; i < n; ++i)
      m += A[i][j];
    m /= n;
    for (size_t i = 0; i < n; ++i)
      A[i][j] -= m;
  }
  for (size_t j = 0; j < w; ++j) {
    for (int pass = 0; pass < 2; ++pass)
      for (size_t k = 0; k < j; ++k) {
        long double dot = 0;
        for (size_t i = 0; i < n; ++i)
          dot += A[i][j] * A[i][k];
        for (size_t i = 0; i < n; ++i)
          A[i][j] -= dot * A[i][k];
      }
    long double norm = 0;
    for (size_t i = 0; i < n; ++i)
      norm += A[i][j] * A[i][j];
    norm = std::sqrt(norm);
    for (size_t i = 0; i < n; ++i)
      A[i][j] /= norm;
  }
  for (auto& row : A)
    for (auto& x : row)
      x *= std::sqrt(static_cast<long double>(n));
  return A;
}

LevVariable plainVariable(int coding, int L, int r) {
  LevVariable v{};
  v.coding = static_cast<ClassCoding>(coding);
  v.levelCount = L;
  v.referenceSelector = r;
  return v;
}

TEST(Coding, FullRankRowsFollowTheirDefinitions) {
  for (int coding : {0, 2, 4, 7, 9})
    for (int L : {2, 3, 5})
      for (int r : {0, L - 1}) {
        LevVariable v = plainVariable(coding, L, r); // character: POLY uses x = i + 1
        for (int i = 0; i < L; ++i) {
          std::vector<double> out(static_cast<size_t>(L - 1), 7.0);
          zlevflr(2.0, &v, out.data(), i, L - 1);
          auto want = baseRow(coding, L, r, i, i + 1.0L);
          for (int k = 0; k < L - 1; ++k)
            EXPECT_NEAR(out[k], 2.0 * static_cast<double>(want[k]), 1e-12)
                << "coding " << coding << " L " << L << " r " << r << " level " << i;
        }
      }
}

TEST(Coding, TextbookRows) {
  LevVariable effect = plainVariable(0, 3, 2);
  double out[3];
  zlevflr(1.0, &effect, out, 2, 2);
  EXPECT_EQ(out[0], -1.0);
  EXPECT_EQ(out[1], -1.0);
  LevVariable bath = plainVariable(9, 3, 2);
  zlevflr(1.0, &bath, out, 1, 2);
  EXPECT_DOUBLE_EQ(out[0], 0.75);
  EXPECT_DOUBLE_EQ(out[1], -0.75);
  LevVariable ord = plainVariable(7, 4, 0);
  zlevflr(1.0, &ord, out, 2, 3);
  EXPECT_EQ(out[0], 1.0);
  EXPECT_EQ(out[1], 1.0);
  EXPECT_EQ(out[2], 0.0);
}

struct Orthogonal : ::testing::TestWithParam<int> {};

TEST_P(Orthogonal, MatrixEqualsCentredGramSchmidtAndIsOrthonormal) {
  const int coding = GetParam();
  for (const char* ref : {"FIRST", "LAST"}) {
    DesignFixture f;
    // Numeric levels 1, 2, 5 and 7 (POLY uses them as x); formatted order 1 2 5 7.
    f.data("k,y\n5,1\n1,2\n7,3\n2,4\n");
    f.design({"k"}, {}, {{"k", {}, {"k"}, {}}});
    f.response("y");
    f.des.designFlags.set(LevDesignFlag::NonGlm);
    LevVariable* v = f.cls("k");
    v->coding = static_cast<ClassCoding>(coding);
    v->referenceSelector = std::string(ref) == "FIRST" ? -1 : -2;
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    const int L = v->levelCount;
    ASSERT_EQ(L, 4);
    ASSERT_NE(v->codingMatrix, nullptr);
    const double xs[4] = {1, 2, 5, 7};
    Matrix A;
    for (int i = 0; i < L; ++i)
      A.push_back(baseRow(coding, L, v->referenceSelector, i, xs[i]));
    Matrix Q = orthogonalForm(A);
    for (int i = 0; i < L; ++i)
      for (int k = 0; k < L - 1; ++k)
        EXPECT_NEAR(v->codingMatrix[i * (L - 1) + k], static_cast<double>(Q[i][k]), 1e-9)
            << "coding " << coding << " row " << i << " col " << k;
    // Mean 0, sum of squares L, columns orthogonal.
    for (int a = 0; a < L - 1; ++a)
      for (int b = 0; b < L - 1; ++b) {
        double dot = 0, sum = 0;
        for (int i = 0; i < L; ++i) {
          dot += v->codingMatrix[i * (L - 1) + a] * v->codingMatrix[i * (L - 1) + b];
          sum += v->codingMatrix[i * (L - 1) + a];
        }
        EXPECT_NEAR(dot, a == b ? L : 0.0, 1e-9);
        EXPECT_NEAR(sum, 0.0, 1e-9);
      }
    // The design rows carry the matrix rows.
    for (int i = 0; i < L; ++i) {
      double out[3];
      zlevflr(1.0, v, out, i, L - 1);
      for (int k = 0; k < L - 1; ++k)
        EXPECT_EQ(out[k], v->codingMatrix[i * (L - 1) + k]);
    }
  }
}

INSTANTIATE_TEST_SUITE_P(AllFive, Orthogonal, ::testing::Values(1, 3, 5, 8, 10));

TEST(Coding, OrthogonalPolynomialOfCharactersUsesEvenlySpacedValues) {
  DesignFixture f;
  f.data("a,y\nr,1\np,2\nq,3\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  f.cls("a")->coding = CC_ORTHPOLY;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  Matrix A = {{-1, 1}, {0, 0}, {1, 1}};
  Matrix Q = orthogonalForm(A);
  for (int i = 0; i < 3; ++i)
    for (int k = 0; k < 2; ++k)
      EXPECT_NEAR(f.cls("a")->codingMatrix[i * 2 + k], static_cast<double>(Q[i][k]), 1e-12);
}

TEST(Coding, TwoLevelsGiveMinusOneAndOneUnderEveryOrthogonalCoding) {
  for (int coding : {1, 3, 5, 8, 10}) {
    DesignFixture f;
    f.data("a,y\nu,1\nv,2\n");
    f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
    f.response("y");
    f.des.designFlags.set(LevDesignFlag::NonGlm);
    f.cls("a")->coding = static_cast<ClassCoding>(coding);
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    const double* m = f.cls("a")->codingMatrix;
    double sign = coding == 1 || coding == 3 ? 1.0 : -1.0;
    EXPECT_NEAR(m[0], sign, 1e-12) << coding;
    EXPECT_NEAR(m[1], -sign, 1e-12) << coding;
  }
}

TEST(Coding, OneLevelGetsNoMatrix) {
  DesignFixture f;
  f.data("a,y\nu,1\nu,2\n");
  f.design({"a"}, {}, {{"a", {}, {"a"}, {}}});
  f.response("y");
  f.des.designFlags.set(LevDesignFlag::NonGlm);
  f.cls("a")->coding = CC_ORTHEFFECT;
  ASSERT_EQ(f.levelise(), LevBuild::Ready);
  EXPECT_EQ(f.cls("a")->codingMatrix, nullptr);
}

} // namespace
