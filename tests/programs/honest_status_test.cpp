// Failures a user must be told of, end to end through qrx: a failed fit under NOPRINT, a group
// named in its error, a response far from 0 that is not fitted by its mean, a SCORE data set
// without observations, plans that name what asks for the memory, and notes that come only
// where they apply. Each case checks the messages (set, number) and the exit status.
#include "programs/qrxrun.h"
#include "programs/synthdata.h"

#include <gtest/gtest.h>

#include <sys/resource.h>

#include <cmath>
#include <string>
#include <utility>
#include <vector>

namespace {

using qrxrun::Value;

// The values of the first log record of message m in the first step; empty when none.
std::vector<Value> valuesOf(const qrxrun::ProgramRun& r, MsgId m) {
  const Value* l = qrxrun::logEntry(r, m);
  return l != nullptr ? (*l)["values"].items : std::vector<Value>{};
}

struct Case {
  std::string name;
  std::string program;
  std::vector<std::pair<std::string, std::string>> files;
  std::vector<MsgId> logged, notLogged;
  int status;
};

void expectCases(const std::vector<Case>& cases) {
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const qrxrun::ProgramRun r = qrxrun::runProgram(c.program, "honest_" + c.name, c.files);
    EXPECT_EQ(r.status, c.status) << r.log;
    for (MsgId m : c.logged)
      EXPECT_TRUE(qrxrun::logged(r, m)) << m << "\n" << r.log;
    for (MsgId m : c.notLogged)
      EXPECT_FALSE(qrxrun::logged(r, m)) << m << "\n" << r.log;
  }
}

// Bounds the CPU time of the runs started while it lives, so that a run that would not end
// fails its test instead: the limit is inherited by the runner, whose count starts at 0.
class CpuBound {
public:
  explicit CpuBound(rlim_t seconds) {
    ::getrlimit(RLIMIT_CPU, &saved_);
    rusage own{};
    ::getrusage(RUSAGE_SELF, &own);
    rlimit bound = saved_;
    bound.rlim_cur = static_cast<rlim_t>(own.ru_utime.tv_sec + own.ru_stime.tv_sec) + seconds;
    ::setrlimit(RLIMIT_CPU, &bound);
  }
  ~CpuBound() { ::setrlimit(RLIMIT_CPU, &saved_); }
  CpuBound(const CpuBound&) = delete;
  CpuBound& operator=(const CpuBound&) = delete;

private:
  rlimit saved_{};
};

// Group 2 has no response value; group 3 is fitted.
const char kByData[] = "g,y,x,f,c\n1,3.1,1,1,a\n1,4.9,2,1,b\n1,7.2,3,1,a\n1,8.8,4,1,b\n"
                       "2,,1,1,a\n2,,2,1,b\n2,,3,1,a\n3,11.1,5,0,\n3,12.7,6,0,\n3,15.2,7,0,\n";

std::string hugeResponse() {
  std::string text = "y,x\n";
  for (int i = 0; i < 12; ++i)
    text += std::to_string(1 + 0.01 * (i % 5)) + "e200," + std::to_string(i) + "\n";
  return text;
}

} // namespace

