// The fold of summed worker buffers into the model, kernel by kernel: buffer lengths, slot
// order of the sum, CV slices into the fold records, offsets of appended blocks and the
// screening lists.
#include "datafixture.h"
#include "kernels/vsfkernelsums.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

template <int K> VsfStatus serialOf(VsfPassState*, QkPageDescriptor*) { return statusFromCode(K); }
template <int K> VsfStatus threadedOf(VsfPassState*, QkPageDescriptor*, double*, int64_t) {
  return statusFromCode(K);
}

// A model with P = 3, E = 2, K = 2 folds, 2 workers whose buffers are 1, 2, 3 ... and
// 100, 200, 300 ...
struct Fold {
  VsfModel m{};
  VsfDataSettings s{};
  ThreadPuddle puddle{};
  VsfWorkItem items[2]{};
  std::vector<double> b0, b1;
  VsfFoldRecord folds[2]{};
  std::vector<double> xpx = std::vector<double>(20), cross = std::vector<double>(16),
                      corr = std::vector<double>(3), dir = std::vector<double>(3),
                      sums = std::vector<double>(3), squares = std::vector<double>(3),
                      squareSums = std::vector<double>(3);
  std::vector<double> fx[2] = {std::vector<double>(20), std::vector<double>(20)};
  std::vector<double> fc[2] = {std::vector<double>(16), std::vector<double>(16)};
  int32_t columns[2] = {2, 1};

  Fold() {
    m.parmCount = 3;
    m.effectCount = 2;
    m.cv.foldCount = 2;
    m.xpxColumns = 2;
    m.crossColumnCount = 1;
    m.effectColumns = columns;
    m.xpx = xpx.data();
    m.cross = cross.data();
    m.pathPass.corr = corr.data();
    m.pathPass.dirCorr = dir.data();
    m.moments.columnSums = sums.data();
    m.moments.columnSumSquares = squares.data();
    m.moments.columnSquareSums = squareSums.data();
    for (int f = 0; f < 2; ++f) {
      folds[f].xpx = fx[f].data();
      folds[f].cross = fc[f].data();
    }
    m.cv.folds = folds;
    s.threadCount = 2;
    m.dataSettings = &s;
    m.puddle = &puddle;
    puddle.items = items;
  }
  // Fills both buffers for kernel kind k and folds them.
  void run(VsfThreadedKernel t, int64_t arg = 0) {
    const int64_t L = vsfKernelBufferLength(&m, t, arg);
    b0.assign(static_cast<size_t>(L), 0);
    b1.assign(static_cast<size_t>(L), 0);
    for (int64_t i = 0; i < L; ++i) {
      b0[static_cast<size_t>(i)] = double(i + 1);
      b1[static_cast<size_t>(i)] = 100.0 * double(i + 1);
    }
    items[0].buffer = b0.data();
    items[1].buffer = b1.data();
    items[0].length = items[1].length = L;
    accumulate(&m, t);
  }
};

TEST(Accumulate, BufferLengthsFollowTheKernelAndTheCvSwitches) {
  vsfRegisterKernelPair(serialOf<1>, threadedOf<1>, kVsfFullXpXUse);
  vsfRegisterKernelPair(serialOf<2>, threadedOf<2>, kVsfMomentsUse);
  vsfRegisterKernelPair(serialOf<3>, threadedOf<3>, kVsfLarCorrUse);
  vsfRegisterKernelPair(serialOf<4>, threadedOf<4>, kVsfEffectXpXUse);
  vsfRegisterKernelPair(serialOf<5>, threadedOf<5>, kVsfPageTransformUse);
  Fold f;
  auto len = [&](VsfThreadedKernel t, int64_t arg = 0) {
    return vsfKernelBufferLength(&f.m, t, arg);
  };
  EXPECT_EQ(len(threadedOf<1>), 3);     // m(m+1)/2, m = 2
  EXPECT_EQ(len(threadedOf<2>), 7);     // 2P + 1
  EXPECT_EQ(len(threadedOf<3>), 5);     // E + 3
  EXPECT_EQ(len(threadedOf<4>), 3 + 1); // 2*3/2 + 1*2/2
  EXPECT_EQ(len(threadedOf<5>), 0);     // a page transform has no buffer
  f.s.cv = 1;
  EXPECT_EQ(len(threadedOf<1>), 6);
  EXPECT_EQ(len(threadedOf<4>), 8);
  f.s.cv = 0;
  f.s.xcv = 1;
  EXPECT_EQ(len(threadedOf<2>), 11);
  EXPECT_EQ(len(threadedOf<3>), 7);
}

