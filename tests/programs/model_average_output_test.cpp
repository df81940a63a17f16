// Model averaging's OUTPUT columns end to end through qrx on the diabetes data. Each
// resample's prediction must be the prediction of a plain fit of the same program whose FREQ
// variable holds that resample's drawn frequencies, so every resample's selected model and
// estimates are those of an independent plain fit; the averaged prediction and its spread
// are then recomputed here from the resample predictions by the textbook formulas.
#include "qrxrun.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <sstream>
#include <string>
#include <vector>

namespace {

using namespace qrxrun;

const char* const kVars[] = {"AGE", "SEX", "BMI", "BP", "S1", "S2", "S3", "S4", "S5", "S6", "Y"};
const char* const kModel = "  MODEL Y = AGE SEX BMI BP S1 S2 S3 S4 S5 S6 / SELECTION=";

// A CSV as a map from column name to its values (missing values as NaN).
using Columns = std::map<std::string, std::vector<double>>;
Columns columnsOf(const std::string& csv) {
  Columns out;
  const auto rows = csvRows(csv);
  if (rows.empty())
    return out;
  for (size_t r = 1; r < rows.size(); ++r)
    for (size_t c = 0; c < rows[0].size(); ++c) {
      const std::string v = c < rows[r].size() ? rows[r][c] : "";
      out[rows[0][c]].push_back(v.empty() || v == "." ? std::nan("") : std::stod(v));
    }
  return out;
}

std::string dataWithFreq(const Columns& o, const std::string& freq) {
  std::string s;
  for (const char* v : kVars)
    s += std::string(v) + ",";
  s += "F\n";
  const size_t n = o.at("Y").size();
  for (size_t r = 0; r < n; ++r) {
    for (const char* v : kVars) {
      char buf[64];
      std::snprintf(buf, sizeof buf, "%.17g,", o.at(v)[r]);
      s += buf;
    }
    s += std::to_string(static_cast<long>(o.at(freq)[r])) + "\n";
  }
  return s;
}

// The order statistic rule of the quantiles: t = n q; a whole t takes the mean of values
// t - 1 and t (0-based), any other t value floor(t).
double quantile(std::vector<double> v, double q) {
  std::sort(v.begin(), v.end());
  const double t = q * static_cast<double>(v.size());
  const auto j = static_cast<size_t>(std::floor(t + 1e-13));
  const auto at = [&](size_t i) { return v[std::min(i, v.size() - 1)]; };
  return std::fabs(t - static_cast<double>(j)) > 1e-13 ? at(j)
                                                       : (at(j == 0 ? 0 : j - 1) + at(j)) / 2;
}

void checkSpread(const Columns& o, int samples, double alpha) {
  const size_t n = o.at("Y").size();
  for (size_t r = 0; r < n; ++r) {
    std::vector<double> p;
    for (int i = 1; i <= samples; ++i)
      p.push_back(o.at("samplePred" + std::to_string(i))[r]);
    double mean = 0, ss = 0;
    for (double x : p)
      mean += x / samples;
    for (double x : p)
      ss += (x - mean) * (x - mean);
    const double tol = 1e-9 * (1 + std::fabs(mean));
    ASSERT_NEAR(o.at("p_Y")[r], mean, tol) << "row " << r;
    ASSERT_NEAR(o.at("stdDev")[r], std::sqrt(ss / (samples - 1)), tol) << "row " << r;
    ASSERT_NEAR(o.at("median")[r], quantile(p, 0.5), tol) << "row " << r;
    ASSERT_NEAR(o.at("lower")[r], quantile(p, alpha / 2), tol) << "row " << r;
    ASSERT_NEAR(o.at("upper")[r], quantile(p, 1 - alpha / 2), tol) << "row " << r;
  }
}

// The plain fit of `model` (a MODEL statement) with FREQ holding sample i's drawn
// frequencies: its predictions must be sample i's. Returns the plain run.
ProgramRun plainFitOfSample(const Columns& o, int i, const std::string& model,
                            const std::string& tag, const std::string& procOptions = "") {
  const ProgramRun plain = runProgram(
      "PROC VARSIFTER DATA=d" + procOptions + ";\n  FREQ F;\n" + model +
          ";\n  OUTPUT OUT=q P=plain;\nRUN;\n",
      tag + "_plain", {{"d.csv", dataWithFreq(o, "sampleFreq" + std::to_string(i))}}, {"q.csv"});
  EXPECT_EQ(plain.status, 0) << plain.log;
  if (plain.status != 0)
    return plain;
  const Columns q = columnsOf(plain.files.at("q.csv"));
  const std::vector<double>&want = q.at("plain"), &got = o.at("samplePred" + std::to_string(i));
  EXPECT_EQ(want.size(), got.size());
  for (size_t r = 0; r < want.size() && r < got.size(); ++r)
    if (std::fabs(got[r] - want[r]) > 1e-10 * (1 + std::fabs(want[r]))) {
      ADD_FAILURE() << "sample " << i << " row " << r << ": " << got[r] << " != " << want[r];
      break;
    }
  return plain;
}

void eachSampleIsAPlainFit(const std::string& method, const std::string& tag) {
  const int samples = 4;
  const ProgramRun ma =
      runProgram("PROC VARSIFTER DATA=d SEED=321;\n" + std::string(kModel) + method +
                     ";\n  MODELAVERAGE NSAMPLES=4 NTHREADS$=3 ALPHA=0.5;\n"
                     "  OUTPUT OUT=o P SAMPLEFREQ SAMPLEPRED STDDEV MEDIAN LOWER UPPER;\nRUN;\n",
                 tag, {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv")}},
                 {"o.csv"});
  ASSERT_EQ(ma.status, 0) << ma.log;
  const Columns o = columnsOf(ma.files.at("o.csv"));
  ASSERT_EQ(o.count("sampleFreq4"), 1u);
  ASSERT_EQ(o.count("sampleFreq5"), 0u);
  for (int i = 1; i <= samples; ++i) {
    const std::string f = "sampleFreq" + std::to_string(i);
    double total = 0;
    for (double x : o.at(f))
      total += x;
    EXPECT_EQ(total, 442) << f;
    plainFitOfSample(o, i, std::string(kModel) + method, tag);
    if (::testing::Test::HasFailure())
      return;
  }
  checkSpread(o, samples, 0.5);
}

TEST(ModelAverageOutput, ForwardSamplesAreThePlainFitsOfTheirFrequencies) {
  eachSampleIsAPlainFit("FORWARD(SELECT=SBC)", "maofwd");
}

TEST(ModelAverageOutput, LassoSamplesAreThePlainFitsOfTheirFrequencies) {
  eachSampleIsAPlainFit("LASSO(CHOOSE=SBC)", "maolasso");
}

// Ten samples take two digits; a prefix that leaves no room for them is cut to keep every
// name within 32 characters, with a warning; the unused resamples of a subset are missing.
TEST(ModelAverageOutput, ColumnNamesFitAndLongPrefixesAreCut) {
  const std::string prefix(31, 'Q');
  const ProgramRun r = runProgram(
      "PROC VARSIFTER DATA=d SEED=5;\n" + std::string(kModel) +
          "FORWARD(SELECT=SBC);\n  MODELAVERAGE NSAMPLES=10 SUBSET(BEST=1);\n"
          "  OUTPUT OUT=o SAMPLEFREQ=" +
          prefix + " SAMPLEPRED;\nRUN;\n",
      "maonames", {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv")}},
      {"o.csv"});
  // The cut prefix is a warning: the run ends with the warning's return code.
  ASSERT_EQ(r.json["returnCode"].n, 4) << r.log;
  EXPECT_TRUE(logged(r, VsfMsg::SamplePrefixTooLong)) << r.log;
  const auto rows = csvRows(r.files.at("o.csv"));
  ASSERT_FALSE(rows.empty());
  for (const std::string& name : rows[0])
    EXPECT_LE(name.size(), 32u) << name;
  const Columns o = columnsOf(r.files.at("o.csv"));
  EXPECT_EQ(o.count(prefix.substr(0, 30) + "10"), 1u);
  EXPECT_EQ(o.count("samplePred1"), 1u);
  EXPECT_EQ(o.count("samplePred10"), 1u);
  // BEST=1 averages only the resamples of the most frequent model; the others show missing
  // predictions on every row, the averaged ones none.
  int averaged = 0;
  for (int i = 1; i <= 10; ++i) {
    const std::vector<double>& p = o.at("samplePred" + std::to_string(i));
    const auto missing = std::count_if(p.begin(), p.end(), [](double x) { return std::isnan(x); });
    EXPECT_TRUE(missing == 0 || missing == static_cast<long>(p.size())) << i;
    averaged += missing == 0;
  }
  EXPECT_GT(averaged, 0);
  EXPECT_LT(averaged, 10);
}

// REFIT(BEST=2): the refit enters the intercept and the two effects selected most often in
// the first pass (equal percentages keep the MODEL order), read here from the first pass's
// selection percentages. Each refit sample must be a plain fit (SELECTION=NONE) of exactly
// those effects with FREQ holding that sample's drawn frequencies, and the refit's averaged
// estimates the mean of those plain fits' estimates.
void refitIsThePlainFitOfTheBestEffects(const std::string& method, const std::string& tag) {
  const int samples = 4;
  const ProgramRun ma =
      runProgram("PROC VARSIFTER DATA=d SEED=321;\n" + std::string(kModel) + method +
                     ";\n  MODELAVERAGE NSAMPLES=6 REFIT(BEST=2 NSAMPLES=4) "
                     "TABLES=(EFFECTSELECTPCT(MINPCT=0) PARMEST(MINPCT=0));\n"
                     "  OUTPUT OUT=o P SAMPLEFREQ SAMPLEPRED;\nRUN;\n",
                 tag, {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv")}},
                 {"o.csv"});
  ASSERT_EQ(ma.status, 0) << ma.log;
  const Value& out = ma.json["steps"][0]["output"];
  const Value* pct = findTable(out, "EffectSelectPct");
  const Value* refit = findTable(out, "RefitAvgParmEst");
  ASSERT_NE(pct, nullptr) << ma.log;
  ASSERT_NE(refit, nullptr) << ma.log;
  std::vector<std::pair<double, int>> ranked;
  for (size_t r = 0; r < (*pct)["rows"].items.size(); ++r) {
    const std::string name = text(*pct, r, "Effect");
    const int order = int(std::find(std::begin(kVars), std::end(kVars), name) - kVars);
    ranked.push_back({-number(*pct, r, "SelectionPct"), order});
  }
  std::sort(ranked.begin(), ranked.end());
  ASSERT_GE(ranked.size(), 3u);
  ASSERT_GE(-ranked[1].first, 20.0);
  std::string effects;
  std::map<std::string, double> mean;
  for (size_t k = 0; k < 2; ++k)
    effects += std::string(kVars[ranked[k].second]) + " ";
  const Columns o = columnsOf(ma.files.at("o.csv"));
  ASSERT_EQ(o.count("sampleFreq4"), 1u);
  ASSERT_EQ(o.count("sampleFreq5"), 0u);
  for (int i = 1; i <= samples; ++i) {
    const ProgramRun plain =
        plainFitOfSample(o, i, "  MODEL Y = " + effects + "/ SELECTION=NONE", tag);
    if (::testing::Test::HasFailure())
      return;
    const Value* pe = findTable(plain.json["steps"][0]["output"], "ParameterEstimates");
    ASSERT_NE(pe, nullptr) << plain.log;
    for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
      mean[text(*pe, r, "Parameter")] += number(*pe, r, "Estimate") / samples;
  }
  ASSERT_EQ(mean.size(), 3u);
  ASSERT_EQ((*refit)["rows"].items.size(), mean.size());
  for (size_t r = 0; r < mean.size(); ++r) {
    const std::string parm = text(*refit, r, "Parameter");
    ASSERT_EQ(mean.count(parm), 1u) << parm;
    EXPECT_NEAR(number(*refit, r, "Mean"), mean[parm], 1e-10 * (1 + std::fabs(mean[parm]))) << parm;
  }
}

TEST(ModelAverageOutput, ForwardRefitIsThePlainFitOfTheBestEffects) {
  refitIsThePlainFitOfTheBestEffects("FORWARD(SELECT=SBC)", "maorfwd");
}

TEST(ModelAverageOutput, LassoRefitIsThePlainFitOfTheBestEffects) {
  refitIsThePlainFitOfTheBestEffects("LASSO(CHOOSE=SBC)", "maorlasso");
}

// NOPRINT shows no tables, yet the refit still runs: the output data set holds the refit's
// samples, as it does with the tables shown.
TEST(ModelAverageOutput, RefitRunsUnderNoprint) {
  auto program = [](const std::string& options) {
    return "PROC VARSIFTER DATA=d SEED=321" + options + ";\n" + std::string(kModel) +
           "FORWARD(SELECT=SBC);\n  MODELAVERAGE NSAMPLES=6 REFIT(BEST=2 NSAMPLES=4);\n"
           "  OUTPUT OUT=o P SAMPLEFREQ SAMPLEPRED;\nRUN;\n";
  };
  const std::string data = readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv");
  const ProgramRun shown = runProgram(program(""), "maornp1", {{"d.csv", data}}, {"o.csv"});
  const ProgramRun quiet = runProgram(program(" NOPRINT"), "maornp2", {{"d.csv", data}}, {"o.csv"});
  ASSERT_EQ(shown.status, 0) << shown.log;
  ASSERT_EQ(quiet.status, 0) << quiet.log;
  const Columns o = columnsOf(quiet.files.at("o.csv"));
  EXPECT_EQ(o.count("sampleFreq4"), 1u);
  EXPECT_EQ(o.count("sampleFreq5"), 0u);
  EXPECT_EQ(quiet.files.at("o.csv"), shown.files.at("o.csv"));
}

// REFIT without BEST= shows no best-effects count in ModelAverageInfo; with BEST=2 it shows 2
// (the count the user gave, not the one that includes the intercept).
TEST(ModelAverageOutput, RefitBestCountIsShownOnlyWhenGiven) {
  const std::string data = readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv");
  auto bestEntries = [&](const std::string& refit, const std::string& tag) {
    const ProgramRun r =
        runProgram("PROC VARSIFTER DATA=d SEED=321;\n" + std::string(kModel) +
                       "FORWARD(SELECT=SBC);\n  MODELAVERAGE NSAMPLES=4 " + refit + ";\nRUN;\n",
                   tag, {{"d.csv", data}});
    EXPECT_EQ(r.status, 0) << r.log;
    std::vector<double> values;
    for (const Value* f : tablesOf(r, "ModelAverageInfo"))
      for (const Value& e : (*f)["entries"].items)
        if (e["label"].s.find("Best") != std::string::npos)
          values.push_back(e["value"].n);
    return values;
  };
  EXPECT_TRUE(bestEntries("REFIT(NSAMPLES=2)", "mabest1").empty());
  EXPECT_EQ(bestEntries("REFIT(BEST=2 NSAMPLES=2)", "mabest2"), std::vector<double>{2});
}

// Three samples over two resamplers with MODELAVERAGE DETAILS, writing each sample's drawn
// frequencies and predictions.
ProgramRun detailsRun(const std::string& procOptions, const std::string& model,
                      const std::string& tag) {
  return runProgram("PROC VARSIFTER DATA=d SEED=78" + procOptions + ";\n" + model +
                        ";\n  MODELAVERAGE NSAMPLES=3 NTHREADS$=2 DETAILS;\n"
                        "  OUTPUT OUT=o SAMPLEFREQ SAMPLEPRED;\nRUN;\n",
                    tag,
                    {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/diabetes.csv")}},
                    {"o.csv"});
}

// MODELAVERAGE DETAILS shows each sample's selected model: its estimates are those of a plain
// fit with FREQ set to the sample's drawn frequencies. Every sample's step records precede its
// final record in the resampler's file, and the samples of the second resampler are read from
// that file's own start. The run is left in *kept when one is given.
void sampleTablesArePlainFits(const std::string& method, const std::string& tag,
                              ProgramRun* kept = nullptr) {
  const int samples = 3;
  const ProgramRun ma = detailsRun("", std::string(kModel) + method, tag);
  if (kept != nullptr)
    *kept = ma;
  ASSERT_EQ(ma.status, 0) << ma.log;
  const std::vector<const Value*> shown = tablesOf(ma, "ParameterEstimates");
  ASSERT_EQ(shown.size(), size_t(samples));
  ASSERT_EQ(tablesOf(ma, "SelectedEffects").size(), size_t(samples));
  const Columns o = columnsOf(ma.files.at("o.csv"));
  for (int i = 1; i <= samples; ++i) {
    const ProgramRun plain = plainFitOfSample(o, i, std::string(kModel) + method, tag);
    ASSERT_EQ(plain.status, 0);
    const std::vector<const Value*> want = tablesOf(plain, "ParameterEstimates");
    ASSERT_EQ(want.size(), 1u);
    const Value& got = *shown[size_t(i - 1)];
    ASSERT_EQ(got["rows"].items.size(), (*want[0])["rows"].items.size()) << "sample " << i;
    for (size_t r = 0; r < got["rows"].items.size(); ++r) {
      EXPECT_EQ(text(got, r, "Parameter"), text(*want[0], r, "Parameter")) << i;
      const double w = number(*want[0], r, "Estimate");
      EXPECT_NEAR(number(got, r, "Estimate"), w, 1e-10 * (1 + std::fabs(w))) << i << " " << r;
    }
    const std::string effects = text(*tablesOf(ma, "SelectedEffects")[size_t(i - 1)], 0, "Effects");
    EXPECT_FALSE(effects.empty()) << i;
    EXPECT_EQ(effects, text(*tablesOf(plain, "SelectedEffects")[0], 0, "Effects")) << i;
  }
}

TEST(ModelAverageOutput, ForwardDetailsShowEachSamplesPlainFit) {
  sampleTablesArePlainFits("FORWARD(SELECT=SBC)", "maodetfwd");
}

TEST(ModelAverageOutput, LassoDetailsShowEachSamplesPlainFit) {
  sampleTablesArePlainFits("LASSO(CHOOSE=SBC)", "maodetlasso");
}

// The group LASSO centres the response on the pages: a sample's total sum of squares is taken
// before that, as the plain fit's is, and its step 0 has the SBC of the frequency-weighted
// total sum of squares about the sample's mean, n ln(SST / n) + ln n.
TEST(ModelAverageOutput, GroupLassoDetailsShowEachSamplesPlainFitAndTotal) {
  ProgramRun ma;
  sampleTablesArePlainFits("GROUPLASSO(CHOOSE=SBC)", "maodetglasso", &ma);
  ASSERT_EQ(ma.status, 0);
  const Columns o = columnsOf(ma.files.at("o.csv"));
  const std::vector<const Value*> summaries = tablesOf(ma, "SelectionSummary");
  ASSERT_EQ(summaries.size(), 3u);
  const std::vector<double>& y = o.at("Y");
  for (size_t i = 0; i < summaries.size(); ++i) {
    const std::vector<double>& f = o.at("sampleFreq" + std::to_string(i + 1));
    double n = 0, sum = 0, sst = 0;
    for (size_t r = 0; r < y.size(); ++r) {
      n += f[r];
      sum += f[r] * y[r];
    }
    for (size_t r = 0; r < y.size(); ++r)
      sst += f[r] * (y[r] - sum / n) * (y[r] - sum / n);
    const double sbc = n * std::log(sst / n) + std::log(n);
    EXPECT_NEAR(number(*summaries[i], 0, "SBC"), sbc, 1e-8 * std::fabs(sbc)) << "sample " << i;
    EXPECT_GT((*summaries[i])["rows"].items.size(), 1u) << "sample " << i;
  }
}

// The ParameterEstimates tables of the step groups under `steps`, in step order.
std::vector<const Value*> stepEstimates(const Value& steps) {
  std::vector<const Value*> out;
  for (int s = 0;; ++s) {
    const Value* step = nodeNamed(steps, "Step" + std::to_string(s));
    if (step == nullptr)
      return out;
    out.push_back(findTable(*step, "ParameterEstimates"));
  }
}

// MODELAVERAGE DETAILS with MODEL DETAILS=STEPS shows each sample's step records inside its
// Sample group: every step's estimates are those of the same step of a plain fit with FREQ set
// to the sample's drawn frequencies, and the sample shows as many steps as that fit.
void sampleStepsArePlainFitSteps(const std::string& method, const std::string& tag) {
  const int samples = 3;
  const std::string model = std::string(kModel) + method + " DETAILS=STEPS";
  const ProgramRun ma = detailsRun("", model, tag);
  ASSERT_EQ(ma.status, 0) << ma.log;
  const Columns o = columnsOf(ma.files.at("o.csv"));
  const Value& out = ma.json["steps"][0]["output"];
  for (int i = 1; i <= samples; ++i) {
    const Value* group = nodeNamed(out, "Sample" + std::to_string(i));
    ASSERT_NE(group, nullptr) << i;
    const Value* steps = nodeNamed(*group, "StepDetails");
    ASSERT_NE(steps, nullptr) << i;
    const ProgramRun plain = plainFitOfSample(o, i, model, tag);
    ASSERT_EQ(plain.status, 0);
    const Value* wantSteps = nodeNamed(plain.json["steps"][0]["output"], "StepDetails");
    ASSERT_NE(wantSteps, nullptr);
    const std::vector<const Value*> got = stepEstimates(*steps), want = stepEstimates(*wantSteps);
    ASSERT_GE(want.size(), 2u) << i;
    ASSERT_EQ(got.size(), want.size()) << "sample " << i;
    for (size_t s = 0; s < want.size(); ++s) {
      ASSERT_NE(got[s], nullptr) << i << " step " << s;
      ASSERT_NE(want[s], nullptr) << i << " step " << s;
      ASSERT_EQ((*got[s])["rows"].items.size(), (*want[s])["rows"].items.size()) << i << " " << s;
      for (size_t r = 0; r < (*want[s])["rows"].items.size(); ++r) {
        EXPECT_EQ(text(*got[s], r, "Parameter"), text(*want[s], r, "Parameter")) << i << " " << s;
        const double w = number(*want[s], r, "Estimate");
        EXPECT_NEAR(number(*got[s], r, "Estimate"), w, 1e-10 * (1 + std::fabs(w)))
            << i << " " << s << " " << r;
      }
    }
  }
}

TEST(ModelAverageOutput, ForwardStepDetailsShowEachSamplesPlainFitSteps) {
  sampleStepsArePlainFitSteps("FORWARD(SELECT=SBC)", "maostepfwd");
}

TEST(ModelAverageOutput, LassoStepDetailsShowEachSamplesPlainFitSteps) {
  sampleStepsArePlainFitSteps("LASSO(CHOOSE=SBC)", "maosteplasso");
}

// The graphs of a template under `node`, depth first.
void graphsNamed(const Value& node, const std::string& templ, std::vector<const Value*>* out) {
  if (node.kind == Value::Array) {
    for (const auto& item : node.items)
      graphsNamed(item, templ, out);
    return;
  }
  if (node.kind != Value::Object)
    return;
  if (node["kind"].s == "graph" && node["template"].s == "Stat.VARSIFTER.Graphics." + templ)
    out->push_back(&node);
  if (node.has("children"))
    graphsNamed(node["children"], templ, out);
}

// With graphics on, MODELAVERAGE DETAILS draws each sample's coefficient progression inside
// its Sample group: its rows (step, parameter, standardized estimate) are those of the plain
// fit with FREQ set to the sample's drawn frequencies.
TEST(ModelAverageOutput, SampleCoefficientPanelsArePlainFitPanels) {
  const int samples = 3;
  const std::string model = std::string(kModel) + "FORWARD(SELECT=SBC)";
  const ProgramRun ma = detailsRun(" PLOTS=COEFFICIENTS", model, "maocoef");
  ASSERT_EQ(ma.status, 0) << ma.log;
  const Columns o = columnsOf(ma.files.at("o.csv"));
  const Value& out = ma.json["steps"][0]["output"];
  for (int i = 1; i <= samples; ++i) {
    const Value* group = nodeNamed(out, "Sample" + std::to_string(i));
    ASSERT_NE(group, nullptr) << i;
    std::vector<const Value*> got, want;
    graphsNamed(*group, "CoefficientPanel", &got);
    ASSERT_EQ(got.size(), 1u) << "sample " << i;
    const ProgramRun plain = plainFitOfSample(o, i, model, "maocoef", " PLOTS=COEFFICIENTS");
    ASSERT_EQ(plain.status, 0);
    graphsNamed(plain.json["steps"][0]["output"], "CoefficientPanel", &want);
    ASSERT_EQ(want.size(), 1u);
    const Value& g = (*got[0])["vegaLite"]["datasets"]["coef"];
    const Value& w = (*want[0])["vegaLite"]["datasets"]["coef"];
    ASSERT_GE(w.items.size(), 2u);
    ASSERT_EQ(g.items.size(), w.items.size()) << "sample " << i;
    for (size_t r = 0; r < w.items.size(); ++r) {
      EXPECT_EQ(g.items[r]["Step"].n, w.items[r]["Step"].n) << i << " " << r;
      EXPECT_EQ(g.items[r]["Parameter"].s, w.items[r]["Parameter"].s) << i << " " << r;
      const double e = w.items[r]["StandardizedEst"].n;
      EXPECT_NEAR(g.items[r]["StandardizedEst"].n, e, 1e-10 * (1 + std::fabs(e))) << i << " " << r;
    }
  }
}

} // namespace

namespace {

// The houses data with the column F holding sample i's drawn frequencies (the OUTPUT data set
// keeps the observations in the order of the input).
std::string housesWithFreq(const std::vector<std::vector<std::string>>& o, int i) {
  std::istringstream in(readFile(std::string(QRX_SOURCE_DIR) + "/examples/houses.csv"));
  const int f = headerColumn(o.at(0), "sampleFreq" + std::to_string(i));
  std::string line, s;
  std::getline(in, line);
  s = line + ",F\n";
  for (size_t r = 1; std::getline(in, line) && !line.empty(); ++r)
    s += line + "," + o.at(r).at(static_cast<size_t>(f)) + "\n";
  return s;
}

// A row's key: its effect, the levels in its CLASS columns and its parameter text with runs of
// blanks made one (the Parameter texts are padded to widths that depend on the model).
std::string rowKey(const Value& t, size_t r) {
  std::string parm,
      key = text(t, r, "Effect") + "|" + text(t, r, "type") + "|" + text(t, r, "district") + "|";
  for (char c : text(t, r, "Parameter"))
    if (c != ' ' || (!parm.empty() && parm.back() != ' '))
      parm += c;
  return key + parm;
}

const char* const kHousesModel =
    "  CLASS type district;\n"
    "  MODEL price = area rooms age type district noise1 / SELECTION=FORWARD(SELECT=SBC) "
    "INCLUDE=1;\n";

} // namespace

// The averaged estimates of the houses data name their CLASS parameters and levels as the
// estimates of a fit do, mark the effect forced in, and are the means over the samples of
// the estimates of plain fits with FREQ holding each sample's drawn frequencies (0 for an
// effect a sample did not select). The data and design tables come first, the averaging
// tables inside their group.
TEST(ModelAverageOutput, AveragedClassEstimatesAreTheMeansOfThePlainFits) {
  const int samples = 4;
  const ProgramRun ma = runProgram(
      "PROC VARSIFTER DATA=d SEED=11;\n" + std::string(kHousesModel) +
          "  MODELAVERAGE NSAMPLES=4;\n  OUTPUT OUT=o SAMPLEFREQ;\nRUN;\n",
      "maoclass", {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/houses.csv")}},
      {"o.csv"});
  ASSERT_EQ(ma.status, 0) << ma.log;
  const Value& out = ma.json["steps"][0]["output"];
  std::vector<std::string> order;
  for (const Value& n : out.items)
    order.push_back(n["name"].s);
  const std::vector<std::string> want = {
      "",           "ModelInfo",      "ModelAverageInfo", "NObs", "ClassLevelInfo",
      "Dimensions", "InitialAverage", "SelectedModel"};
  EXPECT_EQ(order, want);
  const Value* group = nodeNamed(out, "InitialAverage");
  ASSERT_NE(group, nullptr);
  std::vector<std::string> inner;
  for (const Value& n : (*group)["children"].items)
    if (n["kind"].s == "table")
      inner.push_back(n["name"].s);
  EXPECT_EQ(inner, (std::vector<std::string>{"EffectSelectPct", "ModelSelectFreq", "AvgParmEst"}));
  const Value* avg = findTable(*group, "AvgParmEst");
  ASSERT_NE(avg, nullptr);
  const auto o = csvRows(ma.files.at("o.csv"));
  std::map<std::string, double> mean;
  for (int i = 1; i <= samples; ++i) {
    const ProgramRun plain =
        runProgram("PROC VARSIFTER DATA=d;\n  FREQ F;\n" + std::string(kHousesModel) + "RUN;\n",
                   "maoclass_plain", {{"d.csv", housesWithFreq(o, i)}});
    ASSERT_EQ(plain.status, 0) << plain.log;
    const Value* pe = findTable(plain.json["steps"][0]["output"], "ParameterEstimates");
    ASSERT_NE(pe, nullptr);
    for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r)
      mean[rowKey(*pe, r)] += number(*pe, r, "Estimate") / samples;
  }
  std::erase_if(mean, [](const auto& kv) { return kv.second == 0.0; });
  ASSERT_EQ((*avg)["rows"].items.size(), mean.size());
  int levels = 0;
  for (size_t r = 0; r < mean.size(); ++r) {
    const std::string key = rowKey(*avg, r);
    ASSERT_EQ(mean.count(key), 1u) << key;
    EXPECT_NEAR(number(*avg, r, "Mean"), mean[key], 1e-9 * (1 + std::fabs(mean[key]))) << key;
    EXPECT_EQ(number(*avg, r, "ForcedIn"), text(*avg, r, "Effect") == "area" ? 1 : 0) << key;
    levels += !text(*avg, r, "type").empty() || !text(*avg, r, "district").empty();
  }
  EXPECT_GE(levels, 10); // three type and seven district parameters at least
}

// With REFIT the first pass's tables sit in their group and the refit's, with its note and
// selected effects, in another; the design tables are shown once. A trimmed mean says so in
// its headers, and the refit's table has a title of its own.
TEST(ModelAverageOutput, RefitGroupsTrimmedHeadersAndTitles) {
  const ProgramRun r = runProgram(
      "PROC VARSIFTER DATA=d SEED=11;\n" + std::string(kHousesModel) +
          "  MODELAVERAGE NSAMPLES=5 AVERAGEMETHOD=MEAN(TRIMPERCENT=20) REFIT(NSAMPLES=3) "
          "TABLES=PARMEST(NONZEROPARMS);\nRUN;\n",
      "maorefitgroups",
      {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/houses.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_EQ(tablesOf(r, "Dimensions").size(), 1u);
  EXPECT_EQ(tablesOf(r, "NObs").size(), 1u);
  const Value& out = r.json["steps"][0]["output"];
  const Value* first = nodeNamed(out, "InitialAverage");
  const Value* refit = nodeNamed(out, "RefitAverage");
  ASSERT_NE(first, nullptr);
  ASSERT_NE(refit, nullptr);
  const Value& notes = (*refit)["children"];
  ASSERT_GE(notes.items.size(), 3u);
  EXPECT_EQ(notes[0]["kind"].s, "text");
  EXPECT_EQ(notes[1]["name"].s, "SelectedEffects");
  EXPECT_EQ(notes[2]["name"].s, "RefitAvgParmEst");
  const Value* avg = findTable(*first, "AvgParmEst");
  const Value* again = findTable(*refit, "RefitAvgParmEst");
  ASSERT_NE(avg, nullptr);
  ASSERT_NE(again, nullptr);
  EXPECT_NE((*avg)["title"].s, (*again)["title"].s);
  EXPECT_FALSE((*avg)["title2"].s.empty()); // NONZEROPARMS: the statistics of the non-zero
  EXPECT_TRUE((*again)["title2"].s.empty());
  for (const Value* t : {avg, again}) {
    const Value& mean = (*t)["columns"][static_cast<size_t>(col(*t, "Mean"))];
    EXPECT_NE(mean["header"].s.find("Trimmed"), std::string::npos) << mean["header"].s;
    EXPECT_NE(mean["header"].s.find("20"), std::string::npos) << mean["header"].s;
  }
  EXPECT_GE(col(*avg, "TrimmedNumberNonzero"), 0);
  EXPECT_GE(col(*avg, "ForcedIn"), 0);
  EXPECT_LT(col(*again, "ForcedIn"), 0);
}

// TRIMPERCENT=20 cuts k = trunc(n x 0.1) of a parameter's n non-zero estimates at each end:
// the mean over the N samples divides what is left by N - 2k, and TrimmedNumberNonzero is
// trunc(0.8 n). Both are formed here from the samples' own estimates.
TEST(ModelAverageOutput, TrimmedMeansComeFromTheSamplesEstimates) {
  const int samples = 10;
  const ProgramRun r = runProgram(
      "PROC VARSIFTER DATA=d SEED=5;\n" + std::string(kHousesModel) +
          "  MODELAVERAGE NSAMPLES=10 DETAILS AVERAGEMETHOD=MEAN(TRIMPERCENT=20) "
          "TABLES=PARMEST(ALL);\nRUN;\n",
      "maotrim", {{"d.csv", readFile(std::string(QRX_SOURCE_DIR) + "/examples/houses.csv")}});
  ASSERT_EQ(r.status, 0) << r.log;
  const Value& out = r.json["steps"][0]["output"];
  std::map<std::string, std::vector<double>> nonzero;
  for (int i = 1; i <= samples; ++i) {
    const Value* group = nodeNamed(out, "Sample" + std::to_string(i));
    ASSERT_NE(group, nullptr) << i;
    const Value* pe = findTable(*group, "ParameterEstimates");
    ASSERT_NE(pe, nullptr) << i;
    for (size_t row = 0; row < (*pe)["rows"].items.size(); ++row)
      if (const double v = number(*pe, row, "Estimate"); v != 0)
        nonzero[rowKey(*pe, row)].push_back(v);
  }
  const Value* avg = findTable(out, "AvgParmEst");
  ASSERT_NE(avg, nullptr);
  ASSERT_EQ((*avg)["rows"].items.size(), nonzero.size());
  bool trimmed = false;
  for (size_t row = 0; row < nonzero.size(); ++row) {
    std::vector<double> v = nonzero.at(rowKey(*avg, row));
    std::sort(v.begin(), v.end());
    const size_t n = v.size(), k = n / 10;
    trimmed = trimmed || k > 0;
    const double mean = std::accumulate(v.begin() + long(k), v.end() - long(k), 0.0) /
                        static_cast<double>(samples - 2 * int(k));
    EXPECT_NEAR(number(*avg, row, "Mean"), mean, 1e-9 * (1 + std::fabs(mean))) << row;
    EXPECT_EQ(number(*avg, row, "TrimmedNumberNonzero"), double(4 * n / 5)) << row;
  }
  EXPECT_TRUE(trimmed) << "some parameter is non-zero in every sample";
}
