// Step labels, parameter labels and label thinning of the selection path: numbering and
// signs, steps without an effect, the MAXSTEPLABEL cut with its warning, the group methods'
// several changes per step, and which curve labels a coefficient plot keeps.
#include "graphs/vsfglabels.h"
#include "host/hostcore.h"
#include "host/hostlog.h"
#include "msgid.h"
#include "output/vsfcontext.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

struct Labels : ::testing::Test {
  std::unique_ptr<VsfContext> ctx;
  LevDesign design{};
  std::vector<LevEffect> effects;
  std::vector<std::string> names;
  std::vector<std::vector<int32_t>> ints;
  QkPool* pool = nullptr;

  void SetUp() override {
    v_global_gcb_anchor = qrxhost::hostControlBlock();
    ctx = std::make_unique<VsfContext>();
    ctx->design.design = &design;
    pool = xmpoolc(nullptr, 1024, 0);
    ctx->model.pool = pool;
    ctx->model.options = &ctx->options;
    ctx->options.method = VsfMethod::Forward;
    ctx->stmt.plots.maxStepLabel = 20;
    (void)qrxhost::takeLog();
  }
  void TearDown() override { xmpoold(pool); }

  void setEffects(const std::vector<std::string>& n) {
    names = n;
    effects.assign(names.size(), LevEffect{});
    for (size_t i = 0; i < names.size(); ++i)
      effects[i].name = names[i].data();
    design.effects = effects.data();
    design.effectCount = static_cast<int32_t>(names.size());
    ctx->model.effectCount = design.effectCount;
  }
  int32_t* ints1(std::vector<int32_t> v, bool leading = false) {
    if (leading)
      v.insert(v.begin(), 0);
    ints.push_back(std::move(v));
    return ints.back().data() + (leading ? 1 : 0);
  }
  void history(const std::vector<int32_t>& effect, const std::vector<int32_t>& count) {
    ctx->model.history.stepCount = static_cast<int32_t>(effect.size());
    ctx->model.history.stepEffect = ints1(effect);
    ctx->model.history.stepEffects = ints1(count, true);
  }
  std::vector<std::string> labels() const {
    std::vector<std::string> out;
    for (int32_t i = 0; i < ctx->results.stepLabelCount; ++i) {
      const VsfLabel& l = ctx->results.stepLabels[i];
      out.push_back(l.text != nullptr ? std::string(l.text, static_cast<size_t>(l.length)) : "");
    }
    return out;
  }
  int warnings(VsfMsg m) {
    int n = 0;
    for (const auto& r : qrxhost::takeLog())
      n += r.numbered && MsgId(m).is(r.set, r.number);
    return n;
  }
};

