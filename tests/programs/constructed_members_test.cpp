// MULTIMEMBER, COLLECTION and LAG effects end to end through the runner, each against least
// squares on a design that the test builds itself from the effect's definition: union levels
// of MULTIMEMBER members with their weights (raw and normalised, the all-missing allowance),
// COLLECTION blocks under GLM and reference coding, a LAG effect whose DESIGNROLE=0 rows keep
// their own lag table, and the polynomial terms' values in their column order.
#include "leastsquares.h"
#include "qrxrun.h"

#include <gtest/gtest.h>

#include <cmath>
#include <map>
#include <string>
#include <tuple>
#include <vector>

namespace {

using minijson::Value;
using Matrix = std::vector<std::vector<double>>;

// The estimates of the ParameterEstimates table by parameter name, runs of blanks (the
// alignment of level texts) written as one.
std::map<std::string, double> estimates(const qrxrun::ProgramRun& run) {
  std::map<std::string, double> b;
  const Value* pe = qrxrun::findTable(run.json["steps"][0]["output"], "ParameterEstimates");
  if (pe == nullptr)
    return b;
  for (size_t r = 0; r < (*pe)["rows"].items.size(); ++r) {
    std::string name;
    for (const char c : qrxrun::text(*pe, r, "Parameter"))
      if (c != ' ' || (!name.empty() && name.back() != ' '))
        name += c;
    b[name] = qrxrun::number(*pe, r, "Estimate");
  }
  return b;
}

double sse(const qrxrun::ProgramRun& run) {
  const Value* anova = qrxrun::findTable(run.json["steps"][0]["output"], "ANOVA");
  return anova != nullptr ? qrxrun::number(*anova, 1, "SS") : -1;
}

// The error sum of squares of b on the design.
double residualSS(const Matrix& x, const std::vector<double>& y, const std::vector<double>& b) {
  double s = 0;
  for (size_t i = 0; i < x.size(); ++i) {
    double r = y[i];
    for (size_t j = 0; j < b.size(); ++j)
      r -= x[i][j] * b[j];
    s += r * r;
  }
  return s;
}

void expectEstimates(const std::map<std::string, double>& got,
                     const std::vector<std::string>& names, const std::vector<double>& b) {
  std::string have;
  for (const auto& [name, value] : got)
    have += " [" + name + "]";
  ASSERT_EQ(got.size(), names.size()) << have;
  for (size_t j = 0; j < names.size(); ++j) {
    ASSERT_EQ(got.count(names[j]), 1u) << names[j] << " among" << have;
    EXPECT_NEAR(got.at(names[j]), b[j], 1e-9 * std::max(1.0, std::fabs(b[j]))) << names[j];
  }
}

// Members a and b over the levels A..D (b never takes A), with weights w1 and w2; rows 5 and
// 17 have no member at all, row 11 only b.
struct MemberRow {
  std::string a, b;
  double w1, w2, x, y;
};

std::vector<MemberRow> memberRows() {
  const char* la[] = {"A", "B", "C"};
  const char* lb[] = {"B", "C", "D", "B"};
  std::vector<MemberRow> rows;
  for (int i = 0; i < 30; ++i) {
    MemberRow r;
    r.a = i == 5 || i == 17 || i == 11 ? "" : la[i % 3];
    r.b = i == 5 || i == 17 ? "" : lb[(i * 7 + 1) % 4];
    r.w1 = 0.5 + (i % 4);
    r.w2 = 1.0 + 0.25 * (i % 5);
    r.x = std::cos(0.9 * i) + 0.1 * i;
    r.y = 2 + 1.5 * r.x + (r.a == "A" ? 1 : 0) - 2 * (r.b == "D" ? 1 : 0) + std::sin(1.3 * i);
    rows.push_back(r);
  }
  return rows;
}

std::string memberData(const std::vector<MemberRow>& rows) {
  std::string out = "a,b,w1,w2,x,y\n";
  for (const MemberRow& r : rows)
    out += r.a + "," + r.b + "," + std::to_string(r.w1) + "," + std::to_string(r.w2) + "," +
           std::to_string(r.x) + "," + std::to_string(r.y) + "\n";
  return out;
}

TEST(ConstructedMembers, MultimemberUnionLevelsAndNormalisedWeightsMatchLeastSquares) {
  const std::vector<MemberRow> rows = memberRows();
  const std::string data = memberData(rows);
  const std::vector<std::string> union_ = {"A", "B", "C", "D"};
  struct Variant {
    std::string options;
    bool weights, stdize;
  };
  for (const Variant& v :
       {Variant{"noeffect", false, false}, Variant{"weight=(w1 w2) stdize noeffect", true, true}}) {
    SCOPED_TRACE(v.options);
    // Intercept, the union columns, x. With NOEFFECT the rows without members keep all-zero
    // member columns, so the member columns do not add up to the intercept.
    Matrix x;
    std::vector<double> y, w;
    for (const MemberRow& r : rows) {
      std::vector<double> row(6, 0.0);
      row[0] = 1;
      double total = 0;
      auto add = [&](const std::string& level, double weight) {
        if (level.empty())
          return;
        const double c = v.weights ? weight : 1.0;
        row[1 + static_cast<size_t>(level[0] - 'A')] += c;
        total += c;
      };
      add(r.a, r.w1);
      add(r.b, r.w2);
      if (v.stdize && total != 0)
        for (size_t j = 1; j <= 4; ++j)
          row[j] /= total;
      row[5] = std::stod(std::to_string(r.x));
      x.push_back(row);
      y.push_back(std::stod(std::to_string(r.y)));
      w.push_back(1);
    }
    const std::vector<double> b = qrxrun::leastSquares(x, y, w);
    const qrxrun::ProgramRun run =
        qrxrun::runProgram("proc varsifter data=mm;\n  class a b;\n  effect m = mm(a b / " +
                               v.options + ");\n  model y = m x / selection=none;\nrun;\n",
                           "members_mm", {{"mm.csv", data}});
    ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
    expectEstimates(estimates(run), {"Intercept", "M A", "M B", "M C", "M D", "x"}, b);
    EXPECT_NEAR(sse(run), residualSS(x, y, b), 1e-9 * residualSS(x, y, b));
  }
  // Without the allowance the rows without members are dropped.
  const qrxrun::ProgramRun run =
      qrxrun::runProgram("proc varsifter data=mm;\n  class a b;\n  effect m = mm(a b);\n"
                         "  model y = m x / selection=none;\nrun;\n",
                         "members_mm_drop", {{"mm.csv", data}});
  ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
  const Value* nobs = qrxrun::findTable(run.json["steps"][0]["output"], "NObs");
  ASSERT_NE(nobs, nullptr) << run.log;
  EXPECT_EQ(qrxrun::number(*nobs, 1, "N"), 28.0);
}

TEST(ConstructedMembers, CollectionBlocksMatchLeastSquaresUnderGlmAndReferenceCoding) {
  // Collection of x1 and the CLASS variable c (levels P, Q, R) beside x2.
  std::string data = "c,x1,x2,y\n";
  Matrix glm, ref;
  std::vector<double> y, w;
  for (int i = 0; i < 27; ++i) {
    const int level = (i * 5 + i / 4) % 3;
    const double x1 = std::sin(0.7 * i) + 0.05 * i, x2 = std::cos(1.1 * i);
    const double yi = 1 + x1 - 0.5 * x2 + level * level * 0.75 + std::sin(2.3 * i);
    data += std::string(1, static_cast<char>('P' + level)) + "," + std::to_string(x1) + "," +
            std::to_string(x2) + "," + std::to_string(yi) + "\n";
    const double r1 = std::stod(std::to_string(x1)), r2 = std::stod(std::to_string(x2));
    // GLM: every level has a column; the last is aliased with the intercept and gets 0.
    glm.push_back({1, r1, level == 0 ? 1.0 : 0.0, level == 1 ? 1.0 : 0.0, r2});
    // Reference coding, the last level the reference.
    ref.push_back({1, r1, level == 0 ? 1.0 : 0.0, level == 1 ? 1.0 : 0.0, r2});
    y.push_back(std::stod(std::to_string(yi)));
    w.push_back(1);
  }
  const std::vector<double> b = qrxrun::leastSquares(glm, y, w);
  for (const std::string coding : {"glm", "ref"}) {
    SCOPED_TRACE(coding);
    const qrxrun::ProgramRun run = qrxrun::runProgram(
        "proc varsifter data=k;\n  class c / param=" + coding +
            ";\n  effect k = collection(x1 c);\n  model y = k x2 / selection=none;\nrun;\n",
        "members_collection", {{"k.csv", data}});
    ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
    std::map<std::string, double> got = estimates(run);
    if (coding == "glm") {
      ASSERT_EQ(got.count("K c:R"), 1u) << run.log;
      EXPECT_EQ(got.at("K c:R"), 0.0);
      got.erase("K c:R");
    }
    expectEstimates(got, {"Intercept", "K x1", "K c:P", "K c:Q", "x2"}, b);
    EXPECT_NEAR(sse(run), residualSS(glm, y, b), 1e-9 * residualSS(glm, y, b));
  }
}

} // namespace

