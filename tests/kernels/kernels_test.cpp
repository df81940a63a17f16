// The data-pass kernels against sums formed directly from the stored rows (read back from
// the pages): weights, frequencies, TRAIN/VALIDATE/TEST roles, dense and sparse effects,
// pages in memory and on disk, serial and on several page workers. PRESS and the
// validation/test ASE are checked against a least-squares fit by Gauss-Jordan inversion.
#include "data/datafixture.h"
#include "data/vsfthread.h"
#include "data/vsfutilfile.h"
#include "host/ext/qkpgf.h"
#include "kernels/vsfkernels.h"
#include "kernels/vsfkernelsums.h"
#include "kernels/vsflarcallbacks.h"
#include "kernels/vsfmoments.h"
#include "kernels/vsfresid.h"
#include "kernels/vsftransform.h"
#include "kernels/vsfxpx.h"
#include "model/vsfcriteria.h"
#include "model/vsfmodel.h"
#include "model/vsfsweep.h"
#include "support/hostif.h"
#include "support/vsfoptions.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <map>
#include <new>
#include <vector>

using namespace datatest;

namespace {

struct Row {
  double w, f, y;
  int32_t role;
  std::vector<double> x; // every parameter, in parameter order
};

// Widths of the effects: intercept, two single columns, a 3-column and a 4-column effect
// (sparse when asked), and one more single column.
const std::vector<int32_t> kWidths = {1, 1, 1, 3, 4, 1};

Source makeSource(int n) {
  Source src;
  for (int i = 0; i < n; ++i) {
    Obs o;
    const double a = std::sin(i * 0.37), b = std::cos(i * 1.13);
    o.x = {1.0, a * 3 + 1, b * 2 - 0.5};
    for (int k = 0; k < 3; ++k)
      o.x.push_back(i % 3 == k ? 1.0 + 0.1 * k + 0.3 * std::sin(i * 0.5) : 0.0);
    for (int k = 0; k < 4; ++k)
      o.x.push_back((i * 7 + k) % 5 == 0 ? std::sin(i + k) : 0.0);
    o.x.push_back(std::cos(i * 0.21) * i / n);
    o.y = 2 + 1.5 * o.x[1] - 0.7 * o.x[2] + 0.3 * o.x[4] + std::sin(i * 2.9);
    o.w = 0.5 + (i % 4) * 0.25;
    o.f = 1 + i % 3;
    src.rows.push_back(o);
  }
  return src;
}

struct KernelRun {
  PageRun run;
  VsfModelOptions opt{};
  std::vector<Row> rows;
  int32_t P = 0;

  // With `folds`, every row carries a SPLIT fold code besides its role.
  KernelRun(Source& src, bool sparse, int32_t threads, bool disk, bool full, int32_t folds = 0) {
    qrxhost::resetPageFileSettings();
    if (disk)
      qrxhost::setPageFileSizes(512, 512, 512);
    denseEntries(run, kWidths);
    if (sparse) {
      for (auto& e : run.entries)
        e.sparseVote = e.columnCount > 1 ? 1 : 0;
    }
    run.settings.weightGiven = run.settings.freqGiven = 1;
    run.settings.threadCount = threads;
    run.settings.threadingOn = threads > 1;
    run.settings.utilBuffers = disk ? 1 : 0;
    run.settings.testFraction = 0.2;
    run.settings.validateFraction = 0.25;
    run.settings.trainFraction = 0.55;
    run.settings.roleCodes = 1;
    if (folds > 0) {
      run.settings.cv = 1;
      run.settings.cvMethod = VsfCvMethod::Split;
      run.settings.folds = folds;
    }
    EXPECT_EQ(run.read(src), 0);
    if (threads > 1) {
      EXPECT_EQ(run.startThreads(threads), 0);
    }
    opt.method = VsfMethod::None;
    opt.select = VsfCriterion::Sbc;
    opt.fullXpx = full;
    opt.forcedIn = 1;
    opt.validateInUse = opt.testInUse = 1;
    run.model.options = &opt;
    vsfRegisterKernels();
    EXPECT_EQ(vsfModelInit(&run.model), VsfStatus::Ok);
    P = run.model.parmCount;
    collectRows();
  }
  ~KernelRun() {
    vsfModelByFree(&run.model);
    qrxhost::resetPageFileSettings();
  }

