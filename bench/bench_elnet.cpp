// The elastic net's L2 search against one elastic-net fit, and screening against none.
//   BM_ElasticNetFit: one fit at L2 = 0.01 (centring pass, X'X pass, whole path; pages
//     restored after each run) on 1,000,000 x 50 (QRX_BENCH_BIG=1; 20,000 rows otherwise).
//   BM_ElasticNetSearch: L2SEARCH=GRID with 50 trials on the same data, CHOOSE=SBC: one
//     centring pass and one X'X pass shared by the trials and the final fit. Checked: 50 trials
//     were made and the chosen L2 is one of them. The figure to compare: at most 3x the fit.
//   BM_Screening: the LASSO path (30 steps) on 10,000 x 20,000 (QRX_BENCH_BIG=1; 1,000 x 2,000
//     otherwise) without screening and with SCREEN=SASVI; checked: the same effects entered.
// Rows come from a fixed seed; the reading pass is untimed set-up. Quote medians.
#include "benchfit.h"
#include "data/vsfthread.h"
#include "kernels/vsftransform.h"
#include "model/vsfsweep.h"
#include "selection/vsfelnet.h"
#include "selection/vsfprocess.h"

#include <benchmark/benchmark.h>

#include <cstdlib>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

constexpr int32_t kSignal = 10;

bool big() { return std::getenv("QRX_BENCH_BIG") != nullptr; }

int32_t threadsOf(int64_t arg) {
  return arg == 0 ? static_cast<int32_t>(std::thread::hardware_concurrency())
                  : static_cast<int32_t>(arg);
}

// A path fit on centred and scaled pages.
struct Setup : benchfit::Setup {
  Setup(int32_t threads, int32_t cols, VsfMethod method, bool full)
      : benchfit::Setup(threads, cols, method) {
    s.rewritePages = 1;
    s.forceDense = 1;
    opt.fullXpx = full ? 1 : 0;
    opt.colStandardize = 1;
    opt.screen = VsfScreenMethod::None;
    opt.screenSteps = 4;
    opt.stopTest = 1;
    opt.transformPages = 1;
    opt.restorePages = 1;
    model.path.l1Target = -1;
  }
  void fail(const std::string& what) {
    throw std::runtime_error(what + ": status " +
                             std::to_string(static_cast<int32_t>(model.fitStatus)));
  }
};

void BM_ElasticNetFit(benchmark::State& state) {
  const int32_t cols = static_cast<int32_t>(state.range(1));
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(state.range(2)), cols, VsfMethod::ElasticNet, true);
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  for (auto _ : state) {
    vsfModelByFree(&setup.model);
    setup.model.elnetPass.l2 = 0.01;
    setup.model.elnet.l2Search = VsfL2Search::None;
    if (vsfDriveElasticNet(&setup.model) != VsfStatus::Ok ||
        setup.model.fitStatus != VsfFitStatus::Done)
      setup.fail("fit failed");
    if (setup.model.history.stepCount < cols + 1)
      setup.fail("the path did not reach the full model");
  }
  state.counters["threads"] = setup.s.threadCount;
}

void BM_ElasticNetSearch(benchmark::State& state) {
  const int32_t cols = static_cast<int32_t>(state.range(1));
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(state.range(2)), cols, VsfMethod::ElasticNet, true);
  setup.opt.choose = VsfCriterion::Sbc;
  setup.opt.stop = VsfCriterion::None;
  setup.s.enTuneRows = 1;
  setup.s.l2Steps = 50;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  VsfModel& m = setup.model;
  for (auto _ : state) {
    vsfModelByFree(&m);
    std::fill(m.elnetPass.enTuneRows, m.elnetPass.enTuneRows + 7 * m.elnetPass.enTuneCapacity, 0.0);
    m.elnet.l2Search = VsfL2Search::Grid;
    m.elnetPass.l2Steps = 50;
    m.elnet.l2Low = 0;
    m.elnet.l2High = 1;
    setup.opt.transformPages = 1;
    setup.opt.restorePages = 0;
    if (vsfDriveElasticNet(&m) != VsfStatus::Ok || m.fitStatus != VsfFitStatus::Done)
      setup.fail("search failed");
    bool found = false;
    for (int32_t t = 0; t < 50; ++t) {
      if (m.elnetPass.enTuneRows[7 * t + 6] == 0)
        setup.fail("trial " + std::to_string(t) + " left no row");
      found = found || m.elnetPass.enTuneRows[7 * t] == m.elnet.finalL2;
    }
    if (!found)
      setup.fail("the chosen L2 is none of the trials");
    // The search leaves the pages centred; they go back to the data for the next run.
    state.PauseTiming();
    if (vsfDataPass(&m, vsfUndoCenterScale, vsfUndoCenterScale_t, 0) != VsfStatus::Ok)
      setup.fail("restoring the pages failed");
    state.ResumeTiming();
  }
  state.counters["finalL2"] = m.elnet.finalL2;
  state.counters["threads"] = setup.s.threadCount;
}

// range(2): the SCREEN= code (1 NONE, 3 SASVI).
void BM_Screening(benchmark::State& state) {
  const int32_t cols = static_cast<int32_t>(state.range(1));
  benchfit::Rows& r = benchfit::rows(static_cast<size_t>(state.range(0)), cols, kSignal);
  Setup setup(threadsOf(0), cols, VsfMethod::Lasso, false);
  setup.opt.screen = static_cast<VsfScreenMethod>(state.range(2));
  setup.opt.steps = 30;
  setup.opt.stopTest = 0;
  if (setup.read(r) != VsfStatus::Ok)
    throw std::runtime_error("reading pass failed");
  VsfModel& m = setup.model;
  for (auto _ : state) {
    vsfModelByFree(&m);
    if (vsfModelInit(&m) != VsfStatus::Ok || vsfProcessModel(&m) != VsfStatus::Ok ||
        m.fitStatus != VsfFitStatus::Done)
      setup.fail("fit failed");
    // Checked result: the effects the response depends on entered first.
    std::vector<int32_t> first(m.history.stepEffect + 1, m.history.stepEffect + 1 + kSignal);
    std::sort(first.begin(), first.end());
    for (int32_t i = 0; i < kSignal; ++i)
      if (first[i] != i + 1)
        setup.fail("unexpected effect entered first");
  }
  state.counters["steps"] = m.history.stepCount;
}

void registerSizes() {
  const int64_t n = big() ? 1000000 : 20000;
  for (auto* b : {benchmark::RegisterBenchmark("BM_ElasticNetFit", BM_ElasticNetFit),
                  benchmark::RegisterBenchmark("BM_ElasticNetSearch", BM_ElasticNetSearch)})
    b->Args({n, 50, 0})->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(3);
  const int64_t sn = big() ? 10000 : 1000, sp = big() ? 20000 : 2000;
  benchmark::RegisterBenchmark("BM_Screening", BM_Screening)
      ->Args({sn, sp, static_cast<int64_t>(VsfScreenMethod::None)})
      ->Args({sn, sp, static_cast<int64_t>(VsfScreenMethod::Sasvi)})
      ->Unit(benchmark::kMillisecond)
      ->UseRealTime()
      ->Iterations(big() ? 1 : 3);
}

const int registered = (registerSizes(), 0);

} // namespace