// A fit that fails is an error and a failed step whether or not its tables print: under
// NOPRINT too the old OUTPUT is kept. Its error names the BY group, or the whole data set
// without BY groups.
TEST(HonestStatus, FailedFitsAreErrorsThatNameTheirGroup) {
  const std::string old = "old\n";
  const std::vector<Case> cases = {
      {"noprint_missing_response",
       "proc varsifter data=d noprint;\n by g;\n model y = x;\n output out=o p=p;\nrun;\n",
       {{"d.csv", kByData}, {"o.csv", old}},
       {VsfMsg::ResponseAllMissing, qrxhost::DataMsg::OutputKept},
       {},
       2},
      {"noprint_huge_response",
       "proc varsifter data=h noprint;\n model y = x;\nrun;\n",
       {{"h.csv", hugeResponse()}},
       {VsfMsg::SumsOfSquaresTooLarge},
       {},
       2},
  };
  expectCases(cases);

  const qrxrun::ProgramRun kept = qrxrun::runProgram(
      cases[0].program, "honest_kept", {{"d.csv", kByData}, {"o.csv", old}}, {"o.csv"});
  EXPECT_EQ(kept.files.at("o.csv"), old);

  // The group's name is the last value of each group failure; without BY groups it is not a
  // BY line.
  struct Named {
    std::string program;
    VsfMsg message;
    std::string group;
  };
  for (const Named& n :
       std::vector<Named>{{"proc varsifter data=d;\n by g;\n model y = x;\nrun;\n",
                           VsfMsg::ResponseAllMissing, "g=2"},
                          {"proc varsifter data=d;\n by g;\n freq f;\n model y = x;\nrun;\n",
                           VsfMsg::TrainingFrequenciesSumZero, "g=3"},
                          {"proc varsifter data=d;\n by g;\n class c;\n model y = x c;\nrun;\n",
                           VsfMsg::ClassLevelsNotDetermined, "g=3"},
                          {"proc varsifter data=d(where=(g=2));\n model y = x;\nrun;\n",
                           VsfMsg::ResponseAllMissing, ""}}) {
    SCOPED_TRACE(n.program);
    const qrxrun::ProgramRun r =
        qrxrun::runProgram(n.program, "honest_named", {{"d.csv", kByData}});
    EXPECT_EQ(r.status, 2) << r.log;
    const std::vector<Value> v = valuesOf(r, n.message);
    ASSERT_FALSE(v.empty()) << r.log;
    if (n.group.empty())
      EXPECT_EQ(v.back().s.find("g="), std::string::npos) << v.back().s;
    else
      EXPECT_NE(v.back().s.find(n.group), std::string::npos) << v.back().s;
  }
}

// A response of mean 1e5 and a spread of about 5 is not fitted perfectly by its mean: FORWARD
// and STEPWISE take x1 in, with the least-squares slope of y on x1.
TEST(HonestStatus, AResponseFarFromZeroIsJudgedAgainstItsCorrectedTotal) {
  std::string data = "y,x1,x2\n";
  std::vector<double> xs, ys;
  for (int i = 0; i < 40; ++i) {
    const int x1 = i % 10;
    const double y = 100000 + 1.5 * x1 + ((i * 37) % 11 - 5) * 0.6;
    char line[64];
    std::snprintf(line, sizeof line, "%.1f,%d,%d\n", y, x1, (i * 7) % 13);
    data += line;
    xs.push_back(x1);
    ys.push_back(std::stod(line));
  }
  // The slope Sxy / Sxx.
  double mx = 0, my = 0;
  for (size_t i = 0; i < xs.size(); ++i)
    mx += xs[i] / xs.size(), my += ys[i] / ys.size();
  double sxy = 0, sxx = 0;
  for (size_t i = 0; i < xs.size(); ++i)
    sxy += (xs[i] - mx) * (ys[i] - my), sxx += (xs[i] - mx) * (xs[i] - mx);
  for (const char* method : {"forward", "stepwise"}) {
    SCOPED_TRACE(method);
    const qrxrun::ProgramRun r = qrxrun::runProgram(
        std::string("proc varsifter data=d;\n model y = x1 x2 / selection=") + method + ";\nrun;\n",
        "honest_far", {{"d.csv", data}});
    EXPECT_EQ(r.status, 0) << r.log;
    const std::vector<const Value*> tables = qrxrun::shownTables(r, "ParameterEstimates");
    ASSERT_EQ(tables.size(), 1u) << r.log;
    const Value* pe = tables[0];
    ASSERT_EQ((*pe)["rows"].items.size(), 2u) << r.log;
    EXPECT_EQ(qrxrun::text(*pe, 1, "Parameter"), "x1");
    EXPECT_NEAR(qrxrun::number(*pe, 1, "Estimate"), sxy / sxx, 1e-9 * std::fabs(sxy / sxx));
  }
}

