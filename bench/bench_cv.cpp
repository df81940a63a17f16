// Cross validation by folds: the LASSO path to the full model with CHOOSE=CV (each step's CV
// PRESS from five SPLIT folds, the least-squares refit of the active set without each fold)
// on 1,000,000 rows x 50 columns (set QRX_BENCH_BIG=1; the default run uses 100,000 rows),
// and a FORWARD selection by CV PRESS (SELECT=CV, five folds, 5 steps) on the same rows with
// 20 columns. The reading pass is untimed set-up; the timed run is vsfModelInit +
// vsfProcessModel, serially and on all cores. Each run checks that the effects the response
// depends on entered first, and counts the data passes of one fit. BM_LassoChooseCvex runs
// the LASSO with CHOOSE=CVEX (five SPLIT external folds: five fold fits and the final fit)
// through vsfProcess; the pages the final fit leaves standardised are restored untimed.
#include "benchfit.h"
#include "data/vsfthread.h"
#include "kernels/vsftransform.h"
#include "model/vsfsweep.h"
#include "selection/vsfprocess.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kSignal = 5;
constexpr int32_t kFolds = 5;

// Five SPLIT folds for the CV criterion.
struct Setup : benchfit::Setup {
  Setup(int32_t threads, int32_t cols, VsfMethod method) : benchfit::Setup(threads, cols, method) {
    s.cv = 1;
    s.cvMethod = VsfCvMethod::Split;
    s.folds = kFolds;
    opt.cvOn = 1;
    opt.cvMethod = VsfCvMethod::Split;
    opt.cvFolds = kFolds;
    model.path.l1Target = -1;
  }
};

void fitOnce(Setup& setup) {
  vsfModelByFree(&setup.model); // the previous fit's arrays go with its pool
  const VsfStatus init = vsfModelInit(&setup.model);
  const VsfStatus fit = init == VsfStatus::Ok ? vsfProcessModel(&setup.model) : init;
  if (fit != VsfStatus::Ok || setup.model.fitStatus != VsfFitStatus::Done)
    throw std::runtime_error("fit failed: " + std::to_string(codeOf(fit)) + ", status " +
                             std::to_string(static_cast<int32_t>(setup.model.fitStatus)));
  VsfModel& m = setup.model;
  if (m.history.stepCount < kSignal + 1)
    throw std::runtime_error("too few steps");
  std::vector<int32_t> first(m.history.stepEffect + 1, m.history.stepEffect + 1 + kSignal);
  std::sort(first.begin(), first.end());
  for (int32_t i = 0; i < kSignal; ++i)
    if (first[i] != i + 1)
      throw std::runtime_error("unexpected effect entered");
}

int32_t threadsOf(int64_t arg) {
  return arg == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                  : static_cast<int32_t>(arg);
}

size_t rowsOf(int64_t arg) { return std::getenv("QRX_BENCH_BIG") ? 1000000 : arg; }

void BM_LassoChooseCv(benchmark::State& state) {
  const int32_t cols = 50;
  benchfit::Rows& r = benchfit::rows(rowsOf(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(state.range(1)), cols, VsfMethod::Lasso);
  setup.s.rewritePages = 1;
  setup.s.forceDense = 1;
  setup.opt.fullXpx = 1;
  setup.opt.colStandardize = 1;
  setup.opt.screen = VsfScreenMethod::None;
  setup.opt.transformPages = 1;
  setup.opt.restorePages = 1;
  setup.opt.choose = VsfCriterion::Cv;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  const int64_t before = vsfPassCount();
  for (auto _ : state)
    fitOnce(setup);
  state.counters["passes_per_fit"] =
      static_cast<double>(vsfPassCount() - before) / static_cast<double>(state.iterations());
  state.counters["steps"] = setup.model.history.stepCount;
  state.counters["rows"] = static_cast<double>(r.n);
  state.counters["threads"] = setup.s.threadCount;
}

void BM_ForwardByCv(benchmark::State& state) {
  const int32_t cols = 20;
  benchfit::Rows& r = benchfit::rows(rowsOf(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(state.range(1)), cols, VsfMethod::Forward);
  setup.opt.select = setup.opt.stop = VsfCriterion::Cv;
  setup.opt.trialAll = 1;
  setup.opt.steps = kSignal;
  setup.opt.fullXpx = 1;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  const int64_t before = vsfPassCount();
  for (auto _ : state)
    fitOnce(setup);
  state.counters["passes_per_fit"] =
      static_cast<double>(vsfPassCount() - before) / static_cast<double>(state.iterations());
  state.counters["rows"] = static_cast<double>(r.n);
  state.counters["threads"] = setup.s.threadCount;
}

void BM_LassoChooseCvex(benchmark::State& state) {
  const int32_t cols = 50;
  benchfit::Rows& r = benchfit::rows(rowsOf(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(state.range(1)), cols, VsfMethod::Lasso);
  setup.s.cv = 0;
  setup.s.xcv = 1;
  setup.opt.cvOn = 0;
  setup.opt.cvExternal = 1;
  setup.opt.l1Choice = VsfL1Choice::Ratio;
  setup.s.rewritePages = 1;
  setup.s.forceDense = 1;
  setup.opt.fullXpx = 1;
  setup.opt.colStandardize = 1;
  setup.opt.screen = VsfScreenMethod::None;
  setup.opt.choose = VsfCriterion::Cvex;
  setup.model.elnet.l2Search = VsfL2Search::None;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  VsfModel& m = setup.model;
  const int64_t before = vsfPassCount();
  int64_t restorePasses = 0;
  for (auto _ : state) {
    vsfModelByFree(&m);
    if (vsfProcess(&m, nullptr) != VsfStatus::Ok || m.fitStatus != VsfFitStatus::Done ||
        m.history.stepCount < kSignal + 1)
      throw std::runtime_error("external cross validation failed");
    state.PauseTiming();
    const int64_t at = vsfPassCount();
    if (vsfDataPass(&m, vsfUndoCenterScale, vsfUndoCenterScale_t, 0) != VsfStatus::Ok)
      throw std::runtime_error("restore failed");
    restorePasses += vsfPassCount() - at;
    state.ResumeTiming();
  }
  const double fits = static_cast<double>(state.iterations()) * (kFolds + 1);
  state.counters["passes_per_fit"] =
      static_cast<double>(vsfPassCount() - before - restorePasses) / fits;
  state.counters["grid"] = m.cvex.cvexGridCount;
  state.counters["rows"] = static_cast<double>(r.n);
  state.counters["threads"] = setup.s.threadCount;
}

} // namespace

BENCHMARK(BM_LassoChooseCvex)
    ->Args({100000, 1})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_LassoChooseCv)
    ->Args({100000, 1})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
BENCHMARK(BM_ForwardByCv)
    ->Args({100000, 1})
    ->Args({100000, 0})
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime()
    ->Iterations(2);
