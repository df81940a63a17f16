// The rules of the one evaluation (docs/internals.md), each on a small design through the fit
// of the model layer: which columns the data determine, whether the swept sums hold a fit's
// digits, whether a sum of squares is 0 and the full model's variance. Every expected number
// comes from an exact or extended-precision computation in a script under scripts/: the
// designs of other tests where one shows the rule (their scripts named at each test), the
// others from scripts/gen_one_evaluation_ref.py.
#include "selection/fitfixture.h"

#include "model/vsfcriteria.h"
#include "model/vsfformulas.h"
#include "model/vsfrefine.h"
#include "model/vsfsweep.h"
#include "numerics/packedtri.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <cfloat>
#include <cmath>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>

using namespace fittest;

namespace {

std::string dataPath(const std::string& file) { return std::string(QRX_TEST_DATA) + "/" + file; }

// The columns `names` of a data set (a header line, then numbers) as a design: the intercept
// first, then one effect per column ("one": a column of ones); the response is column
// `response`.
Design columnsDesign(const std::string& file, const std::vector<std::string>& names,
                     const std::string& response = "y") {
  const auto rows = readCsvRows(dataPath(file));
  if (rows.empty())
    throw std::runtime_error("missing data set " + file);
  std::map<std::string, size_t> at;
  for (size_t i = 0; i < rows[0].size(); ++i)
    at[rows[0][i]] = i;
  Design d;
  d.widths.assign(names.size() + 1, 1);
  for (size_t r = 1; r < rows.size(); ++r) {
    if (rows[r].empty())
      continue;
    d.y.push_back(std::stod(rows[r].at(at.at(response))));
    std::vector<double> x{1.0};
    for (const std::string& n : names)
      x.push_back(n == "one" ? 1.0 : std::stod(rows[r].at(at.at(n))));
    d.x.push_back(x);
  }
  return d;
}

// The numbers of scripts/gen_one_evaluation_ref.py by case and quantity.
double ruleRef(const std::string& c, const std::string& quantity) {
  static const auto rows = readCsvRows(dataPath("selection/onerule_ref.csv"));
  for (const auto& r : rows)
    if (r.size() == 3 && r[0] == c && r[1] == quantity)
      return std::stod(r[2]);
  throw std::runtime_error("no reference " + c + " " + quantity);
}

FitSetup leastSquares() {
  FitSetup s;
  s.method = VsfMethod::None;
  return s;
}

// The last step of a fit: the model of every effect under least squares.
int32_t last(VsfModel& m) { return m.history.stepCount - 1; }

void noIntercept(Fit& fit) {
  fit.opt.noint = 1;
  fit.opt.forcedIn = fit.opt.include = 0;
  fit.run.settings.noint = 1;
}

struct OneEvaluation : ::testing::Test {
  void SetUp() override { datatest::setUpHost(); }
};

// The rank rule's second look from the rows (vsfRowTolerance over vsfRowPivot): without an
// intercept, w = c3 - c2 + c1 + 2^6 h4 beside c1 = 2^30 h1, c2 = c1 + 2^20 h2 and c3 = 2^20 h2
// + 2^15 h3 has a pivot of 3.8e-6 of its diagonal, within the rounding bound of its
// elimination in the sums (coefficients of 1 on columns 2^15 times its size) and clear from
// the rows: the fit takes w, with the exact fit's rank and error SS (without w, 3.6e4 times it).
TEST_F(OneEvaluation, ADoubtfulPivotIsTakenWhereTheRowsDetermineIt) {
  Fit f(readDesign("onerule_rowpivot"), leastSquares());
  noIntercept(f);
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  EXPECT_EQ(m.history.stepRank[last(m)], ruleRef("rowpivot", "rank"));
  const double sse = ruleRef("rowpivot", "sse");
  ASSERT_GT(ruleRef("rowpivot", "without"), 1e4 * sse);
  EXPECT_NEAR(m.history.stepSSE[last(m)], sse, 1e-6 * sse);
}

// A sum of squares is 0 where it is rounding noise of the sums (vsfRoundingZero): an exact
// linear response leaves an error SS of rounding alone, recorded as 0, and the full model's
// variance is then 0 (vsfSetFullMse), which C(p) cannot take. An error SS of 6e-12 of the
// total is no noise and keeps its digits.
TEST_F(OneEvaluation, RoundingNoiseIsZeroAndNothingAboveIt) {
  {
    Fit f(readDesign("onerule_zero"), leastSquares());
    f.go();
    ASSERT_EQ(f.processRc, VsfStatus::Ok);
    ASSERT_LT(ruleRef("zero", "sse"), 1e-20 * ruleRef("zero", "total"));
    EXPECT_EQ(f.m().history.stepSSE[last(f.m())], 0.0);
    EXPECT_NEAR(f.m().totalSS, ruleRef("zero", "total"), 1e-12 * ruleRef("zero", "total"));
  }
  {
    FitSetup s;
    s.select = 7; // C(p)
    Fit f(readDesign("onerule_zero"), s);
    f.go();
    EXPECT_EQ(f.m().fitStatus, VsfFitStatus::ZeroFullMse);
  }
  {
    Fit f(readDesign("onerule_tiny"), leastSquares());
    f.go();
    ASSERT_EQ(f.processRc, VsfStatus::Ok);
    const double sse = ruleRef("tiny", "sse");
    EXPECT_NEAR(f.m().history.stepSSE[last(f.m())], sse, 1e-4 * sse);
  }
}

// A candidate's criterion takes its error SS as its step's record does (vsfRoundingZero): the
// candidate that completes the exact linear fit (mpmath: an error SS below 1e-20 of the total)
// shows, by SL, AIC and SBC alike, the criterion its step prints from an error SS of 0 (p = 0,
// the least value), not one formed from the rounding noise its trial's sums leave.
TEST_F(OneEvaluation, APerfectCandidateShowsItsStepsCriterion) {
  ASSERT_LT(ruleRef("zero", "sse"), 1e-20 * ruleRef("zero", "total"));
  for (const int32_t code : {1, 2, 4}) { // SL, AIC, SBC
    FitSetup s;
    s.select = code;
    Fit f(readDesign("onerule_zero"), s);
    f.opt.storeCandidates = 1;
    f.go();
    ASSERT_EQ(f.processRc, VsfStatus::Ok) << code;
    VsfModel& m = f.m();
    ASSERT_EQ(m.history.stepCount, 3) << code; // the intercept, then x1 and x2
    EXPECT_EQ(m.history.stepSSE[2], 0.0) << code;
    // The last search's candidates: the effect the last step entered, alone.
    const double shown = m.candidateValue[m.history.stepEffect[2]];
    EXPECT_EQ(shown, stepCriterion(m, code, 2)) << code;
    EXPECT_EQ(shown, code == 1 ? kVsfLogUnderflow : -DBL_MAX) << code;
  }
}

// Every sweep refuses a pivot below the tiny pivot however its rule judges it
// (vsfTinyPivotFloor): a column of size 2^-270 beside x1 is left out, and the fit is that of
// the intercept and x1.
TEST_F(OneEvaluation, APivotBelowTheTinyPivotIsRefused) {
  Fit f(readDesign("onerule_tinypivot"), leastSquares());
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  EXPECT_EQ(m.history.stepRank[last(m)], ruleRef("tinypivot", "rank"));
  const double sse = ruleRef("tinypivot", "sse");
  EXPECT_NEAR(m.history.stepSSE[last(m)], sse, 1e-10 * sse);
}

// CV by 4 blocks of rows, FORWARD with no stop (or the elastic net's path to its end, on
// pages centred and scaled), the CV PRESS of its last step (every effect).
double lastCvPress(const std::string& name, bool full, VsfMethod method = VsfMethod::Forward) {
  FitSetup s;
  s.method = method;
  s.select = method == VsfMethod::Forward ? 11 : 0; // CV
  s.full = full;
  Fit f(readDesign(name), s);
  if (method == VsfMethod::ElasticNet) {
    f.run.settings.rewritePages = f.run.settings.forceDense = 1;
    f.opt.colStandardize = f.opt.transformPages = 1;
    f.opt.storeCross = 0;
    f.opt.screen = VsfScreenMethod::None;
    f.opt.choose = VsfCriterion::Cv;
  }
  f.opt.stop = VsfCriterion::None;
  f.opt.cvOn = 1;
  f.run.settings.cv = 1;
  f.run.settings.cvMethod = VsfCvMethod::Block;
  f.run.settings.folds = 4;
  f.go();
  EXPECT_EQ(f.processRc, VsfStatus::Ok);
  EXPECT_EQ(f.m().history.stepEffects[last(f.m())], 3);
  return f.m().history.stepCvPress[last(f.m())];
}

// The folds' sums move from each fold's centre to each record's training means (the fold
// moves, model/vsffoldmove.h): x1 near 1e6 with a spread of 1, each fold about a centre of
// its own; on both roads the CV PRESS is the exact refits'.
TEST_F(OneEvaluation, FoldSumsMoveToEachRecordsMeans) {
  const double exact = ruleRef("foldmove", "cvpress");
  for (bool full : {true, false})
    EXPECT_NEAR(lastCvPress("onerule_foldmove", full), exact, 1e-8 * exact) << full;
}

// A fold refits the model's columns by the rounding bound alone (vsfBoundTolerance): x2 at
// 1e-10 of its diagonal on fold 1's training rows is no rounding, and fold 1 keeps it, as the
// exact refits do; the floor at 1e-8 of the diagonal would have left it out (CV PRESS 34.7).
// The elastic net's folds have neither the rows' second look at a pivot (vsfFoldRowPivot) nor
// a factor of their rows behind the bound, and their sums hold that CV PRESS to 1e-6.
TEST_F(OneEvaluation, AFoldKeepsAModelColumnAboveTheRoundingBound) {
  const double exact = ruleRef("foldbound", "cvpress");
  ASSERT_GT(exact, 1e3 * ruleRef("foldbound", "dropped"));
  for (bool full : {true, false})
    EXPECT_NEAR(lastCvPress("onerule_foldbound", full), exact, 1e-6 * exact) << full;
  EXPECT_NEAR(lastCvPress("onerule_foldbound", true, VsfMethod::ElasticNet), exact, 1e-5 * exact);
}

// A step's inflation counts the largest its swept matrix has held (vsfStepInflation): beside
// x3 = z + w, x2 = x1 + 1.18e-3 z has an inflation of 1.3e6; x4's and x3's removals by reverse
// sweeps leave it 5.5e5, and x4 entering again is swept into the matrix that held 1.3e6, whose
// rounding its step is refined of: the exact error SS (the swept sums' was 7e-7 off).
TEST_F(OneEvaluation, AStepCountsTheInflationItsMatrixHeld) {
  Fit f(readDesign("onerule_stepmemory"), leastSquares());
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  vsfDropEffect(&m, 4, 1);
  vsfDropEffect(&m, 3, 1);
  ASSERT_EQ(vsfRefineStep(&m), VsfStatus::Ok);
  ASSERT_EQ(vsfAddEffect(&m, 4, 0, 0), VsfStatus::Ok);
  ASSERT_EQ(vsfRefineStep(&m), VsfStatus::Ok);
  const double sse = ruleRef("stepmemory", "sse124");
  EXPECT_NEAR(m.sse, sse, 1e-8 * sse);
}

// A held-out error formed from the fold's sums keeps its digits only above 1e-5 of the bound
// on its terms (vsfFormKeepsDigits); a nearly exact fit's (a CV PRESS of 1.9e-10 beside a
// total of 67) comes from the rows.
TEST_F(OneEvaluation, ANearlyExactHeldOutErrorComesFromTheRows) {
  const double exact = ruleRef("foldform", "cvpress");
  for (bool full : {true, false})
    EXPECT_NEAR(lastCvPress("onerule_foldform", full), exact, 1e-7 * exact) << full;
}

// Without an intercept an error SS below 1e-6 of y'y is judged from the rows
// (vsfBelowFarResponse): a response near -2.2e8 with a spread of 1 fitted by a constant
// column and x1 (tests/data/farresponse, references by scripts/gen_noint_far_ref.py) has the
// least-squares error SS, which the swept sums hold only to the rounding of y'y (1e1).
TEST_F(OneEvaluation, AFarResponseHasItsErrorSSFromTheRows) {
  Fit f(columnsDesign("farresponse/noint.csv", {"one", "x1"}), leastSquares());
  noIntercept(f);
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  double sse = 0.0;
  for (const auto& r : readCsvRows(dataPath("farresponse/noint_ref.csv")))
    if (r.size() > 2 && r[1] == "c x1")
      sse = std::stod(r[2]);
  ASSERT_GT(sse, 0.0);
  EXPECT_NEAR(f.m().history.stepSSE[last(f.m())], sse, 1e-8 * sse);
}

// A nearly dependent design's PRESS leverages come from a factor of its rows (the PRESS
// factor, model/vsfpressfactor.h): the powers 1 to 8 and 1 to 9 of x (tests/data/pressill,
// mpmath by scripts/gen_press_ill_ref.py) within 1e-7, where the swept block's leverages
// missed by 3e-6 and 3e-4.
TEST_F(OneEvaluation, IllConditionedPressTakesItsLeveragesFromTheRows) {
  for (const std::string columns : {"c1 c2 c3 c4 c5 c6 c7 c8", "c1 c2 c3 c4 c5 c6 c7 c8 c9"}) {
    double press = 0.0;
    for (const auto& r : readCsvRows(dataPath("pressill/ref.csv")))
      if (r.size() == 5 && r[0] == "poly" && r[1] == "plain" && r[2] == columns) {
        press = std::stod(r[3]);
      }
    ASSERT_GT(press, 0.0) << columns;
    std::vector<std::string> names;
    std::istringstream in(columns);
    for (std::string c; in >> c;)
      names.push_back(c);
    Fit f(columnsDesign("pressill/poly.csv", names), leastSquares());
    f.opt.pressNeeded = 1;
    f.go();
    ASSERT_EQ(f.processRc, VsfStatus::Ok);
    EXPECT_NEAR(f.m().history.stepPress[last(f.m())], press, 1e-7 * press) << columns;
  }
}

// A refined step that a stop rule undoes an entry from is put back as it was recorded
// (keepStep, putBackStep): over the B-spline nearly dependent beside the intercept
// (tests/data/selection/splinetrial, whose fits scripts/gen_trial_entry_ref.py computes),
// FORWARD by SBC stops where an entry raises SBC, and the selected model is its last step:
// the estimates and error SS its record holds, not those of the entry's removal refined
// again (some 3e-10 apart). Both are within 3e-10 of the exact estimates, so only the
// agreement tells them apart; the step's error SS is the exact least-squares one.
TEST_F(OneEvaluation, AnUndoneEntryLeavesTheRecordedStep) {
  FitSetup s;
  s.select = 4; // SBC
  s.records = true;
  Fit f(readDesign("splinetrial"), s);
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  ASSERT_EQ(m.stop.stopReason, VSR_NO_IMPROVEMENT);
  int32_t mask = 0;
  for (int32_t step = 1; step < m.history.stepCount; ++step)
    mask ^= 1 << (m.history.stepEffect[step] - 1);
  for (const auto& r : readNumberRows(dataPath("selection/splinetrial_sets.csv")))
    if (static_cast<int32_t>(r[0]) == mask) {
      EXPECT_NEAR(m.history.stepSSE[last(m)], r[2], 1e-9 * r[2]);
    }
  EXPECT_EQ(m.sse, m.history.stepSSE[last(m)]);
  vsfStdBeta(&m);
  VsfModel back{};
  int64_t pos = 0;
  for (int32_t step = 0; step < m.history.stepCount; ++step) {
    if (step > 0)
      vsfModelByFree(&back);
    back = VsfModel{};
    ASSERT_EQ(f.restoreStep(back, &pos), VsfStatus::Ok);
  }
  for (int32_t q = 0; q < m.parmCount; ++q)
    EXPECT_NEAR(m.beta[q], back.beta[q], 1e-13 * std::fabs(back.beta[q])) << q;
  vsfModelByFree(&back);
}

// A trial whose elimination shows a variance inflation past 1/64 of the refinement's is the
// candidate's entry (vsfTrialIsEntry), though the model it starts from was not refined: x2 =
// x1 + 3e-4 z beside the intercept and x1 (inflation 1.1e7) leaves an error SS of 1e-8 of the
// total, and FORWARD by SBC shows for the second column's trial the exact SBC of both, where
// the swept sums gave one 0.15 off.
TEST_F(OneEvaluation, ANearlyDependentTrialIsItsEntry) {
  FitSetup s;
  s.select = 4; // SBC
  s.records = true;
  Fit f(readDesign("onerule_trialshare"), s);
  f.opt.storeCandidates = 1;
  f.opt.stop = VsfCriterion::None;
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  ASSERT_EQ(m.history.stepCount, 3);
  const double n = m.totals.nObs, sse = ruleRef("trialshare", "sse3");
  const double exact = n * std::log(sse / n) + 3 * std::log(n);
  int64_t pos = 0;
  for (int32_t step = 0; step < m.history.stepCount; ++step) {
    VsfModel back{};
    ASSERT_EQ(f.restoreStep(back, &pos), VsfStatus::Ok);
    if (step == 2) {
      EXPECT_NEAR(back.candidateValue[m.history.stepEffect[step]], exact, 1e-6);
    }
    vsfModelByFree(&back);
  }
  EXPECT_NEAR(stepCriterion(m, 4, 2), exact, 1e-6);
}

// A removal is tried as its step makes it: x3's removal takes again a2 (of the effect a =
// a1, a2), refused beside x4 and x3 at 1e-9 of its diagonal, at an inflation of 3.3e6 once x3
// has left, and its step is refined though the model it leaves was not. BACKWARD by SBC shows
// for x3's removal the exact SBC of the intercept, x4, a1 and a2 (an error SS of 2.4e-10 of
// the total), as its step does, where the rebuilt sums' unrefined error SS gave one 6e-5 off.
TEST_F(OneEvaluation, ARemovalThatRetakesAColumnIsTriedAsItsStep) {
  FitSetup s;
  s.method = VsfMethod::Backward;
  s.select = 4; // SBC
  s.records = true;
  Fit f(readDesign("onerule_dropretake"), s);
  f.opt.storeCandidates = 1;
  f.opt.stop = VsfCriterion::None;
  f.go();
  ASSERT_EQ(f.processRc, VsfStatus::Ok);
  VsfModel& m = f.m();
  ASSERT_GE(m.history.stepCount, 2);
  ASSERT_EQ(m.history.stepEffect[1], 2); // x3
  ASSERT_EQ(m.history.stepRank[1], 4);
  const double n = m.totals.nObs, sse = ruleRef("dropretake", "sse");
  const double exact = n * std::log(sse / n) + 4 * std::log(n);
  EXPECT_NEAR(stepCriterion(m, 4, 1), exact, 1e-6);
  int64_t pos = 0;
  for (int32_t step = 0; step < 2; ++step) {
    VsfModel back{};
    ASSERT_EQ(f.restoreStep(back, &pos), VsfStatus::Ok);
    if (step == 1) {
      EXPECT_NEAR(back.candidateValue[2], exact, 1e-6);
    }
    vsfModelByFree(&back);
  }
}

} // namespace