// A SCORE data set of a header alone has no values, so no type to disagree with a CLASS
// variable: it is scored, to no observation, without a warning.
TEST(HonestStatus, AHeaderOnlyScoreDataSetIsScored) {
  const std::string train = "y,x,c\n3.1,1,a\n4.9,2,b\n7.2,3,a\n8.8,4,b\n11.1,5,a\n12.7,6,b\n";
  const qrxrun::ProgramRun r = qrxrun::runProgram(
      "proc varsifter data=d;\n class c;\n model y = x c / selection=none;\n score data=h "
      "out=s;\nrun;\n",
      "honest_header", {{"d.csv", train}, {"h.csv", "y,x,c\n"}}, {"s.csv"});
  EXPECT_EQ(r.status, 0) << r.log;
  EXPECT_FALSE(qrxrun::logged(r, VsfMsg::VariableSelectedModelDifferent)) << r.log;
  ASSERT_EQ(r.files.count("s.csv"), 1u) << r.log;
  EXPECT_EQ(qrxrun::csvRows(r.files.at("s.csv")).size(), 1u); // the header alone
}

// Plans and notes: NSAMPLES= beyond the memory is refused before it is taken, naming it; the
// adaptive LASSO says how many effects the aliased fit left out (with 10 rows, at most 9 of 15
// covariates beside the intercept are of full rank: 6); the STORE and CODE notes come only
// with those statements; a failed step keeps the old SCORE data set and says so as it does
// for OUTPUT; a memory plan over a CLASS effect names why the many-level road is not taken.
TEST(HonestStatus, MessagesNameWhatToChange) {
  std::string small = "y,x1,x2\n";
  for (int i = 0; i < 20; ++i)
    small += std::to_string(i % 7 + 0.3 * (i % 3)) + "," + std::to_string(i % 5) + "," +
             std::to_string((i * 3) % 11) + "\n";
  std::string wide = "y";
  for (int j = 1; j <= 15; ++j) {
    wide += ",x";
    wide += std::to_string(j);
  }
  wide += "\n";
  for (int i = 0; i < 10; ++i) {
    wide += std::to_string(std::sin(i * 1.7) * 3);
    for (int j = 1; j <= 15; ++j) {
      // The fraction of a large multiple of a sine: values of no linear pattern.
      const double t = std::sin(i * 12.9898 + j * 78.233) * 43758.5453;
      wide += ',';
      wide += std::to_string(t - std::floor(t));
    }
    wide += "\n";
  }
  const std::string manyLevels = synthdata::manyLevelsCsv();
  // Two thousand million resamples would run for days before they met the memory.
  const CpuBound bound(120);
  const std::vector<Case> cases = {
      {"nsamples",
       "proc varsifter data=d;\n model y = x1 x2;\n modelaverage nsamples=2000000000;\nrun;\n",
       {{"d.csv", small}},
       {VsfMsg::ResamplesDoNotFit},
       {qrxhost::RunnerMsg::MemoryRequestFailed},
       2},
      {"notes_without_store",
       "proc varsifter data=d;\n model y = x1 x2 / selection=lasso;\nrun;\n"
       "proc varsifter data=d;\n model y = x1 x2;\n modelaverage nsamples=3;\nrun;\n",
       {{"d.csv", small}},
       {},
       {VsfMsg::AveragingStoreUsesAveragedEstimates, VsfMsg::StoreUsesSelectedEstimates},
       0},
      {"notes_with_store",
       "proc varsifter data=d;\n model y = x1 x2 / selection=lasso;\n store out=ms;\nrun;\n",
       {{"d.csv", small}},
       {VsfMsg::StoreUsesSelectedEstimates},
       {},
       0},
      {"score_kept",
       "options memsize=1M;\nproc varsifter data=d;\n class g;\n model y = g x1 x2 x3 / "
       "selection=forward(select=cv) cvmethod=random(5);\n score data=d out=s;\nrun;\n",
       {{"d.csv", manyLevels}, {"s.csv", "old\n"}},
       {VsfMsg::CrossProductsDoNotFit, VsfMsg::StructuredRoadNotTaken,
        qrxhost::DataMsg::OutputKept},
       {},
       2},
  };
  expectCases(cases);

  const qrxrun::ProgramRun adaptive = qrxrun::runProgram(
      "proc varsifter data=d;\n model y = x1-x15 / selection=lasso(adaptive);\nrun;\n",
      "honest_adaptive", {{"d.csv", wide}});
  EXPECT_EQ(adaptive.status, 1) << adaptive.log;
  const std::vector<Value> v = valuesOf(adaptive, VsfMsg::AdaptiveFitNotFullRank);
  ASSERT_EQ(v.size(), 1u) << adaptive.log;
  EXPECT_EQ(v[0].n, 6);
}