TEST(Accumulate, SumsInSlotOrderAndFoldsByKernel) {
  vsfRegisterKernelPair(serialOf<1>, threadedOf<1>, kVsfFullXpXUse);
  vsfRegisterKernelPair(serialOf<2>, threadedOf<2>, kVsfMomentsUse);
  vsfRegisterKernelPair(serialOf<3>, threadedOf<3>, kVsfLarCorrUse);
  vsfRegisterKernelPair(serialOf<6>, threadedOf<6>, kVsfEffXpXUse);
  vsfRegisterKernelPair(serialOf<7>, threadedOf<7>, kVsfEffCrossUse);
  vsfRegisterKernelPair(serialOf<8>, threadedOf<8>, kVsfLarSasviUse);
  vsfRegisterKernelPair(serialOf<9>, threadedOf<9>, kVsfCVNobsUse);
  {
    Fold f;
    f.xpx[1] = 5; // "+=" keeps what was there
    f.run(threadedOf<1>);
    EXPECT_EQ(f.xpx[0], 101);
    EXPECT_EQ(f.xpx[1], 5 + 202);
    EXPECT_EQ(f.xpx[2], 303);
    EXPECT_EQ(f.xpx[3], 0);
  }
  {
    Fold f; // under CV each fold gets its slice
    f.s.cv = 1;
    f.run(threadedOf<1>);
    EXPECT_EQ(f.fx[0][2], 303);
    EXPECT_EQ(f.fx[1][0], 404);
    EXPECT_EQ(f.fx[1][2], 606);
    EXPECT_EQ(f.xpx[0], 0);
  }
  {
    Fold f; // "=" stores the new effect's rows after the first m(m+1)/2 entries
    f.xpx[3] = 9;
    f.run(threadedOf<6>, 2);
    EXPECT_EQ(f.xpx[2], 0);
    EXPECT_EQ(f.xpx[3], 101);
    EXPECT_EQ(f.xpx[4], 202);
  }
  {
    Fold f; // the new cross-product column goes after crossColumnCount x (P + 1)
    f.run(threadedOf<7>, 4);
    EXPECT_EQ(f.cross[3], 0);
    EXPECT_EQ(f.cross[4], 101);
    EXPECT_EQ(f.cross[7], 404);
  }
  {
    Fold f;
    f.s.xcv = 1;
    f.run(threadedOf<2>);
    EXPECT_EQ(f.m.sumWY, 101);
    EXPECT_EQ(f.sums, (std::vector<double>{202, 303, 404}));
    EXPECT_EQ(f.squares, (std::vector<double>{505, 606, 707}));
    EXPECT_EQ(f.m.totals.wTrain, 808);
    EXPECT_EQ(f.m.totals.nObs, 909);
    EXPECT_EQ(f.m.totals.wValidate, 1010);
    EXPECT_EQ(f.m.totals.freqValidate, 1111);
  }
  {
    Fold f;
    f.s.xcv = 1;
    f.run(threadedOf<3>);
    EXPECT_EQ(f.m.sse, 101);
    EXPECT_EQ(f.m.validateAse, 202);
    EXPECT_EQ(f.m.testAse, 303);
    EXPECT_EQ(f.corr[0], 404);
    EXPECT_EQ(f.corr[1], 505);
    EXPECT_EQ(f.m.cvexPass.heldOutError, 606);
    EXPECT_EQ(f.m.cvexPass.heldOutTestError, 707);
  }
  {
    Fold f; // only the effects of the screening list take their entries
    int32_t out[1] = {1};
    f.m.screenPass.screenOutList = out;
    f.m.screenPass.screenOutCount = 1;
    f.run(threadedOf<8>);
    EXPECT_EQ(f.m.screenPass.screenTermA, 101);
    EXPECT_EQ(f.m.screenPass.screenTermB, 202);
    EXPECT_EQ(f.corr[0], 0);
    EXPECT_EQ(f.corr[1], 404); // B[1 + 2]
    EXPECT_EQ(f.dir[1], 606);  // B[1 + E + 2]
  }
  {
    Fold f;
    f.run(threadedOf<9>);
    EXPECT_EQ(f.folds[0].rowCount, 101);
    EXPECT_EQ(f.folds[1].rowCount, 202);
    EXPECT_EQ(f.folds[0].freqCount, 303);
    EXPECT_EQ(f.folds[1].weightCount, 606);
  }
}

} // namespace
