// Shared set-up of the path tests: the reference knots written by scripts/gen_lars_ref.py,
// one path fit of a design on centred and scaled pages with the path options set directly,
// and the checks of the recorded series and of the coefficients at every knot.
#pragma once

#include "selection/fitfixture.h"

#include <string>
#include <vector>

namespace larstest {

using fittest::Design;
using fittest::Fit;

struct Knot {
  int change = 0, active = 0;
  double pathValue = 0, l1 = 0, sse = 0, intercept = 0;
  std::vector<double> b, beta;
};
// The rows of tests/data/lars/<name>.csv as numbers, the header skipped.
std::vector<std::vector<double>> readNumbers(const std::string& name);
std::vector<Knot> readPath(const std::string& name);
const Design& diabetes();

struct PathSetup {
  VsfMethod method = VsfMethod::Lasso;
  bool full = true;
  int32_t threads = 1;
  bool disk = false;
  int32_t steps = 0; // 0: the whole path
  uint8_t adaptive = 0, adaptiveInest = 0;
  double gamma = 1.0;
  std::vector<double> inest; // per parameter, the intercept first
  double l2 = 0;
  int32_t enSetting = 0;
  int32_t stop = 0, choose = 0;
  uint8_t l1Choice = 0;
  double l1Target = -1;
};

// One path fit; go() reads, initialises and runs it and checks that it succeeded.
struct PathFit {
  Fit fit;
  std::vector<double> inest;
  explicit PathFit(const PathSetup& p, const Design& d = diabetes());
  void go();
  VsfModel& m() { return fit.m(); }
};

void expectClose(double got, double want, double scale, double tol, const std::string& what);
double maxAbs(const std::vector<double>& v);
// The recorded path: one step per knot, the same change, path value, L1 norm and SSE.
void checkSeries(VsfModel& m, const std::vector<Knot>& want, const std::string& tag);
// The coefficients at every knot, from fits stopped after that many steps.
void checkKnots(PathSetup p, const std::vector<Knot>& want, const std::string& tag);

} // namespace larstest