  // The stored rows with every parameter restored to its place.
  void collectRows() {
    VsfModel& m = run.model;
    auto doubles = run.rowDoubles();
    auto codes = run.rowCodes();
    for (size_t i = 0; i < doubles.size(); ++i) {
      const auto& d = doubles[i];
      const auto& c = codes[i];
      // The fold code, where there is one, comes before the role.
      const int32_t fixed = run.settings.cv != 0 ? 2 : 1;
      Row r;
      r.w = d[0];
      r.f = d[1];
      r.y = d[2];
      r.role = c[fixed - 1];
      r.x.assign(P, 0.0);
      const double* dense = d.data() + 3;
      const double* stored = dense + m.layout.denseColumnCount;
      int32_t p0 = 0;
      for (int32_t e = 0; e < m.effectCount; ++e) {
        if (m.layout.sparseSlot[e] < 0) {
          for (int32_t q = 0; q < m.effectColumns[e]; ++q)
            r.x[p0 + q] = dense[m.layout.denseOffset[e] + q];
        } else {
          const int32_t s = m.layout.sparseSlot[e];
          const int32_t begin = s == 0 ? 0 : c[fixed + s - 1];
          const int32_t end = c[fixed + s];
          for (int32_t v = begin; v < end; ++v)
            r.x[p0 + c[fixed + m.layout.sparseEffectCount + v]] = stored[v];
        }
        p0 += m.effectColumns[e];
      }
      rows.push_back(r);
    }
  }
  // X'X column of parameter p in the full layout.
  int32_t column(int32_t p) const {
    const VsfModel& m = run.model;
    for (int32_t e = 0; e < m.effectCount; ++e)
      if (p < m.parmOffset[e] + m.effectColumns[e])
        return m.effectColumn[e] + p - m.parmOffset[e];
    return -1;
  }
};

void near(double got, double want, const char* what) {
  EXPECT_NEAR(got, want, 1e-11 * std::max(1.0, std::fabs(want))) << what;
}

struct Kernels : ::testing::Test {
  void SetUp() override { setUpHost(); }
  void TearDown() override { EXPECT_EQ(qrxhost::liveUtilityFiles(), 0); }
};

TEST_F(Kernels, CrossProductsAndMomentsEqualDirectSums) {
  Source src = makeSource(400);
  for (bool sparse : {false, true})
    for (int32_t threads : {1, 3})
      for (bool disk : {false, true}) {
        SCOPED_TRACE(testing::Message()
                     << "sparse " << sparse << " threads " << threads << " disk " << disk);
        {
          KernelRun k(src, sparse, threads, disk, true);
          VsfModel& m = k.run.model;
          ASSERT_EQ(vsfExecuteByThreads(&m, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
          std::vector<double> xpx((k.P + 1) * (k.P + 2) / 2, 0.0);
          for (const Row& r : k.rows) {
            if (r.role != VSF_ROLE_TRAIN)
              continue;
            std::vector<double> v(k.P + 1);
            v[0] = r.y;
            for (int32_t p = 0; p < k.P; ++p)
              v[k.column(p)] = r.x[p];
            for (int32_t i = 0; i <= k.P; ++i)
              for (int32_t j = 0; j <= i; ++j)
                xpx[i * (i + 1) / 2 + j] += r.w * r.f * v[i] * v[j];
          }
          for (size_t i = 0; i < xpx.size(); ++i)
            near(m.xpx[i], xpx[i], "X'X");

          // Moments and sums of squares.
          m.sumWY = m.sumWYY = 0;
          std::fill(m.moments.columnSums, m.moments.columnSums + k.P, 0.0);
          std::fill(m.moments.columnSumSquares, m.moments.columnSumSquares + k.P, 0.0);
          std::fill(m.moments.columnSquareSums, m.moments.columnSquareSums + k.P, 0.0);
          ASSERT_EQ(vsfExecuteByThreads(&m, vsfMoments, vsfMoments_t, 0), VsfStatus::Ok);
          ASSERT_EQ(vsfExecuteByThreads(&m, vsfYpwY, vsfYpwY_t, 0), VsfStatus::Ok);
          double sy = 0, syy = 0;
          std::vector<double> sx(k.P, 0.0), sxx(k.P, 0.0);
          for (const Row& r : k.rows)
            if (r.role == VSF_ROLE_TRAIN) {
              sy += r.w * r.f * r.y;
              syy += r.w * r.f * r.y * r.y;
              for (int32_t p = 0; p < k.P; ++p) {
                sx[p] += r.w * r.f * r.x[p];
                sxx[p] += r.w * r.f * r.x[p] * r.x[p];
              }
            }
          near(m.sumWY, sy, "sum wy");
          near(m.sumWYY, syy, "sum wyy");
          for (int32_t p = 0; p < k.P; ++p) {
            near(m.moments.columnSums[p], sx[p], "column sums");
            near(m.moments.columnSumSquares[p], sxx[p], "column sums of squares");
            near(m.moments.columnSquareSums[p], sxx[p], "diagonal of X'WX");
          }
        }
        {
          // On demand: every effect's own block, X'y with every column, then the rows of
          // entering effects and their cross products.
          KernelRun k(src, sparse, threads, disk, false);
          VsfModel& m = k.run.model;
          ASSERT_EQ(vsfExecuteByThreads(&m, vsfEffectXpX, vsfEffectXpX_t, 0), VsfStatus::Ok);
          for (int32_t e = 0; e < m.effectCount; ++e) {
            const int32_t c = m.effectColumns[e], p0 = m.parmOffset[e];
            for (int32_t i = 0; i < c; ++i)
              for (int32_t j = 0; j <= i; ++j) {
                double want = 0;
                for (const Row& r : k.rows)
                  if (r.role == VSF_ROLE_TRAIN)
                    want += r.w * r.f * r.x[p0 + i] * r.x[p0 + j];
                near(m.effectBlocks[e][i * (i + 1) / 2 + j], want, "effect block");
              }
          }
          ASSERT_EQ(vsfExecuteByThreads(&m, vsfYCross, vsfYCross_t, 0), VsfStatus::Ok);
          double yy = 0;
          for (const Row& r : k.rows)
            if (r.role == VSF_ROLE_TRAIN)
              yy += r.w * r.f * r.y * r.y;
          near(m.cross[0], yy, "y'y");
          for (int32_t p = 0; p < k.P; ++p) {
            double want = 0;
            for (const Row& r : k.rows)
              if (r.role == VSF_ROLE_TRAIN)
                want += r.w * r.f * r.y * r.x[p];
            near(m.cross[1 + p], want, "x'y");
          }
          // Enter effects 0, 4 and 3 by data passes (no stored cross products): the grown
          // X'X rows are the direct sums in entry order.
          k.opt.storeCross = 0;
          m.xpx[0] = yy;
          m.sweptXpx[0] = yy;
          std::vector<int32_t> order = {0, 4, 3};
          std::vector<int32_t> parms; // parameters in grown column order
          for (int32_t e : order) {
            ASSERT_EQ(vsfAddEffect(&m, e, 0, 0), VsfStatus::Ok);
            for (int32_t q = 0; q < m.effectColumns[e]; ++q)
              parms.push_back(m.parmOffset[e] + q);
          }
          auto value = [&](const Row& r, int32_t col) {
            return col == 0 ? r.y : r.x[parms[col - 1]];
          };
          auto grownMatches = [&](const char* what) {
            ASSERT_EQ(m.xpxColumns, 1 + static_cast<int32_t>(parms.size()));
            for (int32_t i = 1; i < m.xpxColumns; ++i)
              for (int32_t j = 0; j <= i; ++j) {
                double want = 0;
                for (const Row& r : k.rows)
                  if (r.role == VSF_ROLE_TRAIN)
                    want += r.w * r.f * value(r, i) * value(r, j);
                near(m.xpx[i * (i + 1) / 2 + j], want, what);
              }
          };
          grownMatches("grown X'X");
          auto crossMatches = [&](int32_t e, const char* what) {
            for (int32_t q = 0; q < m.effectColumns[e]; ++q)
              for (int32_t p = 0; p < k.P; ++p) {
                double want = 0;
                for (const Row& r : k.rows)
                  if (r.role == VSF_ROLE_TRAIN)
                    want += r.w * r.f * r.x[m.parmOffset[e] + q] * r.x[p];
                near(m.cross[(m.crossSlot[e] + q) * (k.P + 1) + 1 + p], want, what);
              }
          };
          // The entering effect's cross products with every column, then those of several
          // effects (single, dense or sparse blocks) in one pass.
          m.crossColumnCount = 1;
          ASSERT_EQ(vsfAddCross(&m, 3), VsfStatus::Ok);
          crossMatches(3, "stored cross products");
          const int32_t batch[] = {5, 4, 1};
          ASSERT_EQ(vsfAddCrossBatch(&m, batch, 3), VsfStatus::Ok);
          for (int32_t e : batch)
            crossMatches(e, "cross products of a batch");
          // On the kept road an effect with kept cross products enters without a pass.
          m.path.larCrossBytes = int64_t{1} << 30;
          const int64_t passes = vsfPassCount();
          ASSERT_EQ(vsfAddEffect(&m, 5, 0, 0), VsfStatus::Ok);
          m.path.larCrossBytes = 0;
          EXPECT_EQ(vsfPassCount(), passes);
          parms.push_back(m.parmOffset[5]);
          grownMatches("X'X grown from kept cross products");
        }
      }
}

// Inverse of a small symmetric positive definite matrix by Gauss-Jordan elimination.
std::vector<double> inverse(std::vector<double> a, int n) {
  std::vector<double> inv(n * n, 0.0);
  for (int i = 0; i < n; ++i)
    inv[i * n + i] = 1.0;
  for (int c = 0; c < n; ++c) {
    const double p = a[c * n + c];
    for (int j = 0; j < n; ++j) {
      a[c * n + j] /= p;
      inv[c * n + j] /= p;
    }
    for (int r = 0; r < n; ++r)
      if (r != c) {
        const double f = a[r * n + c];
        for (int j = 0; j < n; ++j) {
          a[r * n + j] -= f * a[c * n + j];
          inv[r * n + j] -= f * inv[c * n + j];
        }
      }
  }
  return inv;
}

TEST_F(Kernels, PressAndPredictionErrorsEqualALeastSquaresFit) {
  Source src = makeSource(300);
  for (bool sparse : {false, true})
    for (int32_t threads : {1, 4}) {
      KernelRun k(src, sparse, threads, true, true);
      VsfModel& m = k.run.model;
      ASSERT_EQ(vsfExecuteByThreads(&m, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
      std::copy(m.xpx, m.xpx + (k.P + 1) * (k.P + 2) / 2, m.sweptXpx);
      for (int32_t e = 0; e < m.effectCount; ++e)
        ASSERT_EQ(vsfAddEffect(&m, e, 0, 0), VsfStatus::Ok);
      ASSERT_EQ(m.rank, k.P);
      ASSERT_EQ(vsfComputePress(&m), VsfStatus::Ok);
      ASSERT_EQ(vsfComputeResids(&m), VsfStatus::Ok);
      // Independent fit: (X'WX)^-1 X'Wy over the TRAIN rows.
      const int n = k.P;
      std::vector<double> A(n * n, 0.0), b(n, 0.0);
      double wv = 0, wt = 0;
      for (const Row& r : k.rows) {
        if (r.role == VSF_ROLE_VALIDATE)
          wv += r.w * r.f;
        if (r.role == VSF_ROLE_TEST)
          wt += r.w * r.f;
        if (r.role != VSF_ROLE_TRAIN)
          continue;
        for (int i = 0; i < n; ++i) {
          b[i] += r.w * r.f * r.x[i] * r.y;
          for (int j = 0; j < n; ++j)
            A[i * n + j] += r.w * r.f * r.x[i] * r.x[j];
        }
      }
      const std::vector<double> Ai = inverse(A, n);
      std::vector<double> beta(n, 0.0);
      for (int i = 0; i < n; ++i)
        for (int j = 0; j < n; ++j)
          beta[i] += Ai[i * n + j] * b[j];
      double press = 0, ase[2] = {0, 0};
      for (const Row& r : k.rows) {
        double fit = 0;
        for (int i = 0; i < n; ++i)
          fit += beta[i] * r.x[i];
        const double e = r.y - fit;
        if (r.role == VSF_ROLE_TRAIN) {
          double h = 0;
          for (int i = 0; i < n; ++i)
            for (int j = 0; j < n; ++j)
              h += r.x[i] * Ai[i * n + j] * r.x[j];
          h *= r.w;
          press += r.f * r.w * (e / (1 - h)) * (e / (1 - h));
        } else {
          ase[r.role == VSF_ROLE_VALIDATE ? 0 : 1] += r.w * r.f * e * e;
        }
      }
      EXPECT_NEAR(m.press, press, 1e-9 * press);
      EXPECT_NEAR(m.validateAse, ase[0] / wv, 1e-9 * ase[0] / wv);
      EXPECT_NEAR(m.testAse, ase[1] / wt, 1e-9 * ase[1] / wt);
      EXPECT_EQ(m.totals.wValidate, wv);
      // Cached: a second request runs no pass and keeps the value.
      const double before = m.press;
      ASSERT_EQ(vsfComputePress(&m), VsfStatus::Ok);
      EXPECT_EQ(m.press, before);
    }
}

} // namespace

// A TRAIN row whose CV fold is outside 0 to foldCount - 1 belongs to no fold's sums: the
// pass fails with its own message instead of leaving the row out of every sum unseen.
TEST_F(Kernels, ARowOutsideTheFoldsFailsThePass) {
  Source src;
  for (int i = 0; i < 9; ++i) {
    Obs o;
    o.y = i;
    o.x = {1.0, double(i % 4)};
    src.rows.push_back(o);
  }
  PageRun run;
  denseEntries(run, {1, 1});
  run.settings.cvMethod = VsfCvMethod::Split;
  run.settings.cv = 1;
  run.settings.folds = 3; // rows carry folds 0, 1, 2, 0, 1, 2, ...
  ASSERT_EQ(run.read(src), 0);
  VsfModel& m = run.model;
  const int64_t T = 6; // the packed X'X of (y, two columns)
  std::vector<std::vector<double>> sums(3, std::vector<double>(T, 0.0));
  std::vector<VsfFoldRecord> folds(3);
  for (int f = 0; f < 3; ++f)
    folds[f].xpx = sums[f].data();
  std::vector<double> xpx(T, 0.0);
  m.xpx = xpx.data();
  m.xpxColumns = 3;
  m.cv.folds = folds.data();
  vsfRegisterKernels();

  m.cv.foldCount = 3;
  ASSERT_EQ(vsfDataPass(&m, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
  double rows = 0;
  for (int f = 0; f < 3; ++f)
    rows += sums[f][2]; // element (1, 1), the intercept: the rows of the fold
  EXPECT_EQ(rows, 9);

  m.cv.foldCount = 2; // the rows of fold 2 now lie outside the folds
  loggedNumbers();    // drop what was logged so far
  EXPECT_EQ(vsfDataPass(&m, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::BadFoldRow);
  auto logged = loggedNumbers();
  EXPECT_NE(std::find(logged.begin(), logged.end(), VsfMsg::TrainingRowFoldOutOfRange),
            logged.end());
  // X'y walks the rows as the X'X does: the same row fails its pass.
  std::vector<std::vector<double>> cross(3, std::vector<double>(3, 0.0));
  for (int f = 0; f < 3; ++f)
    folds[f].cross = cross[f].data();
  std::vector<double> modelCross(3, 0.0);
  std::vector<int32_t> parmOffset{0, 1};
  m.cross = modelCross.data();
  m.parmOffset = parmOffset.data();
  m.parmCount = 2;
  EXPECT_EQ(vsfDataPass(&m, vsfYCross, vsfYCross_t, 0), VsfStatus::BadFoldRow);
  m.cross = nullptr;
  m.parmOffset = nullptr;
  m.xpx = nullptr;
  m.cv.folds = nullptr;
  m.cv.foldCount = 0;
}

// vsfCorr centres a single-column candidate k by the k-th entry of columnSums. With an empty
// model the residual is y, so corr[k] = sum over TRAIN rows of w f y (x_k - columnSums[k]).
// Effect 5 has parameter offset 10: the two indexings read different entries.
TEST_F(Kernels, PlainCorrelationCentresByTheEntryOfTheEffect) {
  Source src = makeSource(60);
  KernelRun k(src, false, 1, false, true);
  VsfModel& m = k.run.model;
  ASSERT_NE(m.parmOffset[5], 5);
  for (int32_t p = 0; p < k.P; ++p)
    m.moments.columnSums[p] = 0.1 * (p + 1);
  m.inModelCount = 0;
  for (int32_t e = 0; e < m.effectCount; ++e) {
    m.effectStatus[e] = VES_CANDIDATE;
    m.pathPass.corr[e] = 0.0;
  }
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfCorr, vsfCorr_t, 0), VsfStatus::Ok);
  for (int32_t e : {1, 2, 5}) {
    double want = 0;
    for (const Row& r : k.rows)
      if (r.role == VSF_ROLE_TRAIN)
        want += r.w * r.f * r.y * (r.x[m.parmOffset[e]] - m.moments.columnSums[e]);
    near(m.pathPass.corr[e], want, "corr");
  }
  EXPECT_EQ(m.pathPass.corr[3], 0.0); // more than one column: not a candidate of this kernel
}

namespace {

// Two runs of the same rows, each set up by `prepare`: the page transform `first` and then the
// full X'X on the one, the pass `fused` that does both on the other. Pages, sums of squares and
// cross products are the same to the bit, in memory and on disk, serially and on page workers;
// the response on the pages is less `yShift`.
template <class Prepare>
void expectOnePassLikeTwo(Prepare prepare, VsfSerialKernel first, VsfThreadedKernel firstT,
                          VsfSerialKernel fused, VsfThreadedKernel fusedT, double yShift) {
  Source src = makeSource(400);
  for (int32_t threads : {1, 3})
    for (bool disk : {false, true}) {
      SCOPED_TRACE(testing::Message() << "threads " << threads << " disk " << disk);
      KernelRun twoPasses(src, false, threads, disk, true);
      KernelRun onePass(src, false, threads, disk, true);
      for (KernelRun* k : {&twoPasses, &onePass}) {
        k->run.settings.rewritePages = 1;
        prepare(k->run.model);
      }
      VsfModel& a = twoPasses.run.model;
      ASSERT_EQ(vsfExecuteByThreads(&a, first, firstT, 0), VsfStatus::Ok);
      ASSERT_EQ(vsfExecuteByThreads(&a, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
      VsfModel& b = onePass.run.model;
      ASSERT_EQ(vsfExecuteByThreads(&b, fused, fusedT, 0), VsfStatus::Ok);
      ASSERT_EQ(b.xpxColumns, a.xpxColumns);
      const size_t length = static_cast<size_t>((a.xpxColumns * (a.xpxColumns + 1)) / 2);
      EXPECT_EQ(std::memcmp(a.xpx, b.xpx, sizeof(double) * length), 0);
      EXPECT_NE(a.xpx[0], 0.0);
      EXPECT_EQ(std::memcmp(&a.sumWYY, &b.sumWYY, sizeof(double)), 0);
      EXPECT_EQ(std::memcmp(a.moments.columnSquareSums, b.moments.columnSquareSums,
                            sizeof(double) * static_cast<size_t>(a.parmCount)),
                0);
      const auto pagesA = twoPasses.run.rowDoubles(), pagesB = onePass.run.rowDoubles();
      EXPECT_TRUE(pagesA == pagesB);
      EXPECT_EQ(pagesA[0][2], twoPasses.rows[0].y - yShift);
    }
}

// The centring and scaling of the path methods and the full X'X in one pass over the rows.
TEST_F(Kernels, CentringWithTheCrossProductsGivesTheTwoPassesResults) {
  auto centre = [](VsfModel& m) {
    m.sumWY = 2.25;
    for (int32_t e = 1; e < m.effectCount; ++e) {
      m.moments.columnSums[e] = 0.3 * e - 0.1;
      m.moments.columnSumSquares[e] = 1.5 / e;
    }
  };
  expectOnePassLikeTwo(centre, vsfCenterScale, vsfCenterScale_t, vsfCenterScaleXpX,
                       vsfCenterScaleXpX_t, 2.25);
}

// The shift, its sums of squares and the full X'X in one pass over the rows.
TEST_F(Kernels, ShiftingWithTheCrossProductsGivesTheTwoPassesResults) {
  auto shift = [](VsfModel& m) {
    ASSERT_NE(m.shift.xpxShift, nullptr);
    std::fill(m.shift.xpxShift, m.shift.xpxShift + m.parmCount + 1, 0.0);
    m.shift.xpxShift[0] = 2.5;
    for (int32_t p = 2; p <= m.parmCount; ++p)
      m.shift.xpxShift[p] = 0.25 * p - 0.5;
    m.sumWYY = 0.0;
    std::fill(m.moments.columnSquareSums, m.moments.columnSquareSums + m.parmCount, 0.0);
  };
  expectOnePassLikeTwo(shift, vsfShiftRowsSquares, vsfShiftRowsSquares_t, vsfShiftSquaresXpX,
                       vsfShiftSquaresXpX_t, 2.5);
}

} // namespace

namespace {

// The shared road's parts over the pages on this thread, one part after another, every page
// with its note: the parts after the first read the notes the first left.
std::vector<std::atomic<VsfPageNote>> gNotes(4096);
int32_t gPart = 0, gParts = 1;
size_t gPage = 0;
VsfPageSpan* gSpan = nullptr;
VsfStatus partWithNote(VsfPassState* m, QkPageDescriptor* page) {
  return vsfFullXpXPart(m, page, gPart, gParts, &gNotes.at(gPage++), gSpan);
}
VsfStatus fullInSpan(VsfPassState* m, QkPageDescriptor* page) {
  return kVsfFullXpXSpan.serial(m, page, gSpan);
}

// Runs `pass` within a span of its own, as a worker's visit of the pages does.
VsfStatus inSpan(VsfPassState* m, VsfSerialKernel pass) {
  gSpan = kVsfFullXpXSpan.open();
  const VsfStatus rc = vsfUtilRead(m, pass);
  kVsfFullXpXSpan.finish(gSpan);
  kVsfFullXpXSpan.release(gSpan);
  gSpan = nullptr;
  return rc;
}

// The first part to walk a page notes whether its rows are all finite, and the later parts
// trust the note instead of testing the rows: the rows of a page holding an infinite value
// must still take the update that leaves out zero terms in every part (the fast one would
// make inf times 0 a NaN), and the parts' triangle is the serial pass's bit for bit.
TEST_F(Kernels, PartsTrustingThePageNotesGiveTheSerialTriangle) {
  Source src = makeSource(400);
  for (const int i : {150, 151, 152, 153})
    src.rows[static_cast<size_t>(i)].x[1] = INFINITY;
  KernelRun k(src, false, 1, false, true);
  VsfModel& m = k.run.model;
  ASSERT_TRUE(std::any_of(k.rows.begin(), k.rows.end(), [](const Row& r) {
    return r.role == VSF_ROLE_TRAIN && std::isinf(r.x[1]);
  }));
  // The serial pass over a wide triangle: every page in read order within one span.
  const VsfStatus rc = inSpan(&m, fullInSpan);
  ASSERT_EQ(rc, VsfStatus::Ok);
  const size_t length = static_cast<size_t>(m.xpxColumns) * (m.xpxColumns + 1) / 2;
  const std::vector<double> serial(m.xpx, m.xpx + length);
  std::fill(m.xpx, m.xpx + length, 0.0);
  for (auto& note : gNotes)
    note = VsfPageNote::Unknown;
  gParts = 3;
  for (gPart = 0; gPart < gParts; ++gPart) {
    gPage = 0;
    // Within a span, as the workers visit the pages: rows wait across pages for full blocks.
    const VsfStatus partRc = inSpan(&m, partWithNote);
    ASSERT_EQ(partRc, VsfStatus::Ok);
  }
  EXPECT_EQ(std::memcmp(serial.data(), m.xpx, length * sizeof(double)), 0);
  std::map<VsfPageNote, size_t> noted;
  for (size_t p = 0; p < gPage; ++p)
    ++noted[gNotes[p].load()];
  EXPECT_GT(noted[VsfPageNote::RowsFinite], 0U);
  EXPECT_GT(noted[VsfPageNote::NotAllFinite], 0U);
  EXPECT_EQ(noted[VsfPageNote::Unknown], 0U);
}

// Under cross validation the parts share out the folds' triangles laid end to end, so that a
// part reads the rows of a few folds only: a fold may be cut between parts at any row of its
// dense triangle or of its sparse rows. However many parts, every element of every fold's
// triangle (its rows centred about the fold's means, some holding an infinite value) is the
// serial pass's bit for bit, and the folds' triangles hold every training row once.
TEST_F(Kernels, PartsSharingOutTheFoldsGiveTheSerialFoldTriangles) {
  Source src = makeSource(400);
  for (const int i : {150, 151, 152, 153})
    src.rows[static_cast<size_t>(i)].x[1] = INFINITY;
  constexpr int32_t kFolds = 5;
  KernelRun k(src, true, 1, false, true, kFolds);
  VsfModel& m = k.run.model;
  const int32_t n = m.layout.denseColumnCount + 1;
  const size_t length = static_cast<size_t>(m.xpxColumns) * (m.xpxColumns + 1) / 2;
  std::vector<std::vector<double>> sums(kFolds, std::vector<double>(length, 0.0));
  std::vector<VsfFoldRecord> folds(kFolds);
  for (int32_t f = 0; f < kFolds; ++f)
    folds[f].xpx = sums[static_cast<size_t>(f)].data();
  // Each fold's centre: its weight (unused here), then a mean for the response and each dense
  // value; the intercept's stays 0.
  std::vector<double> centre(static_cast<size_t>(kFolds) * (n + 1), 0.0);
  for (int32_t f = 0; f < kFolds; ++f)
    for (int32_t i = 1; i <= n; ++i)
      centre[static_cast<size_t>(f * (n + 1) + i)] = i == 2 ? 0.0 : 0.125 * (f + 1) - 0.0625 * i;
  m.cv.folds = folds.data();
  m.cv.foldCount = kFolds;
  m.cv.foldCentre = centre.data();
  m.cv.foldCentreOrder = n;
  ASSERT_EQ(inSpan(&m, fullInSpan), VsfStatus::Ok);
  const std::vector<std::vector<double>> serial = sums;
  // Element (1, 1) of a fold's triangle is the sum of its rows' weights: together the folds
  // hold every training row.
  double weights = 0.0, trainWeights = 0.0;
  for (const std::vector<double>& fold : serial)
    weights += fold[2];
  for (const Row& r : k.rows)
    if (r.role == VSF_ROLE_TRAIN)
      trainWeights += r.w * r.f;
  EXPECT_EQ(weights, trainWeights);
  for (const int32_t parts : {2, 3, 4, 8}) {
    SCOPED_TRACE(testing::Message() << parts << " parts");
    for (std::vector<double>& fold : sums)
      std::fill(fold.begin(), fold.end(), 0.0);
    gParts = parts;
    for (gPart = 0; gPart < gParts; ++gPart) {
      gPage = 0;
      for (auto& note : gNotes)
        note = VsfPageNote::Unknown;
      ASSERT_EQ(inSpan(&m, partWithNote), VsfStatus::Ok);
    }
    for (int32_t f = 0; f < kFolds; ++f)
      EXPECT_EQ(std::memcmp(serial[static_cast<size_t>(f)].data(),
                            sums[static_cast<size_t>(f)].data(), length * sizeof(double)),
                0)
          << "fold " << f;
  }
  m.cv.folds = nullptr;
  m.cv.foldCount = 0;
  m.cv.foldCentre = nullptr;
}

} // namespace

namespace {

// The full X'X pass whose span forms fail for want of memory at page gFailAt of their visit.
int gFailAt = -1, gVisited = 0;
VsfStatus failingSpanned(VsfPassState* m, QkPageDescriptor* page, VsfPageSpan* span) {
  if (gVisited++ == gFailAt)
    throw std::bad_alloc();
  return kVsfFullXpXSpan.serial(m, page, span);
}
VsfStatus failingSpanned_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t length,
                           VsfPageSpan* span) {
  if (gVisited++ == gFailAt)
    throw std::bad_alloc();
  return kVsfFullXpXSpan.threaded(m, page, buffer, length, span);
}
VsfStatus failingPlain(VsfPassState* m, QkPageDescriptor* page) { return vsfFullXpX(m, page); }
VsfStatus failingPlain_t(VsfPassState* m, QkPageDescriptor* page, double* buffer, int64_t length) {
  return vsfFullXpX_t(m, page, buffer, length);
}

std::vector<double> triangleOf(const VsfModel& m) {
  return std::vector<double>(m.xpx,
                             m.xpx + static_cast<size_t>(m.xpxColumns) * (m.xpxColumns + 1) / 2);
}

// A fit whose cross-product pass fails part-way leaves nothing behind on its thread: the rows
// its span kept waiting are dropped with the span, not added into its triangle by the next
// fit's pass on that thread (which would write into a fit already given up, its memory maybe
// freed), and that pass gives the triangle it gives run on its own.
TEST_F(Kernels, AFitFailedPartWayLeavesNoRowsForTheNextFitOnItsThread) {
  Source src = makeSource(400);
  KernelRun failed(src, false, 1, false, true), next(src, false, 1, false, true);
  ASSERT_GE(next.run.model.bags->files[0].memPageCount, 3);
  ASSERT_EQ(vsfExecuteByThreads(&next.run.model, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
  const std::vector<double> alone = triangleOf(next.run.model);

  const VsfSpanForms failing{kVsfFullXpXSpan.open, kVsfFullXpXSpan.finish, kVsfFullXpXSpan.release,
                             failingSpanned, failingSpanned_t};
  VsfKernelUse use = kVsfFullXpXUse;
  use.span = &failing;
  use.groupsPages = false; // the serial road: the rows wait for the model's own triangle
  vsfRegisterKernelPair(failingPlain, failingPlain_t, use);
  gVisited = 0;
  gFailAt = 2;
  EXPECT_THROW((void)vsfExecuteByThreads(&failed.run.model, failingPlain, failingPlain_t, 0),
               std::bad_alloc);
  gFailAt = -1;
  const std::vector<double> atFailure = triangleOf(failed.run.model);

  VsfModel& m = next.run.model;
  std::fill(m.xpx, m.xpx + alone.size(), 0.0);
  ASSERT_EQ(vsfExecuteByThreads(&m, vsfFullXpX, vsfFullXpX_t, 0), VsfStatus::Ok);
  EXPECT_EQ(std::memcmp(triangleOf(m).data(), alone.data(), alone.size() * sizeof(double)), 0);
  EXPECT_EQ(triangleOf(failed.run.model), atFailure);
}

} // namespace
