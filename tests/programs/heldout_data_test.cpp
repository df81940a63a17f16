// Held-out data sets end to end: a program with VALDATA= and TESTDATA= through the qrx
// runner, its NObs tables and the validation and test ASE of its selection summary checked
// against the test's own weighted least-squares fit of the same rows; and a LASSO on a
// CLASS effect (which splits it) reading the same data sets through to its tables; the
// listed count tables showing each row's label and count alone.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <vector>

namespace fs = std::filesystem;
using qrxrun::Value;

namespace {

struct Obs {
  double y, x1, x2;
  std::string g;
  double n; // frequency
  bool yMissing = false;
};

// Deterministic rows: y = 1 + 2 x1 - x2 + [g = a] + noise.
std::vector<Obs> makeRows(int count, int offset) {
  std::vector<Obs> rows;
  const char* levels[3] = {"a", "b", "c"};
  for (int k = 0; k < count; ++k) {
    const int i = k + offset;
    Obs o;
    o.x1 = 2.0 * std::sin(1.3 * i);
    o.x2 = std::cos(0.7 * i + 0.2);
    o.g = levels[(7 * i) % 3];
    o.n = 1 + (i % 3);
    o.y = 1 + 2 * o.x1 - o.x2 + (o.g == "a" ? 1.0 : 0.0) + 0.3 * std::sin(3.1 * i);
    rows.push_back(o);
  }
  return rows;
}

std::string csv(const std::vector<Obs>& rows, bool withFreq) {
  std::ostringstream s;
  s.precision(17);
  s << "y,x1,x2,g" << (withFreq ? ",n" : "") << "\n";
  for (const Obs& o : rows) {
    if (o.yMissing)
      s << ".";
    else
      s << o.y;
    s << "," << o.x1 << "," << o.x2 << "," << o.g;
    if (withFreq)
      s << "," << o.n;
    s << "\n";
  }
  return s.str();
}

using qrxrun::col;
using qrxrun::logged;
using qrxrun::ProgramRun;
using qrxrun::runProgram;
using qrxrun::tablesOf;

// Weighted least squares of y on (1, x1, x2, [g=a], [g=b]).
std::vector<double> leastSquares(const std::vector<Obs>& rows) {
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (const Obs& o : rows) {
    x.push_back({1, o.x1, o.x2, o.g == "a" ? 1.0 : 0.0, o.g == "b" ? 1.0 : 0.0});
    y.push_back(o.y);
    w.push_back(o.n);
  }
  return qrxrun::leastSquares(x, y, w);
}

// Frequency-weighted mean squared error of a fit (or of a constant when b has one entry).
double ase(const std::vector<Obs>& rows, const std::vector<double>& b) {
  double sse = 0, w = 0;
  for (const Obs& o : rows) {
    double fit = b[0];
    if (b.size() > 1)
      fit += b[1] * o.x1 + b[2] * o.x2 + (o.g == "a" ? b[3] : 0.0) + (o.g == "b" ? b[4] : 0.0);
    sse += o.n * (o.y - fit) * (o.y - fit);
    w += o.n;
  }
  return sse / w;
}

double weightedMean(const std::vector<Obs>& rows) {
  double s = 0, w = 0;
  for (const Obs& o : rows) {
    s += o.n * o.y;
    w += o.n;
  }
  return s / w;
}

struct HeldOutData {
  std::vector<Obs> train, valid, test;             // the rows the fit uses
  std::vector<Obs> trainFile, validFile, testFile; // as written
  double testFreqRead = 0;
  std::vector<std::pair<std::string, std::string>> files() const {
    return {{"tr.csv", csv(trainFile, true)},
            {"va.csv", csv(validFile, false)},
            {"te.csv", csv(testFile, true)}};
  }
};

// DATA= with a FREQ variable; VALDATA= without one (every row counts once); TESTDATA= with
// frequencies, a level of g that DATA= lacks, a missing response and a zero frequency.
HeldOutData heldOutData() {
  HeldOutData d;
  d.train = d.trainFile = makeRows(45, 0);
  d.validFile = makeRows(17, 100);
  d.valid = d.validFile;
  for (Obs& o : d.valid)
    o.n = 1;
  d.testFile = makeRows(14, 200);
  d.testFile[3].g = "d";
  d.testFile[6].yMissing = true;
  d.testFile[9].n = 0;
  for (size_t i = 0; i < d.testFile.size(); ++i) {
    if (d.testFile[i].n > 0)
      d.testFreqRead += d.testFile[i].n;
    if (i != 3 && i != 6 && i != 9)
      d.test.push_back(d.testFile[i]);
  }
  return d;
}

double sum(const std::vector<Obs>& rows) {
  double s = 0;
  for (const Obs& o : rows)
    s += o.n;
  return s;
}

// The NObs table of a held-out data set: rows read, used, frequency sums read and used.
void expectSecondaryCounts(const Value& t, double read, double used, double freqRead,
                           double freqUsed) {
  ASSERT_GE(t["rows"].items.size(), 2u);
  const Value& row = t["rows"][0];
  EXPECT_EQ(row[col(t, "NObsRead")].n, read);
  EXPECT_EQ(row[col(t, "NObsUsed")].n, used);
  if (freqRead >= 0) {
    EXPECT_EQ(row[col(t, "SumFreqsRead")].n, freqRead);
    EXPECT_EQ(row[col(t, "SumFreqsUsed")].n, freqUsed);
  }
}

TEST(HeldOutData, CountsAndValidationAndTestErrorsOfAForwardSelection) {
  const HeldOutData d = heldOutData();
  const ProgramRun r =
      runProgram("proc varsifter data=tr valdata=va testdata=te;\n"
                 "  class g;\n  freq n;\n"
                 "  model y = x1 x2 g / selection=forward(stop=none choose=validate);\n"
                 "run;\n",
                 "forward", d.files());
  ASSERT_EQ(r.json["returnCode"].n, 0) << r.log;
  // The unknown level of TESTDATA= is noted, and nothing is said of VALDATA=.
  EXPECT_TRUE(logged(r, VsfMsg::TestdataClassLevelsNotInData)) << r.log;
  EXPECT_FALSE(logged(r, VsfMsg::ValdataClassLevelsNotInData)) << r.log;

  const auto nobs = tablesOf(r, "NObs");
  ASSERT_EQ(nobs.size(), 3u) << r.log;
  const Value& analysis = *nobs[0];
  EXPECT_EQ(analysis["rows"][0][col(analysis, "NObsRead")].n, 45);
  EXPECT_EQ(analysis["rows"][0][col(analysis, "SumFreqsUsed")].n, sum(d.train));
  // VALDATA= lacks the FREQ variable: each row counts once.
  expectSecondaryCounts(*nobs[1], 17, 17, 17, 17);
  expectSecondaryCounts(*nobs[2], 14, static_cast<double>(d.test.size()), d.testFreqRead,
                        sum(d.test));

  const auto summary = tablesOf(r, "SelectionSummary");
  ASSERT_EQ(summary.size(), 1u) << r.log;
  const Value& t = *summary[0];
  const int v = col(t, "ValidationASE"), te = col(t, "TestASE"), in = col(t, "nEffectsIn");
  ASSERT_GE(v, 0);
  ASSERT_GE(te, 0);
  const auto& rows = t["rows"].items;
  ASSERT_EQ(rows.size(), 4u);
  // Step 0: the intercept alone predicts the weighted training mean.
  const std::vector<double> mean = {weightedMean(d.train)};
  EXPECT_NEAR(rows[0][v].n, ase(d.valid, mean), 1e-10 * ase(d.valid, mean));
  EXPECT_NEAR(rows[0][te].n, ase(d.test, mean), 1e-10 * ase(d.test, mean));
  // The last step holds every effect: the full least-squares fit.
  ASSERT_EQ(rows[3][in].n, 4);
  const std::vector<double> b = leastSquares(d.train);
  EXPECT_NEAR(rows[3][v].n, ase(d.valid, b), 1e-9 * ase(d.valid, b));
  EXPECT_NEAR(rows[3][te].n, ase(d.test, b), 1e-9 * ase(d.test, b));
}

TEST(HeldOutData, LassoOnASplitClassEffectReadsTheHeldOutRows) {
  const HeldOutData d = heldOutData();
  const ProgramRun r = runProgram("proc varsifter data=tr valdata=va testdata=te;\n"
                                  "  class g;\n  freq n;\n"
                                  "  model y = x1 x2 g / selection=lasso(choose=validate);\n"
                                  "run;\n",
                                  "lasso", d.files());
  ASSERT_LT(r.json["returnCode"].n, 8) << r.log;
  const auto nobs = tablesOf(r, "NObs");
  ASSERT_EQ(nobs.size(), 3u) << r.log;
  expectSecondaryCounts(*nobs[1], 17, 17, 17, 17);
  expectSecondaryCounts(*nobs[2], 14, static_cast<double>(d.test.size()), d.testFreqRead,
                        sum(d.test));
  // The split CLASS effect gives one candidate per level.
  const auto dims = tablesOf(r, "Dimensions");
  ASSERT_EQ(dims.size(), 1u);
  bool splitCount = false;
  for (const Value& entry : (*dims[0])["entries"].items)
    if (entry["label"].s.find("Split") != std::string::npos)
      splitCount = entry["value"].n == 6;
  EXPECT_TRUE(splitCount) << "4 effects, 6 after splitting g";

  const auto summary = tablesOf(r, "SelectionSummary");
  ASSERT_EQ(summary.size(), 1u) << r.log;
  const Value& t = *summary[0];
  const int v = col(t, "ValidationASE"), te = col(t, "TestASE");
  ASSERT_GE(v, 0);
  ASSERT_GE(te, 0);
  ASSERT_GE(t["rows"].items.size(), 2u);
  const std::vector<double> mean = {weightedMean(d.train)};
  EXPECT_NEAR(t["rows"][0][v].n, ase(d.valid, mean), 1e-10 * ase(d.valid, mean));
  EXPECT_NEAR(t["rows"][0][te].n, ase(d.test, mean), 1e-10 * ase(d.test, mean));
  EXPECT_FALSE(tablesOf(r, "ParameterEstimates").empty()) << r.log;
}

TEST(HeldOutData, AValidationSetIsReadForTheBYGroupsItHas) {
  // Two BY groups in DATA=; VALDATA= holds only the first.
  std::vector<Obs> train = makeRows(40, 0), valid = makeRows(15, 100);
  std::ostringstream data, val;
  data.precision(17);
  val.precision(17);
  data << "k,y,x1,x2,g\n";
  for (size_t i = 0; i < train.size(); ++i)
    data << (i < 20 ? 1 : 2) << "," << train[i].y << "," << train[i].x1 << "," << train[i].x2 << ","
         << train[i].g << "\n";
  val << "k,y,x1,x2,g\n";
  for (const Obs& o : valid)
    val << 1 << "," << o.y << "," << o.x1 << "," << o.x2 << "," << o.g << "\n";
  const ProgramRun r = runProgram("proc varsifter data=d valdata=v;\n  by k;\n  class g;\n"
                                  "  model y = x1 x2 g / selection=forward(stop=none);\n"
                                  "run;\n",
                                  "by", {{"d.csv", data.str()}, {"v.csv", val.str()}});
  EXPECT_TRUE(logged(r, VsfMsg::ValdataLacksByGroup)) << r.log;
  EXPECT_GE(r.json["returnCode"].n, 4);
  const auto nobs = tablesOf(r, "NObs");
  // Per group: the analysis data and the validation data.
  ASSERT_EQ(nobs.size(), 4u) << r.log;
  expectSecondaryCounts(*nobs[1], 15, 15, -1, -1);
  expectSecondaryCounts(*nobs[3], 0, 0, -1, -1);
  // The first group's validation ASE of the intercept-only step: its own training mean.
  std::vector<Obs> first(train.begin(), train.begin() + 20);
  for (Obs& o : first)
    o.n = 1;
  for (Obs& o : valid)
    o.n = 1;
  const auto summary = tablesOf(r, "SelectionSummary");
  ASSERT_GE(summary.size(), 1u);
  const Value& t = *summary[0];
  const int v = col(t, "ValidationASE");
  ASSERT_GE(v, 0);
  const std::vector<double> mean = {weightedMean(first)};
  EXPECT_NEAR(t["rows"][0][v].n, ase(valid, mean), 1e-10 * ase(valid, mean));
}

TEST(HeldOutData, RoleVariableValuesGiveTheRoles) {
  std::vector<Obs> rows = makeRows(40, 0);
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,rl\n";
  const char* roles[3] = {" T", "V", "S "};
  for (size_t i = 0; i < rows.size(); ++i)
    data << rows[i].y << "," << rows[i].x1 << "," << rows[i].x2 << "," << roles[i % 3] << "\n";
  const ProgramRun r = runProgram("proc varsifter data=d;\n"
                                  "  partition rolevar=rl(train='T' validate='V' test='S');\n"
                                  "  model y = x1 x2 / selection=forward(choose=validate);\nrun;\n",
                                  "rolevar", {{"d.csv", data.str()}});
  ASSERT_EQ(r.json["returnCode"].n, 0) << r.log;
  const auto nobs = tablesOf(r, "NObs");
  ASSERT_EQ(nobs.size(), 1u) << r.log;
  const Value& t = *nobs[0];
  const Value& row = t["rows"][0];
  EXPECT_EQ(row[col(t, "NObsTraining")].n, 14);
  EXPECT_EQ(row[col(t, "NObsValidation")].n, 13);
  EXPECT_EQ(row[col(t, "NObsTest")].n, 13);
}

// Every row of the listed count tables is its label and its count alone: under PARTITION
// with frequencies and rows without a role, and with VALDATA= and TESTDATA=.
TEST(HeldOutData, CountTablesListEachLabelWithItsCountAlone) {
  std::vector<Obs> rows = makeRows(40, 0);
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,n,rl\n";
  const char* roles[4] = {"T", "V", "S", "X"};
  for (size_t i = 0; i < rows.size(); ++i)
    data << rows[i].y << "," << rows[i].x1 << "," << rows[i].x2 << "," << rows[i].n << ","
         << roles[i % 7 == 6 ? 3 : i % 3] << "\n";
  auto files = heldOutData().files();
  files.push_back({"d.csv", data.str()});
  const ProgramRun r =
      runProgram("proc varsifter data=d;\n  freq n;\n"
                 "  partition rolevar=rl(train='T' validate='V' test='S');\n"
                 "  model y = x1 x2 / selection=forward;\nrun;\n"
                 "proc varsifter data=tr valdata=va testdata=te;\n  class g;\n  freq n;\n"
                 "  model y = x1 x2 g / selection=forward;\nrun;\n",
                 "countlist", files);
  ASSERT_LT(r.json["returnCode"].n, 8) << r.log;
  std::vector<const Value*> nobs;
  for (const Value& step : r.json["steps"].items)
    qrxrun::collectTables(step["output"], "NObs", nobs);
  ASSERT_EQ(nobs.size(), 4u) << r.log;
  // The role-less rows are counted, so every count row of the partitioned table is there.
  EXPECT_EQ((*nobs[0])["rows"].items.size(), 12u) << r.log;
  const auto escape = [](const std::string& t) {
    return std::regex_replace(t, std::regex(R"([.^$|()\[\]{}*+?\\])"), R"(\$&)");
  };
  for (const Value* t : nobs) {
    const int source = col(*t, "DataSource"), label = col(*t, "Label"), n = col(*t, "N");
    ASSERT_GE(label, 0);
    ASSERT_GE(n, 0);
    for (const Value& row : (*t)["rows"].items) {
      std::string prefix = escape(row[static_cast<size_t>(label)].s);
      if (source >= 0)
        prefix = escape(row[static_cast<size_t>(source)].s) + " +" + prefix;
      // The label's line and the numbers after it.
      const std::regex line("(^|\n) *" + prefix + " +([0-9][0-9 .]*)(\r?\n|$)");
      const std::string count = std::to_string(std::llround(row[static_cast<size_t>(n)].n));
      int found = 0;
      for (auto it = std::sregex_iterator(r.log.begin(), r.log.end(), line);
           it != std::sregex_iterator(); ++it, ++found) {
        std::string numbers = (*it)[2].str();
        numbers.erase(numbers.find_last_not_of(' ') + 1);
        EXPECT_EQ(numbers, count) << (*it)[0].str();
      }
      EXPECT_GT(found, 0) << prefix << "\n" << r.log;
    }
  }
}

} // namespace
