// What a user reads from a run, end to end through the qrx runner: the OUTPUT data set's
// roles and statistics, the columns of the parameter estimates, the effect lists, the count
// tables of held-out data, the stop reason and the standardized estimates. The numbers are
// checked against the test's own least-squares fits of the same rows.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qrxrun::col;
using qrxrun::csvRows;
using qrxrun::leastSquares;
using qrxrun::logged;
using qrxrun::runProgram;
using qrxrun::tablesOf;
using qrxrun::Value;

double factoidValue(const Value& f, const std::string& label) {
  for (const Value& e : f["entries"].items)
    if (e["label"].s == label)
      return e["value"].n;
  ADD_FAILURE() << "no entry " << label;
  return NAN;
}

struct RoleRow {
  double y, x1, x2;
  std::string role;     // as written in the data set
  std::string expected; // the role the fit gives it
};

TEST(UserResults, RoleVariableRolesInTheOutputAreTheRolesOfTheFit) {
  // Values with leading and trailing blanks match after justification; a value that names
  // no role leaves the row out of the fit and its _ROLE_ blank.
  const char* written[6] = {"train", " valid", "test ", "train", "other", "valid"};
  const char* role[6] = {"TRAIN", "VALIDATE", "TEST", "TRAIN", "", "VALIDATE"};
  std::vector<RoleRow> rows;
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,rl\n";
  for (int i = 0; i < 48; ++i) {
    const int k = (i * 5 + i / 6) % 6; // not a plain cycle: the last row is not TRAIN's
    RoleRow r{0, 2 * std::sin(1.3 * i), std::cos(0.7 * i + 0.2), written[k], role[k]};
    r.y = 1 + 2 * r.x1 - r.x2 + 0.3 * std::sin(3.1 * i) + (k == 5 ? 0.5 : 0.0);
    rows.push_back(r);
    data << r.y << "," << r.x1 << "," << r.x2 << "," << r.role << "\n";
  }
  ASSERT_NE(rows.back().expected, "TRAIN");
  const auto run =
      runProgram("proc varsifter data=d;\n"
                 "  partition rolevar=rl(train='train' validate='valid' test='test');\n"
                 "  model y = x1 x2 / selection=none;\n"
                 "  output out=o predicted residual;\nrun;\n",
                 "rolevar_output", {{"d.csv", data.str()}}, {"o.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (const RoleRow& r : rows)
    if (r.expected == "TRAIN") {
      x.push_back({1, r.x1, r.x2});
      y.push_back(r.y);
      w.push_back(1);
    }
  const std::vector<double> b = leastSquares(x, y, w);
  ASSERT_TRUE(run.files.count("o.csv")) << run.log;
  const auto out = csvRows(run.files.at("o.csv"));
  ASSERT_EQ(out.size(), rows.size() + 1);
  ASSERT_EQ(out[0], (std::vector<std::string>{"y", "x1", "x2", "rl", "_ROLE_", "p_y", "r_y"}));
  double sseValidate = 0;
  int nValidate = 0;
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& o = out[i + 1];
    ASSERT_EQ(o.size(), 7u) << "row " << i;
    EXPECT_EQ(o[4], rows[i].expected) << "row " << i << " value '" << rows[i].role << "'";
    const double p = b[0] + b[1] * rows[i].x1 + b[2] * rows[i].x2;
    EXPECT_NEAR(std::stod(o[5]), p, 1e-9) << "row " << i;
    if (rows[i].expected == "VALIDATE") {
      sseValidate += (rows[i].y - p) * (rows[i].y - p);
      ++nValidate;
    }
  }
  const auto fit = tablesOf(run, "FitStatistics");
  ASSERT_EQ(fit.size(), 1u);
  EXPECT_NEAR(factoidValue(*fit[0], "ASE (Validate)"), sseValidate / nValidate, 1e-10);
}

// A small data set with a response that depends on x1 and x2 but not on x3 and x4.
std::string linearData(int count) {
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,x3,x4\n";
  for (int i = 0; i < count; ++i) {
    const double x1 = 2 * std::sin(1.3 * i), x2 = std::cos(0.7 * i + 0.2);
    const double x3 = std::sin(0.37 * i * i), x4 = std::cos(2.9 * i);
    data << 1 + 2 * x1 - x2 + 0.3 * std::sin(3.1 * i) << "," << x1 << "," << x2 << "," << x3 << ","
         << x4 << "\n";
  }
  return data.str();
}

TEST(UserResults, StepwiseSignificanceStopReasonIsWhole) {
  const auto run = runProgram("proc varsifter data=d;\n"
                              "  model y = x1 x2 x3 x4 / selection=stepwise(select=sl);\nrun;\n",
                              "stop_reason", {{"d.csv", linearData(40)}});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto stop = tablesOf(run, "StopReason");
  ASSERT_EQ(stop.size(), 1u) << run.log;
  const std::string reason = (*stop[0])["rows"][0][col(*stop[0], "Reason")].s;
  EXPECT_NE(reason.find("0.15"), std::string::npos) << reason;
  EXPECT_EQ(reason.back(), '.') << reason;
}

// Ordinary least squares of y on (1, x1, x2) over the rows of linearData.
std::vector<double> linearFit(const std::vector<std::vector<std::string>>& rows) {
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (size_t i = 1; i < rows.size(); ++i) {
    x.push_back({1, std::stod(rows[i][1]), std::stod(rows[i][2])});
    y.push_back(std::stod(rows[i][0]));
    w.push_back(1);
  }
  return leastSquares(x, y, w);
}

TEST(UserResults, OutputWithoutOutWritesTheNextFreeWorkDataSet) {
  const std::string data = linearData(30);
  const auto run = runProgram("proc varsifter data=d;\n"
                              "  model y = x1 x2 / selection=none;\n"
                              "  output predicted;\nrun;\n",
                              "default_out", {{"d.csv", data}, {"data1.csv", "keep\n1\n"}},
                              {"data1.csv", "data2.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_FALSE(logged(run, VsfMsg::OutOfMemory)) << run.log;
  EXPECT_EQ(run.files.at("data1.csv"), "keep\n1\n") << "an existing data set is not replaced";
  ASSERT_TRUE(run.files.count("data2.csv")) << run.log;
  const auto out = csvRows(run.files.at("data2.csv"));
  const auto in = csvRows(data);
  ASSERT_EQ(out.size(), in.size());
  ASSERT_EQ(out[0].back(), "p_y");
  const std::vector<double> b = linearFit(in);
  for (size_t i = 1; i < out.size(); ++i)
    EXPECT_NEAR(std::stod(out[i].back()),
                b[0] + b[1] * std::stod(in[i][1]) + b[2] * std::stod(in[i][2]), 1e-9)
        << "row " << i;
}

// Under WEIGHT the intercept's column has no variance, however its weighted sums round.
TEST(UserResults, InterceptStandardizedEstimateUnderWeightIsZero) {
  // Weights whose total W has W - W * W / W > 0 in floating point: the constant column's
  // corrected sum of squares from the raw sums is then a positive rounding residue.
  constexpr int n = 40;
  std::vector<double> wt(n);
  bool found = false;
  for (int shift = 0; shift < 1000 && !found; ++shift) {
    double W = 0;
    for (int i = 0; i < n; ++i) {
      wt[i] = 0.2 + ((i * 37 + shift) % 281) / 100.0;
      W += wt[i];
    }
    found = W - W * W / W > 0;
  }
  ASSERT_TRUE(found);
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,w\n";
  std::vector<std::vector<double>> x;
  std::vector<double> y;
  for (int i = 0; i < n; ++i) {
    const double x1 = 2 * std::sin(1.3 * i), x2 = std::cos(0.7 * i + 0.2);
    y.push_back(1 + 2 * x1 - x2 + 0.3 * std::sin(3.1 * i));
    x.push_back({1, x1, x2});
    data << y.back() << "," << x1 << "," << x2 << "," << wt[i] << "\n";
  }
  const auto run = runProgram("proc varsifter data=d;\n  weight w;\n"
                              "  model y = x1 x2 / selection=none stb;\nrun;\n",
                              "stb_weight", {{"d.csv", data.str()}});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto pe = tablesOf(run, "ParameterEstimates");
  ASSERT_EQ(pe.size(), 1u) << run.log;
  const Value& t = *pe[0];
  const int stb = col(t, "StandardizedEst");
  ASSERT_GE(stb, 0);
  EXPECT_EQ(t["rows"][0][stb].n, 0.0);
  // The others: b sqrt(weighted corrected SS of x / weighted corrected SS of y).
  const std::vector<double> b = leastSquares(x, y, wt);
  auto css = [&](auto value) {
    double sw = 0, s = 0;
    for (int i = 0; i < n; ++i)
      sw += wt[i], s += wt[i] * value(i);
    double c = 0;
    for (int i = 0; i < n; ++i)
      c += wt[i] * (value(i) - s / sw) * (value(i) - s / sw);
    return c;
  };
  const double cssY = css([&](int i) { return y[i]; });
  for (int j = 1; j <= 2; ++j) {
    const double expect = b[j] * std::sqrt(css([&](int i) { return x[i][j]; }) / cssY);
    EXPECT_NEAR(t["rows"][j][stb].n, expect, 1e-10) << "x" << j;
  }
}

// Rows of a CLASS model whose levels are long and differ only at their ends.
std::string longLevelData(const std::vector<std::string>& levels, int count) {
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,g\n";
  for (int i = 0; i < count; ++i) {
    const double x1 = 2 * std::sin(1.3 * i);
    const size_t k = static_cast<size_t>(i) % levels.size();
    data << 1 + 2 * x1 + 0.5 * static_cast<double>(k) + 0.3 * std::sin(3.1 * i) << "," << x1 << ","
         << levels[k] << "\n";
  }
  return data.str();
}

std::string trimmed(const std::string& s) {
  const size_t a = s.find_first_not_of(' '), b = s.find_last_not_of(' ');
  return a == std::string::npos ? "" : s.substr(a, b - a + 1);
}

TEST(UserResults, ParameterEstimatesShowWholeLevelsAndInterlacedLabels) {
  const std::string stem = "a_level_name_longer_than_thirty_two_characters_";
  const std::vector<std::string> levels = {stem + "first", stem + "second", stem + "third"};
  const std::string data = longLevelData(levels, 30);
  for (const char* style : {"separate", "interlaced"}) {
    const auto run = runProgram(std::string("proc varsifter data=d parmlabelstyle=") + style +
                                    ";\n  class g;\n  model y = x1 g x1*g / selection=none;\n"
                                    "run;\n",
                                "parmest_" + std::string(style), {{"d.csv", data}});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto pe = tablesOf(run, "ParameterEstimates");
    ASSERT_EQ(pe.size(), 1u) << run.log;
    const Value& t = *pe[0];
    const int g = col(t, "g"), parameter = col(t, "Parameter"), effect = col(t, "Effect");
    ASSERT_GE(g, 0);
    ASSERT_EQ(t["rows"].items.size(), 8u);
    for (size_t r = 2; r < 8; ++r) {
      const Value& row = t["rows"][r];
      const std::string& level = levels[(r - 2) % 3];
      EXPECT_EQ(trimmed(row[g].s), level) << style << " row " << r;
      const std::string label = trimmed(row[parameter].s);
      EXPECT_NE(label.find(level), std::string::npos) << style << ": " << label;
      if (std::string(style) == "interlaced") {
        // The label, not the short design name: the variable name and its level apart.
        const std::string expect = "g " + level + (r >= 5 ? " * x1" : "");
        EXPECT_EQ(label, expect) << trimmed(row[effect].s);
      }
    }
  }
}

// CLASS values that differ only in leading blanks are one level, in the level table and in
// the fit: a CSV written with ", " separators, and one that mixes blank-led values (quoted,
// so that any reader keeps the blank) with plain ones.
TEST(UserResults, LeadingBlanksDoNotMakeNewClassLevels) {
  const char* levels[3] = {"alpha", "beta", "gamma"};
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  std::ostringstream spaced, mixed;
  spaced.precision(17);
  mixed.precision(17);
  spaced << "y, x1, x2, g\n";
  mixed << "y,x1,x2,g\n";
  for (int i = 0; i < 36; ++i) {
    const double x1 = 2 * std::sin(1.3 * i), x2 = std::cos(0.7 * i + 0.2);
    const int k = (7 * i) % 3;
    y.push_back(1 + 2 * x1 - x2 + (k == 0 ? 1.0 : k == 1 ? -0.5 : 0.0) + 0.3 * std::sin(3.1 * i));
    x.push_back({1, x1, x2, k == 0 ? 1.0 : 0.0, k == 1 ? 1.0 : 0.0});
    w.push_back(1);
    spaced << y.back() << ", " << x1 << ", " << x2 << ", " << levels[k] << "\n";
    mixed << y.back() << "," << x1 << "," << x2 << ","
          << (i % 2 ? std::string("\"  ") + levels[k] + "\"" : std::string(levels[k])) << "\n";
  }
  const std::vector<double> b = leastSquares(x, y, w);
  for (const auto& [tag, data] :
       {std::pair<std::string, std::string>{"spaced", spaced.str()}, {"mixed", mixed.str()}}) {
    const auto run = runProgram("proc varsifter data=d;\n  class g;\n"
                                "  model y = x1 x2 g / selection=none;\nrun;\n",
                                "blanks_" + tag, {{"d.csv", data}});
    ASSERT_EQ(run.json["returnCode"].n, 0) << tag << "\n" << run.log;
    const auto info = tablesOf(run, "ClassLevelInfo");
    ASSERT_EQ(info.size(), 1u) << run.log;
    const Value& li = *info[0];
    EXPECT_EQ(li["rows"][0][col(li, "Levels")].n, 3) << tag;
    EXPECT_EQ(trimmed(li["rows"][0][col(li, "Values")].s), "alpha beta gamma") << tag;
    const auto pe = tablesOf(run, "ParameterEstimates");
    ASSERT_EQ(pe.size(), 1u);
    const Value& t = *pe[0];
    ASSERT_EQ(t["rows"].items.size(), 6u) << tag;
    const int estimate = col(t, "Estimate"), df = col(t, "DF");
    for (size_t r = 0; r < 5; ++r) {
      EXPECT_EQ(t["rows"][r][df].n, 1) << tag << " row " << r;
      EXPECT_NEAR(t["rows"][r][estimate].n, b[r], 1e-9) << tag << " row " << r;
    }
    EXPECT_EQ(t["rows"][5][df].n, 0) << tag;
  }
}

// A selection that keeps only the intercept leaves _VSFIND empty, and %PUT of it writes an
// empty line: no byte of the log is a NUL.
TEST(UserResults, InterceptOnlyModelLeavesAnEmptyVsfind) {
  std::string data = "y,x1\n";
  for (int i = 0; i < 20; ++i)
    data += std::to_string(std::sin(i)) + "," + std::to_string(std::cos(2.7 * i)) + "\n";
  const auto run = runProgram("proc varsifter data=d;\n"
                              "  model y = x1 / selection=forward(select=sl sle=1e-4);\nrun;\n"
                              "%put [&_VSFIND];\n",
                              "vsfind_empty", {{"d.csv", data}});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_EQ(run.json["macros"]["_VSFIND"].s, "");
  EXPECT_NE(run.log.find("\n[]\n"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find('\0'), std::string::npos);
}

// The names of split effects are joined by one blank, with none at the end.
TEST(UserResults, SplitEffectNamesAreJoinedByOneBlank) {
  const std::vector<std::string> levels = {"alpha", "beta", "gamma"};
  const std::string data = longLevelData(levels, 45);
  const auto all = runProgram("proc varsifter data=d;\n  class g / split;\n"
                              "  model y = x1 g / selection=none;\nrun;\n",
                              "split_all", {{"d.csv", data}});
  ASSERT_EQ(all.json["returnCode"].n, 0) << all.log;
  EXPECT_EQ(all.json["macros"]["_VSFIND"].s, "x1 g_alpha g_beta g_gamma");
  const auto chosen = runProgram("proc varsifter data=d;\n  class g / split;\n"
                                 "  model y = x1 g / selection=forward(select=sbc);\nrun;\n",
                                 "split_forward", {{"d.csv", data}});
  ASSERT_EQ(chosen.json["returnCode"].n, 0) << chosen.log;
  const std::string vsfind = chosen.json["macros"]["_VSFIND"].s;
  EXPECT_EQ(vsfind.find("  "), std::string::npos) << "'" << vsfind << "'";
  ASSERT_FALSE(vsfind.empty());
  EXPECT_NE(vsfind.back(), ' ') << "'" << vsfind << "'";
  const auto selected = tablesOf(chosen, "SelectedEffects");
  ASSERT_EQ(selected.size(), 1u);
  const Value& t = *selected[0];
  EXPECT_EQ(trimmed(t["rows"][0][col(t, "Effects")].s), "Intercept " + vsfind);
}

// nParmsIn is shown when some effect has other than one parameter, whatever the rank did.
TEST(UserResults, ParameterCountColumnFollowsTheEffectsParameterCounts) {
  std::ostringstream data;
  data.precision(17);
  data << "y,x1,x2,x3,h\n";
  for (int i = 0; i < 40; ++i) {
    const double x1 = 2 * std::sin(1.3 * i), x2 = std::cos(0.7 * i + 0.2);
    data << 1 + 2 * x1 - x2 + 0.3 * std::sin(3.1 * i) + (i % 2 ? 0.5 : 0.0) << "," << x1 << ","
         << x2 << "," << x1 + x2 << "," << (i % 2 ? "b" : "a") << "\n";
  }
  // x3 = x1 + x2: its entry raises the effect count but not the rank; every effect has one
  // parameter.
  const auto aliased = runProgram("proc varsifter data=d;\n"
                                  "  model y = x1 x2 x3 / selection=none;\nrun;\n",
                                  "nparms_aliased", {{"d.csv", data.str()}});
  ASSERT_EQ(aliased.json["returnCode"].n, 0) << aliased.log;
  ASSERT_NE(aliased.log.find("Number Effects In"), std::string::npos) << aliased.log;
  EXPECT_EQ(aliased.log.find("Number Parms In"), std::string::npos) << aliased.log;
  // The two-level CLASS effect has two parameters, one of them aliased: each step raises
  // rank and effect count alike.
  const auto twoLevels = runProgram("proc varsifter data=d;\n  class h;\n"
                                    "  model y = x1 h / selection=forward(select=sbc);\nrun;\n",
                                    "nparms_class", {{"d.csv", data.str()}});
  ASSERT_EQ(twoLevels.json["returnCode"].n, 0) << twoLevels.log;
  EXPECT_NE(twoLevels.log.find("Number Parms In"), std::string::npos) << twoLevels.log;
}

// The count table of a VALDATA= or TESTDATA= data set shows frequency rows when that data
// set has the FREQ variable, not when DATA= has it.
TEST(UserResults, HeldOutCountTablesFollowTheirOwnFreqVariable) {
  auto rows = [](int count, int offset, bool withFreq, double* freqSum) {
    std::ostringstream s;
    s.precision(17);
    s << "y,x1,x2" << (withFreq ? ",n" : "") << "\n";
    for (int k = 0; k < count; ++k) {
      const int i = k + offset;
      const double x1 = 2 * std::sin(1.3 * i), x2 = std::cos(0.7 * i + 0.2);
      s << 1 + 2 * x1 - x2 + 0.3 * std::sin(3.1 * i) << "," << x1 << "," << x2;
      if (withFreq) {
        s << "," << 1 + i % 3;
        *freqSum += 1 + i % 3;
      }
      s << "\n";
    }
    return s.str();
  };
  double dataFreq = 0, validFreq = 0, testFreq = 0;
  const std::string data = rows(30, 0, true, &dataFreq);
  const std::string valid = rows(12, 100, false, &validFreq);
  const std::string test = rows(14, 200, true, &testFreq);
  const auto run = runProgram("proc varsifter data=d valdata=v testdata=t;\n  freq n;\n"
                              "  model y = x1 x2 / selection=forward(choose=validate);\nrun;\n",
                              "heldout_freq", {{"d.csv", data}, {"v.csv", valid}, {"t.csv", test}});
  ASSERT_LE(run.json["returnCode"].n, 4) << run.log;
  const auto nobs = tablesOf(run, "NObs");
  ASSERT_EQ(nobs.size(), 3u) << run.log;
  // Analysis data, then VALDATA=, then TESTDATA=.
  const Value& v = *nobs[1];
  const Value& t = *nobs[2];
  ASSERT_EQ(v["rows"].items.size(), 2u) << "VALDATA= has no FREQ variable";
  EXPECT_EQ(v["rows"][0][col(v, "N")].n, 12);
  ASSERT_EQ(t["rows"].items.size(), 4u) << "TESTDATA= has the FREQ variable";
  EXPECT_EQ(t["rows"][0][col(t, "N")].n, 14);
  EXPECT_EQ(t["rows"][2][col(t, "N")].n, testFreq);
  EXPECT_EQ(t["rows"][3][col(t, "N")].n, testFreq);
  EXPECT_EQ((*nobs[0])["rows"][0][col(*nobs[0], "SumFreqsRead")].n, dataFreq);
}

} // namespace
