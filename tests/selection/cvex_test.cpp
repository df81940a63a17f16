// External cross validation's grid and curve: the merge of sorted knot lists, and the
// averaged held-out error at every merged grid point from per-fold LASSO paths, against
// scripts/gen_cvex_ref.py (scikit-learn's lars_path per fold, the error of the fold's
// coefficients interpolated exactly at each grid point), for L1CHOICE=RATIO, NORM and VALUE;
// and the final fit's linear interpolation on the curve.
#include "model/vsfcriteria.h"
#include "model/vsfmodel.h"
#include "selection/vsfcvex.h"
#include "support/vsfoptions.h"

#include "refcsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::vector<double>> readCsv(const std::string& name) {
  return readReferenceRows("cvex/" + name);
}

// A model holding the reference's per-fold records, as the fold fits leave them.
struct Records {
  VsfModelOptions opt{};
  VsfModel m{};
  std::vector<int32_t> keys, foldEnd;
  std::vector<double> values, lambdaMax, grid, curve, knots;
  explicit Records(VsfL1Choice choice) {
    opt.l1Choice = choice;
    m.options = &opt;
    m.fuzz = 1e-8;
    const auto rows = readCsv("records.csv");
    const size_t n = rows.size();
    keys.resize(3 * n);
    values.resize(6 * n);
    grid.resize(n);
    curve.resize(n);
    knots.resize(n);
    for (size_t i = 0; i < n; ++i) {
      const auto& r = rows[i];
      const int32_t fold = static_cast<int32_t>(r[0]);
      if (fold == static_cast<int32_t>(foldEnd.size())) {
        foldEnd.push_back(0);
        lambdaMax.push_back(r[4]); // a fold's first knot is its path maximum
      }
      foldEnd[fold] = static_cast<int32_t>(i + 1);
      keys[3 * i] = fold;
      keys[3 * i + 1] = static_cast<int32_t>(r[1]);
      const double v[6] = {r[2], -1.0, r[3], 0.0, r[6], r[5]};
      std::copy(v, v + 6, values.begin() + 6 * static_cast<long>(i));
    }
    m.cv.foldCount = static_cast<int32_t>(foldEnd.size());
    m.cvexPass.cvexKeys = keys.data();
    m.cvexPass.cvexValues = values.data();
    m.cvexPass.cvexFoldEnd = foldEnd.data();
    m.cvexPass.cvexFoldLambdaMax = lambdaMax.data();
    m.cvexPass.cvexGrid = grid.data();
    m.cvexPass.cvexCurve = curve.data();
    m.cvexPass.cvexFoldKnots = knots.data();
    m.cvex.cvexRecordCount = static_cast<int32_t>(n);
  }
};

TEST(CvExternal, MergeWritesEqualKnotsOnce) {
  const double a[] = {1, 0.6, 0.2}, b[] = {1, 0.5, 0.2};
  double out[6];
  ASSERT_EQ(vsfmerge(a, b, out, 3, 3, false), 4);
  EXPECT_EQ(std::vector<double>(out, out + 4), (std::vector<double>{1, 0.6, 0.5, 0.2}));
  // Ascending (L1 norms), with one list running out first.
  const double c[] = {0, 2, 5}, d[] = {0, 1, 2, 3, 7};
  ASSERT_EQ(vsfmerge(c, d, out, 3, 5, true), 6);
  EXPECT_EQ(std::vector<double>(out, out + 6), (std::vector<double>{0, 1, 2, 3, 5, 7}));
}

void expectCurve(VsfL1Choice choice, const char* file) {
  Records r(choice);
  const auto ref = readCsv(file);
  const double best = vsfCVExMergeAndCurve(&r.m);
  ASSERT_EQ(r.m.cvex.cvexGridCount, static_cast<int32_t>(ref.size())) << file;
  double refBest = 1e300, refAt = 0;
  for (size_t j = 0; j < ref.size(); ++j) {
    EXPECT_NEAR(r.m.cvexPass.cvexGrid[j], ref[j][0], 1e-12 * (1 + std::fabs(ref[j][0])))
        << file << j;
    EXPECT_NEAR(r.m.cvexPass.cvexCurve[j], ref[j][1], 1e-9 * ref[j][1])
        << file << " grid point " << j;
    if (ref[j][1] < refBest)
      refBest = ref[j][1], refAt = ref[j][0];
  }
  EXPECT_NEAR(best, refBest, 1e-9 * refBest) << file;
  EXPECT_NEAR(r.m.cvex.cvexChosenValue, refAt, 1e-12 * (1 + std::fabs(refAt))) << file;
}

TEST(CvExternal, CurveAtEveryGridPointIsTheHeldOutErrorOfTheFoldPaths) {
  expectCurve(VsfL1Choice::Ratio, "curve_ratio.csv");
  expectCurve(VsfL1Choice::Norm, "curve_norm.csv");
  expectCurve(VsfL1Choice::Value, "curve_value.csv");
}

// Linear records (no curvature) interpolate linearly; a grid point past a fold's last knot
// takes that fold's last error. A fold without records (an empty training part) is left out
// of the average, not counted as an error of 0.
TEST(CvExternal, LinearSegmentsAndPointsPastTheLastKnot) {
  for (const std::vector<int32_t>& folds : {std::vector<int32_t>{2, 5}, {2, 5, 5}, {0, 2, 5}}) {
    Records r(VsfL1Choice::Ratio);
    std::vector<int32_t> ends = folds;
    std::vector<double> lmax{10, 20, 20};
    if (ends[0] == 0)
      lmax = {20, 10, 20};
    // fold 0: knots 1, 0.5 with errors 4, 2; fold 1: knots 1, 0.6, 0.2 with errors 6, 3, 1.
    std::vector<double> v{1, 0, 0, 0,   0, 4, 0.5, 0, 0, 0,   0, 2, 1, 0, 0,
                          0, 0, 6, 0.6, 0, 0, 0,   0, 3, 0.2, 0, 0, 0, 0, 1};
    r.m.cv.foldCount = static_cast<int32_t>(ends.size());
    r.m.cvexPass.cvexFoldEnd = ends.data();
    r.m.cvexPass.cvexFoldLambdaMax = lmax.data();
    r.m.cvexPass.cvexValues = v.data();
    const double best = vsfCVExMergeAndCurve(&r.m);
    ASSERT_EQ(r.m.cvex.cvexGridCount, 4);
    const double expect[] = {5, (2.4 + 3) / 2, (2 + 2.5) / 2, (2 + 1) / 2.0};
    for (int j = 0; j < 4; ++j)
      EXPECT_NEAR(r.m.cvexPass.cvexCurve[j], expect[j], 1e-14) << ends.size() << " folds, " << j;
    EXPECT_DOUBLE_EQ(best, 1.5);
    EXPECT_DOUBLE_EQ(r.m.cvex.cvexChosenValue, 0.2);
  }
}

} // namespace
