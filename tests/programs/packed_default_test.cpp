// The default shape of the cross products through qrx: LASSO and FORWARD over the ten
// diabetes measurements form the packed X'X once (PerfSettings says "Built in full", and
// note 848/4001 stays for a full build the user asked for) and give the tables that the
// passes per step (BUILDSSCP=INCREMENTAL) give, to rounding; a CLASS variable keeps the
// passes per step. LASSO over a CLASS variable split into 1,050 candidates keeps the entered
// effects' cross products instead of the packed X'X, and follows scikit-learn's path on the
// data of synthdata.h (tests/data/splitlasso, written by scripts/gen_split_lasso_ref.py).
#include "programs/qrxrun.h"
#include "programs/synthdata.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

namespace {

using minijson::Value;

const std::string kLib = "libname ex '" + std::string(QRX_SOURCE_DIR) + "/examples';\n";

qrxrun::ProgramRun fit(const std::string& selection, const std::string& extra,
                       const std::string& tag) {
  return qrxrun::runProgram(kLib + "proc varsifter data=ex.diabetes;\n" + extra +
                                "  model y = age sex bmi bp s1-s6 / selection=" + selection +
                                ";\n" + "run;\n",
                            tag, {});
}

void expectSameEstimates(const qrxrun::ProgramRun& a, const qrxrun::ProgramRun& b) {
  const Value* pa = qrxrun::findTable(a.json["steps"][0]["output"], "ParameterEstimates");
  const Value* pb = qrxrun::findTable(b.json["steps"][0]["output"], "ParameterEstimates");
  ASSERT_NE(pa, nullptr) << a.log;
  ASSERT_NE(pb, nullptr) << b.log;
  ASSERT_EQ((*pa)["rows"].items.size(), (*pb)["rows"].items.size());
  for (size_t r = 0; r < (*pa)["rows"].items.size(); ++r) {
    EXPECT_EQ(qrxrun::text(*pa, r, "Parameter"), qrxrun::text(*pb, r, "Parameter"));
    const double v = qrxrun::number(*pa, r, "Estimate");
    EXPECT_NEAR(v, qrxrun::number(*pb, r, "Estimate"), 1e-9 * (1.0 + std::fabs(v))) << r;
  }
}

// The PerfSettings entry that says how the cross-products matrix was built.
std::string crossProducts(const qrxrun::ProgramRun& r) {
  const std::vector<const Value*> perf = qrxrun::tablesOf(r, "PerfSettings");
  if (perf.empty())
    return "";
  for (const Value& e : (*perf[0])["entries"].items)
    if (e["label"].s == "Cross-Products Matrix")
      return e["value"].s;
  return "";
}

} // namespace

TEST(PackedDefault, StepwiseKindsFormThePackedMatrixWithTheSameResults) {
  for (const std::string sel : {"lasso(choose=sbc)", "forward(select=sbc)"}) {
    const qrxrun::ProgramRun packed = fit(sel, "  performance details;\n", "packed");
    const qrxrun::ProgramRun passes =
        fit(sel, "  performance details buildsscp=incremental;\n", "passes");
    const qrxrun::ProgramRun asked = fit(sel, "  performance buildsscp=full;\n", "asked");
    ASSERT_EQ(packed.status, 0) << packed.log;
    ASSERT_EQ(passes.status, 0) << passes.log;
    EXPECT_EQ(crossProducts(packed), "Built in full") << sel;
    EXPECT_NE(crossProducts(passes), "Built in full") << sel;
    EXPECT_EQ(qrxrun::messageCount(packed.json["steps"][0], VsfMsg::CrossProductsBuiltWhole), 0)
        << sel;
    EXPECT_EQ(qrxrun::messageCount(asked.json["steps"][0], VsfMsg::CrossProductsBuiltWhole), 1)
        << sel;
    expectSameEstimates(packed, passes);
  }
  // With a CLASS variable the number of columns is not known in advance: passes per step.
  const qrxrun::ProgramRun cls =
      fit("forward(select=sbc)", "  class sex;\n  performance details;\n", "packedclass");
  ASSERT_EQ(cls.status, 0) << cls.log;
  EXPECT_NE(crossProducts(cls), "Built in full");
}

