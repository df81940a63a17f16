// STOP= and CHOOSE= on the least-angle path: with AIC, SBC and CP (textbook formulas on the
// reference path of scripts/gen_lars_ref.py) the path stops after the last step that improves
// the criterion, with the estimates of that step, and chooses the best step; CHOOSE=VALIDATE
// picks the step of the smallest validation error; STOP=L1 ends the path exactly at the
// target (by norm, ratio or value), part-way along a segment.
#include "refcsv.h"
#include "selection/larsfixture.h"

#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <sstream>

using namespace larstest;

namespace {

constexpr double kFuzz = 1e-12;

// Textbook criteria of a model with p parameters (constants that every step shares left out).
double criterion(int32_t code, double sse, int p, double n, double sigma2) {
  switch (code) {
  case 2:
    return n * std::log(sse / n) + 2.0 * p;
  case 4:
    return n * std::log(sse / n) + p * std::log(n);
  default:
    return sse / sigma2 + 2.0 * p - n;
  }
}

bool better(int dir, double v, double old) {
  const double close = std::fabs(v - old) <= kFuzz * std::fabs(v);
  return dir == 1 ? (!close && v < old) : (close || v <= old);
}

struct Expected {
  int recorded = 0, chosen = 0;
};

// The stop and choose rules applied to the criterion values of the reference knots.
Expected expected(const std::vector<double>& v, const std::vector<Knot>& path, bool stop) {
  Expected e;
  double stopValue = v[0], chooseValue = v[0];
  e.recorded = 1;
  for (size_t t = 1; t < v.size(); ++t) {
    const int dir = path[t].change > 0 ? 1 : -1;
    if (stop) {
      if (!better(dir, v[t], stopValue))
        break;
      stopValue = v[t];
    }
    ++e.recorded;
    if (better(dir, v[t], chooseValue)) {
      chooseValue = v[t];
      e.chosen = static_cast<int>(t);
    }
  }
  return e;
}

} // namespace

TEST(LarRules, StopAndChooseByAicSbcAndCp) {
  const auto path = readPath("lasso");
  const double n = 442.0;
  const double sigma2 = path.back().sse / (n - 11.0);
  for (int32_t code : {2, 4, 7}) {
    std::vector<double> v;
    for (const Knot& k : path)
      v.push_back(criterion(code, k.sse, k.active + 1, n, sigma2));
    for (bool stop : {false, true}) {
      const Expected want = expected(v, path, stop);
      PathSetup p;
      p.method = VsfMethod::Lasso;
      p.choose = code;
      p.stop = stop ? code : 0;
      PathFit f(p);
      f.go();
      VsfModel& m = f.m();
      const std::string tag = "criterion " + std::to_string(code) + (stop ? " STOP" : " CHOOSE");
      EXPECT_EQ(m.history.stepCount, want.recorded) << tag;
      EXPECT_EQ(m.chosen.chosenStep, want.chosen) << tag;
      if (stop) {
        ASSERT_LT(want.recorded, static_cast<int>(path.size())) << tag << ": the path must stop";
        EXPECT_EQ(m.stop.stopReason, VSR_NO_IMPROVEMENT) << tag;
        // The refused step is undone: the estimates are those of the last recorded knot.
        const Knot& k = path[want.recorded - 1];
        for (int j = 1; j <= 10; ++j)
          expectClose(m.effectStatus[j] == VES_SELECTED ? m.beta[j] : 0.0, k.beta[j - 1],
                      maxAbs(k.beta), 1e-8, tag + " beta" + std::to_string(j));
      }
    }
  }
}

// Both roads route the VALIDATE and TEST rows to their own sums (the packed road by the
// residual pass, the data-pass road by the correlation pass).
TEST(LarRules, ChooseValidatePicksTheSmallestValidationError) {
  std::vector<double> sse, ase, tse;
  for (const auto& c : readReferenceRows("lars/partition_lasso_validate.csv")) {
    sse.push_back(c[2]);
    ase.push_back(c[3]);
    tse.push_back(c[4]);
  }
  ASSERT_GT(ase.size(), 3u);
  size_t best = 0;
  for (size_t t = 1; t < ase.size(); ++t)
    if (ase[t] < ase[best])
      best = t;
  static const Design d = fittest::readDesign("partition");
  for (bool full : {true, false}) {
    PathSetup p;
    p.method = VsfMethod::Lasso;
    p.choose = 10;
    p.full = full;
    PathFit f(p, d);
    f.go();
    VsfModel& m = f.m();
    const std::string tag = full ? "packed" : "passes";
    ASSERT_EQ(m.history.stepCount, static_cast<int32_t>(ase.size())) << tag;
    for (size_t t = 0; t < ase.size(); ++t) {
      const std::string at = tag + " step " + std::to_string(t);
      expectClose(m.history.stepSSE[t], sse[t], sse[t], 1e-10, at + " SSE");
      expectClose(m.history.stepValidateAse[t], ase[t], ase[t], 1e-10, at + " validation ASE");
      expectClose(m.history.stepTestAse[t], tse[t], tse[t], 1e-10, at + " test ASE");
    }
    EXPECT_EQ(m.chosen.chosenStep, static_cast<int32_t>(best)) << tag;
  }
}

TEST(LarRules, StopAtAnL1TargetInsideASegment) {
  const auto path = readPath("lasso");
  struct Case {
    uint8_t choice;
    double target;
  };
  const double lambdaMax = readReferenceValue("lars/lambda_max.csv");
  ASSERT_GT(lambdaMax, 0);
  for (Case c : {Case{2, 50.0}, Case{1, 0.2}, Case{3, 0.2 * lambdaMax}}) {
    // The VALUE target is a path value on the scale of the correlations.
    const double ratio = c.choice == 3 ? c.target / lambdaMax : c.target;
    // The segment on which the target falls, and how far along it.
    size_t seg = 1;
    double frac = 0;
    for (; seg < path.size(); ++seg) {
      const Knot &a = path[seg - 1], &b = path[seg];
      if (c.choice == 2 && b.l1 > c.target) {
        frac = (c.target - a.l1) / (b.l1 - a.l1);
        break;
      }
      if (c.choice != 2 && b.pathValue < ratio) {
        frac = (a.pathValue - ratio) / (a.pathValue - b.pathValue);
        break;
      }
    }
    ASSERT_LT(seg, path.size());
    PathSetup p;
    p.method = VsfMethod::Lasso;
    p.stop = 14;
    p.l1Choice = c.choice;
    p.l1Target = c.target;
    PathFit f(p);
    f.go();
    VsfModel& m = f.m();
    const std::string tag = "L1CHOICE " + std::to_string(c.choice);
    EXPECT_EQ(m.stop.stopReason, VSR_L1_TARGET) << tag;
    ASSERT_EQ(m.history.stepCount, static_cast<int32_t>(seg + 1)) << tag;
    if (c.choice == 2)
      expectClose(m.path.l1Norm, c.target, c.target, 1e-12, tag + " L1 norm");
    else
      expectClose(m.history.stepPathValue[seg], ratio, 1.0, 1e-12, tag + " path value");
    const Knot &a = path[seg - 1], &b = path[seg];
    for (int j = 1; j <= 10; ++j) {
      const double want = a.b[j - 1] + frac * (b.b[j - 1] - a.b[j - 1]);
      expectClose(m.effectStatus[j] == VES_SELECTED ? m.pathPass.pathBeta[j] : 0.0, want,
                  maxAbs(b.b), 1e-9, tag + " b" + std::to_string(j));
    }
  }
}
