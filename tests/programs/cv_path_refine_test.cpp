// CV PRESS of a LASSO path's steps, the least-squares refits of each step's active effects on
// the folds' training rows, where those rows leave the columns ill-conditioned: y near 1e-9
// on x1 .. x6 and a degree-7 polynomial of a column between 0.03 and 2.4 in size, 26 rows in
// 7 index folds, fold 4's held-out row extrapolating the polynomial. Coefficients solved on
// the folds' cross products alone missed the exact CV PRESS of the full model by 6.9e-9 (fold
// 3's part by 3.6e-7), and by another amount with the rows in another order. With the rows
// in order and reversed, every step follows the exact refits (mpmath, tests/data/cvpathrefine
// from scripts/gen_cv_path_refine_ref.py).
#include "programs/qrxrun.h"

#include <gtest/gtest.h>

#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

using qrxrun::Value;

const std::string kDir = std::string(QRX_TEST_DATA) + "/cvpathrefine/";

// Folds whose sums are judged to hold their digits stay on them and reach about 1e-9 of
// their part; the refitted ones reach 1e-10.
constexpr double kTolerance = 2e-9;

std::string reversedRows(const std::string& csv) {
  const auto rows = qrxrun::csvRows(csv);
  std::string out;
  for (size_t i = 0; i < rows.size(); ++i) {
    const auto& r = rows[i == 0 ? 0 : rows.size() - i];
    for (size_t j = 0; j < r.size(); ++j) {
      out += r[j];
      out += j + 1 < r.size() ? ',' : '\n';
    }
  }
  return out;
}

// The step's active effects in the reference's order (x1 .. x6, v1 .. v1^7), space separated.
std::string activeKey(const std::set<std::string>& in) {
  std::string key;
  for (const char* e :
       {"x1", "x2", "x3", "x4", "x5", "x6", "v1", "v1^2", "v1^3", "v1^4", "v1^5", "v1^6", "v1^7"})
    if (in.count(e) != 0)
      key.append(key.empty() ? "" : " ").append(e);
  return key;
}

TEST(CvPathRefine, LassoStepsFollowTheExactFoldRefitsInEitherRowOrder) {
  const auto ref = qrxrun::csvRows(qrxrun::readFile(kDir + "press.csv"));
  const std::string data = qrxrun::readFile(kDir + "d.csv");
  const std::vector<std::pair<std::string, std::string>> orders = {
      {"cvpathrefine", data}, {"cvpathrefine_reversed", reversedRows(data)}};
  for (const auto& [tag, rows] : orders) {
    const auto r = qrxrun::runProgram(
        "proc varsifter data=d;\n  effect p1 = polynomial(v1 / degree=7);\n"
        "  model y = x1 x2 x3 x4 x5 x6 p1 / selection=lasso(stop=none choose=cv) "
        "cvmethod=index(fold);\nrun;\n",
        tag, {{"d.csv", rows}});
    ASSERT_EQ(r.status, 0) << r.log;
    const Value* t = qrxrun::findTable(r.json["steps"][0]["output"], "SelectionSummary");
    ASSERT_NE(t, nullptr) << tag;
    ASSERT_EQ((*t)["rows"].items.size(), ref.size() - 1) << tag;
    std::set<std::string> in;
    for (size_t i = 1; i < ref.size(); ++i) {
      in.insert(qrxrun::text(*t, i - 1, "EffectEntered"));
      in.erase(qrxrun::text(*t, i - 1, "EffectRemoved"));
      in.erase("");
      in.erase("Intercept");
      ASSERT_EQ(activeKey(in), ref[i][1]) << tag << " step " << ref[i][0];
      const double want = std::stod(ref[i][2]);
      EXPECT_NEAR(qrxrun::number(*t, i - 1, "CVPRESS"), want, kTolerance * want)
          << tag << " step " << ref[i][0] << ": " << ref[i][1];
    }
  }
}

} // namespace
