// The ranking of a step's candidates that the Candidates table and the candidates plot
// share: candidates whose value could not be worked out (the largest doubles) keep a place
// among the worst, missing values are left out, and the order follows the criterion.
#include "host/hostcore.h"
#include "output/vsfcontext.h"
#include "output/vsfprinters.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <memory>
#include <vector>

namespace {

struct Ranking : ::testing::Test {
  std::unique_ptr<VsfContext> ctx;
  QkPool* pool = nullptr;
  std::vector<double> values;
  std::vector<int32_t> stepEffect{0, 1}, stepEffects{0, 1, 2};
  std::vector<uint8_t> status;

  void SetUp() override {
    v_global_gcb_anchor = qrxhost::hostControlBlock();
    ctx = std::make_unique<VsfContext>();
    pool = xmpoolc(nullptr, 1024, 0);
    ctx->options.method = VsfMethod::Forward;
  }
  void TearDown() override { xmpoold(pool); }

  std::vector<int32_t> rank(std::vector<double> v, VsfCriterion select, std::vector<double>* out) {
    values = std::move(v);
    VsfModel& m = ctx->model;
    m.pool = pool;
    m.effectCount = static_cast<int32_t>(values.size());
    m.candidateValue = values.data();
    m.history.stepCount = 2;
    m.history.stepEffect = stepEffect.data();
    m.history.stepEffects = stepEffects.data() + 1; // entry -1 is kept
    ctx->options.select = select;
    VsfCandidateRanking r;
    EXPECT_EQ(vsfRankCandidates(ctx.get(), &m, &r), VsfStatus::Ok);
    EXPECT_TRUE(r.addition);
    std::vector<int32_t> effects(r.effects, r.effects + r.count);
    out->assign(r.values, r.values + r.count);
    vsfFreeCandidates(&m, &r);
    return effects;
  }
};

TEST_F(Ranking, CandidatesWithoutAValueStayAmongTheWorst) {
  std::vector<double> v;
  // SBC: smallest first; +DBL_MAX (no value worked out) last, the missing value left out.
  EXPECT_EQ(rank({3.0, DBL_MAX, hostMissing(), 1.0, 2.0}, VsfCriterion::Sbc, &v),
            (std::vector<int32_t>{3, 4, 0, 1}));
  EXPECT_EQ(v, (std::vector<double>{1.0, 2.0, 3.0, DBL_MAX}));
  // Adjusted R-square: largest first; -DBL_MAX last.
  EXPECT_EQ(rank({0.2, -DBL_MAX, 0.5, hostMissing()}, VsfCriterion::AdjRsq, &v),
            (std::vector<int32_t>{2, 0, 1}));
  EXPECT_EQ(v.back(), -DBL_MAX);
  // SL on an entry step: the smallest log p-value first.
  EXPECT_EQ(rank({-2.0, -9.0, -4.0}, VsfCriterion::Sl, &v), (std::vector<int32_t>{1, 2, 0}));
}

} // namespace
