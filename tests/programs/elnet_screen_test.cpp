// The elastic net's L2 search and screening end to end through the qrx runner: the
// ElasticNetTuneL2 rows and the ElasticNetParaSummary factoid against the augmented-LASSO
// references of scripts/gen_elnet_ref.py on the diabetes data, the golden-section log line,
// and on wide made-up data the screened paths against the unscreened one, the ScreeningInfo
// counts and the SISCorrelation ranking against correlations computed here.
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <fstream>
#include <numeric>
#include <random>
#include <sstream>

using qrxrun::number;
using qrxrun::ProgramRun;
using qrxrun::tablesOf;
using qrxrun::text;
using qrxrun::Value;

namespace {

std::vector<std::vector<double>> readCsv(const std::string& name) {
  return readReferenceRows("lars/" + name + ".csv");
}

ProgramRun runDiabetes(const std::string& options) {
  return qrxrun::run("libname ex 'examples';\nproc varsifter data=ex.diabetes;\n"
                     "  model y = age sex bmi bp s1-s6 / selection=elasticnet(" +
                         options + ");\nrun;\n",
                     "elnet");
}

const Value* factoidEntry(const Value& f, const std::string& label) {
  for (const Value& e : f["entries"].items)
    if (e["label"].s == label)
      return &e["value"];
  return nullptr;
}

void expectTuneRows(const ProgramRun& r, const std::string& ref) {
  ASSERT_EQ(r.status, 0) << r.log;
  const auto want = readCsv(ref);
  const auto tables = qrxrun::shownTables(r, "ElasticNetTuneL2");
  ASSERT_EQ(tables.size(), 1u) << r.log;
  const Value& t = *tables[0];
  ASSERT_EQ(t["rows"].items.size(), want.size());
  size_t best = 0;
  for (size_t i = 0; i < want.size(); ++i) {
    const auto& w = want[i];
    EXPECT_EQ(number(t, i, "Step"), i + 1.0);
    EXPECT_NEAR(number(t, i, "L2"), w[1], 1e-12 * std::max(1.0, w[1])) << i;
    EXPECT_NEAR(number(t, i, "L1Ratio"), w[2], 1e-9) << i;
    EXPECT_EQ(number(t, i, "nVar"), w[3]) << i;
    EXPECT_NEAR(number(t, i, "CriterionValue"), w[4], 1e-9 * std::fabs(w[4])) << i;
    EXPECT_NEAR(number(t, i, "L2Norm"), w[5], 1e-9 * w[5]) << i;
    EXPECT_NEAR(number(t, i, "L1Norm"), w[6], 1e-9 * w[6]) << i;
    EXPECT_EQ(number(t, i, "nSteps"), w[7]) << i;
    if (w[4] < want[best][4])
      best = i;
  }
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_EQ(number(t, i, "OptCriterion"), want[i][1] == want[best][1] ? 1.0 : 0.0) << i;
  const auto summary = tablesOf(r, "ElasticNetParaSummary");
  ASSERT_EQ(summary.size(), 1u);
  const Value* chosen = factoidEntry(*summary[0], "Chosen L2");
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->n, want[best][1]);
  const Value* count = factoidEntry(*summary[0], "Number of L2 Values");
  ASSERT_NE(count, nullptr);
  EXPECT_EQ(count->n, static_cast<double>(want.size()));
}

// n rows of p normal columns x1..xp and y depending on x1..x5 and x(p/2); CSV text.
std::string wideData(int n, int p) {
  std::mt19937_64 rng(7);
  auto uniform = [&] { return (static_cast<double>(rng() >> 11) + 0.5) / 9007199254740992.0; };
  auto normal = [&] {
    return std::sqrt(-2.0 * std::log(uniform())) * std::cos(6.283185307179586 * uniform());
  };
  std::ostringstream out;
  out.precision(17);
  out << "y";
  for (int j = 1; j <= p; ++j)
    out << ",x" << j;
  out << "\n";
  for (int i = 0; i < n; ++i) {
    std::vector<double> x(static_cast<size_t>(p) + 1);
    double y = 0.5 * normal();
    for (int j = 1; j <= p; ++j)
      x[j] = normal();
    for (int j = 1; j <= 5; ++j)
      y += (1.0 + 0.3 * j) * x[j];
    y -= 2.0 * x[p / 2];
    out << y;
    for (int j = 1; j <= p; ++j)
      out << "," << x[j];
    out << "\n";
  }
  return out.str();
}

