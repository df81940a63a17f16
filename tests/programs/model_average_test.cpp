// Model averaging end to end through qrx on the diabetes data: the selection counts of the
// tables agree with each other and with the number of samples, and a fixed seed gives the
// same tables on one page worker, on four, and with small pages kept on disk; external cross
// validation is refused before any data is read; SHAREDDRIVE$= places the utility files.
#include "qrxrun.h"

#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace {

using namespace qrxrun;

std::string program(const std::string& method, const std::string& perf) {
  return "PROC VARSIFTER DATA='examples/diabetes.csv' SEED=123;\n"
         "  MODEL Y = AGE SEX BMI BP S1 S2 S3 S4 S5 S6 / SELECTION=" +
         method +
         ";\n"
         "  MODELAVERAGE NSAMPLES=10 NTHREADS$=3 TABLES=(EFFECTSELECTPCT(MINPCT=0) "
         "MODELSELECTFREQ(ALL) PARMEST(MINPCT=0));\n" +
         perf + "RUN;\n";
}

// Every effect's selection percentage equals the share of samples whose model holds it.
void checkCounts(const ProgramRun& r) {
  const Value* pct = findTable(r.json["steps"][0]["output"], "EffectSelectPct");
  const Value* freq = findTable(r.json["steps"][0]["output"], "ModelSelectFreq");
  ASSERT_NE(pct, nullptr) << r.log;
  ASSERT_NE(freq, nullptr) << r.log;
  double samples = 0;
  std::map<std::string, double> held;
  for (size_t row = 0; row < (*freq)["rows"].items.size(); ++row) {
    const double times = number(*freq, row, "TimesSelected");
    samples += times;
    std::string effects = text(*freq, row, "EffectsInModel") + " ";
    size_t at = 0;
    while ((at = effects.find_first_not_of(' ', at)) != std::string::npos) {
      const size_t end = effects.find(' ', at);
      held[effects.substr(at, end - at)] += times;
      at = end;
    }
  }
  EXPECT_EQ(samples, 10);
  size_t listed = 0;
  for (auto& [name, times] : held) {
    if (name == "Intercept")
      continue;
    ++listed;
    bool found = false;
    for (size_t row = 0; row < (*pct)["rows"].items.size(); ++row)
      if (text(*pct, row, "Effect") == name) {
        found = true;
        EXPECT_NEAR(number(*pct, row, "SelectionPct"), times * 10.0, 1e-9) << name;
      }
    EXPECT_TRUE(found) << name;
  }
  EXPECT_EQ((*pct)["rows"].items.size(), listed);
}

std::string tables(const ProgramRun& r) {
  std::string s;
  for (const char* name : {"EffectSelectPct", "ModelSelectFreq", "AvgParmEst"}) {
    const Value* t = findTable(r.json["steps"][0]["output"], name);
    if (t == nullptr)
      return "missing " + std::string(name);
    for (const auto& row : (*t)["rows"].items)
      for (const auto& v : row.items)
        s += (v.kind == Value::Number ? std::to_string(v.n) : v.s) + ",";
  }
  return s;
}

TEST(ModelAverage, ForwardCountsAgreeAndThreadsDoNotMatter) {
  ProgramRun one = run(program("FORWARD(SELECT=SBC)", ""), "ma_fwd1");
  ASSERT_EQ(one.status, 0) << one.log;
  checkCounts(one);
  ProgramRun four =
      run(program("FORWARD(SELECT=SBC)", "  PERFORMANCE THREADS CPUCOUNT=4;\n"), "ma_fwd4");
  ProgramRun disk =
      run(program("FORWARD(SELECT=SBC)",
                  "  PERFORMANCE THREADS CPUCOUNT=2 UTIL_PAGESIZE$=1 UTIL_BUFFERS$=1;\n"),
          "ma_fwdd");
  EXPECT_EQ(tables(one), tables(four));
  EXPECT_EQ(tables(one), tables(disk));
}

TEST(ModelAverage, LassoCountsAgree) {
  ProgramRun r = run(program("LASSO(CHOOSE=SBC)", ""), "ma_lasso");
  ASSERT_EQ(r.status, 0) << r.log;
  checkCounts(r);
  const Value* est = findTable(r.json["steps"][0]["output"], "AvgParmEst");
  ASSERT_NE(est, nullptr);
  EXPECT_GT((*est)["rows"].items.size(), 0u);
}

// Each sample would need its draws replayed across the external folds, which the resampling
// road does not do: CHOOSE=CVEX is refused at the statement with its message and a raised
// return code, before the data is read (no table is shown).
TEST(ModelAverage, ExternalCrossValidationIsRefused) {
  ProgramRun r = run(program("LASSO(CHOOSE=CVEX)", ""), "ma_cvex");
  EXPECT_NE(r.status, 0) << r.log;
  EXPECT_TRUE(logged(r, VsfMsg::ModelAveragingNotWithExternalCv)) << r.log;
  for (const char* name : {"NObs", "SelectionSummary", "EffectSelectPct"})
    EXPECT_EQ(findTable(r.json["steps"][0]["output"], name), nullptr) << name;
}

