// The group LASSO path (100 penalty values, RHO 0.9, TOL 1e-6) on 1,000,000 rows x 50 columns
// in 10 groups of 5 (set QRX_BENCH_BIG=1; the default run uses 20,000 rows). The reading pass
// is untimed set-up; the timed run is vsfModelInit + vsfProcessModel with the pages restored
// after each fit, serially and on all cores. Counters: the data passes of the whole fit's
// solver (the X'X pass and the validation passes: 1 here), and the loss and gradient
// evaluations, each of which would be a data pass without X'X in memory. The response depends
// on the first 2 groups; each run checks that they are the ones in the model at step 10 and
// that the path took 100 steps. The third argument 1 sends every loss and gradient over the
// pages (no X'X in memory), on all cores.
#include "benchfit.h"
#include "selection/vsfprocess.h"
#include "selection/vsfqklasso.h"
#include "support/testhooks.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>

namespace {

constexpr int32_t kGroups = 10, kWidth = 5;

struct Setup : benchfit::Setup {
  Setup(int32_t threads, int32_t cols) : benchfit::Setup(threads, cols, VsfMethod::GroupLasso) {
    entries.resize(1);
    for (int32_t g = 0; g < kGroups; ++g)
      entries.push_back(VsfEffectEntry{g + 1, kWidth, nullptr, 1 + g * kWidth, 0});
    s.entries = entries.data();
    s.entryCount = static_cast<int32_t>(entries.size());
    s.modelEffectCount = s.entryCount;
    s.rewritePages = 1;
    s.forceDense = 1;
    opt.fullXpx = 1;
    opt.parmStandardize = 1;
    opt.transformPages = 1;
    opt.restorePages = 1;
    opt.rho = 0.9;
    opt.tol = 1e-6;
    model.path.l1Target = -1;
  }
};

void BM_GroupLassoPath(benchmark::State& state) {
  const int32_t cols = kGroups * kWidth;
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), cols, 2 * kWidth);
  const int32_t T = state.range(1) == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                                        : static_cast<int32_t>(state.range(1));
  Setup setup(T, cols);
  testHooks().solverGramLimit = state.range(2) == 1 ? 0 : -1;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  for (auto _ : state) {
    vsfModelByFree(&setup.model);
    setup.model.solver.solverPasses = setup.model.solver.solverEvaluations = 0;
    const VsfStatus init = vsfModelInit(&setup.model);
    const VsfStatus fit = init == VsfStatus::Ok ? vsfProcessModel(&setup.model) : init;
    if (fit != VsfStatus::Ok || setup.model.fitStatus != VsfFitStatus::Done)
      throw std::runtime_error("fit failed: " + std::to_string(codeOf(fit)) + ", status " +
                               std::to_string(static_cast<int32_t>(setup.model.fitStatus)));
    VsfModel& m = setup.model;
    if (m.history.stepCount != 101)
      throw std::runtime_error("the path took " + std::to_string(m.history.stepCount) + " steps");
    if (m.history.stepEffects[10] != 3)
      throw std::runtime_error("unexpected model at step 10");
    state.counters["dataPasses"] = static_cast<double>(m.solver.solverPasses);
    state.counters["evaluations"] = static_cast<double>(m.solver.solverEvaluations);
    state.counters["evalPerFit"] = static_cast<double>(m.solver.solverEvaluations) / 100.0;
    state.counters["passesPerFit"] = static_cast<double>(m.solver.solverPasses) / 100.0;
  }
  state.counters["threads"] = setup.s.threadCount;
  testHooks().solverGramLimit = -1;
}

void registerSizes() {
  const int64_t n = std::getenv("QRX_BENCH_BIG") != nullptr ? 1000000 : 20000;
  auto* b = benchmark::RegisterBenchmark("BM_GroupLassoPath", BM_GroupLassoPath);
  b->Args({n, 1, 0})->Args({n, 0, 0})->Args({n, 0, 1});
  b->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(2);
}

const int registered = (registerSizes(), 0);

} // namespace