// Panels of groups g over periods t: the rows with r = 1 carry responses and make the lag
// table of the fit; the rows with r = 0 (no response) repeat some groups and periods with
// other levels of x and have their own lag table, which their predictions use.
TEST(ConstructedMembers, LagWithDesignRoleKeepsASecondTableForTheRoleZeroRows) {
  struct Obs {
    std::string g;
    int t;
    std::string x;
    double y; // NaN: missing
    int r;
  };
  const double na = NAN;
  const std::vector<Obs> obs = {
      {"1", 1, "a", 3, 1},  {"1", 2, "b", 5, 1},  {"1", 3, "a", 4, 1},   {"1", 4, "b", 9, 1},
      {"2", 1, "b", 2, 1},  {"2", 2, "b", 7, 1},  {"2", 3, "a", 6, 1},   {"2", 4, "a", 5, 1},
      {"3", 1, "a", 1, 1},  {"3", 2, "c", 8, 1},  {"3", 3, "c", 4.5, 1}, {"3", 4, "a", 2.5, 1},
      {"1", 1, "c", na, 0}, {"1", 2, "c", na, 0}, {"1", 3, "b", na, 0},  {"2", 2, "a", na, 0},
      {"2", 3, "c", na, 0}, {"3", 3, "b", na, 0}, {"3", 4, "b", na, 0}};
  std::string data = "g,t,x,y,r\n";
  std::map<std::tuple<int, std::string, int>, std::string> level;
  for (const Obs& o : obs) {
    data += o.g + "," + std::to_string(o.t) + "," + o.x + "," +
            (std::isnan(o.y) ? std::string() : std::to_string(o.y)) + "," + std::to_string(o.r) +
            "\n";
    level[{o.r, o.g, o.t}] = o.x;
  }
  // The lag block under GLM: a, b, c; all zero in the first period; none (the row cannot be
  // formed) when the group's earlier period is absent from the row's own table.
  auto lagRow = [&](const Obs& o, std::vector<double>* row) {
    *row = {1, 0, 0, 0};
    if (o.t == 1)
      return true;
    auto it = level.find({o.r, o.g, o.t - 1});
    if (it == level.end())
      return false;
    (*row)[1 + static_cast<size_t>(it->second[0] - 'a')] = 1;
    return true;
  };
  Matrix x;
  std::vector<double> y, w;
  for (const Obs& o : obs) {
    std::vector<double> row;
    if (o.r == 1 && lagRow(o, &row)) {
      x.push_back(row);
      y.push_back(o.y);
      w.push_back(1);
    }
  }
  ASSERT_EQ(x.size(), 12u);
  const std::vector<double> b = qrxrun::leastSquares(x, y, w);
  const qrxrun::ProgramRun run =
      qrxrun::runProgram("proc varsifter data=lag;\n  class g t x;\n"
                         "  effect lg = lag(x / period=t within=g designrole=r);\n"
                         "  model y = lg / selection=none;\n  output out=pred p=pred;\nrun;\n",
                         "members_lagrole", {{"lag.csv", data}}, {"pred.csv"});
  ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
  expectEstimates(estimates(run), {"Intercept", "LG a", "LG b", "LG c"}, b);
  ASSERT_EQ(run.files.count("pred.csv"), 1u) << run.log;
  const auto rows = qrxrun::csvRows(run.files.at("pred.csv"));
  ASSERT_EQ(rows.size(), obs.size() + 1);
  const int pred = qrxrun::headerColumn(rows[0], "pred");
  ASSERT_GE(pred, 0);
  int roleZeroPredicted = 0;
  for (size_t i = 0; i < obs.size(); ++i) {
    std::vector<double> row;
    const std::string& cell = rows[i + 1][static_cast<size_t>(pred)];
    if (!lagRow(obs[i], &row)) {
      EXPECT_EQ(cell, "") << "row " << i;
      continue;
    }
    double p = 0;
    for (size_t j = 0; j < b.size(); ++j)
      p += row[j] * b[j];
    ASSERT_NE(cell, "") << "row " << i;
    EXPECT_NEAR(std::stod(cell), p, 1e-9 * std::max(1.0, std::fabs(p))) << "row " << i;
    roleZeroPredicted += obs[i].r == 0 ? 1 : 0;
  }
  EXPECT_EQ(roleZeroPredicted, 5);
}

