// The LASSO path on more candidates than rows through qrx, without the packed X'X: with the
// cross products of the entered effects kept (the larCrossLimit hook lets the path keep them
// on these few columns; one thread and four) and with every step passing over the rows. Each run is
// checked against scikit-learn's lars_path on the same data (tests/data/widelasso, written by
// scripts/gen_wide_lasso_ref.py): the effects entered and removed at every step, drops and
// re-entries among them, and the final step's error sum of squares and estimates.
#include "programs/qrxrun.h"
#include "refcsv.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <string>
#include <vector>

namespace {

constexpr int kCandidates = 120;
constexpr int kSteps = 30;

qrxrun::Run widePath(const std::string& perf, const char* hooks, const std::string& tag) {
  if (hooks != nullptr)
    ::setenv("QRX_TEST_HOOKS", hooks, 1);
  qrxrun::Run r = qrxrun::run(
      "libname w 'tests/data/widelasso';\nproc varsifter data=w.wide;\n"
      "  model y = x1-x120 / selection=lasso(stop=none steps=30);\n  performance buildsscp=" +
          perf + ";\nrun;\n",
      tag);
  ::unsetenv("QRX_TEST_HOOKS");
  return r;
}

void checkAgainstReference(const qrxrun::Run& r, const std::string& tag) {
  ASSERT_EQ(r.status, 0) << tag << "\n" << r.log;
  const auto want = readReferenceRows("widelasso/path.csv");
  ASSERT_EQ(want.size(), static_cast<size_t>(kSteps + 1));
  const auto& out = r.json["steps"][0]["output"];
  const qrxrun::Value* summary = qrxrun::findTable(out, "SelectionSummary");
  ASSERT_NE(summary, nullptr) << tag << "\n" << r.log;
  ASSERT_EQ((*summary)["rows"].items.size(), static_cast<size_t>(kSteps + 1)) << tag;
  for (int s = 1; s <= kSteps; ++s) {
    const int change = static_cast<int>(want[s][1]);
    const std::string name = std::string("x").append(std::to_string(std::abs(change)));
    EXPECT_EQ(qrxrun::text(*summary, s, change > 0 ? "EffectEntered" : "EffectRemoved"), name)
        << tag << " step " << s;
  }
  const qrxrun::Value* anova = qrxrun::findTable(out, "ANOVA");
  ASSERT_NE(anova, nullptr) << tag;
  const double sse = want[kSteps][2];
  EXPECT_NEAR(qrxrun::number(*anova, 1, "SS"), sse, 1e-9 * want[0][2]) << tag;
  const qrxrun::Value* pe = qrxrun::findTable(out, "ParameterEstimates");
  ASSERT_NE(pe, nullptr) << tag;
  size_t matched = 0;
  for (size_t row = 0; row < (*pe)["rows"].items.size(); ++row) {
    const std::string p = qrxrun::text(*pe, row, "Parameter");
    const int k = p == "Intercept" ? kCandidates + 1 : std::stoi(p.substr(1));
    const double b = want[kSteps][2 + k];
    EXPECT_NEAR(qrxrun::number(*pe, row, "Estimate"), b, 1e-9 * (1 + std::fabs(b)))
        << tag << " " << p;
    ++matched;
  }
  // Every effect the reference holds at the last knot, and the intercept.
  size_t nonzero = 1;
  for (int k = 1; k <= kCandidates; ++k)
    nonzero += want[kSteps][2 + k] != 0.0 ? 1 : 0;
  EXPECT_EQ(matched, nonzero) << tag;
}

TEST(WideLasso, KeptCrossProductsAndPassesFollowTheReference) {
  const char* keep = "larCrossLimit=100000000";
  checkAgainstReference(widePath("incremental nothreads", keep, "widek1"), "kept, one thread");
  checkAgainstReference(widePath("incremental threads cpucount=4", keep, "widek4"),
                        "kept, four threads");
  checkAgainstReference(widePath("incremental nothreads", nullptr, "widep1"), "passes, one thread");
}

} // namespace
