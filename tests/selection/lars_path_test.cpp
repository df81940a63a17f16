// The least-angle path against an independent LARS computation (scikit-learn's lars_path
// on the same standardized diabetes data, scripts/gen_lars_ref.py): LAR and LASSO enter and
// remove the same effects in the same order with the same path value, L1 norm and SSE at
// every knot, and the same coefficients, with the packed cross products and with data passes,
// serially and on page workers; least-squares coefficients, adaptive weights and the elastic
// net at a fixed L2 are checked the same way.
#include "selection/fitfixture.h"

#include "selection/vsfprocess.h"
#include "support/hostif.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>
#include <map>
#include <sstream>

using namespace fittest;

namespace {

struct Knot {
  int change = 0, active = 0;
  double pathValue = 0, l1 = 0, sse = 0, intercept = 0;
  std::vector<double> b, beta;
};

std::vector<Knot> readPath(const std::string &name) {
  std::ifstream in(std::string(QRX_TEST_DATA) + "/lars/" + name + ".csv");
  EXPECT_TRUE(in.good()) << name;
  std::vector<Knot> out;
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) {
    std::stringstream ss(line);
    std::string cell;
    std::vector<double> v;
    while (std::getline(ss, cell, ','))
      v.push_back(std::stod(cell));
    Knot k;
    k.change = static_cast<int>(v[1]);
    k.pathValue = v[2];
    k.l1 = v[3];
    k.sse = v[4];
    k.active = static_cast<int>(v[5]);
    k.b.assign(v.begin() + 6, v.begin() + 16);
    k.beta.assign(v.begin() + 16, v.begin() + 26);
    k.intercept = v[26];
    out.push_back(k);
  }
  return out;
}

const Design &diabetes() {
  static Design d = readDesign("diabetes");
  return d;
}

struct PathSetup {
  int32_t method = 6;
  bool full = true;
  int32_t threads = 1;
  bool disk = false;
  int32_t steps = 0; // 0: the whole path
  uint8_t adaptive = 0, adaptiveInest = 0;
  double gamma = 1.0;
  std::vector<double> inest; // per parameter, the intercept first
  double l2 = 0;
  int32_t enSetting = 0;
};

// One path fit of the diabetes data.
struct PathFit {
  Fit fit;
  explicit PathFit(const PathSetup &p, const Design &d = diabetes())
      : fit(d, [&] {
          FitSetup s;
          s.method = p.method;
          s.select = 0;
          s.full = p.full;
          s.threads = p.threads;
          s.disk = p.disk;
          return s;
        }()) {
    VsfModelOptions &o = fit.opt;
    fit.run.settings.rewritePages = 1; // the pages are centred and scaled in place
    fit.run.settings.forceDense = 1;
    o.colStandardize = 1;
    o.screen = 1;
    o.storeCross = 0;
    o.transformPages = 1;
    o.steps = p.steps;
    o.stopTest = p.steps == 0 ? 1 : 0;
    o.adaptive = p.adaptive;
    o.adaptiveInest = p.adaptiveInest;
    o.gamma = p.gamma;
    VsfModel &m = fit.m();
    m.l2 = p.l2;
    m.enSetting = p.enSetting;
    m.l1Target = -1;
    if (!p.inest.empty())
      inest = p.inest;
  }
  std::vector<double> inest;
  void go() {
    if (!inest.empty()) {
      // The estimates are read with the data; the fixture's model has them after reading.
      fit.readRc = fit.run.read(fit.src);
      ASSERT_EQ(fit.readRc, 0);
      fit.m().inestEstimates = inest.data();
      rerun();
      return;
    }
    fit.go();
    check();
  }
  void rerun();
  void check() {
    ASSERT_EQ(fit.readRc, 0);
    ASSERT_EQ(fit.initRc, 0);
    ASSERT_EQ(fit.processRc, 0);
    ASSERT_EQ(fit.m().fitStatus, 0);
  }
  VsfModel &m() { return fit.m(); }
};

