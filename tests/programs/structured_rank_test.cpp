// The rank on the structured road under tiny weights, through qrx, against numpy's weighted
// least squares (tests/data/manylevelweights, written by scripts/gen_manylevel_weights_ref.py
// on synthdata's rows, made here from their recipe): a many-level effect of 1,000 or 3,000
// levels whose last level's rows weigh 1e-6 or 3e-8.
// After the levels enter, the small columns are swept again behind them; a column that the
// model's own order took (the intercept, a covariate the levels explain to 1e-11 of its
// spread) stays in, so that every selection ends at the least-squares fit of its columns and
// the predictions written are that fit; its estimates are refined over the rows as the packed
// road's are.
#include "programs/qrxrun.h"
#include "programs/structuredcheck.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace {

using minijson::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/manylevelweights/";

struct Reference {
  int rank = 0;
  bool lastLevelEither = false; // the last level taken may go either way
  double sse = 0, total = 0;
  std::map<std::string, double> estimates; // the intercept's and the dense columns'
};

// The text of data set `file`: levels1000 or levels3000.
std::string dataText(const std::string& file) {
  return file == "levels1000" ? synthdata::levelWeightCsv(1000, 60)
                              : synthdata::levelWeightCsv(3000, 61);
}

// The reference fit of data file `file` under weight `weight`.
Reference reference(const std::string& file, const std::string& weight) {
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(kDir + "fits.csv")))
    if (row[0] == file && row[1] == weight) {
      Reference ref{std::stoi(row[3]), row[4] == "1", std::stod(row[5]), std::stod(row[6]), {}};
      std::istringstream names("Intercept " + row[2]), values(row[7]);
      std::string name;
      double v = 0;
      while (names >> name && values >> v)
        ref.estimates[name] = v;
      return ref;
    }
  ADD_FAILURE() << file << " " << weight;
  return {};
}

// The DF and estimate of the named parameters of a step's estimates.
std::map<std::string, std::pair<int, double>> parameters(const Value& step) {
  std::map<std::string, std::pair<int, double>> p;
  const Value* pe = qrxrun::findTable(step["output"], "ParameterEstimates");
  for (size_t r = 0; pe != nullptr && r < (*pe)["rows"].items.size(); ++r)
    p[qrxrun::text(*pe, r, "Parameter")] = {static_cast<int>(qrxrun::number(*pe, r, "DF")),
                                            qrxrun::number(*pe, r, "Estimate")};
  return p;
}

// Runs one step per selection over `model` on data file `file` weighted by `weight`, each with
// its OUTPUT data set, and checks every step against the reference: the intercept and
// `kept` in, the rank, the error SS and the predictions' weighted error SS.
void expectSelections(const std::string& file, const std::string& weight, const std::string& model,
                      const std::vector<std::string>& selections, const std::string& kept) {
  const Reference ref = reference(file, weight);
  std::string program;
  std::vector<std::string> outputs;
  for (size_t i = 0; i < selections.size(); ++i) {
    std::string out = "o";
    out += std::to_string(i);
    program += "proc varsifter data=d seed=9;\n  class g;\n  weight " + weight + ";\n  model " +
               model + " / selection=" + selections[i] + ";\n  output out=" + out + " p=p;\nrun;\n";
    outputs.push_back(out + ".csv");
  }
  const qrxrun::ProgramRun run =
      qrxrun::runProgram(program, "structrank", {{"d.csv", dataText(file)}}, outputs);
  ASSERT_EQ(run.status, 0) << run.log;
  ASSERT_EQ(run.json["steps"].items.size(), selections.size()) << run.log;
  for (size_t i = 0; i < selections.size(); ++i) {
    SCOPED_TRACE(file + " " + selections[i]);
    const Value& step = run.json["steps"][i];
    const auto p = parameters(step);
    ASSERT_EQ(p.count("Intercept"), 1u) << run.log;
    EXPECT_EQ(p.at("Intercept").first, 1);
    ASSERT_EQ(p.count(kept), 1u);
    EXPECT_EQ(p.at(kept).first, 1);
    const Value* anova = qrxrun::findTable(step["output"], "ANOVA");
    ASSERT_NE(anova, nullptr);
    const int modelDf = static_cast<int>(qrxrun::number(*anova, 0, "DF"));
    if (!ref.lastLevelEither || modelDf != ref.rank - 2) {
      EXPECT_EQ(modelDf, ref.rank - 1);
      // The estimates, refined over the rows where the levels inflate a variance.
      for (const auto& [name, want] : ref.estimates) {
        ASSERT_EQ(p.count(name), 1u) << name;
        EXPECT_NEAR(p.at(name).second, want, 1e-7 * std::fabs(want)) << name;
      }
    }
    const double error = qrxrun::number(*anova, 1, "SS");
    EXPECT_NEAR(qrxrun::number(*anova, 2, "SS"), ref.total, 1e-9 * ref.total);
    EXPECT_NEAR(error, ref.sse, 1e-8 * ref.total);
    EXPECT_NEAR(qrxrun::predictedSse(run.files.at(outputs[i]), weight), error, 1e-8 * ref.total);
  }
}

} // namespace