// The search compares the candidates' criteria, not the error SS behind them (takeIfBetter,
// removalWins): on 16 rows beside a full model of rank 10, BIC at one rank rises with the
// error SS over a range, and the move of the largest fall (or smallest rise) of the error SS
// is not always the one of the best BIC. FORWARD and BACKWARD by BIC with no stop, on the full
// X'X and on the cross products grown on demand, move at every step the effect of the best
// exact BIC and print it (scripts/gen_one_evaluation_ref.py, case bicorder).
TEST_F(OneEvaluation, TheSearchComparesCriteriaNotErrorSS) {
  for (const VsfMethod method : {VsfMethod::Forward, VsfMethod::Backward})
    for (const bool full : {true, false}) {
      if (method == VsfMethod::Backward && !full)
        continue; // BACKWARD builds the full X'X
      FitSetup s;
      s.method = method;
      s.select = 8; // BIC
      s.full = full;
      Fit f(readDesign("onerule_bicorder"), s);
      f.opt.stop = VsfCriterion::None;
      f.go();
      ASSERT_EQ(f.processRc, VsfStatus::Ok);
      VsfModel& m = f.m();
      const std::string name = method == VsfMethod::Forward ? "forward" : "backward";
      ASSERT_EQ(m.history.stepCount, 10) << name;
      for (int32_t step = 1; step < m.history.stepCount; ++step) {
        std::string at(1, ' ');
        at += std::to_string(step);
        EXPECT_EQ(m.history.stepEffect[step], static_cast<int32_t>(ruleRef("bicorder", name + at)))
            << name << at << (full ? " full" : " grown");
        const double want = ruleRef("bicorder", name + "_bic" + at);
        EXPECT_NEAR(stepCriterion(m, 8, step), want, 1e-9 * (1.0 + std::fabs(want))) << name << at;
      }
    }
}