// Polynomial terms of two variables up to degree 3, written out by OUTDESIGN, against the
// products formed here: x, z, x², xz, z², x³, x²z, xz², z³.
TEST(ConstructedMembers, PolynomialColumnsComeInDegreeThenVariableOrder) {
  std::string data = "x,z,y\n";
  std::vector<std::pair<double, double>> xz;
  for (int i = 0; i < 15; ++i) {
    const double x = 0.25 * i - 1.5, z = std::cos(0.8 * i);
    xz.emplace_back(std::stod(std::to_string(x)), std::stod(std::to_string(z)));
    data +=
        std::to_string(x) + "," + std::to_string(z) + "," + std::to_string(x + z + i % 3) + "\n";
  }
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      "proc varsifter data=d outdesign=od;\n  effect p = polynomial(x z / degree=3);\n"
      "  model y = p / selection=none;\nrun;\n",
      "members_poly", {{"d.csv", data}}, {"od.csv"});
  ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
  ASSERT_EQ(run.files.count("od.csv"), 1u) << run.log;
  const auto rows = qrxrun::csvRows(run.files.at("od.csv"));
  ASSERT_EQ(rows.size(), xz.size() + 1);
  ASSERT_GE(rows[0].size(), 10u);
  for (size_t i = 0; i < xz.size(); ++i) {
    const auto [x, z] = xz[i];
    const std::vector<double> terms = {1,     x,         z,         x * x,     x * z,
                                       z * z, x * x * x, x * x * z, x * z * z, z * z * z};
    for (size_t j = 0; j < terms.size(); ++j)
      EXPECT_NEAR(std::stod(rows[i + 1][j]), terms[j], 1e-9) << "row " << i << " column " << j;
  }
}