// SHAREDDRIVE$= places the page and scratch files: the UtilInfo table shows that directory
// and the averaged tables are those of the default directory. A directory that does not exist
// is refused by name at the statement, before the fit reads any data.
TEST(ModelAverage, SharedDriveHoldsTheUtilityFiles) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("qrx_shared_" + std::to_string(::getpid()));
  fs::create_directories(dir);
  const std::string perf = "  PERFORMANCE UTIL_DETAILS$ UTIL_PAGESIZE$=1 UTIL_BUFFERS$=1;\n";
  std::string p = program("LASSO", perf);
  ProgramRun plain = run(p, "ma_local");
  p.replace(p.find("NSAMPLES=10"), 11, "NSAMPLES=10 SHAREDDRIVE$='" + dir.string() + "'");
  ProgramRun shared = run(p, "ma_shared");
  ASSERT_EQ(shared.status, 0) << shared.log;
  EXPECT_EQ(tables(shared), tables(plain));
  const auto util = tablesOf(shared, "UtilInfo");
  ASSERT_FALSE(util.empty()) << shared.log;
  EXPECT_EQ(text(*util[0], 0, "Directory"), dir.string());
  EXPECT_TRUE(fs::is_empty(dir)); // every file is removed at the end
  fs::remove_all(dir);

  p.replace(p.find(dir.string()), dir.string().size(), dir.string() + "/nosuch");
  ProgramRun missing = run(p, "ma_noshared");
  EXPECT_NE(missing.status, 0) << missing.log;
  EXPECT_TRUE(logged(missing, VsfMsg::SharedDriveNotUsable)) << missing.log;
  EXPECT_NE(missing.log.find(dir.string() + "/nosuch"), std::string::npos) << missing.log;
  EXPECT_EQ(findTable(missing.json["steps"][0]["output"], "NObs"), nullptr);
}

} // namespace

// Under model averaging no single selected model is shown: the SCORE statement's table follows
// the averaged tables without an empty "The Selected Model" heading.
TEST(ModelAverage, OutputsFollowTheAveragedTablesWithoutAnEmptyHeading) {
  const ProgramRun r =
      run("PROC VARSIFTER DATA='examples/diabetes.csv' SEED=3;\n"
          "  MODEL Y = AGE SEX BMI BP S1 S2 S3 S4 S5 S6 / SELECTION=STEPWISE(SELECT=SBC);\n"
          "  MODELAVERAGE NSAMPLES=5;\n  SCORE DATA='examples/diabetes.csv' OUT=work.sc;\nRUN;\n",
          "ma_heading");
  ASSERT_EQ(r.status, 0) << r.log;
  EXPECT_FALSE(tablesOf(r, "ScoreInfo").empty()) << r.log;
  EXPECT_EQ(r.log.find("The Selected Model"), std::string::npos) << r.log;
}

// The refit fits the averaged model with the intercept alone forced in: INCLUDE= of the
// selection does not carry over, so no refit sample shows the included effect at step 0.
TEST(ModelAverage, RefitSamplesDoNotForceTheIncludedEffect) {
  ProgramRun r = run("PROC VARSIFTER DATA='examples/diabetes.csv' SEED=3;\n"
                     "  MODEL Y = AGE SEX BMI BP S1 S2 S3 S4 S5 S6 / "
                     "SELECTION=FORWARD(SELECT=SBC) INCLUDE=1 DETAILS=SUMMARY;\n"
                     "  MODELAVERAGE NSAMPLES=2 REFIT(NSAMPLES=2) DETAILS;\nRUN;\n",
                     "ma_refit_include");
  ASSERT_EQ(r.status, 0) << r.log;
  const Value* refit = nodeNamed(r.json["steps"][0]["output"], "RefitAverage");
  ASSERT_NE(refit, nullptr) << r.log;
  std::vector<const Value*> summaries;
  collectTables(*refit, "SelectionSummary", summaries);
  ASSERT_EQ(summaries.size(), 2u);
  for (const Value* t : summaries) {
    const int step = col(*t, "Step"), entered = col(*t, "EffectEntered");
    ASSERT_GE(step, 0);
    ASSERT_GE(entered, 0);
    std::vector<std::string> first;
    for (const Value& row : (*t)["rows"].items)
      if (row[size_t(step)].n == 0)
        first.push_back(row[size_t(entered)].s);
    EXPECT_EQ(first, std::vector<std::string>{"Intercept"});
  }
}