namespace {

// The output name of candidate k of the split-level reference: level Lk, then x1..x3.
std::string splitCandidate(int k) {
  char name[16];
  if (k > 1050) {
    std::snprintf(name, sizeof name, "x%d", k - 1050);
    return name;
  }
  std::snprintf(name, sizeof name, "g_L%04d", k);
  return name;
}

} // namespace

TEST(PackedDefault, SplitLevelsKeepTheEnteredCrossProductsAndFollowTheReference) {
  const auto path = readReferenceRows("splitlasso/path.csv");
  const auto final = readReferenceRows("splitlasso/final.csv");
  ASSERT_EQ(path.size(), 14U);
  const std::string data = synthdata::splitLassoCsv();
  for (const int cpus : {1, 4}) {
    const qrxrun::ProgramRun r =
        qrxrun::runProgram("proc varsifter data=splitlasso;\n  class g / split;\n"
                           "  model y = g x1 x2 x3 / selection=lasso(stop=none steps=14);\n"
                           "  performance details cpucount=" +
                               std::to_string(cpus) + ";\nrun;\n",
                           "splitlasso" + std::to_string(cpus), {{"splitlasso.csv", data}});
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(crossProducts(r), "Built incrementally") << cpus;
    const Value& out = r.json["steps"][0]["output"];
    const Value* summary = qrxrun::findTable(out, "SelectionSummary");
    ASSERT_NE(summary, nullptr) << r.log;
    ASSERT_EQ((*summary)["rows"].items.size(), path.size() + 1) << cpus;
    for (size_t s = 0; s < path.size(); ++s) {
      const int change = static_cast<int>(path[s][1]);
      EXPECT_EQ(qrxrun::text(*summary, s + 1, change > 0 ? "EffectEntered" : "EffectRemoved"),
                splitCandidate(std::abs(change)))
          << cpus << " step " << s + 1;
    }
    const Value* anova = qrxrun::findTable(out, "ANOVA");
    ASSERT_NE(anova, nullptr) << r.log;
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), path.back()[2], 1e-9 * path.back()[2]) << cpus;
    const Value* pe = qrxrun::findTable(out, "ParameterEstimates");
    ASSERT_NE(pe, nullptr) << r.log;
    ASSERT_EQ((*pe)["rows"].items.size(), final.size()) << cpus;
    for (const auto& want : final) {
      const int k = static_cast<int>(want[0]);
      const std::string name = k == 0 ? "Intercept" : splitCandidate(k);
      size_t row = 0;
      while (row < final.size() && qrxrun::text(*pe, row, "Parameter") != name)
        ++row;
      ASSERT_LT(row, final.size()) << cpus << " " << name;
      EXPECT_NEAR(qrxrun::number(*pe, row, "Estimate"), want[1], 1e-9 * (1 + std::fabs(want[1])))
          << cpus << " " << name;
    }
  }
}

namespace {

// LAR over x1-x1000 of synthdata's wide rows (1,001 effects with the intercept), STEPS=steps,
// on `cpus` threads.
qrxrun::ProgramRun wideLar(int steps, int cpus, const std::string& data) {
  return qrxrun::runProgram(
      "proc varsifter data=widelar;\n  model y = x1-x1000 / "
      "selection=lar(stop=none steps=" +
          std::to_string(steps) + ");\n  performance details cpucount=" + std::to_string(cpus) +
          ";\nrun;\n",
      "widelar" + std::to_string(steps) + "_" + std::to_string(cpus), {{"widelar.csv", data}});
}

// The estimates of a run by effect number (0 the intercept).
std::vector<std::pair<int, double>> estimates(const qrxrun::ProgramRun& r) {
  std::vector<std::pair<int, double>> out;
  const Value* pe = qrxrun::findTable(r.json["steps"][0]["output"], "ParameterEstimates");
  if (pe == nullptr)
    return out;
  for (size_t row = 0; row < (*pe)["rows"].items.size(); ++row) {
    const std::string p = qrxrun::text(*pe, row, "Parameter");
    out.emplace_back(p == "Intercept" ? 0 : std::stoi(p.substr(1)),
                     qrxrun::number(*pe, row, "Estimate"));
  }
  return out;
}

} // namespace

