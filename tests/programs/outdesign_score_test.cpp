// OUTDESIGN= and SCORE end to end through the qrx runner: the design columns against an
// independent construction (scripts/gen_outdesign_ref.py, committed under
// tests/data/outdesign/), BY groups of different widths, PREFIX= limits, the parameter-names
// table and _VSFMOD, and SCORE predictions against OUTPUT's with unseen levels and missing
// variables.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

namespace {

using qrxrun::csvRows;
using qrxrun::headerColumn;
using qrxrun::logged;
using qrxrun::readFile;
using qrxrun::runProgram;
using qrxrun::tablesOf;
using qrxrun::Value;

const std::string kDataDir = std::string(QRX_SOURCE_DIR) + "/tests/data/outdesign/";

std::vector<std::vector<double>> numbers(const std::string& text) {
  std::vector<std::vector<double>> rows;
  for (const auto& r : csvRows(text)) {
    std::vector<double> v;
    for (const auto& f : r)
      v.push_back(f.empty() ? NAN : std::stod(f));
    rows.push_back(v);
  }
  return rows;
}

TEST(OutDesign, DesignColumnsMatchAnIndependentConstruction) {
  const std::string data = readFile(kDataDir + "data.csv");
  for (const std::string coding : {"glm", "ref", "effect"}) {
    const auto run = runProgram("proc varsifter data=d outdesign(names)=od;\n"
                                "  class c d / param=" +
                                    coding +
                                    ";\n"
                                    "  model y = x1 c d c*d x1*d x2(c) / selection=none;\nrun;\n"
                                    "%put &_VSFMOD;\n",
                                "outdesign_" + coding, {{"d.csv", data}}, {"od.csv"});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto expected = numbers(readFile(kDataDir + "design_" + coding + ".csv"));
    const auto rows = csvRows(run.files.at("od.csv"));
    ASSERT_EQ(rows.size(), expected.size() + 1);
    const size_t p = expected[0].size();
    // The design columns, then the response only.
    ASSERT_EQ(rows[0].size(), p + 1) << coding;
    EXPECT_EQ(rows[0][p], "y");
    for (size_t i = 0; i < expected.size(); ++i)
      for (size_t j = 0; j < p; ++j)
        EXPECT_NEAR(std::stod(rows[i + 1][j]), expected[i][j], 1e-12) << coding << " " << i;
    // The columns are unique names; the parameter-names table lists them and _VSFMOD all
    // but the intercept's.
    const auto names = tablesOf(run, "ParameterNames");
    ASSERT_EQ(names.size(), 1u);
    const Value& t = *names[0];
    ASSERT_EQ(t["rows"].items.size(), p);
    std::string list;
    for (size_t j = 0; j < p; ++j) {
      EXPECT_EQ(qrxrun::text(t, j, "Name"), rows[0][j]);
      if (j > 0)
        list += (j > 1 ? " " : "") + rows[0][j];
      for (size_t k = 0; k < j; ++k)
        EXPECT_NE(rows[0][k], rows[0][j]);
    }
    EXPECT_EQ(run.json["macros"]["_VSFMOD"].s, list);
  }
}

TEST(OutDesign, ByGroupsOfThreeAndFiveParametersGiveFiveColumnsAndMissingPadding) {
  std::ostringstream data;
  data << "g,y,x1,c\n";
  for (int i = 0; i < 24; ++i) {
    const int g = i < 12 ? 1 : 2;
    const char c = g == 1 ? "AB"[i % 2] : "ABCD"[i % 4];
    data << g << "," << (0.5 * i + (c - 'A') + std::sin(i)) << "," << std::cos(1.7 * i) << "," << c
         << "\n";
  }
  const auto run = runProgram("proc varsifter data=d outdesign(names)=od;\n  by g;\n"
                              "  class c / param=ref;\n  model y = x1 c / selection=none;\n"
                              "  output out=o p=pred;\nrun;\n",
                              "outdesign_by", {{"d.csv", data.str()}}, {"od.csv", "o.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_TRUE(logged(run, VsfMsg::OutdesignNoPrefixOption)) << "the numbered names are announced";
  ASSERT_TRUE(run.files.count("o.csv")) << "OUTPUT is still written after the across-group pass";
  const auto rows = csvRows(run.files.at("od.csv"));
  ASSERT_EQ(rows.size(), 25u);
  EXPECT_EQ(rows[0],
            (std::vector<std::string>{"_X1", "_X2", "_X3", "_X4", "_X5", "g", "y", "_BY_"}));
  for (size_t i = 1; i < rows.size(); ++i) {
    const bool first = i <= 12;
    EXPECT_EQ(rows[i][0], "1");
    EXPECT_EQ(rows[i][3].empty(), first) << i;
    EXPECT_EQ(rows[i][4].empty(), first) << i;
    EXPECT_EQ(rows[i][7], first ? "1" : "2");
  }
  // Group 2 (levels A B C D, reference D): row 13 is level A.
  EXPECT_EQ(rows[13][2], "1");
  EXPECT_EQ(rows[13][3], "0");
  EXPECT_EQ(run.json["macros"]["_VSFMOD2"].s, "_X2 _X3 _X4 _X5");
  const auto names = tablesOf(run, "ParameterNames");
  ASSERT_EQ(names.size(), 2u);
  EXPECT_EQ((*names[0])["rows"].items.size(), 3u);
  EXPECT_EQ((*names[1])["rows"].items.size(), 5u);
}

TEST(OutDesign, FullModelWithNointAndPrefixLimits) {
  const std::string data = readFile(kDataDir + "data.csv");
  const auto run = runProgram("proc varsifter data=d outdesign(fullmodel prefix=col)=od;\n"
                              "  class c d / param=ref;\n"
                              "  model y = x1 c d / selection=forward(stop=1) noint;\nrun;\n",
                              "outdesign_full", {{"d.csv", data}}, {"od.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  EXPECT_FALSE(logged(run, VsfMsg::OutdesignNoPrefixOption));
  const auto rows = csvRows(run.files.at("od.csv"));
  // Every column of the design but the intercept's: x1, c_A, c_B, d_P.
  EXPECT_EQ(rows[0], (std::vector<std::string>{"col1", "col2", "col3", "col4", "y"}));
  const auto ref = numbers(readFile(kDataDir + "design_ref.csv"));
  for (size_t i = 0; i < ref.size(); ++i) {
    EXPECT_EQ(std::stod(rows[i + 1][0]), ref[i][1]);
    EXPECT_EQ(std::stod(rows[i + 1][3]), ref[i][4]);
  }
  const std::string prefix(32, 'p');
  const auto tooLong = runProgram("proc varsifter data=d outdesign(prefix=" + prefix +
                                      ")=od;\n"
                                      "  model y = x1 x2 / selection=none;\nrun;\n",
                                  "outdesign_prefix", {{"d.csv", data}}, {"od.csv"});
  EXPECT_EQ(tooLong.json["returnCode"].n, 1012);
  EXPECT_TRUE(logged(tooLong, VsfMsg::OutdesignPrefixTooLong));
  EXPECT_EQ(tooLong.files.count("od.csv"), 0u);
}

TEST(Score, AnalysisDataReproducesOutputAndNewDataGetsMissingForUnseenLevels) {
  const std::string data = readFile(kDataDir + "data.csv");
  const std::string fresh = "c,x1,x2,d,y\nA,0.5,1,P,1\nZ,0.5,1,P,1\nB,-1,2,Q,3\nC,,2,Q,3\n";
  const std::string lacking = "c,d,y\nA,P,1\n";
  const auto run = runProgram("proc varsifter data=d;\n  class c d / param=effect;\n"
                              "  model y = x1 c d c*d x2(c) / selection=none;\n"
                              "  output out=o p=pred;\n  score out=s1 p=pred r=res;\n"
                              "  score data=n out=s2 p=pred r=res;\n"
                              "  score data=m out=s3 p=pred;\nrun;\n",
                              "score_e2e", {{"d.csv", data}, {"n.csv", fresh}, {"m.csv", lacking}},
                              {"o.csv", "s1.csv", "s2.csv", "s3.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 4) << run.log; // 184 is a warning
  // Each SCORE statement's information is titled with the statement's number.
  const auto infos = tablesOf(run, "ScoreInfo");
  ASSERT_EQ(infos.size(), 3u);
  for (size_t k = 0; k < infos.size(); ++k) {
    const std::string& title = (*infos[k])["title"].s;
    EXPECT_NE(title.find(std::to_string(k + 1)), std::string::npos) << title;
    EXPECT_NE(title, (*infos[(k + 1) % 3])["title"].s);
  }
  const auto o = csvRows(run.files.at("o.csv"));
  const auto s1 = csvRows(run.files.at("s1.csv"));
  ASSERT_EQ(o.size(), s1.size());
  const int po = headerColumn(o[0], "pred"), ps = headerColumn(s1[0], "pred"),
            rs = headerColumn(s1[0], "res");
  const int yo = headerColumn(o[0], "y");
  double sse = 0;
  for (size_t i = 1; i < o.size(); ++i) {
    const double p = std::stod(o[i][static_cast<size_t>(po)]);
    EXPECT_NEAR(std::stod(s1[i][static_cast<size_t>(ps)]), p, 1e-12);
    const double r = std::stod(o[i][static_cast<size_t>(yo)]) - p;
    EXPECT_NEAR(std::stod(s1[i][static_cast<size_t>(rs)]), r, 1e-12);
    sse += r * r;
  }
  // The new data: the same combination predicts the same; an unseen level and a missing
  // value give missing predictions.
  const auto s2 = csvRows(run.files.at("s2.csv"));
  ASSERT_EQ(s2.size(), 5u);
  EXPECT_FALSE(s2[1][5].empty());
  EXPECT_TRUE(s2[2][5].empty());
  EXPECT_FALSE(s2[3][5].empty());
  EXPECT_TRUE(s2[4][5].empty());
  EXPECT_TRUE(logged(run, VsfMsg::ScoredClassLevelsNotInFit));
  EXPECT_TRUE(logged(run, VsfMsg::ScoreDataLacksModelVariable));
  const auto s3 = csvRows(run.files.at("s3.csv"));
  ASSERT_EQ(s3.size(), 2u);
  EXPECT_TRUE(s3[1].size() < 4 || s3[1][3].empty());
  const auto info = tablesOf(run, "ScoreInfo");
  ASSERT_EQ(info.size(), 3u);
  auto entry = [](const Value& f, const std::string& label) -> double {
    for (const Value& e : f["entries"].items)
      if (e["label"].s == label)
        return e["value"].n;
    return NAN;
  };
  EXPECT_EQ(entry(*info[0], "Number of Observations Read"), 36);
  EXPECT_EQ(entry(*info[0], "Number of Observations Used"), 36);
  EXPECT_NEAR(entry(*info[0], "Weighted SSE"), sse, 1e-9 * sse);
  EXPECT_EQ(entry(*info[1], "Number of Observations Read"), 4);
  EXPECT_EQ(entry(*info[1], "Number of Observations Used"), 2);
  EXPECT_EQ(entry(*info[2], "Number of Observations Used"), 0);
}

// Data with a CLASS combination (C, Q) whose responses are all missing, and a numeric
// variable c_A whose name is also the parameter name of level A of c.
std::string dataWithUnseenCombination() {
  std::ostringstream out;
  out << "y,x1,c,d,c_A\n";
  for (int i = 0; i < 30; ++i) {
    const char c = "ABC"[i % 3], d = "PQ"[(i / 3) % 2];
    out << (c == 'C' && d == 'Q' ? std::string() : std::to_string(0.5 * i + std::sin(i))) << ","
        << std::cos(1.7 * i) << "," << c << "," << d << "," << std::sin(0.3 * i) << "\n";
  }
  return out.str();
}

TEST(OutDesign, CollidingParameterNamesAreMadeUnique) {
  const std::string data = dataWithUnseenCombination();
  const auto run = runProgram("proc varsifter data=u outdesign(names)=od;\n  class c;\n"
                              "  model y = x1 c c_A / selection=none;\nrun;\n",
                              "outdesign_unique", {{"u.csv", data}}, {"od.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto rows = csvRows(run.files.at("od.csv"));
  const auto input = csvRows(data);
  ASSERT_EQ(rows[0].size(), 7u); // Intercept, x1, c_A, c_B, c_C, the variable c_A, y
  std::set<std::string> seen;
  for (size_t j = 0; j + 1 < rows[0].size(); ++j) {
    std::string upper = rows[0][j];
    for (char& ch : upper)
      ch = char(std::toupper(static_cast<unsigned char>(ch)));
    EXPECT_TRUE(seen.insert(upper).second) << rows[0][j] << ": names are unique in any case";
  }
  // The level's column holds the indicator, the variable's column the variable.
  for (size_t i = 1; i < rows.size(); ++i) {
    EXPECT_EQ(std::stod(rows[i][2]), input[i][2] == "A" ? 1.0 : 0.0) << i;
    EXPECT_NEAR(std::stod(rows[i][5]), std::stod(input[i][4]), 1e-12) << i;
  }
  const auto names = tablesOf(run, "ParameterNames");
  ASSERT_EQ(names.size(), 1u);
  for (size_t j = 0; j + 1 < rows[0].size(); ++j)
    EXPECT_EQ(qrxrun::text(*names[0], j, "Name"), rows[0][j]);
}

TEST(Score, UnseenLevelCombinationsAreMissingAsInOutput) {
  // Under GLM coding the combination (C, Q) has no parameter: OUTPUT and SCORE of the same
  // rows (another data set, so the SCORE road with its own variable look-up) both leave its
  // rows unpredicted and agree on every other row.
  const std::string data = dataWithUnseenCombination();
  const auto run =
      runProgram("proc varsifter data=u;\n  class c d;\n"
                 "  model y = x1 c*d / selection=none;\n  output out=o p=pred;\n"
                 "  score data=u2 out=s p=pred;\nrun;\n",
                 "score_unseen", {{"u.csv", data}, {"u2.csv", data}}, {"o.csv", "s.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto o = csvRows(run.files.at("o.csv"));
  const auto s = csvRows(run.files.at("s.csv"));
  ASSERT_EQ(o.size(), s.size());
  const int po = headerColumn(o[0], "pred"), ps = headerColumn(s[0], "pred");
  int unseen = 0;
  for (size_t i = 1; i < o.size(); ++i) {
    const std::string &a = o[i][size_t(po)], &b = s[i][size_t(ps)];
    const bool cq = o[i][2] == "C" && o[i][3] == "Q";
    EXPECT_EQ(a.empty(), cq) << i;
    EXPECT_EQ(b.empty(), cq) << i;
    unseen += cq;
    if (!a.empty() && !b.empty()) {
      EXPECT_NEAR(std::stod(b), std::stod(a), 1e-12) << i;
    }
  }
  EXPECT_EQ(unseen, 5);
}

// The text of the first log record of message m.
std::string logText(const qrxrun::ProgramRun& r, MsgId m) {
  const Value* rec = qrxrun::logEntry(r, m);
  return rec != nullptr ? (*rec)["text"].s : "";
}

// A SCORE data set is looked up for the variables the selected model reads: one it does not
// read (Type, when only Horsepower is selected) may be absent; a text cell in a numeric one
// leaves only its own row unscored; a needed one absent or of another type ends the scoring
// of that data set with a message naming it. Predictions are checked against the
// least-squares line of Price on Horsepower.
TEST(Score, VariablesAreLookedUpByNameAndCheckedByRow) {
  std::string cars = "Price,Horsepower,Type\n";
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (int i = 0; i < 24; ++i) {
    const double hp = 100 + 10 * i;
    const std::string price = std::to_string(5 + 0.2 * hp + 0.5 * std::sin(1.7 * i));
    cars += price + "," + std::to_string(hp) + "," +
            (i % 3 == 0   ? "Sedan"
             : i % 3 == 1 ? "SUV"
                          : "Sports") +
            "\n";
    x.push_back({1, hp});
    y.push_back(std::stod(price));
    w.push_back(1);
  }
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);
  const std::vector<double> hp = {120, 250, 80, 310};
  const auto run =
      runProgram("proc varsifter data=cars;\n  class Type;\n"
                 "  model Price = Horsepower Type / selection=forward(select=sbc);\n"
                 "  score data=plain out=s1 p=pred;\n  score data=oddcell out=s2 p=pred;\n"
                 "  score data=nohp out=s3 p=pred;\nrun;\n",
                 "score_lookup",
                 {{"cars.csv", cars},
                  {"plain.csv", "Horsepower,Price\n120,1\n250,2\n80,3\n310,4\n"},
                  {"oddcell.csv", "Horsepower,Price\n120,1\nabc,2\n80,3\n.,4\n"},
                  {"nohp.csv", "Type,Price\nSUV,1\n"}},
                 {"s1.csv", "s2.csv", "s3.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 4) << run.log;
  const auto s1 = csvRows(run.files.at("s1.csv"));
  ASSERT_EQ(s1.size(), 5u);
  for (size_t i = 0; i < hp.size(); ++i) {
    ASSERT_FALSE(s1[i + 1][2].empty()) << i;
    EXPECT_NEAR(std::stod(s1[i + 1][2]), b[0] + b[1] * hp[i], 1e-8) << i;
  }
  // The text cell and the missing value leave their own rows without a prediction.
  const auto s2 = csvRows(run.files.at("s2.csv"));
  ASSERT_EQ(s2.size(), 5u);
  EXPECT_NEAR(std::stod(s2[1][2]), b[0] + b[1] * 120, 1e-8);
  EXPECT_TRUE(s2[2].size() < 3 || s2[2][2].empty());
  EXPECT_NEAR(std::stod(s2[3][2]), b[0] + b[1] * 80, 1e-8);
  EXPECT_TRUE(s2[4].size() < 3 || s2[4][2].empty());
  const std::string bad = logText(run, VsfMsg::ScoreValueNotNumber);
  EXPECT_NE(bad.find("Horsepower"), std::string::npos) << bad;
  EXPECT_NE(bad.find("abc"), std::string::npos) << bad;
  EXPECT_NE(bad.find(" 2 "), std::string::npos) << bad;
  // Without Horsepower nothing is scored, and the message names it.
  const auto s3 = csvRows(run.files.at("s3.csv"));
  ASSERT_EQ(s3.size(), 2u);
  EXPECT_TRUE(s3[1].size() < 3 || s3[1][2].empty());
  EXPECT_NE(logText(run, VsfMsg::ScoreDataLacksModelVariable).find("Horsepower"),
            std::string::npos);

  // A CLASS variable that the model reads must have its type: Type given as numbers.
  const auto typed =
      runProgram("proc varsifter data=cars;\n  class Type;\n"
                 "  model Price = Horsepower Type / selection=none;\n"
                 "  score data=numtype out=s4 p=pred;\nrun;\n",
                 "score_lookup_type",
                 {{"cars.csv", cars}, {"numtype.csv", "Horsepower,Type\n120,1\n"}}, {"s4.csv"});
  ASSERT_EQ(typed.json["returnCode"].n, 4) << typed.log;
  EXPECT_NE(logText(typed, VsfMsg::VariableSelectedModelDifferent).find("Type"), std::string::npos)
      << typed.log;
  const auto s4 = csvRows(typed.files.at("s4.csv"));
  ASSERT_EQ(s4.size(), 2u);
  EXPECT_TRUE(s4[1].size() < 3 || s4[1][2].empty());
}

// Cars-like data sorted by Origin: the Type levels that matter differ between origins, so
// that a stepwise fit selects some split Type columns and not others.
std::string carsData() {
  const char* types[] = {"Compact", "Hybrid", "SUV", "Sedan", "Sporty", "Truck"};
  const char* origins[] = {"Asia", "Europe", "USA"};
  std::ostringstream d;
  d << "Origin,Type,Horsepower,Weight,Length,MSRP\n";
  for (int i = 0; i < 90; ++i) {
    const int t = i % 6, o = i / 30;
    const double hp = 150 + 50 * std::sin(1.3 * i), wt = 3000 + 400 * std::cos(0.7 * i);
    double y = 100 + 2 * hp + 0.01 * wt + 3 * std::sin(5.3 * i);
    y += t == 2 ? 40 : t == 1 ? -30 : 0;
    y += (o == 0 && t == 0 ? -20 : 0) + (o == 1 && t == 4 ? 35 : 0) + (o == 2 && t == 5 ? 25 : 0);
    d << origins[o] << "," << types[t] << "," << hp << "," << wt << ","
      << 180 + 10 * std::sin(2.1 * i) << "," << y << "\n";
  }
  return d.str();
}

// The Parameter Estimates of one table: parameter names and estimates, the intercept first.
std::vector<std::pair<std::string, double>> estimatesOf(const Value& t) {
  std::vector<std::pair<std::string, double>> out;
  for (size_t r = 0; r < t["rows"].items.size(); ++r)
    out.emplace_back(qrxrun::text(t, r, "Parameter"), qrxrun::number(t, r, "Estimate"));
  return out;
}

// Least squares of the response on the named OUTDESIGN columns over `rows` (header first,
// rows of BY group `by` when by > 0) must reproduce `expected`, in that order.
void expectLeastSquares(const std::vector<std::vector<std::string>>& od,
                        const std::vector<std::string>& columns,
                        const std::vector<double>& expected, int by = 0) {
  std::vector<std::vector<double>> x;
  std::vector<double> y, w;
  for (size_t i = 1; i < od.size(); ++i) {
    if (by > 0 && std::stoi(od[i][size_t(headerColumn(od[0], "_BY_"))]) != by)
      continue;
    std::vector<double> row;
    for (const std::string& c : columns)
      row.push_back(std::stod(od[i][size_t(headerColumn(od[0], c))]));
    x.push_back(row);
    y.push_back(std::stod(od[i][size_t(headerColumn(od[0], "MSRP"))]));
    w.push_back(1);
  }
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);
  ASSERT_EQ(b.size(), expected.size());
  for (size_t j = 0; j < b.size(); ++j)
    EXPECT_NEAR(b[j], expected[j], 1e-6 * std::max(1.0, std::fabs(expected[j]))) << columns[j];
}

// Split CLASS columns bear the names of the parameters they hold, and _VSFMOD lists the
// OUTDESIGN columns of the selected effects (not the intercept): by name, by the prefix
// within the full design, and by position in each BY group.
TEST(OutDesign, SplitColumnsAndVsfmodFollowTheSelectedModel) {
  const std::string model = "  class Type / split;\n"
                            "  model MSRP = Type Horsepower Weight Length / selection=stepwise;\n";
  const auto files = std::vector<std::pair<std::string, std::string>>{{"cars.csv", carsData()}};
  auto join = [](const std::vector<std::string>& v) {
    std::string s;
    for (const std::string& t : v)
      s += (s.empty() ? "" : " ") + t;
    return s;
  };
  {
    const auto run =
        runProgram("proc varsifter data=cars outdesign(names)=od;\n" + model + "run;\n",
                   "split_named", files, {"od.csv"});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto est = estimatesOf(*tablesOf(run, "ParameterEstimates").at(0));
    const auto od = csvRows(run.files.at("od.csv"));
    const Value& names = *tablesOf(run, "ParameterNames").at(0);
    std::vector<std::string> columns, listed;
    std::vector<double> b;
    for (size_t j = 0; j < est.size(); ++j) {
      EXPECT_EQ(od[0][j], est[j].first);
      EXPECT_EQ(qrxrun::text(names, j, "Name"), est[j].first);
      EXPECT_EQ(qrxrun::text(names, j, "Parameter"), est[j].first);
      columns.push_back(est[j].first);
      b.push_back(est[j].second);
      if (j > 0)
        listed.push_back(est[j].first);
    }
    EXPECT_NE(join(listed).find("Type_"), std::string::npos) << "a split column is selected";
    EXPECT_EQ(run.json["macros"]["_VSFMOD"].s, join(listed));
    expectLeastSquares(od, columns, b);
  }
  {
    const auto run = runProgram("proc varsifter data=cars outdesign(fullmodel prefix names)=od;\n" +
                                    model + "run;\n",
                                "split_full", files, {"od.csv"});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto est = estimatesOf(*tablesOf(run, "ParameterEstimates").at(0));
    const auto od = csvRows(run.files.at("od.csv"));
    const Value& names = *tablesOf(run, "ParameterNames").at(0);
    // Every column of the full design: the intercept, six Type levels and three variables.
    ASSERT_EQ(names["rows"].items.size(), 10u);
    std::map<std::string, std::string> columnOf;
    for (size_t k = 0; k < 10; ++k)
      columnOf[qrxrun::text(names, k, "Parameter")] = qrxrun::text(names, k, "Name");
    EXPECT_EQ(columnOf.at("Type_Truck"), "_X7");
    std::vector<std::string> columns, listed;
    std::vector<double> b;
    for (const auto& [parameter, estimate] : est) {
      columns.push_back(columnOf.at(parameter));
      b.push_back(estimate);
    }
    listed.assign(columns.begin() + 1, columns.end());
    std::sort(listed.begin(), listed.end(), [](const std::string& a, const std::string& c) {
      return std::stoi(a.substr(2)) < std::stoi(c.substr(2));
    });
    ASSERT_LT(listed.size(), 9u) << "the selection leaves some columns out";
    EXPECT_EQ(run.json["macros"]["_VSFMOD"].s, join(listed));
    expectLeastSquares(od, columns, b);
  }
  {
    const auto run = runProgram("proc varsifter data=cars outdesign(names)=od;\n  by Origin;\n" +
                                    model + "run;\n",
                                "split_by", files, {"od.csv"});
    ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
    const auto od = csvRows(run.files.at("od.csv"));
    const auto tables = tablesOf(run, "ParameterEstimates");
    ASSERT_EQ(tables.size(), 3u);
    for (int g = 1; g <= 3; ++g) {
      const auto est = estimatesOf(*tables[size_t(g - 1)]);
      const Value& names = *tablesOf(run, "ParameterNames").at(size_t(g - 1));
      std::vector<std::string> columns;
      std::vector<double> b;
      for (size_t j = 0; j < est.size(); ++j) {
        columns.push_back("_X" + std::to_string(j + 1));
        b.push_back(est[j].second);
        EXPECT_EQ(qrxrun::text(names, j, "Name"), columns.back());
        EXPECT_EQ(qrxrun::text(names, j, "Parameter"), est[j].first);
      }
      const std::vector<std::string> listed(columns.begin() + 1, columns.end());
      EXPECT_EQ(run.json["macros"]["_VSFMOD" + std::to_string(g)].s, join(listed)) << g;
      expectLeastSquares(od, columns, b, g);
    }
  }
}

// Names the step creates keep the case the user typed, as the input variables keep theirs;
// an EFFECT-coded crossing's zero cells (a product such as 0 x -1) are written as 0.
TEST(OutDesign, OutputNamesKeepTheirCaseAndZeroCellsAreWrittenAsZero) {
  const std::string data = readFile(kDataDir + "data.csv");
  const auto run = runProgram("proc varsifter data=d outdesign(prefix=Col)=od;\n"
                              "  class c d / param=effect;\n"
                              "  model Y = x1 c d c*d / selection=none;\n"
                              "  output out=o p=Pr r=myResid;\n"
                              "  score data=d out=s p=ScorePred;\nrun;\n",
                              "names_case", {{"d.csv", data}}, {"od.csv", "o.csv", "s.csv"});
  ASSERT_EQ(run.json["returnCode"].n, 0) << run.log;
  const auto header = [&](const std::string& file) { return csvRows(run.files.at(file))[0]; };
  EXPECT_EQ(header("o.csv"),
            (std::vector<std::string>{"y", "x1", "x2", "c", "d", "Pr", "myResid"}));
  EXPECT_EQ(header("s.csv").back(), "ScorePred");
  const auto od = csvRows(run.files.at("od.csv"));
  EXPECT_EQ(od[0][0], "Col1");
  // Intercept, x1, c (2 columns), d (1) and c*d (2): the crossing is columns 5 and 6.
  const auto expected = numbers(readFile(kDataDir + "design_effect.csv"));
  int zeros = 0;
  for (size_t i = 1; i < od.size(); ++i)
    for (size_t j = 0; j + 1 < od[i].size(); ++j) {
      EXPECT_NE(od[i][j], "-0") << "row " << i << " column " << j;
      if (j >= 5 && j <= 6 && expected[i - 1][j] == 0)
        ++zeros;
    }
  EXPECT_GT(zeros, 0) << "the crossing has zero cells";
}

} // namespace

// _VSFMOD names the columns as the OUTDESIGN file holds them: RENAME= gives a column its new
// name there; a column that DROP= leaves out cannot be listed, so the macro variable is not
// made (warning 232) rather than naming a column the file does not have.
TEST(OutDesign, VsfmodFollowsTheDataSetOptions) {
  const std::string data = readFile(kDataDir + "data.csv");
  const std::string model = "  model y = x1 x2 / selection=none;\nrun;\n";
  const auto renamed =
      runProgram("proc varsifter data=d outdesign=od(rename=(x1=first));\n" + model,
                 "vsfmod_rename", {{"d.csv", data}}, {"od.csv"});
  ASSERT_EQ(renamed.json["returnCode"].n, 0) << renamed.log;
  EXPECT_EQ(csvRows(renamed.files.at("od.csv"))[0][1], "first");
  EXPECT_EQ(renamed.json["macros"]["_VSFMOD"].s, "first x2");
  const auto dropped = runProgram("proc varsifter data=d outdesign=od(drop=x2);\n" + model,
                                  "vsfmod_drop", {{"d.csv", data}}, {"od.csv"});
  EXPECT_TRUE(logged(dropped, VsfMsg::MacroVariableNotCreated)) << dropped.log;
  EXPECT_FALSE(dropped.json["macros"].has("_VSFMOD")) << dropped.log;
}