void expectClose(double got, double want, double scale, double tol, const std::string &what) {
  EXPECT_LE(std::fabs(got - want), tol * std::max(scale, 1e-300))
      << what << ": got " << got << " want " << want;
}

double maxAbs(const std::vector<double> &v) {
  double s = 0;
  for (double x : v)
    s = std::max(s, std::fabs(x));
  return s;
}

// The recorded path: one step per knot, the same change, path value, L1 norm and SSE.
void checkSeries(VsfModel &m, const std::vector<Knot> &want, const std::string &tag) {
  ASSERT_EQ(m.stepCount, static_cast<int32_t>(want.size())) << tag;
  for (size_t t = 1; t < want.size(); ++t) {
    const Knot &k = want[t];
    const std::string at = tag + " step " + std::to_string(t);
    EXPECT_EQ(m.stepEffect[t], std::abs(k.change)) << at;
    EXPECT_EQ(m.stepEffects[t], k.active + 1) << at;
    expectClose(m.stepPathValue[t], k.pathValue, 1.0, 1e-9, at + " path value");
    expectClose(m.stepL1Norm[t], k.l1, k.l1, 1e-9, at + " L1");
    expectClose(m.stepSSE[t], k.sse, k.sse, 1e-10, at + " SSE");
  }
}

// The coefficients at every knot, from fits stopped after that many steps.
void checkKnots(PathSetup p, const std::vector<Knot> &want, const std::string &tag) {
  for (size_t t = 1; t < want.size(); ++t) {
    p.steps = static_cast<int32_t>(t);
    PathFit f(p);
    f.go();
    VsfModel &m = f.m();
    const Knot &k = want[t];
    const std::string at = tag + " knot " + std::to_string(t);
    ASSERT_EQ(m.stepCount, static_cast<int32_t>(t + 1)) << at;
    const double bs = maxAbs(k.b), betas = maxAbs(k.beta);
    for (int j = 1; j <= 10; ++j) {
      const bool in = m.effectStatus[j] == VES_SELECTED;
      expectClose(in ? m.pathBeta[j] : 0.0, k.b[j - 1], bs, 1e-8, at + " b" + std::to_string(j));
      if (in)
        expectClose(m.beta[j], k.beta[j - 1], betas, 1e-8, at + " beta" + std::to_string(j));
      else
        EXPECT_EQ(k.beta[j - 1], 0.0) << at << " effect " << j << " out of the model";
    }
    expectClose(m.beta[0], k.intercept, std::fabs(k.intercept), 1e-8, at + " intercept");
  }
}

void PathFit::rerun() {
  VsfModel &model = fit.m();
  model.options = &fit.opt;
  model.fuzz = fit.opt.fuzz;
  fit.initRc = vsfModelInit(&model);
  ASSERT_EQ(fit.initRc, 0);
  fit.processRc = vsfProcessModel(&model);
  check();
}

} // namespace

TEST(LarPath, LarAndLassoFollowTheReferenceOnEveryRoad) {
  struct Road {
    bool full;
    int32_t threads;
    bool disk;
  };
  for (const char *name : {"lar", "lasso"}) {
    const auto want = readPath(name);
    for (Road r : {Road{true, 1, false}, Road{false, 1, false}, Road{false, 3, true},
                   Road{true, 2, true}}) {
      PathSetup p;
      p.method = std::string(name) == "lar" ? 5 : 6;
      p.full = r.full;
      p.threads = r.threads;
      p.disk = r.disk;
      PathFit f(p);
      f.go();
      const std::string tag = std::string(name) + (r.full ? " packed" : " passes") +
                              " threads " + std::to_string(r.threads);
      checkSeries(f.m(), want, tag);
      EXPECT_EQ(f.m().stopReason, VSR_ALL_ENTERED) << tag;
    }
  }
}

TEST(LarPath, CoefficientsAtEveryKnot) {
  for (const char *name : {"lar", "lasso"}) {
    PathSetup p;
    p.method = std::string(name) == "lar" ? 5 : 6;
    checkKnots(p, readPath(name), name);
    p.full = false;
    checkKnots(p, readPath(name), std::string(name) + " passes");
  }
}