// z = f(level) + 1e-5 noise enters first; the levels enter after x1 and z stays in: behind the
// levels its pivot is below 64 u r^2, which over the levels is some k times the tight bound
// 64 u |v|'|X'X||v|, and far above the latter.
TEST(StructuredRank, ACovariateTheLevelsNearlyExplainStaysIn) {
  for (const std::string file : {"levels1000", "levels3000"})
    expectSelections(file, "w1e6", "y = z x1 g", {"forward(select=sl stop=none)"}, "z");
}

// The intercept, swept behind 2,999 levels, has the last level's weight (two rows of 3e-8) for
// its pivot, below the 1.3e-7 that r^2 bounds its rounding by and far above the tight bound:
// it stays in under every selection the road serves.
TEST(StructuredRank, TheInterceptStaysInBesideALevelOfTinyWeight) {
  expectSelections("levels3000", "w3e8", "y = g x1",
                   {"forward(select=sl)", "stepwise(select=sl)", "backward(select=sl)",
                    "forward(select=cv stop=none choose=sbc) cvmethod=random(5)"},
                   "x1");
}

// A degree-8 spline of x1 entering beside x1, x2 and an effect-coded CLASS of 153 levels
// without an intercept (tests/data/roadtightform, an oracle draw; scripts/
// gen_road_tight_form_ref.py, mpmath at 60 digits): S1 12's pivot is 1.5e-4 of its diagonal
// and 3.16 times the tight rounding bound 64 u |v|'|X'X||v|, but 0.08 of 64 u r^2, which over
// the levels' columns is some 40 times the tight form. The rule takes it on both roads: the
// many-level road judged it by r^2 alone and refused it, an error SS of 25.9454 where least
// squares on the columns the data determine leave 25.9080.
TEST(StructuredRank, ASplineColumnAboveItsTightBoundEntersBesideTheLevels) {
  const std::string dir = std::string(QRX_TEST_DATA) + "/roadtightform/";
  std::map<std::string, std::string> want;
  for (const auto& row : qrxrun::csvRows(qrxrun::readFile(dir + "ref.csv")))
    want[row[0]] = row[1];
  const std::string program =
      "proc varsifter data=d;\n  class m1 / param=effect;\n  effect s1 = spline(x1 / "
      "degree=8);\n  weight w;\n  model y = x1 m1 x2 s1 / selection=forward(select=sl "
      "stop=none) include=3 noint;\nrun;\n";
  const std::string data = qrxrun::readFile(dir + "d.csv");
  std::vector<double> errors;
  for (const std::string hooks : {"", "structuredColumns=1000000"}) {
    SCOPED_TRACE(hooks.empty() ? "many-level road" : "packed road");
    const qrxrun::ProgramRun r = structuredcheck::runHooked(hooks, program, data, "roadtight");
    ASSERT_EQ(r.status, 0) << r.log;
    const Value* selected = qrxrun::nodeNamed(r.json["steps"][0]["output"], "SelectedModel");
    ASSERT_NE(selected, nullptr) << r.log;
    const Value* anova = qrxrun::findTable(*selected, "ANOVA");
    const Value* estimates = qrxrun::findTable(*selected, "ParameterEstimates");
    ASSERT_TRUE(anova != nullptr && estimates != nullptr) << r.log;
    EXPECT_EQ(qrxrun::number(*anova, 0, "DF"), std::stod(want.at("model_df")));
    const double sse = std::stod(want.at("error_ss"));
    errors.push_back(qrxrun::number(*anova, 1, "SS"));
    EXPECT_NEAR(errors.back(), sse, 1e-9 * sse);
    std::string refused;
    for (size_t i = 0; i < (*estimates)["rows"].items.size(); ++i)
      if (qrxrun::number(*estimates, i, "DF") == 0) {
        std::istringstream words(qrxrun::text(*estimates, i, "Parameter"));
        std::string w, name;
        while (words >> w)
          name += (name.empty() ? "" : " ") + w;
        refused += (refused.empty() ? "" : " ") + name;
      }
    EXPECT_EQ(refused, want.at("refused"));
  }
  // Other bits: the first run took the many-level road.
  ASSERT_EQ(errors.size(), 2u);
  EXPECT_NE(errors[0], errors[1]);
}