// The DESIGNROLE variable is taken as it stands wherever the design centres and scales by
// the range: a polynomial of it standardised by the range is the variable itself, not
// (r - 1) as the range 0..2 would make it.
TEST(ConstructedMembers, TheDesignRoleVariableIsNotCentredByItsRange) {
  const std::string data = "g,t,x,y,r\n1,1,a,3,1\n1,2,b,5,2\n1,3,a,4,1\n1,4,b,9,2\n"
                           "2,1,b,2,2\n2,2,a,7,1\n2,3,b,6,1\n2,4,a,5,2\n1,1,b,,0\n1,2,a,,0\n";
  const qrxrun::ProgramRun run = qrxrun::runProgram(
      "proc varsifter data=lag outdesign=od;\n  class g t x;\n"
      "  effect lg = lag(x / period=t within=g designrole=r);\n"
      "  effect p = polynomial(r / degree=1 standardize(method=range)=centerscale);\n"
      "  model y = lg p / selection=none;\nrun;\n",
      "members_rolerange", {{"lag.csv", data}}, {"od.csv"});
  ASSERT_EQ(run.json["steps"][0]["returnCode"].n, 0) << run.log;
  ASSERT_EQ(run.files.count("od.csv"), 1u) << run.log;
  const auto rows = qrxrun::csvRows(run.files.at("od.csv"));
  ASSERT_EQ(rows.size(), 11u) << run.files.at("od.csv");
  const int p = qrxrun::headerColumn(rows[0], "s_r");
  ASSERT_GE(p, 0) << run.files.at("od.csv");
  const double r[] = {1, 2, 1, 2, 2, 1, 1, 2, 0, 0};
  for (size_t i = 0; i < 10; ++i)
    EXPECT_EQ(std::stod(rows[i + 1][static_cast<size_t>(p)]), r[i]) << "row " << i;
}
