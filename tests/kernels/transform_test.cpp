// Page transforms: centring and scaling by effect and by parameter, adaptive weights, and
// their inverses rewrite every page (in memory and on disk, serially and on page workers)
// and the inverse restores the values; a missing scale sets the column to 0 for good.
#include "data/datafixture.h"
#include "data/vsfthread.h"
#include "host/ext/qkpgf.h"
#include "kernels/vsfkernels.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsftransform.h"
#include "model/vsfmodel.h"
#include "support/hostif.h"
#include "support/vsfoptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

using namespace datatest;

namespace {

// Reads `src` onto the pages of `run` (its entries set), small pages on disk when asked, with
// `threads` page workers; the pages may be rewritten.
::testing::AssertionResult readRows(PageRun& run, Source& src, int32_t threads, bool disk) {
  qrxhost::resetPageFileSettings();
  if (disk)
    qrxhost::setPageFileSizes(512, 512, 512);
  run.settings.threadCount = threads;
  run.settings.threadingOn = threads > 1;
  run.settings.utilBuffers = disk ? 1 : 0;
  run.settings.rewritePages = 1;
  if (run.read(src) != 0)
    return ::testing::AssertionFailure() << "the rows were not read";
  if (threads > 1 && run.startThreads(threads) != 0)
    return ::testing::AssertionFailure() << "the page workers did not start";
  return ::testing::AssertionSuccess();
}

struct Transforms : ::testing::Test {
  void SetUp() override { setUpHost(); }
  void TearDown() override {
    qrxhost::resetPageFileSettings();
    EXPECT_EQ(qrxhost::liveUtilityFiles(), 0);
  }
};

TEST_F(Transforms, ForwardThenUndoRestoresEveryRow) {
  Source src;
  for (int i = 0; i < 200; ++i) {
    Obs o;
    o.y = 10 + std::sin(i * 0.3) * 4;
    o.x = {1.0, std::cos(i * 0.7), i * 0.01, 2.0, std::sin(i * 1.1)};
    src.rows.push_back(o);
  }
  for (bool byEffect : {true, false})
    for (bool noint : {false, true})
      for (int32_t threads : {1, 3})
        for (bool disk : {false, true}) {
          SCOPED_TRACE(testing::Message() << byEffect << noint << threads << disk);
          PageRun run;
          denseEntries(run, {1, 1, 1, 1, 1}); // intercept, three columns, a constant
          ASSERT_TRUE(readRows(run, src, threads, disk));
          VsfModelOptions opt{};
          opt.noint = noint;
          VsfModel& m = run.model;
          m.options = &opt;
          vsfRegisterKernels();
          const std::vector<std::vector<double>> before = run.rowDoubles();
          // Means and inverse scales, by effect number (= parameter here); effect 4 has none.
          const double mean[5] = {1, 0.1, 1.0, 2.0, 0.2}, scale[5] = {1, 2.0, 0.5, 4.0, 1};
          for (int p = 0; p < 5; ++p) {
            m.moments.columnSums[p] = mean[p];
            m.moments.columnSumSquares[p] = p == 4 ? hostMissing() : scale[p];
          }
          m.sumWY = 9.5;
          auto fwd = byEffect ? vsfCenterScale : vsfCenterScaleEffect;
          auto fwdT = byEffect ? vsfCenterScale_t : vsfCenterScaleEffect_t;
          auto undo = byEffect ? vsfUndoCenterScale : vsfUndoCenterScaleEffect;
          auto undoT = byEffect ? vsfUndoCenterScale_t : vsfUndoCenterScaleEffect_t;
          ASSERT_EQ(vsfExecuteByThreads(&m, fwd, fwdT, 0), VsfStatus::Ok);
          const auto mid = run.rowDoubles();
          ASSERT_EQ(mid.size(), before.size());
          for (size_t i = 0; i < mid.size(); ++i) {
            EXPECT_DOUBLE_EQ(mid[i][0], noint ? before[i][0] : before[i][0] - 9.5);
            EXPECT_EQ(mid[i][1], before[i][1]); // the intercept column is left alone
            for (int p = 1; p < 4; ++p) {
              const double want =
                  noint ? before[i][1 + p] * scale[p] : (before[i][1 + p] - mean[p]) * scale[p];
              EXPECT_DOUBLE_EQ(mid[i][1 + p], want);
            }
            EXPECT_EQ(mid[i][5], 0.0); // missing scale
          }
          ASSERT_EQ(vsfExecuteByThreads(&m, undo, undoT, 0), VsfStatus::Ok);
          const auto after = run.rowDoubles();
          for (size_t i = 0; i < after.size(); ++i) {
            for (int c = 0; c < 5; ++c)
              EXPECT_NEAR(after[i][c], before[i][c], 1e-12 * (1 + std::fabs(before[i][c])));
            EXPECT_EQ(after[i][5], 0.0);
          }
        }
}

TEST_F(Transforms, AdaptiveWeightsMultiplyAndDivideBack) {
  Source src;
  for (int i = 0; i < 50; ++i) {
    Obs o;
    o.y = i;
    o.x = {1.0, i * 0.5, 3.0 - i};
    src.rows.push_back(o);
  }
  PageRun run;
  denseEntries(run, {1, 1, 1});
  ASSERT_EQ(run.read(src), 0);
  VsfModelOptions opt{};
  VsfModel& m = run.model;
  m.options = &opt;
  vsfRegisterKernels();
  double weights[3] = {hostMissing(), 0.0, 2.5};
  m.adaptive.adaptiveWeight = weights;
  const auto before = run.rowDoubles();
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfApplyAdaptiveWeights, vsfApplyAdaptiveWeights_t, 0),
            VsfStatus::Ok);
  const auto mid = run.rowDoubles();
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfUndoAdaptiveWeights, vsfUndoAdaptiveWeights_t, 0),
            VsfStatus::Ok);
  const auto after = run.rowDoubles();
  for (size_t i = 0; i < before.size(); ++i) {
    EXPECT_EQ(mid[i][2], 0.0);                // weight 0
    EXPECT_EQ(mid[i][3], before[i][3] * 2.5); // weight 2.5
    EXPECT_EQ(after[i][2], 0.0);              // no division by 0
    EXPECT_DOUBLE_EQ(after[i][3], before[i][3]);
  }
  m.adaptive.adaptiveWeight = nullptr;
}