// Past a thousand effects a path whose steps are known forms the packed X'X where those steps
// repay it, and otherwise keeps the cross products of its entering effects, a column of X'X
// each: over 1,001 effects 600 steps form the packed matrix, 20 and 30 do not. The path
// follows scikit-learn's lars_path (tests/data/widelar, written by
// scripts/gen_wide_lar_ref.py) on one thread and on eight, whose workers sum the rows in
// fixed groups of pages: the eight threads' numbers are the one thread's to the last bit.
TEST(PackedDefault, PastAThousandEffectsTheStepsChooseThePackedMatrix) {
  const auto path = readReferenceRows("widelar/path.csv");
  const auto final = readReferenceRows("widelar/final.csv");
  ASSERT_EQ(path.size(), 31U);
  const std::string data = synthdata::wideLarCsv();
  const qrxrun::ProgramRun few = wideLar(20, 1, data);
  ASSERT_EQ(few.status, 0) << few.log;
  EXPECT_EQ(crossProducts(few), "Built incrementally");
  const qrxrun::ProgramRun many = wideLar(600, 1, data);
  ASSERT_EQ(many.status, 0) << many.log;
  EXPECT_EQ(crossProducts(many), "Built in full");
  std::vector<qrxrun::ProgramRun> runs;
  for (const int cpus : {1, 8}) {
    runs.push_back(wideLar(30, cpus, data));
    const qrxrun::ProgramRun& r = runs.back();
    ASSERT_EQ(r.status, 0) << r.log;
    EXPECT_EQ(crossProducts(r), "Built incrementally") << cpus;
    const Value& out = r.json["steps"][0]["output"];
    const Value* summary = qrxrun::findTable(out, "SelectionSummary");
    ASSERT_NE(summary, nullptr) << r.log;
    ASSERT_EQ((*summary)["rows"].items.size(), path.size()) << cpus;
    for (size_t s = 1; s < path.size(); ++s) {
      // Appended: GCC 12's optimiser takes "text" + std::string for an overlapping copy.
      std::string want = "x";
      want += std::to_string(static_cast<int>(path[s][1]));
      EXPECT_EQ(qrxrun::text(*summary, s, "EffectEntered"), want) << cpus << " step " << s;
    }
    const Value* anova = qrxrun::findTable(out, "ANOVA");
    ASSERT_NE(anova, nullptr) << r.log;
    EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), path[30][2], 1e-9 * path[0][2]) << cpus;
    const auto got = estimates(r);
    ASSERT_EQ(got.size(), final.size()) << cpus;
    for (size_t i = 0; i < final.size(); ++i) {
      EXPECT_EQ(got[i].first, static_cast<int>(final[i][0])) << cpus << " " << i;
      EXPECT_NEAR(got[i].second, final[i][1], 1e-9 * (1.0 + std::fabs(final[i][1])))
          << cpus << " " << i;
    }
  }
  for (const char* name : {"SelectionSummary", "ANOVA", "ParameterEstimates"}) {
    const Value* one = qrxrun::findTable(runs[0].json["steps"][0]["output"], name);
    const Value* eight = qrxrun::findTable(runs[1].json["steps"][0]["output"], name);
    ASSERT_TRUE(one != nullptr && eight != nullptr) << name;
    EXPECT_EQ(qrxrun::dumpOutput(*one), qrxrun::dumpOutput(*eight)) << name;
  }
}