// Absolute correlations of x1..xp with y, from the CSV text.
std::vector<double> absCorrelations(const std::string& csv, int p) {
  std::vector<std::vector<double>> rows = [&] {
    std::vector<std::vector<double>> r;
    for (const auto& f : qrxrun::csvRows(csv)) {
      if (f[0] == "y")
        continue;
      std::vector<double> v;
      for (const auto& c : f)
        v.push_back(std::stod(c));
      r.push_back(v);
    }
    return r;
  }();
  const double n = static_cast<double>(rows.size());
  std::vector<double> mean(static_cast<size_t>(p) + 1, 0.0);
  for (const auto& r : rows)
    for (int j = 0; j <= p; ++j)
      mean[j] += r[j] / n;
  std::vector<double> out(static_cast<size_t>(p) + 1, 0.0);
  for (int j = 1; j <= p; ++j) {
    double sxy = 0, sxx = 0, syy = 0;
    for (const auto& r : rows) {
      sxy += (r[j] - mean[j]) * (r[0] - mean[0]);
      sxx += (r[j] - mean[j]) * (r[j] - mean[j]);
      syy += (r[0] - mean[0]) * (r[0] - mean[0]);
    }
    out[j] = std::fabs(sxy) / std::sqrt(sxx * syy);
  }
  return out;
}

constexpr int kRows = 60, kCols = 300;

ProgramRun runWide(const std::string& screen, const std::string& tag) {
  return qrxrun::run("proc varsifter data=wide;\n  model y = x1-x" + std::to_string(kCols) +
                         " / selection=lasso(steps=25 screen=" + screen + ");\nrun;\n",
                     tag, {{"wide.csv", wideData(kRows, kCols)}});
}

} // namespace

TEST(ElasticNetProgram, GridSearchRowsAreTheAugmentedLassoTrials) {
  const ProgramRun r =
      runDiabetes("l2search=grid l2low=0 l2high=10 l2steps=4 stop=none choose=sbc showl2search$");
  expectTuneRows(r, "enet_search_grid");
}

TEST(ElasticNetProgram, GoldenSectionSearchRowsAndLogLine) {
  const ProgramRun r =
      runDiabetes("l2search=golden l2low=0 l2high=1 l2steps=8 stop=none choose=sbc showl2search$");
  expectTuneRows(r, "enet_search_golden");
  // Eight trials were made: the search ran to its end and says what it chose.
  EXPECT_NE(r.log.find("chosen L2 by golden section search = 0.00000e+00:"), std::string::npos)
      << r.log;
}

// The final fit of the search is the chosen L2's path (L2 = 0: the plain LASSO).
TEST(ElasticNetProgram, SearchedFitReportsTheChosenPath) {
  const ProgramRun r = runDiabetes("l2search=grid l2low=0 l2high=10 l2steps=4 stop=none "
                                   "choose=sbc");
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_TRUE(tablesOf(r, "ElasticNetTuneL2").empty());
  const auto path = readCsv("enet_l2_0");
  const auto summary = tablesOf(r, "SelectionSummary");
  ASSERT_EQ(summary.size(), 1u);
  ASSERT_EQ((*summary[0])["rows"].items.size(), path.size());
}

TEST(ScreeningProgram, SafeRulesWalkTheUnscreenedPath) {
  const ProgramRun plain = runWide("none", "scrnone");
  ASSERT_EQ(plain.status, 0) << plain.log;
  const Value* p = tablesOf(plain, "SelectionSummary").at(0);
  for (const std::string rule : {"sasvi", "sasvi2$", "dpp$", "base$"}) {
    const ProgramRun r = runWide(rule, "scr");
    ASSERT_EQ(r.status, 0) << r.log;
    const Value* s = tablesOf(r, "SelectionSummary").at(0);
    ASSERT_EQ((*s)["rows"].items.size(), (*p)["rows"].items.size()) << rule;
    for (size_t i = 0; i < (*p)["rows"].items.size(); ++i) {
      EXPECT_EQ(text(*s, i, "EffectEntered"), text(*p, i, "EffectEntered")) << rule << i;
      EXPECT_NEAR(number(*s, i, "SBC"), number(*p, i, "SBC"),
                  1e-8 * std::fabs(number(*p, 0, "SBC")))
          << rule << i;
    }
    const auto info = tablesOf(r, "ScreeningInfo");
    ASSERT_EQ(info.size(), 1u) << rule;
    const Value* method = factoidEntry(*info[0], "Screening Method");
    ASSERT_NE(method, nullptr);
    EXPECT_EQ(method->s, rule == "base$" ? "Sure Independence Screening" : "Safe Screening");
    if (rule == "base$") {
      // BASE$ keeps every candidate.
      EXPECT_EQ(factoidEntry(*info[0], "Number of Effects Kept")->n, kCols);
      EXPECT_EQ(factoidEntry(*info[0], "Fraction of Effects Kept")->n, 1.0);
    } else {
      EXPECT_EQ(factoidEntry(*info[0], "Number of Effects Kept"), nullptr);
    }
  }
}

