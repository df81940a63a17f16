// The shared set-up of the path tests (see larsfixture.h).
#include "selection/larsfixture.h"

#include "refcsv.h"
#include "selection/vsfprocess.h"
#include "support/hostif.h"
#include "support/vsfcriterion.h"

#include <gtest/gtest.h>

#include <cmath>
#include <fstream>

namespace larstest {

using namespace fittest;

std::vector<std::vector<double>> readNumbers(const std::string& name) {
  const std::string file = std::string(QRX_TEST_DATA) + "/lars/" + name + ".csv";
  EXPECT_TRUE(std::ifstream(file).good()) << name;
  return readNumberRows(file);
}

std::vector<Knot> readPath(const std::string& name) {
  std::vector<Knot> out;
  for (const std::vector<double>& v : readNumbers(name)) {
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

const Design& diabetes() {
  static Design d = readDesign("diabetes");
  return d;
}

namespace {
FitSetup setupOf(const PathSetup& p) {
  FitSetup s;
  s.method = p.method;
  s.select = 0;
  s.choose = p.choose;
  s.full = p.full;
  s.threads = p.threads;
  s.disk = p.disk;
  return s;
}
} // namespace

PathFit::PathFit(const PathSetup& p, const Design& d) : fit(d, setupOf(p)), inest(p.inest) {
  fit.run.settings.rewritePages = 1; // the pages are centred and scaled in place
  fit.run.settings.forceDense = 1;
  VsfModelOptions& o = fit.opt;
  o.colStandardize = 1;
  o.screen = VsfScreenMethod::None;
  o.storeCross = 0;
  o.transformPages = 1;
  o.select = VsfCriterion::NoneGiven;
  o.stop = static_cast<VsfCriterion>(p.stop);
  o.choose = static_cast<VsfCriterion>(p.choose);
  o.fullModelFirst = vsfCriterionAsked(o, vsfCriterionFullModel);
  o.steps = p.steps;
  o.stopTest = p.steps == 0 ? 1 : 0;
  o.adaptive = p.adaptive;
  o.adaptiveInest = p.adaptiveInest;
  o.gamma = p.gamma;
  o.stopL1Choice = static_cast<VsfL1Choice>(p.l1Choice);
  VsfModel& m = fit.m();
  m.elnetPass.l2 = p.l2;
  m.elnetPass.enSetting = p.enSetting;
  m.path.l1Target = p.l1Target;
}

void PathFit::go() {
  if (inest.empty()) {
    fit.go();
  } else {
    // INEST= estimates belong to the BY group: they are set after reading, before the fit.
    fit.readRc = fit.run.read(fit.src);
    ASSERT_EQ(fit.readRc, 0);
    VsfModel& model = fit.m();
    model.inestEstimates = inest.data();
    model.options = &fit.opt;
    model.fuzz = fit.opt.fuzz;
    fit.initRc = vsfModelInit(&model);
    if (fit.initRc == VsfStatus::Ok)
      fit.processRc = vsfProcessModel(&model);
  }
  ASSERT_EQ(fit.readRc, 0);
  ASSERT_EQ(fit.initRc, VsfStatus::Ok);
  ASSERT_EQ(fit.processRc, VsfStatus::Ok);
  ASSERT_EQ(fit.m().fitStatus, VsfFitStatus::Done);
}

void expectClose(double got, double want, double scale, double tol, const std::string& what) {
  EXPECT_LE(std::fabs(got - want), tol * std::max(scale, 1e-300))
      << what << ": got " << got << " want " << want;
}

double maxAbs(const std::vector<double>& v) {
  double s = 0;
  for (double x : v)
    s = std::max(s, std::fabs(x));
  return s;
}

void checkSeries(VsfModel& m, const std::vector<Knot>& want, const std::string& tag) {
  ASSERT_EQ(m.history.stepCount, static_cast<int32_t>(want.size())) << tag;
  for (size_t t = 1; t < want.size(); ++t) {
    const Knot& k = want[t];
    const std::string at = tag + " step " + std::to_string(t);
    EXPECT_EQ(m.history.stepEffect[t], std::abs(k.change)) << at;
    EXPECT_EQ(m.history.stepEffects[t], k.active + 1) << at;
    expectClose(m.history.stepPathValue[t], k.pathValue, 1.0, 1e-9, at + " path value");
    expectClose(m.history.stepL1Norm[t], k.l1, k.l1, 1e-9, at + " L1");
    expectClose(m.history.stepSSE[t], k.sse, k.sse, 1e-10, at + " SSE");
  }
}

void checkKnots(PathSetup p, const std::vector<Knot>& want, const std::string& tag) {
  for (size_t t = 1; t < want.size(); ++t) {
    p.steps = static_cast<int32_t>(t);
    PathFit f(p);
    f.go();
    VsfModel& m = f.m();
    const Knot& k = want[t];
    const std::string at = tag + " knot " + std::to_string(t);
    ASSERT_EQ(m.history.stepCount, static_cast<int32_t>(t + 1)) << at;
    const double bs = maxAbs(k.b), betas = maxAbs(k.beta);
    for (int j = 1; j <= 10; ++j) {
      const bool in = m.effectStatus[j] == VES_SELECTED;
      expectClose(in ? m.pathPass.pathBeta[j] : 0.0, k.b[j - 1], bs, 1e-8,
                  at + " b" + std::to_string(j));
      if (in)
        expectClose(m.beta[j], k.beta[j - 1], betas, 1e-8, at + " beta" + std::to_string(j));
      else
        EXPECT_EQ(k.beta[j - 1], 0.0) << at << " effect " << j << " out of the model";
    }
    expectClose(m.beta[0], k.intercept, std::fabs(k.intercept), 1e-8, at + " intercept");
  }
}

} // namespace larstest
