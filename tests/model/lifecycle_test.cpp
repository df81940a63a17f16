// Per-fit arrays and limits of vsfModelInit: step limits by method, initial capacities of
// an X'X grown on demand, fold counts, initial effect statuses; growth of the step history
// and of X'X keeps what was there; step records of unavailable effects are skipped.
#include "data/datafixture.h"
#include "model/vsfformulas.h"
#include "model/vsfmodel.h"
#include "support/nomemory.h"
#include "support/vsfoptions.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

// A model of nE effects of the given column counts, without pages.
struct Bare {
  VsfModelOptions opt{};
  std::vector<int32_t> columns, effectColumn, denseOffset, sparseSlot, inModel, prevInModel;
  VsfModel m{};
  Bare(std::vector<int32_t> cols, VsfMethod method) : columns(cols) {
    datatest::setUpHost();
    const int32_t nE = static_cast<int32_t>(cols.size());
    int32_t p = 0;
    for (int32_t e = 0; e < nE; ++e) {
      effectColumn.push_back(1 + p);
      denseOffset.push_back(p);
      sparseSlot.push_back(-1);
      p += cols[e];
      m.singleColumnEffectCount += cols[e] == 1;
    }
    inModel.assign(nE, 0);
    prevInModel.assign(nE, 0);
    m.effectCount = nE;
    m.parmCount = p;
    m.effectColumns = columns.data();
    m.effectColumn = effectColumn.data();
    m.layout.denseOffset = denseOffset.data();
    m.layout.sparseSlot = sparseSlot.data();
    m.inModelList = inModel.data();
    m.prevInModelList = prevInModel.data();
    m.totals.nTrain = m.totals.nObs = 100;
    opt.method = method;
    opt.select = VsfCriterion::Sbc;
    opt.forcedIn = 1;
    opt.fullXpx = 1;
    m.options = &opt;
  }
  ~Bare() { vsfModelByFree(&m); }
};

TEST(Lifecycle, StepLimitsByMethod) {
  {
    Bare b(std::vector<int32_t>(10, 1), VsfMethod::Stepwise);
    ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
    EXPECT_EQ(b.m.stop.stepLimit, 20);
  }
  {
    Bare b(std::vector<int32_t>(10, 1), VsfMethod::Stepwise);
    b.opt.steps = 3;
    b.opt.include = 1;
    b.opt.forcedIn = 2;
    ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
    EXPECT_EQ(b.m.stop.stepLimit, 4);
  }
  {
    Bare b(std::vector<int32_t>(6, 1), VsfMethod::None); // NONE ignores MAXSTEPS= and STEPS=
    b.opt.maxSteps = 2;
    b.opt.steps = 1;
    ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
    EXPECT_EQ(b.m.stop.stepLimit, 6);
  }
  {
    Bare b(std::vector<int32_t>(5, 1), VsfMethod::Forward);
    b.opt.noint = 1;
    b.opt.forcedIn = 0;
    ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
    EXPECT_EQ(b.m.stop.stepLimit, 4);
    EXPECT_EQ(b.m.effectStatus[0], VES_UNAVAILABLE);
    EXPECT_EQ(b.m.effectStatus[1], VES_CANDIDATE);
  }
}

TEST(Lifecycle, CapacitiesOfAnXpxGrownOnDemand) {
  // 50 effects, 200 parameters, a step limit of 40: ratio 4, 20 steps, 81 columns.
  std::vector<int32_t> cols(50, 4);
  cols[0] = 4;
  Bare b(cols, VsfMethod::Forward);
  b.opt.fullXpx = 0;
  b.opt.storeCross = 1;
  b.opt.maxSteps = 40;
  ASSERT_EQ(b.m.parmCount, 200);
  ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
  EXPECT_EQ(b.m.stop.stepLimit, 40);
  EXPECT_EQ(b.m.history.stepCapacity, 20);
  EXPECT_EQ(b.m.xpxCapacity, 81);
  EXPECT_EQ(b.m.crossCapacity, 81);
  EXPECT_EQ(b.m.xpxColumns, 1);
  EXPECT_EQ(b.m.effectFirstColumn[3], 13);
  for (int32_t e = 0; e < 50; ++e)
    EXPECT_EQ(b.m.crossSlot[e], -1);
}

TEST(Lifecycle, FoldCountFollowsTheTrainingRows) {
  for (VsfCvMethod method : {VsfCvMethod::Random, VsfCvMethod::Block}) {
    Bare b(std::vector<int32_t>(3, 1), VsfMethod::Forward);
    b.m.totals.nTrain = b.m.totals.nObs = 7;
    b.m.cv.foldCount = 10;
    b.opt.cvOn = 1;
    b.opt.cvMethod = method; // RANDOM keeps 10, BLOCK lowers to 7
    ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
    EXPECT_EQ(b.m.cv.foldCount, method == VsfCvMethod::Random ? 10 : 7);
    ASSERT_NE(b.m.cv.folds, nullptr);
  }
}

