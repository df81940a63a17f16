// The design library's fit interface against numpy (scripts/gen_zlevfit_ref.py) on a GLM
// design with two dependent columns, two responses and weights: cross products, the swept
// matrix and its dependency record, the Cholesky root and its inverse, coefficients, the
// three sums-of-squares blocks and a hypothesis with a repeated row. Every result is
// computed from one pass over the data and then served from the cache.
#include "designfixture.h"

#include "design/levfit.h"
#include "numerics/qkzsweep.h"
#include "support/hoststubs.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

using designtest::DesignFixture;

namespace {

std::map<std::string, std::vector<double>> reference() {
  std::map<std::string, std::vector<double>> out;
  std::ifstream in(std::string(QRX_TEST_DATA) + "/design/zlevfit_ref.txt");
  std::string line;
  while (std::getline(in, line)) {
    std::istringstream s(line);
    std::string name;
    size_t count = 0;
    s >> name >> count;
    std::vector<double>& v = out[name];
    v.resize(count);
    for (double& x : v)
      s >> x;
  }
  return out;
}

std::string fileText(const std::string& path) {
  std::ifstream in(path);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

void expectNear(const double* got, const std::vector<double>& want, const char* what,
                double tol = 1e-10) {
  ASSERT_NE(got, nullptr) << what;
  ASSERT_FALSE(want.empty()) << what;
  for (size_t i = 0; i < want.size(); ++i)
    EXPECT_NEAR(got[i], want[i], tol * std::max(1.0, std::fabs(want[i]))) << what << " " << i;
}

// Counts the passes over the data through the context's rewind slot.
int gRewinds = 0;
VsfStatus countingInit(LevRegContext* ctx) {
  ++gRewinds;
  return GetInit(ctx);
}

struct FitTest : ::testing::Test {
  DesignFixture f;
  std::map<std::string, std::vector<double>> ref = reference();
  void SetUp() override {
    f.data(fileText(std::string(QRX_TEST_DATA) + "/design/zlevfit_data.csv"));
    f.design({"a"}, {"x1", "x2", "x12"},
             {{"a", {}, {"a"}, {}},
              {"x1", {"x1"}, {}, {}},
              {"x2", {"x2"}, {}, {}},
              {"x12", {"x12"}, {}, {}}});
    f.responses({"y1", "y2"});
    f.weight("w");
    ASSERT_EQ(f.levelise(), LevBuild::Ready);
    ASSERT_EQ(f.des.columnCount, 7);
    gRewinds = 0;
    f.ctx.getInit = reinterpret_cast<HostRoutine>(&countingInit);
  }
  void TearDown() override { f.end(); }
  double* get(int32_t code, int32_t response = 0) {
    return static_cast<double*>(zlevfit(&f.ctx, code, {.response = response}));
  }
};

TEST_F(FitTest, EveryOperationAgreesWithNumpyAndReadsTheDataOnce) {
  LevRegContext* ctx = &f.ctx;
  for (const HostRoutine slot : ctx->fit.slots)
    EXPECT_NE(slot, nullptr); // installed by the design context's set-up
  expectNear(get(LFC_XPX), ref["xpx"], "X'X");
  EXPECT_EQ(ctx->fit.rowsUsed, 30);
  expectNear(get(LFC_SWEPT), ref["swept"], "swept");
  auto* rec = static_cast<LevSweepRecord*>(zlevfit(ctx, LFC_SWEEPREC));
  ASSERT_NE(rec, nullptr);
  for (int k = 0; k < 7; ++k)
    EXPECT_EQ(rec->swept[k], static_cast<int32_t>(ref["sweptflags"][static_cast<size_t>(k)])) << k;
  expectNear(rec->dependencies, ref["dependencies"], "dependencies");
  expectNear(get(LFC_ROOT), ref["root"], "root");
  expectNear(get(LFC_INVROOT), ref["invroot"], "inverse root");
  expectNear(get(LFC_BETA, 0), std::vector<double>(ref["beta"].begin(), ref["beta"].begin() + 7),
             "beta 0");
  expectNear(get(LFC_BETA, 1), std::vector<double>(ref["beta"].begin() + 7, ref["beta"].end()),
             "beta 1");
  // Codes 6, 7 and 8 hand out the diagonal entry of the response: (1, 1) is the third.
  for (auto [code, name] : {std::pair{LFC_SSE, "sse"}, {LFC_SST, "sst"}, {LFC_SSM, "ssm"}}) {
    expectNear(get(code, -1), ref[name], name);
    EXPECT_NEAR(*get(code, 1), ref[name][2], 1e-10 * std::fabs(ref[name][2])) << name;
    EXPECT_EQ(get(code, 1), get(code, 0) + 2) << name;
  }
  LevHypothesis h{3, ref["hypothesis"].data()};
  auto* t = static_cast<LevFitTest*>(
      zlevfit(ctx, LFC_TEST, {.response = -1, .hypothesis = &h, .letters = "vdes"}));
  ASSERT_NE(t, nullptr);
  EXPECT_EQ(t->df, 2); // the third row repeats the second
  EXPECT_EQ(t->count, 3);
  expectNear(t->variance, ref["variance"], "L S L'");
  expectNear(t->estimates, ref["estimates"], "estimates");
  expectNear(t->hypothesisSS, ref["hypothesisss"], "hypothesis SS");
  // Every later request is served from the cache, with the same addresses.
  double* again = get(LFC_SWEPT);
  EXPECT_EQ(again, get(LFC_SWEPT));
  EXPECT_EQ(get(LFC_XPX), get(LFC_XPX));
  EXPECT_EQ(gRewinds, 1);
  zlevfit(ctx, LFC_RELEASE);
  EXPECT_EQ(ctx->fit.cache, nullptr);
  expectNear(get(LFC_XPX), ref["xpx"], "X'X after the release");
  EXPECT_EQ(gRewinds, 2);
}

TEST_F(FitTest, SweepingInPlaceAndInstallingValues) {
  LevRegContext* ctx = &f.ctx;
  ctx->fit.flags = LevFitFlag::SweepInPlace;
  double* xpx = get(LFC_XPX);
  EXPECT_EQ(get(LFC_SWEPT), xpx);
  expectNear(xpx, ref["swept"], "swept in place");
  // The sweep record asked afterwards sweeps a fresh copy and leaves the swept matrix alone.
  auto* rec = static_cast<LevSweepRecord*>(zlevfit(ctx, LFC_SWEEPREC));
  ASSERT_NE(rec, nullptr);
  expectNear(rec->dependencies, ref["dependencies"], "dependencies");
  expectNear(get(LFC_SWEPT), ref["swept"], "swept kept");
  // A caller's tolerance above every pivot leaves nothing swept.
  zlevfit(ctx, LFC_RELEASE);
  ctx->fit.flags = LevFitFlag::UseTolerance;
  ctx->fit.tolerance = 1e30;
  const double* none = get(LFC_SWEPT);
  ASSERT_NE(none, nullptr);
  for (int k = 0; k < 7; ++k)
    EXPECT_EQ(none[zisub(k, k)], 0.0) << k;
  double* mine = levArray<double>(levGroupPool(ctx), 4);
  EXPECT_EQ(zlevfit(ctx, LFC_INSTALL, {.installCode = LFC_BETA, .value = mine}), mine);
  EXPECT_EQ(get(LFC_BETA), mine);
  EXPECT_EQ(zlevfit(ctx, 11), nullptr);
  EXPECT_EQ(zlevfit(ctx, 13), nullptr);
}

} // namespace