// Under parameter standardization every column of an effect takes the weight of its own
// parameter; a zero weight leaves its column as read, so that the undo restores every column.
TEST_F(Transforms, ParameterWeightsReachEveryColumnOfAnEffectAndDivideBack) {
  Source src;
  for (int i = 0; i < 50; ++i) {
    Obs o;
    o.y = i;
    o.x = {1.0, i * 0.5, 3.0 - i, 0.25 * i * i, std::sin(i)};
    src.rows.push_back(o);
  }
  PageRun run;
  denseEntries(run, {1, 1, 3}); // intercept, one column, an effect of three
  ASSERT_EQ(run.read(src), 0);
  VsfModelOptions opt{};
  opt.parmStandardize = 1;
  VsfModel& m = run.model;
  m.options = &opt;
  vsfRegisterKernels();
  double weights[5] = {hostMissing(), 2.0, 0.5, 0.0, 3.0};
  int32_t parmOffset[3] = {0, 1, 2};
  ASSERT_EQ(m.parmOffset, nullptr); // the reading pass lays out the pages, not the parameters
  m.parmOffset = parmOffset;
  m.adaptive.adaptiveWeight = weights;
  const auto before = run.rowDoubles();
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfApplyAdaptiveWeights, vsfApplyAdaptiveWeights_t, 0),
            VsfStatus::Ok);
  const auto mid = run.rowDoubles();
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfUndoAdaptiveWeights, vsfUndoAdaptiveWeights_t, 0),
            VsfStatus::Ok);
  const auto after = run.rowDoubles();
  for (size_t i = 0; i < before.size(); ++i)
    for (int p = 1; p < 5; ++p) {
      const double w = weights[p] == 0.0 ? 1.0 : weights[p];
      EXPECT_EQ(mid[i][1 + p], before[i][1 + p] * w) << i << " " << p;
      EXPECT_DOUBLE_EQ(after[i][1 + p], before[i][1 + p]) << i << " " << p;
    }
  m.adaptive.adaptiveWeight = nullptr;
  m.parmOffset = nullptr;
}

} // namespace

namespace {

// The shift and the sums of squares about it in one pass: every row less the shift, in memory
// and on disk, serially and on page workers; the weighted sums of squares of the shifted
// response and columns, in row order on one thread (bit for bit) and to rounding on three.
TEST_F(Transforms, ShiftingTheRowsFormsTheSumsOfSquaresAboutTheShift) {
  Source src;
  for (int i = 0; i < 300; ++i) {
    Obs o;
    o.y = 20 + std::sin(i * 0.37) * 6;
    o.w = 0.5 + (i % 5) * 0.25;
    o.x = {1.0, std::cos(i * 0.7) + 3, i * 0.01, std::sin(i * 1.3)};
    src.rows.push_back(o);
  }
  for (int32_t threads : {1, 3})
    for (bool disk : {false, true}) {
      SCOPED_TRACE(testing::Message() << "threads " << threads << " disk " << disk);
      PageRun run;
      denseEntries(run, {1, 1, 1, 1});
      run.settings.weightGiven = 1;
      ASSERT_TRUE(readRows(run, src, threads, disk));
      VsfModelOptions opt{};
      VsfModel& m = run.model;
      m.options = &opt;
      vsfRegisterKernels();
      std::vector<int32_t> parmOffset = {0, 1, 2, 3};
      m.parmOffset = parmOffset.data();
      // The response's shift, then the intercept's (none) and the three columns'.
      std::vector<double> shift = {21.0, 0.0, 3.0, 1.5, -0.25};
      m.shift.xpxShift = shift.data();
      const auto before = run.rowDoubles();
      m.sumWYY = 0.0;
      std::fill(m.moments.columnSquareSums, m.moments.columnSquareSums + m.parmCount, 0.0);
      ASSERT_EQ(vsfExecuteByThreads(&m, vsfShiftRowsSquares, vsfShiftRowsSquares_t, 0),
                VsfStatus::Ok);
      const auto after = run.rowDoubles();
      ASSERT_EQ(after.size(), before.size());
      // The rows lead with the weight, then the response and the four columns.
      double yy = 0.0, squares[4] = {0, 0, 0, 0};
      for (size_t i = 0; i < after.size(); ++i) {
        const double w = before[i][0];
        for (int c = 0; c < 5; ++c)
          ASSERT_EQ(after[i][1 + c], before[i][1 + c] - shift[c]) << i << " " << c;
        yy += w * after[i][1] * after[i][1];
        for (int p = 0; p < 4; ++p)
          squares[p] += w * after[i][2 + p] * after[i][2 + p];
      }
      const double tol = threads == 1 ? 0.0 : 1e-12;
      EXPECT_NEAR(m.sumWYY, yy, tol * yy);
      for (int p = 0; p < 4; ++p)
        EXPECT_NEAR(m.moments.columnSquareSums[p], squares[p], tol * squares[p]) << p;
    }
}

} // namespace