TEST(Lifecycle, GrowthKeepsContentsAndFrontElements) {
  Bare b(std::vector<int32_t>(4, 1), VsfMethod::Forward);
  ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
  VsfModel& m = b.m;
  const int32_t cap = m.history.stepCapacity;
  for (int32_t s = 0; s < cap; ++s) {
    m.history.stepEffect[s] = 100 + s;
    m.history.stepSSE[s] = 0.5 * s;
  }
  ASSERT_EQ(vsfAddStepMemory(&m, -1), VsfStatus::Ok);
  EXPECT_EQ(m.history.stepCapacity, 2 * cap);
  EXPECT_EQ(m.history.stepRank[-1], 0);
  EXPECT_EQ(m.history.stepSSE[-1], 0.0);
  for (int32_t s = 0; s < cap; ++s) {
    EXPECT_EQ(m.history.stepEffect[s], 100 + s);
    EXPECT_EQ(m.history.stepSSE[s], 0.5 * s);
  }
  // X'X capacity not above the columns held: nothing changes.
  const int32_t before = m.xpxCapacity;
  EXPECT_EQ(vsfAddXpXMemory(&m, m.xpxColumns), VsfStatus::Ok);
  EXPECT_EQ(m.xpxCapacity, before);
  // More columns than 32-bit triangle indices reach: refused with a message that counts
  // the design columns, arrays unchanged.
  datatest::loggedNumbers();
  EXPECT_EQ(vsfAddXpXMemory(&m, kVsfMaxTriangleColumns + 1), VsfStatus::ReportedFailure);
  EXPECT_EQ(datatest::loggedNumbers(), std::vector<MsgId>{VsfMsg::XpxTooManyColumns});
  EXPECT_EQ(m.xpxCapacity, before);
  // Triangles that the pool cannot give: out of memory, said with the column count.
  auto* realloc = m.pool->reallocate;
  m.pool->reallocate = [](QkPool*, void*, size_t, uint32_t) -> void* { return nullptr; };
  EXPECT_EQ(vsfAddXpXMemory(&m, 2 * before), VsfStatus::NoMemory);
  m.pool->reallocate = realloc;
  EXPECT_EQ(datatest::loggedNumbers(), std::vector<MsgId>{VsfMsg::XpxDoesNotFit});
  EXPECT_EQ(m.xpxCapacity, before);
  m.xpx[3] = 7.0;
  ASSERT_EQ(vsfAddXpXMemory(&m, 2 * before), VsfStatus::Ok);
  EXPECT_EQ(m.xpx[3], 7.0);
  EXPECT_EQ(m.xpx[vsfMemTri(2 * before) - 1], 0.0);
  EXPECT_EQ(m.sweepFlags[2 * before - 1], '0');
  // A step of an unavailable effect records nothing.
  m.effectStatus[2] = VES_UNAVAILABLE;
  const int32_t steps = m.history.stepCount;
  EXPECT_EQ(vsfRecordStep(&m, 2), VsfStatus::Ok);
  EXPECT_EQ(m.history.stepCount, steps);
}

// Sums of squares that are rounding noise against the uncorrected total are zeroed when a
// step is recorded, whether or not step records are written: the model that the displays
// read must not depend on DETAILS=.
TEST(Lifecycle, TinySumsAreZeroedWithOrWithoutStepRecords) {
  Bare b(std::vector<int32_t>(3, 1), VsfMethod::Forward);
  ASSERT_EQ(vsfModelInit(&b.m), VsfStatus::Ok);
  VsfModel& m = b.m;
  ASSERT_EQ(b.opt.stepRecordBits & b.opt.recordSteps, 0); // no record is written
  m.roundingSS = 1000.0; // the response's sum of squares the sums were formed at
  m.totalSS = 1e-11;     // below 1.110223024625157e-13 x 1000
  m.sse = 2e-13;
  ASSERT_EQ(vsfRecordStep(&m, 0), VsfStatus::Ok);
  EXPECT_EQ(m.totalSS, 0.0);
  EXPECT_EQ(m.sse, 0.0);
  m.totalSS = 2e-10; // above the bound: kept
  m.sse = 5.0;
  ASSERT_EQ(vsfRecordStep(&m, 1), VsfStatus::Ok);
  EXPECT_EQ(m.totalSS, 2e-10);
  EXPECT_EQ(m.sse, 5.0);
}

} // namespace