TEST_F(Labels, StepsAreNumberedWithTheirSign) {
  setEffects({"Intercept", "X1", "X2", "X3"});
  ctx->options.method = VsfMethod::Stepwise;
  ctx->model.includeCount = 1;
  // Intercept, +X2, -1 (nothing), +X1, -X2.
  history({0, 2, -1, 1, 2}, {1, 2, 2, 3, 2});
  ASSERT_EQ(vsfgStepLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  auto l = labels();
  EXPECT_EQ(l[0], "Intercept");
  EXPECT_EQ(l[1], "1+X2");
  EXPECT_EQ(l[2], "2+X1") << "an entry without an effect keeps the next number";
  EXPECT_EQ(l[3], "3-X2");
  EXPECT_EQ(ctx->results.stepLabelWidth, 9);
  EXPECT_EQ(ctx->results.firstLabelledEntry, 1);
  EXPECT_EQ(ctx->results.effectInPath[2], 1);
  EXPECT_EQ(ctx->results.effectInPath[3], 0);
  EXPECT_EQ(warnings(VsfMsg::StepLabelsCut), 0);
}

TEST_F(Labels, TenthStepHasTwoDigitsAndLongLabelsAreCutOnce) {
  std::vector<std::string> n = {"Intercept"};
  std::vector<int32_t> e = {0}, c = {1};
  for (int i = 1; i <= 11; ++i) {
    n.push_back("Effect" + std::to_string(i) + "WithALongName");
    e.push_back(i);
    c.push_back(i + 1);
  }
  setEffects(n);
  ctx->model.includeCount = 1;
  history(e, c);
  ctx->stmt.plots.maxStepLabel = 12;
  ASSERT_EQ(vsfgStepLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  auto l = labels();
  EXPECT_EQ(l[9], "9+Effect9Wit");
  EXPECT_EQ(l[10], "10+Effect10W");
  EXPECT_EQ(warnings(VsfMsg::StepLabelsCut), 1);
}

TEST_F(Labels, BackwardStartsFromTheFullModel) {
  setEffects({"Intercept", "X1", "X2"});
  ctx->options.method = VsfMethod::Backward;
  history({-1, 2, 1}, {3, 2, 1});
  ASSERT_EQ(vsfgStepLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  auto l = labels();
  EXPECT_EQ(l[0], "Full Model");
  EXPECT_EQ(l[1], "1-X2");
  EXPECT_EQ(l[2], "2-X1");
  EXPECT_EQ(ctx->results.effectInPath[0], 1) << "every effect is on a backward path";
}

TEST_F(Labels, GroupMethodsListEveryChangeOfAStep) {
  setEffects({"Intercept", "A", "B", "C"});
  ctx->options.method = VsfMethod::GroupLasso;
  ctx->model.includeCount = 1;
  // Change list: intercept, +A +B at step 1, nothing at step 2, -A +C at step 3.
  ctx->model.history.changeList = ints1({0, 1, 2, -1, 3});
  ctx->model.history.changeListLength = 5;
  history({1, 2, 0, 2}, {1, 3, 3, 3});
  ASSERT_EQ(vsfgStepLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  auto l = labels();
  EXPECT_EQ(l[1], "1+A+B");
  EXPECT_EQ(l[2], "2 ");
  EXPECT_EQ(l[3], "3-A+C");
}

TEST_F(Labels, ThinningKeepsSpacedLabelsAwayFromZero) {
  setEffects({"Intercept", "X1"});
  VsfModel& m = ctx->model;
  m.parmCount = 6;
  std::vector<VsfLabel> parm(6);
  const char* t[] = {"a", "bb", "ccc", "dddd", "eeeee", "ffffff"};
  for (int i = 0; i < 6; ++i)
    parm[static_cast<size_t>(i)] = {t[i], static_cast<int16_t>(i + 1)};
  ctx->results.parmLabels = parm.data();
  ctx->stmt.plots.coefLabelGap = 0.05;
  // Range 20: gap 1; labels within 0.2 of zero are dropped except the ends.
  const double v[] = {10.0, 9.5, 0.1, -4.0, -10.0, 5.0};
  ASSERT_EQ(vsfgThinLabels(ctx.get(), &m, v), VsfStatus::Ok);
  const uint8_t* k = ctx->results.labelKept;
  EXPECT_EQ(k[0], 1); // top
  EXPECT_EQ(k[1], 0); // within the gap of the top
  EXPECT_EQ(k[5], 1); // 5.0
  EXPECT_EQ(k[2], 0); // near zero
  EXPECT_EQ(k[4], 1); // bottom
  EXPECT_EQ(k[3], 1); // -4.0
  EXPECT_EQ(ctx->results.keptLabelWidth, 6);
}

} // namespace

namespace {

// The parameter tables of an earlier BY group lived in that group's pool: a call that builds
// no new table must not leave the old pointers behind.
TEST_F(Labels, ParameterTablesOfAnEarlierGroupAreNotKept) {
  uint8_t staleInPlot[4] = {1, 1, 1, 1};
  int32_t staleCurve[4] = {1, 2, 3, 4};
  VsfLabel staleLabels[4] = {};
  auto stale = [&] {
    ctx->results.parmInPlot = staleInPlot;
    ctx->results.parmCurve = staleCurve;
    ctx->results.parmLabels = staleLabels;
    ctx->results.parmLabelWidth = 9;
  };
  stale();
  ctx->model.parmCount = 0; // no parameters
  EXPECT_EQ(vsfgParmLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  EXPECT_EQ(ctx->results.parmInPlot, nullptr);
  EXPECT_EQ(ctx->results.parmCurve, nullptr);
  EXPECT_EQ(ctx->results.parmLabels, nullptr);
  EXPECT_EQ(ctx->results.parmLabelWidth, 0);

  setEffects({"Intercept", "x1", "x2"});
  std::vector<int32_t> offsets = {0, 1, 2};
  std::vector<uint8_t> inPath = {1, 1, 0};
  ctx->model.parmCount = 3;
  ctx->model.parmOffset = offsets.data();
  ctx->results.effectInPath = inPath.data();
  ctx->stmt.plots.maxParmLabel = 0; // curves without labels
  stale();
  EXPECT_EQ(vsfgParmLabels(ctx.get(), &ctx->model), VsfStatus::Ok);
  ASSERT_NE(ctx->results.parmInPlot, nullptr);
  EXPECT_NE(ctx->results.parmInPlot, staleInPlot);
  EXPECT_EQ(ctx->results.parmInPlot[1], 1);
  EXPECT_EQ(ctx->results.parmInPlot[2], 0);
  EXPECT_EQ(ctx->results.parmLabels, nullptr);
  ctx->results.effectInPath = nullptr;
  ctx->model.parmOffset = nullptr;
}

} // namespace