TEST(ScreeningProgram, SisTablesReportTheKeptCandidates) {
  const std::string csv = wideData(kRows, kCols);
  const ProgramRun r = runWide("sis(keepnum=12)", "scrsis");
  ASSERT_EQ(r.status, 0) << r.log;
  const auto info = tablesOf(r, "ScreeningInfo");
  ASSERT_EQ(info.size(), 1u);
  EXPECT_EQ(factoidEntry(*info[0], "Keep Number")->n, 12);
  EXPECT_EQ(factoidEntry(*info[0], "Number of Effects Kept")->n, 12);
  EXPECT_NEAR(factoidEntry(*info[0], "Fraction of Effects Kept")->n, 12.0 / kCols, 1e-15);
  const auto sis = tablesOf(r, "SISCorrelation");
  ASSERT_EQ(sis.size(), 1u);
  const Value& t = *sis[0];
  ASSERT_EQ(t["rows"].items.size(), 17u); // the 12 kept and 5 of the screened-out
  const std::vector<double> corr = absCorrelations(csv, kCols);
  std::vector<int> order(kCols);
  std::iota(order.begin(), order.end(), 1);
  std::stable_sort(order.begin(), order.end(), [&](int a, int b) { return corr[a] > corr[b]; });
  for (size_t i = 0; i < 17; ++i) {
    EXPECT_EQ(number(t, i, "Rank"), i + 1.0);
    std::string name = text(t, i, "Effect");
    name.erase(name.find_last_not_of(' ') + 1);
    EXPECT_EQ(name, std::string("x").append(std::to_string(order[i]))) << i;
    EXPECT_NEAR(number(t, i, "absCorr"), corr[order[i]], 1e-12) << i;
    EXPECT_EQ(number(t, i, "corrOut"), i < 12 ? 0.0 : 1.0) << i;
  }
  // The path enters kept candidates only, and ends when all 12 are in.
  const Value* s = tablesOf(r, "SelectionSummary").at(0);
  EXPECT_LE((*s)["rows"].items.size(), 13u);
}

// CHOOSE=VALIDATE judges the trials by the validation rows of a PARTITION statement; the
// chosen L2's row is the one marked and the factoid names it.
TEST(ElasticNetProgram, ValidationRowsJudgeTheTrials) {
  const ProgramRun r =
      runDiabetes("l2search=grid l2low=0.001 l2high=100 l2steps=6 choose=validate showl2search$);\n"
                  "  partition fraction(validate=0.3");
  ASSERT_EQ(r.status, 0) << r.log;
  const auto tables = qrxrun::shownTables(r, "ElasticNetTuneL2");
  ASSERT_EQ(tables.size(), 1u) << r.log;
  const Value& t = *tables[0];
  ASSERT_EQ(t["rows"].items.size(), 6u);
  size_t best = 0;
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_NEAR(number(t, i, "L2"), std::pow(10.0, -3.0 + i), 1e-12 * std::pow(10.0, i - 3.0));
    if (number(t, i, "CriterionValue") < number(t, best, "CriterionValue"))
      best = i;
  }
  for (size_t i = 0; i < 6; ++i)
    EXPECT_EQ(number(t, i, "OptCriterion"), i == best ? 1.0 : 0.0) << i;
  const Value* chosen = factoidEntry(*tablesOf(r, "ElasticNetParaSummary")[0], "Chosen L2");
  ASSERT_NE(chosen, nullptr);
  EXPECT_EQ(chosen->n, number(t, best, "L2"));
  // The final fit's validation ASE at its chosen step is the chosen row's value.
  const Value* summary = tablesOf(r, "SelectionSummary").at(0);
  bool marked = false;
  for (size_t i = 0; i < (*summary)["rows"].items.size(); ++i)
    if (number(*summary, i, "OptValidationASE") == 1) {
      marked = true;
      EXPECT_NEAR(number(*summary, i, "ValidationASE"), number(t, best, "CriterionValue"),
                  1e-9 * number(t, best, "CriterionValue"));
    }
  EXPECT_TRUE(marked);
}