// A narrow X'X over many pages is summed in groups of pages, each group's pages in the order
// the rows were read and the groups in order, whichever thread adds a group: a LASSO over ten
// columns of 20,000 rows (some hundred pages) gives the same bits on one, four and eight
// threads.
TEST(PackedDefault, ANarrowMatrixOverManyPagesGivesTheSameBitsOnAnyThreads) {
  std::mt19937_64 gen(54);
  std::normal_distribution<double> z;
  std::string csv = "y,x1,x2,x3,x4,x5,x6,x7,x8,x9,x10\n";
  char buf[40];
  for (int r = 0; r < 20000; ++r) {
    double x[10], y = 0.0;
    for (int j = 0; j < 10; ++j)
      y += (j < 4 ? 1.0 + j : 0.0) * (x[j] = z(gen));
    std::snprintf(buf, sizeof buf, "%.17g", y + z(gen));
    csv += buf;
    for (const double v : x) {
      std::snprintf(buf, sizeof buf, ",%.17g", v);
      csv += buf;
    }
    csv += "\n";
  }
  std::vector<qrxrun::ProgramRun> runs;
  for (const int cpus : {1, 4, 8}) {
    runs.push_back(
        qrxrun::runProgram("proc varsifter data=narrow;\n  model y = x1-x10 / "
                           "selection=lasso(stop=none);\n  performance details cpucount=" +
                               std::to_string(cpus) + ";\nrun;\n",
                           "narrow" + std::to_string(cpus), {{"narrow.csv", csv}}));
    ASSERT_EQ(runs.back().status, 0) << runs.back().log;
    EXPECT_EQ(crossProducts(runs.back()), "Built in full") << cpus;
  }
  qrxrun::expectSameSelectedTables(runs);
}

// Where a step's columns inflate a variance beyond 1e6 its coefficients are refined over the
// rows, and a column whose mean is hundreds of standard deviations from zero has its spread
// formed again about its mean; both passes sum in groups of pages as the cross products do.
// FORWARD and the adaptive LASSO over 20,000 rows with two near combinations (x7 of x1 and x2,
// variance inflation about 2e6; x8 of x3 and x4 about a mean of 1,000) give the same bits on
// one and eight threads.
TEST(PackedDefault, RefinedStepsGiveTheSameBitsOnOneAndEightThreads) {
  std::mt19937_64 gen(7);
  std::normal_distribution<double> z;
  std::string csv = "y,x1,x2,x3,x4,x5,x6,x7,x8\n";
  char buf[40];
  for (int r = 0; r < 20000; ++r) {
    double x[8];
    for (double& v : x)
      v = z(gen);
    x[6] = x[0] + x[1] + 1e-3 * x[6];
    x[7] = 1000.0 + 0.5 * x[2] - x[3] + 1e-3 * x[7];
    const double y = x[0] + 2.0 * x[1] - x[2] + 0.5 * x[6] + 0.2 * x[7] + z(gen);
    std::snprintf(buf, sizeof buf, "%.17g", y);
    csv += buf;
    for (const double v : x) {
      std::snprintf(buf, sizeof buf, ",%.17g", v);
      csv += buf;
    }
    csv += "\n";
  }
  for (const std::string selection :
       {"forward(select=sl stop=none)", "lasso(adaptive stop=none)"}) {
    std::vector<qrxrun::ProgramRun> runs;
    for (const int cpus : {1, 8}) {
      runs.push_back(qrxrun::runProgram(
          "proc varsifter data=near;\n  model y = x1-x8 / selection=" + selection +
              ";\n  performance cpucount=" + std::to_string(cpus) + ";\nrun;\n",
          "refined" + std::to_string(cpus), {{"near.csv", csv}}));
      ASSERT_EQ(runs.back().status, 0) << runs.back().log;
    }
    const Value& one = runs[0].json["steps"][0]["output"];
    ASSERT_NE(qrxrun::findTable(one, "ParameterEstimates"), nullptr) << runs[0].log;
    EXPECT_EQ(qrxrun::dumpOutput(one), qrxrun::dumpOutput(runs[1].json["steps"][0]["output"]))
        << selection;
  }
}
